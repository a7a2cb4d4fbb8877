// Volumes made by mkntfs and filled through ntfs-3g: every file written
// comes back byte for byte with its times; deleted entries are marked; the
// Recycle Bin shows former names; the same holds inside an MBR disk and an
// E01 copy.
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "NtfsTestSupport.h"
#include "TestPaths.h"

using namespace salvage;
using namespace salvage::test;
namespace fs = std::filesystem;

namespace {

constexpr char16_t kSize[] = u"64   MB";

struct ManifestRow {
    std::string path;
    std::uint64_t size = 0;
    std::string md5;
    std::int64_t mtime = 0;
    bool deleted = false;
};

std::vector<ManifestRow> manifest() {
    std::vector<ManifestRow> rows;
    std::ifstream in(fixturePath("ntfs_manifest.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        ManifestRow r;
        std::string size, mtime, state;
        std::getline(s, r.path, '\t');
        std::getline(s, size, '\t');
        std::getline(s, r.md5, '\t');
        std::getline(s, mtime, '\t');
        std::getline(s, state, '\t');
        r.size = std::stoull(size);
        r.mtime = std::stoll(mtime);
        r.deleted = state == "deleted";
        rows.push_back(r);
    }
    return rows;
}

// Saves every manifest file and compares content, size, deletion and times.
void checkAllFiles(ParsedNtfs& p, const std::string& scratch) {
    ASSERT_EQ(p.result, ParseResult::Done);
    const auto paths = pathsOf(p.parser);
    const auto rows = manifest();
    ASSERT_GE(rows.size(), 14u);
    const fs::path out = scratchDir(scratch);
    for (const ManifestRow& r : rows) {
        SCOPED_TRACE(r.path);
        auto it = paths.find(r.path);
        ASSERT_NE(it, paths.end());
        const RecordId id = it->second;
        EXPECT_EQ(p.parser.isDeleted(id), r.deleted);
        EXPECT_EQ(p.parser.sizeBytes(id), r.size);
        const SaveOutcome s = p.parser.saveFile(id, out);
        ASSERT_TRUE(s.ok);
        EXPECT_EQ(s.bytes, r.size);
        // Times first: reading the file may move its access time.
        struct stat st {};
        ASSERT_EQ(::stat(s.written.c_str(), &st), 0);
        EXPECT_EQ(md5File(s.written), r.md5);
        EXPECT_EQ(st.st_mtim.tv_sec, r.mtime);
        const RecordTimes t = p.parser.times(id);
        ASSERT_TRUE(t.modification);
        EXPECT_EQ(*t.modification / 1000000000, r.mtime);
        EXPECT_EQ(st.st_atim.tv_sec, *t.access / 1000000000);
    }
}

TEST(NtfsFixture, EveryFileComesBackByteForByteWithItsTimes) {
    fs::path img;
    if (!requireFixture("ntfs.img", img)) return;
    auto p = parseNtfs(img, kSize);
    checkAllFiles(*p, "ntfs_plain");
}

TEST(NtfsFixture, InsideAnMbrDiskAndAsE01) {
    for (const char* name : {"ntfs_disk.img", "ntfs_disk.E01"}) {
        SCOPED_TRACE(name);
        fs::path img;
        if (!requireFixture(name, img)) return;
        auto p = parseNtfs(img, kSize, RecoveryMode::Standard, 2048);
        checkAllFiles(*p, std::string("ntfs_") + name);
    }
}

TEST(NtfsFixture, TreeLevelsDeletedItemsAndStreams) {
    fs::path img;
    if (!requireFixture("ntfs.img", img)) return;
    auto p = parseNtfs(img, kSize);
    ASSERT_EQ(p->result, ParseResult::Done);
    // First level: records 1 to 4 first, the orphan entry last; the MFT's own
    // record is never listed.
    const auto first = p->tree.children(p->parser.rootItem);
    ASSERT_GE(first.size(), 5u);
    EXPECT_EQ(p->tree.text(first[0]), u"$MFTMirr");
    EXPECT_EQ(p->tree.text(first.back()), u"ORPHAN_ENTRY");
    bool sawDeldir = false;
    for (TreeItem item : first) {
        EXPECT_NE(p->tree.text(item), u"$MFT");
        if (p->tree.text(item) == u"deldir") {
            sawDeldir = true;
            EXPECT_TRUE(p->tree.isRed(item));
            EXPECT_EQ(p->tree.image(item), ItemImage::Folder);
        }
        if (p->tree.text(item) == u"big.bin") {
            EXPECT_FALSE(p->tree.isRed(item));
        }
    }
    EXPECT_TRUE(sawDeldir);
    const auto paths = pathsOf(p->parser);
    // A 255-character name survives whole.
    bool longName = false;
    for (const auto& [path, id] : paths)
        if (p->parser.name(id).size() == 255) longName = true;
    EXPECT_TRUE(longName);
    // The fragmented file's $FILE_NAME sits in an extension record; it is
    // listed once, with its base record's times and size.
    int fragments = 0;
    for (const auto& [path, id] : paths)
        if (path == "fragmented.bin") ++fragments;
    EXPECT_EQ(fragments, 1);
    EXPECT_EQ(p->parser.attributeText(paths.at("comp/words.txt")).find(u"-C") != std::u16string::npos, true);
    EXPECT_FALSE(p->parser.modificationTimeText(paths.at("big.bin")).empty());
    EXPECT_TRUE(p->parser.searchMatchesFolders());
}

TEST(NtfsFixture, RecycleBinFilesShowTheirFormerNames) {
    fs::path img;
    if (!requireFixture("ntfs.img", img)) return;
    auto p = parseNtfs(img, kSize);
    p->parser.recycleBinPass();
    const auto paths = pathsOf(p->parser);
    const std::string dir = "$RECYCLE.BIN/S-1-5-21-1000/";
    EXPECT_TRUE(paths.count(dir + "report.txt"));  // version 2
    EXPECT_TRUE(paths.count(dir + "notes.doc"));   // version 1
    EXPECT_TRUE(paths.count(dir + "$IAB12CD.txt"));
    EXPECT_FALSE(paths.count(dir + "$RAB12CD.txt"));
    const fs::path out = scratchDir("ntfs_recycle");
    const SaveOutcome s = p->parser.saveFile(paths.at(dir + "report.txt"), out);
    EXPECT_EQ(s.written.filename(), "report.txt");
    std::ifstream in(s.written);
    std::string body;
    std::getline(in, body);
    EXPECT_EQ(body, "report body");
}

TEST(NtfsFixture, DirectorySaveLeavesAnEmptyFileAndSaysSo) {
    fs::path img;
    if (!requireFixture("ntfs.img", img)) return;
    auto p = parseNtfs(img, kSize);
    const auto paths = pathsOf(p->parser);
    const SaveOutcome s = p->parser.saveFile(paths.at("docs"), scratchDir("ntfs_dir"));
    EXPECT_TRUE(s.ok);
    EXPECT_EQ(fs::file_size(s.written), 0u);
    EXPECT_TRUE(p->reporter.sawMessage(u"This is  docs directory .Please specify file names "));
}

TEST(NtfsFixture, ZeroedBootSectorIsFoundByTheMftScan) {
    fs::path img;
    if (!requireFixture("ntfs_zeroboot.img", img)) return;
    auto p = parseNtfs(img, kSize);
    EXPECT_TRUE(p->reporter.sawStatus(u"boot sector corrupt.Scanning for first mft entry..."));
    EXPECT_TRUE(p->reporter.sawStatus(u"found mft entry.getting its run ..."));
    ASSERT_TRUE(p->parser.mftLocated());
    checkAllFiles(*p, "ntfs_zeroboot");
}

TEST(NtfsFixture, AdvancedCandidateZeroIsTheRealMftNotTheMirror) {
    fs::path img;
    if (!requireFixture("ntfs_zeroboot.img", img)) return;
    std::ifstream off(fixturePath("ntfs_mft_offset.txt"));
    std::int64_t mftOffset = 0;
    off >> mftOffset;
    auto p = openNtfs(img, kSize);
    ASSERT_EQ(p->parser.findAdvancedCandidates(3), 1);
    EXPECT_EQ(p->parser.candidates()[0].recordOffset, mftOffset);
    const AdvancedLists lists = p->parser.advancedLists();
    EXPECT_EQ(lists.candidates, std::vector<std::u16string>{u"MFT_ENTRY:0"});
    EXPECT_EQ(lists.sectorsPerCluster, (std::vector<std::u16string>{u"8", u"4", u"2", u"16", u"32", u"64"}));
    p->parser.advancedChoice = {0, 0, -1};
    p->result = p->parser.parse(RecoveryMode::Advanced);
    checkAllFiles(*p, "ntfs_advanced");
}

TEST(NtfsFixture, DeepModeRecoversFilesFromAWreckedVolume) {
    fs::path img;
    if (!requireFixture("ntfs_wrecked.img", img)) return;
    // The MFT's first records are gone: no candidate, no root.
    auto adv = openNtfs(img, kSize);
    EXPECT_EQ(adv->parser.findAdvancedCandidates(3), 0);

    auto p = parseNtfs(img, kSize, RecoveryMode::Deep);
    ASSERT_EQ(p->result, ParseResult::Done);
    const auto first = p->tree.children(p->parser.rootItem);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(p->tree.text(first[0]), u"ORPHAN_ENTRY");
    // Every file of the manifest is found in some directory group and
    // saves byte for byte.
    const auto byName = deepGroups(p->parser);
    const fs::path out = scratchDir("ntfs_deep");
    for (const ManifestRow& r : manifest()) {
        SCOPED_TRACE(r.path);
        const std::string leaf = r.path.substr(r.path.find_last_of('/') + 1);
        auto it = byName.find(leaf);
        ASSERT_NE(it, byName.end());
        EXPECT_EQ(p->parser.isDeleted(it->second), r.deleted);
        const SaveOutcome s = p->parser.saveFile(it->second, out);
        EXPECT_EQ(md5File(s.written), r.md5);
    }
    // Directories are grouped latest first; "docs" holds what followed it.
    EXPECT_TRUE(byName.count("docs"));
    EXPECT_TRUE(byName.count("deldir"));
}

TEST(NtfsFixture, DeepModeOnAVolumeWhoseStartIsCutOff) {
    fs::path img;
    if (!requireFixture("ntfs_cut.img", img)) return;
    auto p = parseNtfs(img, kSize, RecoveryMode::Deep);
    ASSERT_EQ(p->result, ParseResult::Done);
    const auto byName = deepGroups(p->parser);
    const fs::path out = scratchDir("ntfs_cut");
    for (const ManifestRow& r : manifest()) {
        SCOPED_TRACE(r.path);
        const std::string leaf = r.path.substr(r.path.find_last_of('/') + 1);
        auto it = byName.find(leaf);
        ASSERT_NE(it, byName.end());
        EXPECT_EQ(p->parser.isDeleted(it->second), r.deleted);
        // Cluster numbers point 8 KiB too far now; resident data is intact.
        if (r.size < 700) {
            EXPECT_EQ(md5File(p->parser.saveFile(it->second, out).written), r.md5);
        }
    }
}

}  // namespace
