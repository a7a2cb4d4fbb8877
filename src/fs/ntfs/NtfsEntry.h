#pragma once
// One MFT record slot (or one record found by a scan), as the parser's table
// keeps it: fixed fields only. Its name lies in the parser's name arena, its
// place in the folder tree in the parser's child chains, and its named
// streams in a side table (most records have none). The index in the table
// is the record number when the table came from the MFT walk.
#include <cstdint>
#include <string>

#include "browse/RecordTable.h"

namespace salvage {

// A named $DATA stream (alternate data stream) a record holds the first
// extent of, or the whole resident value, as the decoder finds it.
struct NamedStream {
    std::u16string name;
    std::int64_t size = 0;
};

enum class NtfsKind : std::uint8_t { File, Directory };

struct NtfsEntry {
    std::int64_t recordOffset = 0;  // byte offset from the volume start
    // Decoded once while the record is in memory, so that listing needs no
    // further reads.
    std::uint64_t creation = 0, modification = 0, access = 0;  // FILETIMEs from $STANDARD_INFORMATION
    std::uint64_t recordChange = 0;                            // its MFT-record change time
    std::int64_t dataSize = -1;       // unnamed $DATA size; -1 when only the full data walk knows it
    std::uint64_t baseReference = 0;  // low 48 bits; non-zero for an extension record
    NameRef name;                     // from $FILE_NAME; empty: no usable name
    // While the table is read: the parent's record number from the first
    // $FILE_NAME (when hasParentReference). Once linked: the parent's index
    // in the table, kNoLink for none.
    RecordIndex parent = kNoLink;
    std::uint32_t recordNumber = 0;   // as the header stores it
    std::uint32_t fileNameFlags = 0;  // of the last $FILE_NAME
    std::uint16_t recordFlags = 0;    // bit 0 in use, bit 1 directory
    NtfsKind kind = NtfsKind::File;   // Directory when a $FILE_NAME flags one
    bool file : 1 = false;            // signature "FILE"
    bool hasName : 1 = false;
    bool hasAttributeList : 1 = false;
    bool orphaned : 1 = false;
    bool hasParentReference : 1 = false;

    bool isFile() const { return file; }
    bool inUse() const { return (recordFlags & 1) != 0; }
    bool isDirectory() const { return kind == NtfsKind::Directory; }
};
static_assert(sizeof(NtfsEntry) <= 80, "one record's fixed fields");

}  // namespace salvage
