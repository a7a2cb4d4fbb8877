#pragma once
#include <map>
#include <memory>
#include <string>

#include "browse/BrowseTree.h"
#include "fs/hfsplus/HFSP.h"
#include "image/SectorSource.h"
#include "platform/Reporter.h"
#include "platform/Text.h"

namespace salvage::test {

// A parser with its own tree and reporter over a source.
struct HfsRun {
    BrowseTree tree;
    RecordingReporter reporter;
    HFSP parser;
    ParseResult result = ParseResult::Failed;

    HfsRun(readWriteInterface& src, RecoveryMode mode, std::u16string sizeText = u"64", std::int64_t startSector = 0) {
        VolumeRecord v{u"HFS+", u"1", std::move(sizeText), startSector};
        parser.attach(&src, &tree, &reporter, v);
        result = parser.parse(mode);
    }

    // "a/b/c" -> cnid for everything reachable from ROOT's items.
    std::map<std::string, std::uint32_t> paths() const {
        std::map<std::string, std::uint32_t> out;
        TreeItem root = tree.root();
        for (TreeItem it : tree.children(root)) {
            auto id = tree.itemData(it);
            if (id) walk(toUtf8(tree.text(it)), std::uint32_t(*id), out, 0);
        }
        return out;
    }

private:
    void walk(const std::string& path, std::uint32_t id, std::map<std::string, std::uint32_t>& out, int depth) const {
        if (depth > 64 || !out.emplace(path, id).second) return;
        parser.forEachChild(id, [&](RecordId c) {
            walk(path + "/" + toUtf8(parser.name(c)), std::uint32_t(c), out, depth + 1);
            return true;
        });
    }
};

}  // namespace salvage::test
