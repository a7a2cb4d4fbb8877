// The parser over volumes made by other tools: the xorriso fixture and the
// shared HFS+ volume made on the original platform.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "HfspTestUtil.h"
#include "TestPaths.h"

using namespace salvage;
using namespace salvage::test;

namespace {

std::map<std::string, std::string> readList(const std::filesystem::path& p) {
    std::map<std::string, std::string> out;
    std::ifstream in(p);
    std::string line;
    while (std::getline(in, line)) {
        auto sep = line.find("  ");
        if (sep != std::string::npos) out[line.substr(sep + 2)] = line.substr(0, sep);
    }
    return out;
}

std::string baseName(const std::string& p) { return p.substr(p.rfind('/') + 1); }

}  // namespace

// Standard mode: the tree matches the source tree, and every file comes back
// byte for byte with its modification time.
TEST(HfspFixture, StandardTreeAndFilesMatchTheSource) {
    std::filesystem::path img;
    if (!requireFixture("hfs_volume.img", img)) return;
    auto md5s = readList(fixturePath("hfs_volume.md5"));
    auto mtimes = readList(fixturePath("hfs_volume.mtime"));
    ASSERT_EQ(md5s.size(), 6u);
    FileReadSeek src;
    ASSERT_TRUE(src.open(img));
    HfsRun run(src, RecoveryMode::Standard);
    ASSERT_EQ(run.result, ParseResult::Done);
    EXPECT_EQ(run.reporter.lastStatus(), u"Work Done.");
    auto paths = run.paths();
    for (const char* folder : {"docs", "docs/deep", "docs/deep/deeper", "media"}) {
        ASSERT_TRUE(paths.count(folder)) << folder;
        EXPECT_TRUE(run.parser.isDirectory(paths[folder])) << folder;
    }
    auto out = scratchDir("hfsp_fixture_standard");
    std::size_t files = 0;
    for (auto& [path, cnid] : paths) {
        if (run.parser.isDirectory(cnid)) continue;
        ++files;
        ASSERT_TRUE(md5s.count(path)) << "unexpected " << path;
        SaveOutcome s = run.parser.saveFile(cnid, out);
        ASSERT_TRUE(s.ok) << path;
        EXPECT_EQ(md5File(s.written), md5s[path]) << path;
        EXPECT_EQ(run.parser.sizeBytes(cnid), std::filesystem::file_size(s.written)) << path;
        struct stat st {};
        ASSERT_EQ(stat(s.written.c_str(), &st), 0);
        EXPECT_EQ(std::to_string(st.st_mtime), mtimes[path]) << path;
    }
    EXPECT_EQ(files, md5s.size());
}

// The searched mode finds the same files in the leaves: every folder under
// ORPHAN_ENTRY, every file in some folder's chain, contents intact.
TEST(HfspFixture, SearchedModeRegroupsUnderOrphanEntry) {
    std::filesystem::path img;
    if (!requireFixture("hfs_volume.img", img)) return;
    auto md5s = readList(fixturePath("hfs_volume.md5"));
    FileReadSeek src;
    ASSERT_TRUE(src.open(img));
    for (RecoveryMode mode : {RecoveryMode::Advanced, RecoveryMode::Deep}) {
        HfsRun run(src, mode, u"4");
        ASSERT_EQ(run.result, ParseResult::Done);
        EXPECT_TRUE(run.parser.leafScanUsed);
        auto paths = run.paths();
        ASSERT_TRUE(paths.count("ORPHAN_ENTRY"));
        std::uint32_t orphan = paths["ORPHAN_ENTRY"];
        EXPECT_EQ(orphan, run.parser.entryMap.rbegin()->first);
        for (auto& [cnid, e] : run.parser.entryMap) {
            if (e.kind == HFSP::kFolder && cnid != orphan) {
                EXPECT_EQ(e.parentId, orphan) << toUtf8(e.name);
            }
        }
        std::map<std::string, std::string> byName;
        for (auto& [p, m] : md5s) byName[baseName(p)] = m;
        auto out = scratchDir("hfsp_fixture_searched");
        std::size_t found = 0;
        for (auto& [path, cnid] : paths) {
            if (run.parser.isDirectory(cnid)) continue;
            std::string n = baseName(path);
            if (!byName.count(n)) continue;
            ++found;
            SaveOutcome s = run.parser.saveFile(cnid, out);
            ASSERT_TRUE(s.ok);
            EXPECT_EQ(md5File(s.written), byName[n]) << path;
        }
        EXPECT_GE(found, md5s.size());
    }
}

// The volume made on the original platform: three files with known SHA-256
// in nested folders, besides the system's private folders.
TEST(HfspTestdata, SharedVolumeFilesComeBack) {
    std::filesystem::path img;
    if (!requireTestdata("hfsplus.raw.gz", "", img)) return;
    const std::map<std::string, std::string> want = {
        {"a_directory/a_file", "4a49638d0e1055fd9e4c17fef7fdf4d6ccf892b6d9c2f64164203c4bfb0ec92d"},
        {"a_directory/another_file", "c7fbc0e821c0871805a99584c6a384533909f68a6bbe9a2a687d28d9f3b10c16"},
        {"passwords.txt", "02a2a6af2f1ecf4720d7d49d640f0d0a269a7ec733e41973bdd34f09dad0e252"}};
    FileReadSeek src;
    ASSERT_TRUE(src.open(img));
    {
        HfsRun run(src, RecoveryMode::Standard);
        ASSERT_EQ(run.result, ParseResult::Done);
        auto paths = run.paths();
        EXPECT_TRUE(paths.count("a_link"));
        EXPECT_TRUE(paths.count(".fseventsd"));
        auto out = scratchDir("hfsp_testdata_standard");
        for (auto& [p, sha] : want) {
            ASSERT_TRUE(paths.count(p)) << p;
            SaveOutcome s = run.parser.saveFile(paths[p], out);
            ASSERT_TRUE(s.ok) << p;
            EXPECT_EQ(sha256File(s.written), sha) << p;
        }
        std::u16string attrs = run.parser.attributeText(paths["passwords.txt"]);
        EXPECT_NE(attrs.find(u"-Owner:R"), std::u16string::npos);
        EXPECT_FALSE(run.parser.modificationTimeText(paths["passwords.txt"]).empty());
    }
    {
        HfsRun run(src, RecoveryMode::Advanced, u"4");
        ASSERT_EQ(run.result, ParseResult::Done);
        auto out = scratchDir("hfsp_testdata_searched");
        for (auto& [p, sha] : want) {
            bool found = false;
            for (auto& [cnid, e] : run.parser.entryMap) {
                if (toUtf8(e.name) != baseName(p)) continue;
                SaveOutcome s = run.parser.saveFile(cnid, out);
                ASSERT_TRUE(s.ok);
                EXPECT_EQ(sha256File(s.written), sha) << p;
                found = true;
            }
            EXPECT_TRUE(found) << p;
        }
    }
}
