// FAT32 and exFAT volumes made by mkfs.fat/mtools and mkfs.exfat/exfat-fuse
// (tests/fixtures/make_fat.sh): every file of the manifest, live or deleted,
// comes back byte for byte with its write time.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "FatTestSupport.h"
#include "TestPaths.h"
#include "fs/fat/Fat32Class.h"
#include "fs/fat/Fat64Class.h"
#include "image/Globals.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

using namespace salvage;

namespace {

struct ManifestFile {
    std::string path;
    std::uint64_t size = 0;
    std::string md5;
    std::int64_t mtime = 0;
    bool deleted = false;
};

struct FixtureVolume {
    std::string key, image, parser;
    std::int64_t startSector = 0;
    std::vector<ManifestFile> files;
};

std::map<std::string, FixtureVolume> loadFixtures(const std::string& set = "fat") {
    std::map<std::string, FixtureVolume> out;
    std::filesystem::path vols, manifest;
    if (!test::requireFixture(set + "_volumes.txt", vols) || !test::requireFixture(set + "_manifest.tsv", manifest))
        return out;
    std::ifstream v(vols);
    for (std::string line; std::getline(v, line);) {
        std::istringstream s(line);
        FixtureVolume f;
        s >> f.key >> f.image >> f.startSector >> f.parser;
        if (!f.key.empty()) out[f.key] = f;
    }
    std::ifstream m(manifest);
    for (std::string line; std::getline(m, line);) {
        std::vector<std::string> col;
        std::istringstream s(line);
        for (std::string c; std::getline(s, c, '\t');) col.push_back(c);
        if (col.size() != 6) continue;
        out[col[0]].files.push_back({col[1], std::stoull(col[2]), col[3], std::stoll(col[4]), col[5] == "deleted"});
    }
    return out;
}

std::unique_ptr<test::ParsedVolume> parseFixture(const FixtureVolume& f) {
    auto src = std::make_unique<FileReadSeek>();
    EXPECT_TRUE(src->open(test::fixturePath(f.image))) << f.image;
    auto parser = f.parser == "exfat"   ? createFat64Parser()
                  : f.parser == "fat16" ? createFat16Parser()
                  : f.parser == "fat12" ? createFat12Parser()
                                        : createFat32Parser();
    return test::parseVolume(std::move(parser), std::move(src), f.startSector);
}

struct FormattedFlag {
    explicit FormattedFlag(bool on) { g_driveFormatted = on; }
    ~FormattedFlag() { g_driveFormatted = false; }
};

// The name a FAT folder shows: a folder stored under a short name only (an
// upper-case 8.3 name) keeps its 11 padded name bytes, a short file name
// without extension its 8 padded base bytes; exFAT names are as written.
std::u16string volumePath(const FixtureVolume& f, const std::string& path) {
    if (f.parser == "exfat") return fromUtf8(path);
    static const std::regex shortName("([A-Z0-9$_]{1,8})(?:\\.([A-Z0-9]{1,3}))?");
    std::string out, part;
    std::istringstream s(path);
    std::vector<std::string> parts;
    while (std::getline(s, part, '/')) parts.push_back(part);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::smatch m;
        std::string p = parts[i];
        if (i + 1 < parts.size() && std::regex_match(p, m, shortName)) {
            p = m[1].str();
            p.resize(8, ' ');
            std::string ext = m[2].str();
            ext.resize(3, ' ');
            p += ext;
        } else if (std::regex_match(p, m, shortName) && !m[2].matched) {
            p.resize(8, ' ');  // a file without extension: "FOO" and five blanks
        }
        out += (i ? "/" : "") + p;
    }
    return fromUtf8(out);
}

const ManifestFile* manifestEntry(const FixtureVolume& f, const std::string& path) {
    for (const auto& m : f.files)
        if (m.path == path) return &m;
    return nullptr;
}

}  // namespace

namespace {
void checkEveryFile(const FixtureVolume& f, test::ParsedVolume& v, const std::string& scratch) {
    ASSERT_EQ(v.result, ParseResult::Done);
    ASSERT_FALSE(f.files.empty());
    const auto out = test::scratchDir(scratch);
    for (const auto& m : f.files) {
        const RecordId id = v.find(volumePath(f, m.path));
        ASSERT_GE(id, 0) << m.path << "\n" << v.listing();
        EXPECT_EQ(v.parser->isDeleted(id), m.deleted) << m.path;
        EXPECT_FALSE(v.parser->isDirectory(id)) << m.path;
        EXPECT_EQ(v.parser->sizeBytes(id), m.size) << m.path;
        SaveOutcome s = v.parser->saveFile(id, out);
        ASSERT_TRUE(s.ok) << m.path;
        EXPECT_EQ(std::filesystem::file_size(s.written), m.size) << m.path;
        EXPECT_EQ(test::md5File(s.written), m.md5) << m.path;
        const auto t = v.parser->times(id).modification;
        ASSERT_TRUE(t) << m.path;
        EXPECT_EQ(*t / 1'000'000'000LL, m.mtime) << m.path;
        const auto written = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(s.written));
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(written.time_since_epoch()).count(), m.mtime)
            << m.path;
    }
}
}  // namespace

TEST(FatFixtures, EveryFileComesBackByteForByteWithItsWriteTime) {
    const auto fixtures = loadFixtures();
    if (fixtures.empty()) return;
    ASSERT_EQ(fixtures.size(), 5u);
    for (const auto& [key, f] : fixtures) {
        SCOPED_TRACE(key);
        auto v = parseFixture(f);
        checkEveryFile(f, *v, "fat_fixture_" + key);
    }
}

// A floppy-sized FAT12 volume, bare and inside a disk: 12-bit chains (the
// fragmented file's runs cross odd and even entries), deleted files, and the
// 12/16-bit parser reading the width from the boot sector whichever of the
// two the user picked.
TEST(FatFixtures, Fat12VolumesComeBackByteForByte) {
    auto fixtures = loadFixtures("fat12");
    if (fixtures.empty()) return;
    ASSERT_EQ(fixtures.size(), 2u);
    // The 12/16-bit rules name a deleted file by its short entry, whose
    // first byte shows as U+FFE5.
    for (auto& m : fixtures.at("fat12").files) {
        if (!m.deleted) continue;
        std::transform(m.path.begin(), m.path.end(), m.path.begin(), [](unsigned char c) { return std::toupper(c); });
        m.path = "\xEF\xBF\xA5" + m.path.substr(1);
    }
    fixtures.at("fat12_disk").files = fixtures.at("fat12").files;
    for (const auto& [key, f] : fixtures) {
        SCOPED_TRACE(key);
        auto v = parseFixture(f);
        checkEveryFile(f, *v, "fat12_fixture_" + key);
        // The file hidden as a volume label is on the first tree level, marked "V".
        const RecordId hidden = v->find(u"HIDDEN.BIN");
        ASSERT_GE(hidden, 0);
        EXPECT_EQ(v->parser->attributeText(hidden), u"V");
        std::vector<std::u16string> top;
        for (TreeItem it : v->tree.children(v->tree.root())) top.push_back(v->tree.text(it));
        EXPECT_EQ(std::count(top.begin(), top.end(), u"HIDDEN.BIN"), 1);
    }
    // Advanced mode with the boot sector zeroed: the first choices of the
    // ranked lists bring every live file back by its name.
    {
        const FixtureVolume& f = fixtures.at("fat12");
        std::vector<std::uint8_t> raw(std::filesystem::file_size(test::fixturePath(f.image)));
        std::ifstream(test::fixturePath(f.image), std::ios::binary).read(reinterpret_cast<char*>(raw.data()),
                                                                         std::streamsize(raw.size()));
        std::fill(raw.begin(), raw.begin() + 512, 0);
        auto v = std::make_unique<test::ParsedVolume>();
        v->source = std::make_unique<MemorySource>(std::move(raw));
        v->parser = createFat12Parser();
        VolumeRecord rec;
        rec.sectors = v->source->totalSectors();  // 1.44 MB: the MiB text alone would cut it
        v->parser->attach(v->source.get(), &v->tree, &v->reporter, rec);
        ASSERT_EQ(v->parser->findAdvancedCandidates(0), 2);
        v->parser->advancedChoice.candidate = 0;
        v->parser->advancedChoice.sectorsPerCluster = 0;
        ASSERT_EQ(v->parser->parse(RecoveryMode::Advanced), ParseResult::Done);
        const auto out = test::scratchDir("fat12_advanced");
        for (const auto& m : f.files) {
            if (m.deleted) continue;
            SCOPED_TRACE(m.path);
            const std::u16string base = fromUtf8(m.path.substr(m.path.rfind('/') + 1));
            RecordId id = -1;
            for (RecordId r = 0; v->parser->isValidRecord(r); ++r)
                if (v->parser->name(r) == base) id = r;
            ASSERT_GE(id, 0);
            const SaveOutcome saved = v->parser->saveFile(id, out);
            ASSERT_TRUE(saved.ok);
            EXPECT_EQ(test::md5File(saved.written), m.md5);
        }
    }
    FixtureVolume asFat16 = fixtures.at("fat12");
    asFat16.parser = "fat16";
    auto v = parseFixture(asFat16);
    checkEveryFile(asFat16, *v, "fat12_as_fat16");
}

TEST(FatFixtures, TheSameDiskReadThroughItsEwfImage) {
    const auto fixtures = loadFixtures();
    std::filesystem::path e01;
    if (fixtures.empty() || !test::requireFixture("fat_mbr_disk.E01", e01)) return;
    OpenedImage img = openImage(e01, nullReporter());
    ASSERT_TRUE(img.source);
    ASSERT_EQ(img.kind, ImageKind::Ewf);
    const auto& f = fixtures.at("fat32_mkfs");
    auto v = test::parseVolume(createFat32Parser(), std::move(img.source), f.startSector);
    checkEveryFile(f, *v, "fat_fixture_e01");
}

TEST(FatFixtures, RootFromTheHeadOfTheFatOrFromTheBootSector) {
    const auto fixtures = loadFixtures();
    if (fixtures.empty()) return;
    // mkfs.fat: FAT[1] is the end mark, so the head names no root run and
    // the boot sector's root cluster is followed (the root spans clusters).
    auto mkfs = parseFixture(fixtures.at("fat32_mkfs"));
    auto* p = dynamic_cast<Fat32Class*>(mkfs->parser.get());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->fatUsedEntries(), 1u);
    // The other formatter: FAT[1] = 0xFFFFFFFF, FAT[2] = 0x0FFFFFFF: the root is cluster 2.
    auto win = parseFixture(fixtures.at("fat32_win"));
    EXPECT_EQ(dynamic_cast<Fat32Class*>(win->parser.get())->fatUsedEntries(), 2u);

    for (auto* v : {mkfs.get(), win.get()}) {
        // The volume label is the first root entry: DUMMY ENTRY carries it
        // and gets no node; folders and archive files do.
        auto* fp = dynamic_cast<Fat32Class*>(v->parser.get());
        EXPECT_EQ(fp->name(0), u"DUMMY ENTRY");
        EXPECT_EQ(fp->entries()[0].attributes, 0x08);
        std::vector<std::u16string> top;
        for (TreeItem it : v->tree.children(v->tree.root())) top.push_back(v->tree.text(it));
        EXPECT_EQ(std::count(top.begin(), top.end(), u"DUMMY ENTRY"), 0);
        EXPECT_EQ(std::count(top.begin(), top.end(), u"$RECYCLEBIN"), 1);
        EXPECT_EQ(std::count(top.begin(), top.end(), u"gone dir"), 1);
        EXPECT_EQ(std::count(top.begin(), top.end(), u"README.TXT"), 1);
    }
}

TEST(FatFixtures, RecycleBinFilesTakeTheirFormerNames) {
    const auto fixtures = loadFixtures();
    if (fixtures.empty()) return;
    for (const char* key : {"fat32_mkfs", "exfat"}) {
        SCOPED_TRACE(key);
        const auto& f = fixtures.at(key);
        auto v = parseFixture(f);
        // FAT keeps the folder under its short name only.
        const std::u16string bin = f.parser == "exfat" ? u"$RECYCLE.BIN/" : u"$RECYCLEBIN/";
        EXPECT_GE(v->find(bin + u"$RAB12CD.TXT"), 0);
        v->parser->recycleBinPass();
        EXPECT_EQ(v->find(bin + u"$RAB12CD.TXT"), -1);
        const RecordId id = v->find(bin + u"budget 2024.txt");
        ASSERT_GE(id, 0) << v->listing();
        EXPECT_EQ(v->parser->sizeBytes(id), manifestEntry(f, "$RECYCLE.BIN/$RAB12CD.TXT")->size);
        EXPECT_GE(v->find(bin + u"$IAB12CD.TXT"), 0);
    }
}

TEST(FatFixtures, FormattedDriveListsFirstClustersAndReadsConsecutiveClusters) {
    const auto fixtures = loadFixtures();
    if (fixtures.empty()) return;
    const auto& f = fixtures.at("fat32_mkfs");
    const ManifestFile* frag = manifestEntry(f, "fragmented.bin");
    ASSERT_NE(frag, nullptr);
    auto count = [](test::ParsedVolume& v, RecordId dir) {
        int n = 0;
        v.parser->forEachChild(dir, [&](RecordId) { return ++n, true; });
        return n;
    };
    auto live = parseFixture(f);
    EXPECT_EQ(count(*live, live->find(u"Photos/DCIM       ")), 70);
    const RecordId id = live->find(u"fragmented.bin");
    ASSERT_GE(id, 0);

    FormattedFlag flag(true);
    // The file's chain is not followed: its data is the consecutive clusters.
    SaveOutcome s = live->parser->saveFile(id, test::scratchDir("fat_fixture_formatted"));
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(std::filesystem::file_size(s.written), frag->size);
    EXPECT_NE(test::md5File(s.written), frag->md5) << "the fixture's large file is not fragmented";

    // 512-byte clusters hold 16 entries: only the first cluster of each
    // folder is listed, the root's included.
    auto v = parseFixture(f);
    const RecordId dcim = v->find(u"Photos/DCIM       ");
    if (dcim >= 0) {
        EXPECT_LT(count(*v, dcim), 16);
    }
    int rootEntries = 0;
    v->parser->forEachChild(0, [&](RecordId) { return ++rootEntries, true; });
    EXPECT_LE(rootEntries, 16);
    EXPECT_EQ(v->find(u"fragmented.bin"), -1);
}

TEST(FatFixtures, ExFatStoresFilesWithAndWithoutChains) {
    const auto fixtures = loadFixtures();
    if (fixtures.empty()) return;
    auto v = parseFixture(fixtures.at("exfat"));
    auto* p = dynamic_cast<Fat64Class*>(v->parser.get());
    ASSERT_NE(p, nullptr);
    const auto& frag = p->entries()[std::size_t(v->find(u"fragmented.bin"))];
    EXPECT_FALSE(frag.noFatChain()) << "the fixture's large file is not fragmented";
    EXPECT_TRUE(p->entries()[std::size_t(v->find(u"Documents/Report.doc"))].noFatChain());
    const auto& gone = p->entries()[std::size_t(v->find(u"gone dir"))];
    EXPECT_TRUE(gone.deleted());
    EXPECT_TRUE(gone.isDirectory());
}
