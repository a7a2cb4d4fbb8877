#pragma once
// One MFT record slot (or one record found by a scan), as the parser's table
// keeps it. The index in the table is the record number when the table came
// from the MFT walk.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace salvage {

// Internal to each unit that includes it: the record table has its own.
static constexpr std::int64_t kNoLink = -1;

// A named $DATA stream (alternate data stream) a record holds the first
// extent of, or the whole resident value.
struct NamedStream {
    std::u16string name;
    std::int64_t size = 0;
};

struct NtfsEntry {
    std::array<char, 4> signature{};  // "FILE" for a valid record
    std::int64_t recordOffset = 0;     // byte offset from the volume start
    std::u16string name;               // from $FILE_NAME; empty: no usable name
    std::int64_t parentIndex = kNoLink;
    std::int64_t fileNameSize = 0;     // allocated size of the last $FILE_NAME
    std::uint16_t recordFlags = 0;     // bit 0 in use, bit 1 directory
    char kind = 0;                     // 'D' when a $FILE_NAME flags a directory
    std::int64_t selfIndex = 0;
    bool orphaned = false;
    std::int64_t firstChild = kNoLink;
    std::int64_t nextSibling = kNoLink;

    // Decoded once while the record is in memory, so that listing needs no
    // further reads.
    std::uint32_t recordNumber = 0;    // as the header stores it
    std::uint64_t baseReference = 0;   // non-zero for an extension record
    std::uint32_t fileNameFlags = 0;   // of the last $FILE_NAME
    std::uint64_t creation = 0, modification = 0, access = 0;  // FILETIMEs from $STANDARD_INFORMATION
    std::uint64_t recordChange = 0;                            // its MFT-record change time
    std::int64_t dataSize = -1;        // unnamed $DATA size; -1 when only the full data walk knows it
    bool hasName = false;
    bool hasAttributeList = false;
    // Named $DATA streams found in this record (for a base record, also
    // those its extension records hold), at most ntfs::kMaxStreamsPerFile.
    std::vector<NamedStream> streams;
    // Set on the entries that stand for a file's named stream: the index of
    // the file's entry. Such an entry's name is the stream's name alone; it
    // takes the file's flags and times. Stream entries follow every record
    // slot and the orphan entry in the table, so a record's index never moves.
    std::int64_t streamOf = kNoLink;

    bool isFile() const { return signature[0] == 'F' && signature[1] == 'I' && signature[2] == 'L' && signature[3] == 'E'; }
    bool inUse() const { return (recordFlags & 1) != 0; }
};

}  // namespace salvage
