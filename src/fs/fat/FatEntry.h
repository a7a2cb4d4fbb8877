#pragma once
// One FAT16/FAT32 directory entry as the parsers keep it: the entry's
// fields, its name's place in the table's arena and its parent's index.
#include <cstdint>
#include <string>

#include "fs/fat/RecordLinks.h"

namespace salvage::fat {

struct FatEntry {
    std::uint8_t attributes = 0;
    std::uint8_t createTenths = 0;
    std::uint16_t createTime = 0;
    std::uint16_t createDate = 0;
    std::uint16_t accessDate = 0;
    std::uint16_t firstClusterHigh = 0;
    std::uint16_t writeTime = 0;
    std::uint16_t writeDate = 0;
    std::uint16_t firstClusterLow = 0;
    std::uint32_t size = 0;
    std::uint8_t deleted = 0;
    NameRef name;  // in the table's name arena
    std::uint32_t parentIndex = 0;

    std::uint32_t firstCluster() const { return (std::uint32_t(firstClusterHigh) << 16) | firstClusterLow; }
};

// A volume-label entry that owns clusters: a label has no data of its own,
// so one with a start cluster and a size hides a file. Such entries are
// listed and saved as files; their "V" attribute letter marks them.
inline bool isLabelWithData(std::uint8_t attributes, std::uint32_t firstCluster, std::uint32_t size) {
    return (attributes & 0x08) && attributes != 0x0F && !(attributes & 0x10) && firstCluster >= 2 && size > 0;
}

// The attribute bytes the directory walks descend into.
inline bool isWalkedDirectory(std::uint8_t a) {
    return (a >= 0x10 && a <= 0x16) || a == 0x30;
}

}  // namespace salvage::fat
