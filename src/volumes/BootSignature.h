#pragma once
// Recognition of one 512-byte sector as the boot sector or volume header of
// an NTFS, FAT16, FAT32, exFAT or HFS+ volume, as the advanced volume scan
// tests it. Pure decoding: no reads.
#include <cstdint>
#include <string>

#include "platform/ByteView.h"

namespace salvage {

enum class BootKind { None, Ntfs, Fat32, Fat16, FatOther, Exfat, HfsPlus };

struct BootSignature {
    BootKind kind = BootKind::None;
    std::u16string fileSystem;  // "NTFS", "FAT32", "FAT16", "UNKNOWN", "FAT64", "HFS+"
    std::u16string sizeText;    // "%lld   MB" (NTFS) or "%lld  MB"
    std::u16string statusWords; // "found FAT 32..." etc.; NTFS numbers its own
    std::uint64_t sizeBytes = 0;
    std::int64_t volumeStartSector = 0;  // HFS+: two sectors before its header
    std::int64_t volumeSectors = 0;      // sectors the volume covers from its start

    // Listed when at least 1 MiB (HFS+ also at most 20,971,519 MiB).
    bool listed() const;
    // FAT and exFAT status words appear even for a match too small to list.
    bool statusEvenWhenUnlisted() const {
        return kind == BootKind::Fat32 || kind == BootKind::Fat16 || kind == BootKind::FatOther ||
               kind == BootKind::Exfat;
    }
};

// `sector` is the absolute sector number of `bytes` (512 of them).
BootSignature classifyBootSector(ByteView bytes, std::int64_t sector);

}  // namespace salvage
