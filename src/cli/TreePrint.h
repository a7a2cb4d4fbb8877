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
};

// The text as UTF-8 safe to print on a terminal: control characters (C0,
// DEL and C1, which can start escape sequences) as \xNN, the rest as is.
std::string terminalText(const std::u16string& text);

EntryRow entryRow(const VolumeParser& parser, const std::u16string& path, std::optional<RecordId> id, bool directory);
void printRowsText(const std::vector<EntryRow>& rows);
nlohmann::json rowsJson(const std::vector<EntryRow>& rows);

}  // namespace salvage::cli
