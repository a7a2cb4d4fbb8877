// Advanced mode of the FAT family: FAT candidates, the sectors-per-cluster
// lists, and tables rebuilt from scanned directory entries on volumes whose
// boot sector is gone.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "FatTestSupport.h"
#include "TestPaths.h"
#include "fs/fat/Fat64Class.h"
#include "fs/fat/FatScan.h"
#include "fs/fat/FatVolume.h"
#include "platform/Text.h"

using namespace salvage;

namespace {

std::vector<std::uint8_t> readImage(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Parsed {
    std::unique_ptr<readWriteInterface> source;
    BrowseTree tree;
    RecordingReporter reporter;
    std::unique_ptr<VolumeParser> parser;
};

std::unique_ptr<Parsed> attach(std::unique_ptr<VolumeParser> parser, std::vector<std::uint8_t> img) {
    auto p = std::make_unique<Parsed>();
    p->source = std::make_unique<MemorySource>(std::move(img));
    p->parser = std::move(parser);
    VolumeRecord rec;
    rec.sizeText = u16(std::to_string(p->source->totalSectors() / 2048) + "   MB");
    p->parser->attach(p->source.get(), &p->tree, &p->reporter, rec);
    return p;
}

// Every record of the table whose name is `name`.
std::vector<RecordId> named(VolumeParser& p, const std::u16string& name) {
    std::vector<RecordId> out;
    for (RecordId id = 0; p.isValidRecord(id); ++id)
        if (p.name(id) == name) out.push_back(id);
    return out;
}

}  // namespace

TEST(FatAdvanced, Fat16CandidatesAndSectorsPerClusterList) {
    std::filesystem::path img;
    if (!test::requireFixture("fat16.img", img)) return;
    auto p = attach(createFat16Parser(), readImage(img));
    // 0 searches for three; the 30 MiB volume holds two FAT copies.
    EXPECT_EQ(p->parser->findAdvancedCandidates(0), 2);
    const AdvancedLists l = p->parser->advancedLists();
    EXPECT_EQ(l.candidates, (std::vector<std::u16string>{u"FAT_ENTRY:0", u"FAT_ENTRY:1"}));
    // Every cluster size from 512 bytes to 64 KiB, the one that fits first.
    std::vector<int> offered;
    for (const auto& t : l.sectorsPerCluster) offered.push_back(std::stoi(toUtf8(t)));
    EXPECT_EQ(offered.front(), 4);
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(offered, (std::vector<int>{1, 2, 4, 8, 16, 32, 64, 128}));
    ASSERT_EQ(l.sectorsPerClusterFit.size(), l.sectorsPerCluster.size());
    EXPECT_GT(l.sectorsPerClusterFit[0], l.sectorsPerClusterFit[1]);

    // A boot sector that survives with a wrong value does not outrank the
    // sizes the folders and chains fit.
    auto raw = readImage(img);
    raw[13] = 1;
    auto odd = attach(createFat16Parser(), raw);
    odd->parser->findAdvancedCandidates(-5);
    EXPECT_EQ(odd->parser->advancedLists().sectorsPerCluster.front(), u"4");
}

TEST(FatAdvanced, Fat16WithoutBootSectorListsAndSavesItsFiles) {
    std::filesystem::path img, manifest;
    if (!test::requireFixture("fat16.img", img) || !test::requireFixture("fat_manifest.tsv", manifest)) return;
    auto raw = readImage(img);
    std::fill(raw.begin(), raw.begin() + 512, 0);  // the boot sector is gone
    // The standard parse refuses the volume.
    auto standard = attach(createFat16Parser(), raw);
    EXPECT_EQ(standard->parser->parse(RecoveryMode::Standard), ParseResult::NotThisFormat);

    auto p = attach(createFat16Parser(), raw);
    ASSERT_EQ(p->parser->findAdvancedCandidates(3), 2);
    p->parser->advancedChoice = {0, 0, -1};  // FAT_ENTRY:0, "4"
    ASSERT_EQ(p->parser->parse(RecoveryMode::Advanced), ParseResult::Done);
    auto& v = *p->parser;
    EXPECT_EQ(v.name(0), u"DUMMY ENTRY");
    EXPECT_EQ(v.name(1), u"ORPHAN ENTRY");
    const auto out = test::scratchDir("fat_advanced_fat16");
    std::ifstream m(manifest);
    int checked = 0;
    for (std::string line; std::getline(m, line);) {
        std::vector<std::string> col;
        std::istringstream s(line);
        for (std::string c; std::getline(s, c, '\t');) col.push_back(c);
        if (col.size() != 6 || col[0] != "fat16") continue;
        const std::string base = col[1].substr(col[1].rfind('/') + 1);
        const auto ids = named(v, fromUtf8(base));
        ASSERT_EQ(ids.size(), 1u) << base;  // listed once, even when reached twice
        SaveOutcome so = v.saveFile(ids[0], out);
        ASSERT_TRUE(so.ok);
        EXPECT_EQ(test::md5File(so.written), col[3]) << base;
        ++checked;
    }
    EXPECT_EQ(checked, 4);
    // The nested letter sits under its folders, found through their clusters.
    const auto letters = named(v, u"Letters");
    ASSERT_EQ(letters.size(), 1u);
    bool underOld = false;
    v.forEachChild(named(v, u"OLD        ").at(0), [&](RecordId c) {
        underOld |= v.name(c) == u"Older letter.txt";
        return true;
    });
    EXPECT_TRUE(underOld);
}

TEST(FatAdvanced, ExFatWithoutBootSectorListsAndSavesItsFiles) {
    std::filesystem::path disk, manifest;
    if (!test::requireFixture("exfat_gpt_disk.img", disk) || !test::requireFixture("fat_manifest.tsv", manifest))
        return;
    const auto whole = readImage(disk);
    ASSERT_GT(whole.size(), 2048u * 512 + 24u * 1048576);
    std::vector<std::uint8_t> vol(whole.begin() + 2048 * 512, whole.begin() + 2048 * 512 + 24 * 1048576);
    const std::int64_t heap = std::int64_t(le32(ByteView(vol), 88)) * 512;
    std::fill(vol.begin(), vol.begin() + 512, 0);  // the boot sector is gone
    auto p = attach(createFat64Parser(), vol);
    ASSERT_GE(p->parser->findAdvancedCandidates(10), 1);
    const AdvancedLists l = p->parser->advancedLists();
    EXPECT_EQ(l.candidates.front(), u"FAT64_ENTRY:0");
    EXPECT_EQ(l.sectorsPerCluster, (std::vector<std::u16string>{u"8", u"9", u"10", u"11", u"3", u"6"}));
    // The heap candidates are in volume order; pick the one at the true
    // heap, and 4 KiB clusters (shift 3).
    const auto& heaps = dynamic_cast<Fat64Class&>(*p->parser).heapCandidates();
    const auto at = std::find(heaps.begin(), heaps.end(), heap);
    ASSERT_NE(at, heaps.end());
    p->parser->advancedChoice = {0, 4, int(at - heaps.begin())};
    ASSERT_EQ(p->parser->parse(RecoveryMode::Advanced), ParseResult::Done);
    auto& v = *p->parser;
    EXPECT_EQ(v.name(1), u"ORPHAN ENTRY");
    const auto out = test::scratchDir("fat_advanced_exfat");
    std::ifstream m(manifest);
    int total = 0;
    std::vector<std::string> missing;
    for (std::string line; std::getline(m, line);) {
        std::vector<std::string> col;
        std::istringstream s(line);
        for (std::string c; std::getline(s, c, '\t');) col.push_back(c);
        if (col.size() != 6 || col[0] != "exfat" || col[5] != "live") continue;
        const std::string base = col[1].substr(col[1].rfind('/') + 1);
        const auto ids = named(v, fromUtf8(base));
        ++total;
        if (ids.empty()) {
            missing.push_back(base);
            continue;
        }
        EXPECT_EQ(ids.size(), 1u) << base;
        SaveOutcome so = v.saveFile(ids[0], out);
        ASSERT_TRUE(so.ok);
        EXPECT_EQ(test::md5File(so.written), col[3]) << base;
    }
    // Every live file, the sets that straddle the border between the root's
    // two clusters (which lie apart on this volume) included.
    EXPECT_GT(total, 100);
    std::string all;
    for (const auto& n : missing) all += n + "\n";
    EXPECT_TRUE(missing.empty()) << all;
}

TEST(FatAdvanced, EntrySlotTests) {
    std::uint8_t e[32] = {};
    auto set = [&](const char* name, std::uint8_t attr, std::uint32_t cluster, std::uint32_t size) {
        std::memset(e, 0, 32);
        std::memcpy(e, name, 11);
        e[11] = attr;
        e[13] = 10;
        std::span<std::uint8_t> s(e, 32);
        for (std::size_t at : {16u, 18u, 24u}) storeLe16(s, at, (44 << 9) | (3 << 5) | 15);
        storeLe16(s, 14, 0x6000);
        storeLe16(s, 22, 0x6000);
        storeLe16(s, 20, std::uint16_t(cluster >> 16));
        storeLe16(s, 26, std::uint16_t(cluster));
        storeLe32(s, 28, size);
    };
    // A deleted folder whose cluster field was cleared is a hit; a live one is not.
    set("\xE5OCS       ", 0x10, 0, 0);
    EXPECT_TRUE(fat::isFat16EntryHit(ByteView(e, 32), 1000));
    set("DOCS       ", 0x10, 0, 0);
    EXPECT_FALSE(fat::isFat16EntryHit(ByteView(e, 32), 1000));
    set("DOCS       ", 0x10, 5, 0);
    EXPECT_TRUE(fat::isFat16EntryHit(ByteView(e, 32), 1000));
    EXPECT_TRUE(fat::isFat32EntryHit(ByteView(e, 32), 1000));
    e[13] = 0;  // FAT32 wants creation tenths
    EXPECT_FALSE(fat::isFat32EntryHit(ByteView(e, 32), 1000));
    set("FILE    TXT", 0x20, 7, 100);
    EXPECT_TRUE(fat::isFat16EntryHit(ByteView(e, 32), 1000));
    EXPECT_FALSE(fat::isFat16EntryHit(ByteView(e, 32), 7));  // cluster past the volume
    storeLe16(std::span<std::uint8_t>(e, 32), 24, 0);        // no write date
    EXPECT_FALSE(fat::isFat16EntryHit(ByteView(e, 32), 1000));
    set("LABEL      ", 0x08, 0, 0);
    EXPECT_FALSE(fat::isFat16EntryHit(ByteView(e, 32), 1000));
    EXPECT_TRUE(fat::isFat32RootMark(ByteView(e, 32)));
}

// Random bytes and slots that pass the entry tests but contradict each other
// (clusters pointing anywhere, folders inside themselves): every advanced
// parse ends.
TEST(FatAdvanced, HostileVolumesNeverHangOrCrash) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto out = test::scratchDir("fat_advanced_hostile");
    for (int round = 0; round < 30; ++round) {
        std::vector<std::uint8_t> img(2 * 1024 * 1024);
        for (auto& b : img) b = std::uint8_t(byte(rng));
        // FAT starts of each kind, and plausible entries everywhere.
        const std::uint8_t fat16[] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        const std::uint8_t fat32[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF};
        std::memcpy(&img[4096], round % 2 ? fat16 : fat32, 8);
        std::memcpy(&img[8192], round % 2 ? fat16 : fat32, 8);
        for (std::size_t at = 16384; at + 32 <= img.size(); at += 32 * (1 + byte(rng) % 4)) {
            std::span<std::uint8_t> s(&img[at], 32);
            std::memcpy(&img[at], byte(rng) % 3 ? "SOMEDIR    " : "\xE5OMEFILETXT", 11);
            img[at + 11] = byte(rng) % 2 ? 0x10 : 0x20;
            img[at + 12] = 0;
            img[at + 13] = 1;
            for (std::size_t f : {14u, 22u}) storeLe16(s, f, 0x6000);
            for (std::size_t f : {16u, 18u, 24u}) storeLe16(s, f, (44 << 9) | (3 << 5) | 15);
            storeLe16(s, 20, 0);
            storeLe16(s, 26, std::uint16_t(byte(rng) * 4 + 2));
            storeLe32(s, 28, byte(rng) % 2 ? 0 : std::uint32_t(byte(rng)) << 12);
        }
        auto p = attach(round % 2 ? createFat16Parser() : createFat32Parser(), img);
        if (p->parser->findAdvancedCandidates(3) == 0) continue;
        p->parser->advancedChoice = {round % 2, round % 3, -1};
        if (p->parser->parse(RecoveryMode::Advanced) != ParseResult::Done) continue;
        p->parser->recycleBinPass();
        for (RecordId id = 0; p->parser->isValidRecord(id) && id < 40; ++id)
            if (!p->parser->isDirectory(id)) p->parser->saveFile(id, out);
    }
}

TEST(FatAdvanced, HostileExFatVolumesNeverHangOrCrash) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto out = test::scratchDir("exfat_advanced_hostile");
    for (int round = 0; round < 20; ++round) {
        std::vector<std::uint8_t> img(2 * 1024 * 1024);
        for (auto& b : img) b = std::uint8_t(byte(rng));
        const std::uint8_t fat[] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        std::memcpy(&img[4096], fat, 8);
        std::memset(&img[65536], 0xFF, 8);
        // Valid-looking sets with wild clusters and lengths, folders among them.
        for (std::size_t at = 70000 / 32 * 32; at + 128 <= img.size(); at += 32 * (3 + byte(rng) % 8)) {
            std::span<std::uint8_t> s(&img[at], 128);
            std::fill(s.begin(), s.end(), 0);
            s[0] = byte(rng) % 2 ? 0x85 : 0x05;
            s[4] = byte(rng) % 2 ? 0x10 : 0x20;
            s[32] = 0xC0;
            s[33] = byte(rng) % 2 ? 1 : 3;
            s[35] = 10;
            storeLe64(s, 40, std::uint64_t(byte(rng)) << (byte(rng) % 40));
            storeLe32(s, 52, std::uint32_t(byte(rng) * 3 + 2));
            storeLe64(s, 56, std::uint64_t(byte(rng)) << (byte(rng) % 40));
            s[64] = 0xC1;
            for (int i = 0; i < 10; ++i) s[66 + 2 * i] = std::uint8_t('a' + byte(rng) % 26);
        }
        auto p = attach(createFat64Parser(), img);
        if (p->parser->findAdvancedCandidates(3) == 0) continue;
        p->parser->advancedChoice = {0, 4 + round % 2, 0};
        if (p->parser->parse(RecoveryMode::Advanced) != ParseResult::Done) continue;
        p->parser->recycleBinPass();
        for (RecordId id = 0; p->parser->isValidRecord(id) && id < 40; ++id)
            if (!p->parser->isDirectory(id)) p->parser->saveFile(id, out);
    }
}
