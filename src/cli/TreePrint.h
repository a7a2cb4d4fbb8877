#pragma once
// Printing entries as rows of the file list's six columns (text or JSON).
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "browse/BrowseTree.h"
#include "browse/VolumeParser.h"

namespace salvage::cli {

struct EntryRow {
    std::u16string path;
    bool directory = false;
    bool deleted = false;
    std::optional<RecordId> record;
    std::int64_t recordNumber = -1;
    std::u16string creation, access, modification, size, attribute;
    std::u16string stream;  // a file's named data stream: its name
    std::uint64_t sizeBytes = 0;
    // The file touches damage; the ranges as the save report lists them.
    bool damaged = false;
    std::vector<DamagedRange> damage;
};

// The text as UTF-8 safe to print on a terminal: control characters (C0,
// DEL and C1, which can start escape sequences) as \xNN, the rest as is.
std::string terminalText(const std::u16string& text);

EntryRow entryRow(const VolumeParser& parser, const std::u16string& path, std::optional<RecordId> id, bool directory);

// Where listed rows go, one at a time and printed as they come, so a
// listing of millions of entries never holds them all.
class RowOutput {
public:
    virtual ~RowOutput() = default;
    virtual void row(const EntryRow& r) = 0;
    // After the last row.
    virtual void finish() {}
};

// The six columns as text, under a heading line printed at once: a type
// letter ('d' folder, '-' file), '*' for deleted and '!' for a file that
// touches damage, then the columns and the path.
class TextRows : public RowOutput {
public:
    TextRows();
    void row(const EntryRow& r) override;
};

// A JSON array of one object per row, laid out as the whole array dumped
// with an indent of 2 would be; "damaged" on every row, "damagedRanges" on
// the rows marked.
class JsonRows : public RowOutput {
public:
    void row(const EntryRow& r) override;
    void finish() override;

private:
    bool any_ = false;
};

nlohmann::json rowJson(const EntryRow& r);
void printRowsText(const std::vector<EntryRow>& rows);
void printRowsJson(const std::vector<EntryRow>& rows);

}  // namespace salvage::cli
