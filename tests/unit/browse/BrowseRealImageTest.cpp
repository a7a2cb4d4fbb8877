// The browse layer on images made elsewhere by real systems: parse through
// the controller's worker, save the whole volume, check every saved file
// against the images' ground truth, and search.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "TestPaths.h"
#include "browse/FolderOpen.h"
#include "browse/FolderSave.h"
#include "browse/ScanController.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {
struct ParsedVolume {
    RecordingReporter rep;
    BrowseTree tree;
    FileList list;
    ScanController c{rep, tree, list};
    OpenedImage img;

    bool parse(const fs::path& image, const char16_t* fileSystem, const char16_t* size) {
        img = openImage(image, rep);
        if (!img.source) return false;
        if (c.startParse(VolumeRecord{fileSystem, u"1", size, 0}, RecoveryMode::Standard, img.source.get()) !=
            StartOutcome::Started)
            return false;
        c.wait();
        return c.lastParseResult() == ParseResult::Done;
    }
    // Saves the whole volume; answers in-volume path -> saved entry.
    std::map<std::u16string, SavedFile> saveAll(const fs::path& out) {
        FolderSave save(*c.parser(), rep);
        std::vector<RecordId> top;
        for (TreeItem t : tree.children(tree.root()))
            if (auto id = validRecord(tree, *c.parser(), t)) top.push_back(*id);
        save.saveRecords(top, out, u"ROOT");
        std::map<std::u16string, SavedFile> m;
        for (const auto& s : save.saved()) m[s.volumePath] = s;
        return m;
    }
    std::vector<std::u16string> search(const std::u16string& pattern) {
        EXPECT_EQ(c.startSearch(pattern), StartOutcome::Started);
        c.wait();
        std::vector<std::u16string> out;
        for (const auto& r : list.rows()) out.push_back(r.name);
        return out;
    }
};

// The evidence image's "SHA256<TAB>/path" list, as ROOT\path.
std::map<std::u16string, std::string> hashList() {
    std::map<std::u16string, std::string> m;
    std::ifstream f(test::testdataDir() / "ext2.E01.hashes");
    std::string hash, path;
    while (f >> hash >> path) {
        for (char& ch : path)
            if (ch == '/') ch = '\\';
        m[u"ROOT" + fromUtf8(path)] = hash;
    }
    return m;
}
}  // namespace

TEST(BrowseRealImage, Ext2EvidenceImageSavesAndSearches) {
    fs::path img = test::testdataDir() / "ext2.E01";
    if (!fs::exists(img)) GTEST_SKIP() << "shared test data missing: " << img;
    ParsedVolume r;
    ASSERT_TRUE(r.parse(img, u"extX", u"4   MB"));
    EXPECT_TRUE(r.rep.sawMessage(u"Scanning processing done.Select save button to save the data."));
    auto saved = r.saveAll(test::scratchDir("browse_real_ext2"));
    auto want = hashList();
    ASSERT_EQ(want.size(), 3u);
    for (const auto& [path, hash] : want) {
        ASSERT_TRUE(saved.count(path)) << toUtf8(path);
        EXPECT_EQ(saved[path].sha256, hash) << toUtf8(path);
        EXPECT_EQ(test::sha256File(saved[path].written), hash);
        EXPECT_FALSE(saved[path].deleted);
    }
    // A double click on a file: saved and announced with its path.
    TreeItem pw = kNoItem;
    for (TreeItem t : r.tree.children(r.tree.root()))
        if (r.tree.text(t) == u"passwords.txt") pw = t;
    ASSERT_NE(pw, kNoItem);
    FolderSave single(*r.c.parser(), r.rep);
    const fs::path one = test::scratchDir("browse_real_ext2_single");
    ASSERT_TRUE(single.saveSingle(*r.tree.itemData(pw), one, u"ROOT\\passwords.txt"));
    EXPECT_TRUE(r.rep.sawMessage(u"file is dumped in path  :  " + pathToUtf16(one / "passwords.txt") + u"   "));
    EXPECT_EQ(test::sha256File(one / "passwords.txt"), want.at(u"ROOT\\passwords.txt"));

    EXPECT_EQ(r.search(u"FILE"), (std::vector<std::u16string>{u"ROOT\\a_directory\\another_file",
                                                               u"ROOT\\a_directory\\a_file"}));
    EXPECT_EQ(r.search(u"\\.txt$"), std::vector<std::u16string>{u"ROOT\\passwords.txt"});
}

TEST(BrowseRealImage, HfsPlusVolumeFromMacOs) {
    fs::path img;
    if (!test::requireTestdata("hfsplus.raw.gz", "", img)) return;
    ParsedVolume r;
    ASSERT_TRUE(r.parse(img, u"HFS+", u"8   MB"));
    EXPECT_EQ(r.rep.lastStatus(), u"Work Done.");
    EXPECT_FALSE(r.rep.sawMessage(u"Scanning processing done.Select save button to save the data."));
    auto saved = r.saveAll(test::scratchDir("browse_real_hfs"));
    for (const auto& [path, hash] : hashList()) {
        ASSERT_TRUE(saved.count(path)) << toUtf8(path);
        EXPECT_EQ(saved[path].sha256, hash) << toUtf8(path);
    }
}

TEST(BrowseRealImage, Fat16DeletedFilesFromWindows) {
    fs::path img;
    if (!test::requireTestdata("6-undel-fat.zip", "6-undel-fat/6-fat-undel.dd", img)) return;
    ParsedVolume r;
    ASSERT_TRUE(r.parse(img, u"FAT16", u"6   MB"));
    auto saved = r.saveAll(test::scratchDir("browse_real_fat16"));
    // The image's ground truth for its unfragmented deleted files (the
    // fragmented ones need their lost chain and come out as consecutive clusters).
    std::map<std::string, std::string> byMd5;
    for (const auto& [path, s] : saved) byMd5[s.md5] = toUtf8(path);
    for (const char* md5 : {"59b20779f69ff9f0ac5fcd2c38835a79", "ffd27bd782bdce67750b6b9ee069d2ef",
                            "59cf0e9cd107bc1e75afb7374f6e05bb"})
        EXPECT_TRUE(byMd5.count(md5)) << md5;
    std::size_t deleted = 0;
    for (const auto& [path, s] : saved) deleted += s.deleted;
    EXPECT_EQ(deleted, 4u);
    EXPECT_EQ(saved.size(), 6u);
    auto found = r.search(u"dat");
    EXPECT_EQ(found.size(), 6u);
}
