#include "cli/TreePrint.h"

#include <cstdio>

#include "browse/FolderOpen.h"
#include "browse/SaveReport.h"
#include "platform/Text.h"

namespace salvage::cli {

EntryRow entryRow(const VolumeParser& parser, const std::u16string& path, std::optional<RecordId> id, bool directory) {
    EntryRow r;
    r.path = path;
    r.directory = directory;
    r.record = id;
    if (!id) return r;
    r.deleted = parser.isDeleted(*id);
    r.recordNumber = parser.recordNumber(*id);
    r.creation = parser.creationTimeText(*id);
    r.access = parser.accessTimeText(*id);
    r.modification = parser.modificationTimeText(*id);
    r.size = parser.sizeText(*id);
    r.attribute = parser.attributeText(*id);
    r.sizeBytes = directory ? 0 : parser.sizeBytes(*id);
    r.stream = parser.streamName(*id);
    return r;
}

std::string terminalText(const std::u16string& text) {
    std::u16string safe;
    safe.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            const char hex[] = "0123456789abcdef";
            safe += u"\\x";
            safe += char16_t(hex[(c >> 4) & 0xF]);
            safe += char16_t(hex[c & 0xF]);
        } else {
            safe += c;
        }
    }
    return toUtf8(safe);
}

TextRows::TextRows() {
    std::printf("%-3s %-20s %-20s %-20s %-12s %-10s %s\n", "", "CREATION_TIME", "ACCESS_TIME", "MODIFICATION_TIME",
                "SIZE", "ATTRIBUTE", "PATH");
}

void TextRows::row(const EntryRow& r) {
    // The kind: 'd' folder, 's' a file's named data stream, '-' file.
    const char kind = r.directory ? 'd' : !r.stream.empty() ? 's' : '-';
    std::printf("%c%c%c %-20s %-20s %-20s %-12s %-10s %s%s\n", kind, r.deleted ? '*' : ' ',
                r.damaged ? '!' : ' ', terminalText(r.creation).c_str(), terminalText(r.access).c_str(), terminalText(r.modification).c_str(),
                terminalText(r.size).c_str(), terminalText(r.attribute).c_str(), terminalText(r.path).c_str(),
                r.directory ? "\\" : "");
}

nlohmann::json rowJson(const EntryRow& r) {
    nlohmann::json row = {{"path", toUtf8(r.path)},
            {"directory", r.directory},
            {"deleted", r.deleted},
            {"record", r.record ? nlohmann::json(r.recordNumber) : nlohmann::json(nullptr)},
            {"creationTime", toUtf8(r.creation)},
            {"accessTime", toUtf8(r.access)},
            {"modificationTime", toUtf8(r.modification)},
            {"size", toUtf8(r.size)},
            {"sizeBytes", r.sizeBytes},
            {"attribute", toUtf8(r.attribute)},
            {"damaged", r.damaged}};
    if (r.damaged) row["damagedRanges"] = damagedRangesJson(r.damage);
    // The record is the file's; the stream's name tells the two apart.
    if (!r.stream.empty()) row["stream"] = toUtf8(r.stream);
    return row;
}

void JsonRows::row(const EntryRow& r) {
    const std::string object = rowJson(r).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    // Each line of the object one level in, as inside the array.
    std::string out = any_ ? ",\n  " : "[\n  ";
    out.reserve(out.size() + object.size() + object.size() / 8);
    for (char c : object) {
        out += c;
        if (c == '\n') out += "  ";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    any_ = true;
}

void JsonRows::finish() { std::fputs(any_ ? "\n]\n" : "[]\n", stdout); }

void printRowsText(const std::vector<EntryRow>& rows) {
    TextRows out;
    for (const auto& r : rows) out.row(r);
    out.finish();
}

void printRowsJson(const std::vector<EntryRow>& rows) {
    JsonRows out;
    for (const auto& r : rows) out.row(r);
    out.finish();
}

}  // namespace salvage::cli
