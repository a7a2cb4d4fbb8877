#pragma once
// Decoding of exFAT directory bytes into entry sets. A directory is scanned
// in 32-byte steps to its end, with no stop at a 0 type byte, so deleted
// sets behind the end of the directory are found too.
#include <string>
#include <vector>

#include "fs/fat/ExFatEntry.h"
#include "platform/ByteView.h"

namespace salvage::fat {

inline constexpr std::size_t kExFatEntryBytes = 32;

// Every entry set (a file entry 0x85 or 0x05 with what follows it) in dir,
// in order. A set's stream fields come from the stream extension that
// directly follows the file entry; a set without one has no data (first
// cluster and lengths 0). Its name is the file-name entries that follow,
// 15 characters each up to the first NUL, no more of them than the file
// entry's secondary count allows and cut to the stored name length.
// When offsets is given, it receives each set's byte offset in dir.
struct ExFatSet {
    ExFatEntry fields;
    std::u16string name;
};
std::vector<ExFatSet> decodeEntrySets(ByteView dir, std::vector<std::size_t>* offsets = nullptr);

}  // namespace salvage::fat
