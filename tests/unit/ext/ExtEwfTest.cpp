// The shared ext2 evidence image, read through the EWF reader: the tree of
// its .paths list and the SHA-256 of its .hashes list.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "TestPaths.h"
#include "fs/ext/ext2Class.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

using namespace salvage;
namespace fs = std::filesystem;

TEST(ExtEwf, SharedExt2Image) {
    fs::path img = test::testdataDir() / "ext2.E01";
    if (!fs::exists(img)) GTEST_SKIP() << "shared test data missing: " << img;
    OpenedImage opened = openImage(img, nullReporter());
    ASSERT_NE(opened.source, nullptr);
    BrowseTree tree;
    ext2Class parser;
    parser.attach(opened.source.get(), &tree, nullptr, VolumeRecord{u"extX", u"1", u"4   MB", 0});
    ASSERT_EQ(parser.parse(RecoveryMode::Standard), ParseResult::Done);

    std::set<std::string> paths;
    std::function<void(RecordId, const std::string&, int)> walk = [&](RecordId id, const std::string& prefix,
                                                                      int depth) {
        ASSERT_LT(depth, 16);
        parser.forEachChild(id, [&](RecordId c) {
            std::string n = toUtf8(parser.name(c));
            if (depth == 0 && n == ".") return true;
            paths.insert(prefix + "/" + n);
            if (parser.isDirectory(c)) walk(c, prefix + "/" + n, depth + 1);
            return true;
        });
    };
    walk(ext2Class::kRootKey, "", 0);
    std::set<std::string> want;
    std::ifstream pl(test::testdataDir() / "ext2.E01.paths");
    for (std::string line; std::getline(pl, line);)
        if (!line.empty() && line != "/" && line != "/$OrphanFiles") want.insert(line);
    EXPECT_EQ(paths, want);

    fs::path out = test::scratchDir("ext_ewf");
    std::ifstream hl(test::testdataDir() / "ext2.E01.hashes");
    int checked = 0;
    for (std::string hash, path; hl >> hash >> path; ++checked) {
        RecordId id = ext2Class::kRootKey;
        std::string rest = path.substr(1);
        while (!rest.empty()) {
            std::string part = rest.substr(0, rest.find('/'));
            rest = rest.find('/') == std::string::npos ? "" : rest.substr(rest.find('/') + 1);
            RecordId found = -1;
            parser.forEachChild(id, [&](RecordId c) {
                if (toUtf8(parser.name(c)) == part) found = c;
                return found < 0;
            });
            ASSERT_GE(found, 0) << path;
            id = found;
        }
        SaveOutcome s = parser.saveFile(id, out);
        ASSERT_TRUE(s.ok) << path;
        EXPECT_EQ(test::sha256File(s.written), hash) << path;
    }
    EXPECT_EQ(checked, 3);
}
