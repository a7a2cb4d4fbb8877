#pragma once
// The BIOS parameter block shared by FAT16 and FAT32 boot sectors, decoded
// from the volume's first sector.
#include <cstdint>

#include "platform/ByteView.h"

namespace salvage::fat {

struct BiosParameterBlock {
    std::uint32_t bytesPerSector = 0;     // offset 11
    std::uint32_t sectorsPerCluster = 0;  // 13
    std::uint32_t reservedSectors = 0;    // 14
    std::uint32_t fatCount = 0;           // 16
    std::uint32_t rootEntries = 0;        // 17
    std::uint64_t totalSectors = 0;       // 19, or 32 when that is 0
    std::uint32_t sectorsPerFat16 = 0;    // 22
    std::uint32_t sectorsPerFat32 = 0;    // 36 (FAT32 only)
    std::uint32_t rootCluster = 0;        // 44 (FAT32 only)
};

BiosParameterBlock decodeBpb(ByteView boot);

// A block that a formatter could have written: sector size a power of two
// from 512 to 4096, cluster sectors a power of two, at least one reserved
// sector, one or two FATs. Volumes formatted by other systems (OEM names
// other than "MSDOS") are read when this holds and the block names its type.
bool isSoundBpb(const BiosParameterBlock& b);

// The OEM name the parser expects, or a sound block whose file-system type
// label (offset 54 for FAT12/16, 82 for FAT32) names `type`.
bool acceptsFatBootSector(ByteView boot, bool fat32);

}  // namespace salvage::fat
