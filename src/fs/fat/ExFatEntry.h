#pragma once
// One exFAT file or folder as the parser keeps it: the fields of its entry
// set (file entry, stream extension; its name's place in the table's
// arena) and its parent's index.
#include <cstdint>
#include <string>

#include "fs/fat/RecordLinks.h"

namespace salvage::fat {

inline constexpr std::uint8_t kExFatFile = 0x85;
inline constexpr std::uint8_t kExFatFileDeleted = 0x05;
inline constexpr std::uint8_t kExFatStream = 0xC0;
inline constexpr std::uint8_t kExFatStreamDeleted = 0x40;
inline constexpr std::uint8_t kExFatName = 0xC1;
inline constexpr std::uint8_t kExFatNameDeleted = 0x41;
// Stream flags: bit 1 set means the data is one run of clusters with no chain.
inline constexpr std::uint8_t kExFatNoFatChain = 0x02;

struct ExFatEntry {
    std::uint8_t entryType = 0;
    std::uint16_t attributes = 0;
    std::uint32_t createTimestamp = 0;
    std::uint32_t modifyTimestamp = 0;
    std::uint32_t accessTimestamp = 0;
    std::uint8_t create10ms = 0;
    std::uint8_t modify10ms = 0;
    std::uint8_t createUtcOffset = 0;
    std::uint8_t modifyUtcOffset = 0;
    std::uint8_t accessUtcOffset = 0;
    std::uint8_t streamType = 0;
    std::uint8_t streamFlags = 0;
    std::uint8_t nameLength = 0;
    std::uint64_t validDataLength = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    NameRef name;  // in the table's name arena
    std::uint32_t parentIndex = 0;

    bool deleted() const { return entryType == kExFatFileDeleted; }
    bool hasStream() const { return streamType != 0; }
    bool noFatChain() const { return (streamFlags & kExFatNoFatChain) != 0; }
    // The folder attribute set of the FAT family (0x10 to 0x16, 0x30).
    bool isDirectory() const { return (attributes >= 0x10 && attributes <= 0x16) || attributes == 0x30; }
};

}  // namespace salvage::fat
