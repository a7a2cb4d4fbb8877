// Small FAT16 volumes built in memory: the walk's rules and hostile input.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "FatTestSupport.h"
#include "TestPaths.h"
#include "fs/fat/FatNames.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"

using namespace salvage;

namespace {

// 512-byte sectors, one sector per cluster, one reserved sector, one FAT of
// one sector, 16 root entries (one sector): cluster 2 is at sector 3.
struct Fat16Builder {
    std::vector<std::uint8_t> img = std::vector<std::uint8_t>(128 * 512, 0);
    Fat16Builder() {
        std::memcpy(&img[3], "MSDOS5.0", 8);
        storeLe16(img, 11, 512);
        img[13] = 1;
        storeLe16(img, 14, 1);
        img[16] = 1;
        storeLe16(img, 17, 16);
        storeLe16(img, 19, 128);
        storeLe16(img, 22, 1);
        setFat(0, 0xFFF8);
        setFat(1, 0xFFFF);
    }
    void setFat(std::uint32_t c, std::uint16_t v) { storeLe16(img, 512 + 2 * c, v); }
    std::size_t clusterAt(std::uint32_t c) const { return 3 * 512 + (c - 2) * 512; }
    // Writes a short entry at byte offset `at`.
    void entry(std::size_t at, const char name11[12], std::uint8_t attr, std::uint16_t cluster, std::uint32_t size) {
        std::memcpy(&img[at], name11, 11);
        img[at + 11] = attr;
        storeLe16(img, at + 22, 0x6000);  // 12:00:00
        storeLe16(img, at + 24, (44 << 9) | (3 << 5) | 15);  // 2024-03-15
        storeLe16(img, at + 26, cluster);
        storeLe32(img, at + 28, size);
    }
    void rootEntry(int i, const char name11[12], std::uint8_t attr, std::uint16_t cluster, std::uint32_t size) {
        entry(2 * 512 + 32 * std::size_t(i), name11, attr, cluster, size);
    }
    // A folder cluster with "." and ".." first.
    void dirCluster(std::uint32_t c, std::uint16_t parent) {
        entry(clusterAt(c), ".          ", 0x10, std::uint16_t(c), 0);
        entry(clusterAt(c) + 32, "..         ", 0x10, parent, 0);
    }
    std::unique_ptr<test::ParsedVolume> parse() {
        return test::parseVolume(createFat16Parser(), std::make_unique<MemorySource>(img));
    }
};

}  // namespace

TEST(Fat16Names, ShortAndLongNameForms) {
    std::uint8_t e[32] = {};
    std::memcpy(e, "FOO        ", 11);
    EXPECT_EQ(fat::shortNameFile16(ByteView(e, 32)), u"FOO     .   ");
    EXPECT_EQ(fat::shortNameFile32(ByteView(e, 32)), u"FOO     ");
    std::memcpy(e, "README  TXT", 11);
    EXPECT_EQ(fat::shortNameFile16(ByteView(e, 32)), u"README.TXT");
    std::memcpy(e, "\xE5" "EST    TXT", 11);
    EXPECT_EQ(fat::shortNameFile16(ByteView(e, 32)), u"\uFFE5EST.TXT");
    std::memcpy(e, "DOCS       ", 11);
    EXPECT_EQ(fat::shortNameRaw(ByteView(e, 32)), u"DOCS       ");

    // Two long-name entries, the first (last part) marked deleted; the
    // padding after the name's NUL is no part of it.
    std::uint8_t dir[96] = {};
    auto put = [&](std::size_t at, const std::u16string& chars) {
        const std::size_t offs[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (std::size_t i = 0; i < 13; ++i) {
            std::uint16_t c = i < chars.size() ? chars[i] : (i == chars.size() ? 0 : 0xFFFF);
            storeLe16(std::span<std::uint8_t>(dir, 96), at + offs[i], c);
        }
        dir[at + 11] = 0x0F;
    };
    put(0, u"name.txt");
    dir[0] = 0xE5;
    put(32, u"A very long ");
    auto ln = fat::collectLongName(ByteView(dir, 96), 0);
    EXPECT_EQ(ln.consumed, 2u);
    EXPECT_TRUE(ln.deleted);
    EXPECT_EQ(ln.text, u"A very long name.txt");
}

TEST(Fat16Synthetic, RefusesOtherOemNamesAndFat32BootSectors) {
    Fat16Builder b;
    std::memcpy(&b.img[3], "mkfs.fat", 8);
    auto v = b.parse();
    EXPECT_EQ(v->result, ParseResult::NotThisFormat);
    ASSERT_EQ(v->reporter.messages().size(), 1u);
    EXPECT_EQ(v->reporter.messages()[0].text, u"Selected Drive is not in Fat16 Format");
    EXPECT_EQ(v->reporter.messages()[0].caption, kAppTitle);

    Fat16Builder f32;
    storeLe16(f32.img, 22, 0);
    EXPECT_EQ(f32.parse()->result, ParseResult::NotThisFormat);
}

TEST(Fat16Synthetic, LabelFirstSharedClusterMissingDotAndChains) {
    Fat16Builder b;
    b.rootEntry(0, "MYDISK     ", 0x08, 0, 0);
    b.rootEntry(1, "OLDNAME    ", 0x10, 2, 0);
    b.rootEntry(2, "NEWNAME    ", 0x10, 2, 0);  // same first cluster: one record
    b.rootEntry(3, "NODOT      ", 0x10, 5, 0);  // first cluster lacks "."
    b.rootEntry(4, "DATA    BIN", 0x20, 6, 1100);
    b.dirCluster(2, 0);
    b.setFat(2, 3);
    b.setFat(3, 2);  // the folder's chain loops back
    b.entry(b.clusterAt(2) + 64, "INNER   TXT", 0x20, 0, 0);
    b.entry(b.clusterAt(3), "SECOND  TXT", 0x20, 0, 0);
    b.entry(b.clusterAt(5), "HIDDEN  TXT", 0x20, 0, 0);
    b.setFat(5, 0xFFFF);
    // DATA.BIN: clusters 6 -> 9 -> 10
    b.setFat(6, 9);
    b.setFat(9, 10);
    b.setFat(10, 0xFFFF);
    std::memset(&b.img[b.clusterAt(6)], 'a', 512);
    std::memset(&b.img[b.clusterAt(7)], 'x', 1024);
    std::memset(&b.img[b.clusterAt(9)], 'b', 512);
    std::memset(&b.img[b.clusterAt(10)], 'c', 512);

    auto v = b.parse();
    ASSERT_EQ(v->result, ParseResult::Done);
    auto& p = *v->parser;
    EXPECT_EQ(p.name(0), u"DUMMY ENTRY");
    EXPECT_EQ(v->find(u"OLDNAME    "), -1);
    const RecordId folder = v->find(u"NEWNAME    ");
    ASSERT_GE(folder, 0) << v->listing();
    EXPECT_GE(v->find(u"NEWNAME    /INNER.TXT"), 0) << v->listing();
    EXPECT_GE(v->find(u"NEWNAME    /SECOND.TXT"), 0) << v->listing();
    const RecordId nodot = v->find(u"NODOT      ");
    ASSERT_GE(nodot, 0);
    EXPECT_FALSE(p.hasChildren(nodot));

    // The label's DUMMY ENTRY gets no node; the folders and the archive file do.
    std::vector<std::u16string> top;
    for (TreeItem it : v->tree.children(v->tree.root())) top.push_back(v->tree.text(it));
    EXPECT_EQ(top, (std::vector<std::u16string>{u"NEWNAME    ", u"NODOT      ", u"DATA.BIN"}));

    const RecordId data = v->find(u"DATA.BIN");
    const auto out = test::scratchDir("fat16_synthetic_chain");
    SaveOutcome s = p.saveFile(data, out);
    ASSERT_TRUE(s.ok);
    std::string expect = std::string(512, 'a') + std::string(512, 'b') + std::string(76, 'c');
    std::ifstream f(s.written, std::ios::binary);
    std::string got((std::istreambuf_iterator<char>(f)), {});
    EXPECT_EQ(got, expect);
    // 2024-03-15 12:00:00 as the file's write time
    EXPECT_EQ(std::filesystem::last_write_time(s.written).time_since_epoch().count() != 0, true);
    const auto t = p.times(data).modification;
    ASSERT_TRUE(t);
    EXPECT_EQ(*t / 1'000'000'000LL, 1710504000LL);
}

TEST(Fat16Synthetic, NamesNeverLeaveTheOutputFolder) {
    Fat16Builder b;
    b.rootEntry(0, "VOL        ", 0x08, 0, 0);
    b.rootEntry(1, "..      TXT", 0x20, 2, 3);
    std::memcpy(&b.img[b.clusterAt(2)], "abc", 3);
    b.setFat(2, 0xFFFF);
    auto v = b.parse();
    const auto out = test::scratchDir("fat16_safe_names");
    for (RecordId id = 0; v->parser->isValidRecord(id); ++id) {
        SaveOutcome s = v->parser->saveFile(id, out);
        if (s.ok) EXPECT_EQ(s.written.parent_path(), out);
    }
}

// Random geometry and random FAT and directory bytes: every parse ends, and
// saving every record stays bounded.
TEST(Fat16Synthetic, HostileVolumesNeverHangOrCrash) {
    std::mt19937 rng(6);
    const auto out = test::scratchDir("fat16_hostile");
    for (int round = 0; round < 300; ++round) {
        Fat16Builder b;
        std::uniform_int_distribution<int> byte(0, 255);
        for (std::size_t i = 512; i < b.img.size(); ++i) b.img[i] = std::uint8_t(byte(rng));
        if (round % 3 == 0) {
            const std::uint16_t odd[] = {0, 1, 0x8000, 0xFFFF, 512, 4096};
            storeLe16(b.img, 11, odd[round / 3 % 6]);
            b.img[13] = std::uint8_t(byte(rng));
            storeLe16(b.img, 17, odd[(round / 7) % 6]);
            storeLe16(b.img, 22, odd[(round / 11) % 6]);
        }
        auto v = b.parse();
        if (v->result != ParseResult::Done) continue;
        for (RecordId id = 0; v->parser->isValidRecord(id) && id < 50; ++id)
            if (!v->parser->isDirectory(id)) v->parser->saveFile(id, out);
    }
}
