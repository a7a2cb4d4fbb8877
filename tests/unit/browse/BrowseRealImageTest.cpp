// The browse layer on images made elsewhere by real systems: parse through
// the controller's worker, save the whole volume, check every saved file
// against the images' ground truth, and search.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>

#include "TestPaths.h"
#include "browse/FileDamage.h"
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

    bool parse(const fs::path& image, const char16_t* fileSystem, const std::u16string& size,
               std::int64_t startSector = 0) {
        img = openImage(image, rep);
        if (!img.source) return false;
        if (c.startParse(VolumeRecord{fileSystem, u"1", size, startSector}, RecoveryMode::Standard, img.source.get()) !=
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

std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

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

TEST(BrowseRealImage, AChunkThatFailsItsChecksumIsDamageToTheByte) {
    // ewfacquire's image of the MBR disk with one byte of the FAT16
    // volume's docs/data.bin flipped afterwards: its 32 KiB chunk fails,
    // and that chunk holds the tail of DATA.BIN and all of HELLO.TXT.
    fs::path img, raw;
    if (!test::requireFixture("mbr_flipped.E01", img) || !test::requireFixture("mbr_disk.img", raw)) return;
    std::uint64_t flipped = 0;
    std::ifstream(test::fixturePath("ewf_flipped.expect")) >> flipped;
    constexpr std::uint64_t kChunk = 64 * 512;
    ParsedVolume r;
    ASSERT_TRUE(r.parse(img, u"FAT16", u"8   MB", 20480));
    // Before anything is saved: the map check knows only what the parse
    // read (not the bad chunk); the full check reads the files and finds
    // the save's ranges; after it the map check knows them without reading.
    VolumeParser& parser = *r.c.parser();
    std::map<RecordId, FileDamage> mapBefore, full, mapAfter;
    std::function<void(RecordId)> visit = [&](RecordId id) {
        if (!parser.isDirectory(id)) {
            mapBefore[id] = damageOf(parser, id, DamageDepth::Map);
            return;
        }
        parser.forEachChild(id, [&](RecordId c) {
            if (parser.name(c).rfind(u".", 0) != 0) visit(c);  // not "." or ".."
            return true;
        });
    };
    for (TreeItem t : r.tree.children(r.tree.root()))
        if (auto id = validRecord(r.tree, parser, t)) visit(*id);
    ASSERT_EQ(mapBefore.size(), 2u);
    for (auto& [id, d] : mapBefore) {
        EXPECT_EQ(d.state, FileDamage::State::Sound);
        full[id] = damageOf(parser, id, DamageDepth::Full);
    }
    for (auto& [id, d] : mapBefore) mapAfter[id] = damageOf(parser, id, DamageDepth::Map);
    auto saved = r.saveAll(test::scratchDir("browse_real_flipped"));
    ASSERT_EQ(saved.size(), 2u);
    for (const auto& [path, s] : saved) {
        ASSERT_TRUE(full.count(s.record));
        EXPECT_TRUE(full[s.record].damaged());
        EXPECT_EQ(full[s.record].ranges, s.damaged);
        EXPECT_EQ(mapAfter[s.record].ranges, s.damaged);
    }
    const SavedFile& hello = saved.at(u"ROOT\\HELLO.TXT");
    EXPECT_EQ(hello.status, SaveStatus::Damaged);
    EXPECT_EQ(hello.badBytes, 19u);

    const SavedFile& bad = std::next(saved.begin())->second.volumePath == u"ROOT\\HELLO.TXT"
                               ? saved.begin()->second : std::next(saved.begin())->second;
    ASSERT_EQ(bad.written.filename(), "DATA.BIN");
    EXPECT_EQ(bad.status, SaveStatus::Damaged);
    EXPECT_EQ(bad.bytes, 20000u);
    ASSERT_FALSE(bad.runs.empty());
    ASSERT_TRUE(bad.runs[0].imageOffset);
    const std::uint64_t fileStart = *bad.runs[0].imageOffset;  // a fresh FAT16: one contiguous run
    const std::uint64_t chunk = flipped / kChunk * kChunk;
    ASSERT_EQ(bad.damaged.size(), 1u);
    const DamagedRange& d = bad.damaged[0];
    ASSERT_TRUE(d.imageOffset);
    EXPECT_EQ(*d.imageOffset, std::max(chunk, fileStart));
    EXPECT_EQ(*d.imageOffset + d.length, std::min(chunk + kChunk, fileStart + 20000));
    EXPECT_EQ(d.fileOffset, *d.imageOffset - fileStart);
    EXPECT_EQ(bad.badBytes, d.length);
    // Every other byte is the disk's own, found again through the runs.
    const std::string disk = slurp(raw);
    std::string want;
    for (const ByteRun& run : bad.runs) want += disk.substr(std::size_t(*run.imageOffset), std::size_t(run.length));
    want.replace(std::size_t(d.fileOffset), std::size_t(d.length), std::size_t(d.length), '\0');
    EXPECT_TRUE(slurp(bad.written) == want);
}

TEST(BrowseRealImage, AnOutputThatRunsFullFailsTheFilesItCannotHold) {
    // No host file may grow past 4 KiB: on every file system the files
    // larger than that are failed, the others written.
    constexpr std::uint64_t kLimit = 4 * 1024;
    struct Case {
        const char* image;
        const char16_t* fileSystem;
        std::int64_t startSector;
    };
    const Case cases[] = {{"fat16.img", u"FAT16", 0},
                          {"ntfs.img", u"NTFS", 0},
                          {"ext2.img", u"extX", 0},
                          {"hfs_volume.img", u"HFS+", 0},
                          {"exfat_gpt_disk.img", u"FAT64", 2048}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        fs::path img;
        if (!test::requireFixture(c.image, img)) continue;
        const auto mib = (fs::file_size(img) - std::uint64_t(c.startSector) * 512) / (1024 * 1024);
        ParsedVolume r;
        ASSERT_TRUE(r.parse(img, c.fileSystem, fromUtf8(std::to_string(mib) + "   MB"), c.startSector));
        std::map<std::u16string, SavedFile> saved;
        {
            test::FileSizeLimit limit(kLimit);
            saved = r.saveAll(test::scratchDir(std::string("browse_real_full_") + c.image));
        }
        std::size_t failed = 0;
        for (const auto& [path, s] : saved) {
            if (s.status == SaveStatus::Skipped) continue;
            if (s.expectedSize > kLimit) {
                EXPECT_EQ(s.status, SaveStatus::Failed) << toUtf8(path);
                EXPECT_TRUE(s.written.empty()) << toUtf8(path);
                ++failed;
            } else {
                EXPECT_NE(s.status, SaveStatus::Failed) << toUtf8(path) << " " << s.reason;
            }
        }
        EXPECT_GT(failed, 0u);
    }
}
