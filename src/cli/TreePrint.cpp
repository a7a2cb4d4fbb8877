#include "cli/TreePrint.h"

#include <cstdio>

#include "browse/FolderOpen.h"
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

void printRowsText(const std::vector<EntryRow>& rows) {
    std::printf("%-3s %-20s %-20s %-20s %-12s %-10s %s\n", "", "CREATION_TIME", "ACCESS_TIME", "MODIFICATION_TIME",
                "SIZE", "ATTRIBUTE", "PATH");
    for (const auto& r : rows) {
        // The kind: 'd' folder, 's' a file's named data stream, '-' file.
        const char kind = r.directory ? 'd' : !r.stream.empty() ? 's' : '-';
        std::printf("%c%c  %-20s %-20s %-20s %-12s %-10s %s%s\n", kind, r.deleted ? '*' : ' ',
                    terminalText(r.creation).c_str(), terminalText(r.access).c_str(),
                    terminalText(r.modification).c_str(), terminalText(r.size).c_str(),
                    terminalText(r.attribute).c_str(), terminalText(r.path).c_str(),
                    r.directory ? "\\" : "");
    }
}

nlohmann::json rowsJson(const std::vector<EntryRow>& rows) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& r : rows) {
        nlohmann::json row = {{"path", toUtf8(r.path)},
                              {"directory", r.directory},
                              {"deleted", r.deleted},
                              {"record", r.record ? nlohmann::json(r.recordNumber) : nlohmann::json(nullptr)},
                              {"creationTime", toUtf8(r.creation)},
                              {"accessTime", toUtf8(r.access)},
                              {"modificationTime", toUtf8(r.modification)},
                              {"size", toUtf8(r.size)},
                              {"sizeBytes", r.sizeBytes},
                              {"attribute", toUtf8(r.attribute)}};
        // The record is the file's; the stream's name tells the two apart.
        if (!r.stream.empty()) row["stream"] = toUtf8(r.stream);
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace salvage::cli
