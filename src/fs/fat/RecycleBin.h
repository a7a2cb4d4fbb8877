#pragma once
// Recycle Bin names on FAT32 and exFAT volumes. Windows moves a deleted file
// into "$RECYCLE.BIN" as "$R" + six characters + its extension and writes a
// "$I" file of the same tail holding the former path. The pass gives each
// "$R" record the former name its "$I" partner records.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "browse/VolumeParser.h"
#include "platform/ByteView.h"

namespace salvage::fat {

// A "$I" file is a small header and one path: 544 bytes in the first form,
// 28 bytes plus the path in the second (at most 32,767 UTF-16 characters).
inline constexpr std::uint64_t kMaxRecycleInfoBytes = 28 + 2 * 32768;

// The former file name (the text after the path's last '\') recorded in the
// bytes of a "$I" file; empty when the bytes hold none. Version 1 keeps the
// path from byte 24 in a fixed 520-byte field; version 2 keeps its length in
// characters at byte 24 and the path from byte 28.
std::u16string recycledFormerName(ByteView info);

struct RecycleBinAccess {
    // The data of a file record, bounded by kMaxRecycleInfoBytes.
    std::function<std::vector<std::uint8_t>(RecordId)> readData;
    std::function<void(RecordId, const std::u16string&)> rename;
};

// For each first-level folder named "$RECYCLE.BIN" or "$RECYCLEBIN" (the
// tree's first level when there is a tree, else the children of record 0):
// its direct children named "$I..." are read, and each direct child whose
// name (blanks trimmed) is the same name with "$R" gets the former name.
void renameRecycledFiles(VolumeParser& parser, const RecycleBinAccess& access);

}  // namespace salvage::fat
