#pragma once
// Recognition of boot sectors, superblocks and volume headers: one 512-byte
// sector as the advanced volume scan tests it, and a volume's first sectors
// as the standard scan and the command line test them for a bare volume.
// Pure decoding: no reads, except fileSystemAt.
#include <cstdint>
#include <optional>
#include <string>

#include "image/SectorSource.h"
#include "platform/ByteView.h"

namespace salvage {

enum class BootKind { None, Ntfs, Fat32, Fat16, FatOther, Exfat, HfsPlus, Fat12, Ext };

struct BootSignature {
    BootKind kind = BootKind::None;
    std::u16string fileSystem;  // "NTFS", "FAT32", "FAT16", "FAT12", "UNKNOWN", "FAT64", "HFS+", "extX"
    std::u16string sizeText;    // "%lld   MB" (NTFS) or "%lld  MB"
    std::u16string statusWords; // "found FAT 32..." etc.; NTFS numbers its own
    std::uint64_t sizeBytes = 0;
    std::int64_t volumeStartSector = 0;  // HFS+ and ext: two sectors before the header
    std::int64_t volumeSectors = 0;      // sectors the volume covers from its start

    // Listed when at least 1 MiB (HFS+ also at most 20,971,519 MiB).
    bool listed() const;
    // FAT and exFAT status words appear even for a match too small to list.
    bool statusEvenWhenUnlisted() const {
        return kind == BootKind::Fat32 || kind == BootKind::Fat16 || kind == BootKind::FatOther ||
               kind == BootKind::Exfat || kind == BootKind::Fat12;
    }
};

// `sector` is the absolute sector number of `bytes` (512 of them).
BootSignature classifyBootSector(ByteView bytes, std::int64_t sector);
// False for a sector in which classifyBootSector cannot find anything: it
// starts with neither a jump (boot sectors) nor 'H' (HFS+ header) and holds
// no ext magic at 56. Lets a search pass over most sectors with a few byte
// compares.
inline bool mayHoldBootSignature(ByteView bytes) {
    const std::uint8_t first = bytes[0];
    return first == 0xEB || first == 0xE9 || first == 'H' || (bytes[56] == 0x53 && bytes[57] == 0xEF);
}

// The BIOS parameter block of a FAT boot sector.
struct BiosParameterBlock {
    std::uint32_t bytesPerSector = 0;     // offset 11
    std::uint32_t sectorsPerCluster = 0;  // 13
    std::uint32_t reservedSectors = 0;    // 14
    std::uint32_t fatCount = 0;           // 16
    std::uint32_t rootEntries = 0;        // 17
    std::uint64_t totalSectors = 0;       // 19, or 32 when that is 0
    std::uint32_t media = 0;              // 21
    std::uint32_t sectorsPerFat16 = 0;    // 22
    std::uint32_t sectorsPerFat32 = 0;    // 36 (FAT32 only)
    std::uint32_t rootCluster = 0;        // 44 (FAT32 only)
};

BiosParameterBlock decodeBpb(ByteView boot);

// A block that a formatter could have written: sector size a power of two
// from 512 to 4096, cluster sectors a power of two, at least one reserved
// sector, one or two FATs.
bool isSoundBpb(const BiosParameterBlock& b);

// A FAT boot sector told by its structure alone, whatever its OEM name or
// type label: a jump instruction, a sound block, a media byte of 0xF0 or
// 0xF8-0xFF, FATs and root folder that fit inside the volume and a FAT long
// enough for its clusters. The FAT width follows from the cluster count, as
// the file system defines it (under 4085 clusters FAT12, under 65525 FAT16).
struct FatLayout {
    BootKind kind = BootKind::None;  // Fat12, Fat16 or Fat32
    std::u16string fileSystem;       // "FAT12", "FAT16", "FAT32"
    std::uint64_t sectors = 0;       // the volume's length in 512-byte sectors
    std::uint64_t clusters = 0;
};
std::optional<FatLayout> fatLayout(ByteView boot);

// An ext2/3/4 primary superblock (1024 bytes into its volume): the magic
// 0xEF53, a block size of 1-64 KiB, a first data block that matches it (1 for
// 1 KiB blocks, else 0) and group 0 (a backup superblock names its group).
// The volume's length in 512-byte sectors, or nothing.
std::optional<std::uint64_t> extVolumeSectors(ByteView superblock);

// What a volume's first 2048 bytes name it: its file system as the volume
// list writes it and its length in 512-byte sectors.
struct VolumeIdentity {
    std::u16string fileSystem;
    std::uint64_t sectors = 0;
};
std::optional<VolumeIdentity> identifyVolume(ByteView head);

// The file system of the volume starting at startSector ("NTFS", "FAT12",
// "FAT16", "FAT32", "FAT64", "extX", "HFS+"), or "Unknown". Leaves the
// source's baseOffset as it was.
std::u16string fileSystemAt(readWriteInterface& source, std::int64_t startSector);

}  // namespace salvage
