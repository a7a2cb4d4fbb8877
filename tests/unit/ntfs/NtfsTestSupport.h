#pragma once
// Opening an NTFS image for a test and flattening the parsed tree into
// "dir/name" paths.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "browse/BrowseTree.h"
#include "fs/ntfs/ntfs.h"
#include "image/ImageOpen.h"
#include "image/SectorSource.h"
#include "platform/Text.h"

namespace salvage::test {

struct ParsedNtfs {
    std::unique_ptr<readWriteInterface> source;
    BrowseTree tree;
    RecordingReporter reporter;
    ntfs parser;
    ParseResult result = ParseResult::Failed;

    void attach(const std::u16string& sizeText, std::int64_t start) {
        parser.attach(source.get(), &tree, &reporter, VolumeRecord{u"NTFS", u"1", sizeText, start});
    }
};

inline std::unique_ptr<ParsedNtfs> openNtfs(const std::filesystem::path& image, const std::u16string& sizeText,
                                            std::int64_t start = 0) {
    auto p = std::make_unique<ParsedNtfs>();
    p->source = openImage(image, p->reporter).source;
    EXPECT_TRUE(p->source) << image;
    if (p->source) p->attach(sizeText, start);
    return p;
}

inline std::unique_ptr<ParsedNtfs> parseNtfs(const std::filesystem::path& image, const std::u16string& sizeText,
                                             RecoveryMode mode = RecoveryMode::Standard, std::int64_t start = 0) {
    auto p = openNtfs(image, sizeText, start);
    if (p->source) p->result = p->parser.parse(mode);
    return p;
}

// Every entry reachable from `id`, keyed by its path below it.
inline void flatten(const ntfs& parser, RecordId id, const std::string& prefix, std::map<std::string, RecordId>& out,
                    int depth = 0) {
    if (depth > 64) return;
    parser.forEachChild(id, [&](RecordId c) {
        const std::string path = prefix + toUtf8(parser.name(c));
        out[path] = c;
        if (parser.isDirectory(c)) flatten(parser, c, path + "/", out, depth + 1);
        return true;
    });
}

inline std::map<std::string, RecordId> pathsOf(const ntfs& parser) {
    std::map<std::string, RecordId> out;
    if (parser.rootIndex() >= 0 && parser.rootIndex() < parser.orphanIndex()) flatten(parser, parser.rootIndex(), "", out);
    else flatten(parser, parser.orphanIndex(), "ORPHAN_ENTRY/", out);
    return out;
}

// Deep mode's groups: every directory under the orphan entry and every
// entry in them, by name (a scan may meet a name more than once).
inline std::multimap<std::string, RecordId> deepGroups(const ntfs& parser) {
    std::multimap<std::string, RecordId> out;
    parser.forEachChild(parser.orphanIndex(), [&](RecordId dir) {
        out.emplace(toUtf8(parser.name(dir)), dir);
        parser.forEachChild(dir, [&](RecordId f) {
            out.emplace(toUtf8(parser.name(f)), f);
            return true;
        });
        return true;
    });
    return out;
}

}  // namespace salvage::test
