#pragma once
// One FAT16/FAT32 directory entry as the parsers keep it, with the links of
// the record table.
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
    std::u16string name;
    std::uint32_t parentIndex = 0;
    std::uint32_t ownIndex = 0;
    std::int32_t firstChild = kNoRecord;
    std::int32_t nextSibling = kNoRecord;

    std::uint32_t firstCluster() const { return (std::uint32_t(firstClusterHigh) << 16) | firstClusterLow; }
};

// The attribute bytes the directory walks descend into.
inline bool isWalkedDirectory(std::uint8_t a) {
    return (a >= 0x10 && a <= 0x16) || a == 0x30;
}

}  // namespace salvage::fat
