// Small FAT32 volumes built in memory: the root's two sources, chains that
// loop or leave the volume, long folders, boot sectors of other formatters,
// and hostile bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "FatTestSupport.h"
#include "TestPaths.h"
#include "browse/FileDamage.h"
#include "fs/fat/Fat32Class.h"
#include "fs/fat/RecycleBin.h"
#include "platform/Text.h"

using namespace salvage;

namespace {

// 512-byte sectors and clusters, two reserved sectors, one FAT of eight
// sectors (1,024 entries), 1,024 sectors in all: cluster 2 is at sector 10.
struct Fat32Builder {
    std::vector<std::uint8_t> img = std::vector<std::uint8_t>(1024 * 512, 0);
    Fat32Builder() {
        std::memcpy(&img[3], "MSDOS5.0", 8);
        storeLe16(img, 11, 512);
        img[13] = 1;
        storeLe16(img, 14, 2);
        img[16] = 1;
        storeLe32(img, 32, 1024);
        storeLe32(img, 36, 8);
        storeLe32(img, 44, 2);
        std::memcpy(&img[82], "FAT32   ", 8);
        setFat(0, 0x0FFFFFF8);
        setFat(1, 0xFFFFFFFF);
        setFat(2, 0x0FFFFFFF);
    }
    void setFat(std::uint32_t c, std::uint32_t v) { storeLe32(img, 1024 + 4 * c, v); }
    static std::size_t clusterAt(std::uint32_t c) { return (10 + c - 2) * 512; }
    void entry(std::size_t at, const char name11[12], std::uint8_t attr, std::uint32_t cluster, std::uint32_t size) {
        std::memcpy(&img[at], name11, 11);
        img[at + 11] = attr;
        storeLe16(img, at + 20, std::uint16_t(cluster >> 16));
        storeLe16(img, at + 22, 0x6000);                     // 12:00:00
        storeLe16(img, at + 24, (44 << 9) | (3 << 5) | 15);  // 2024-03-15
        storeLe16(img, at + 26, std::uint16_t(cluster));
        storeLe32(img, at + 28, size);
    }
    void dirCluster(std::uint32_t c, std::uint32_t parent) {
        entry(clusterAt(c), ".          ", 0x10, c, 0);
        entry(clusterAt(c) + 32, "..         ", 0x10, parent, 0);
    }
    std::unique_ptr<test::ParsedVolume> parse() {
        return test::parseVolume(createFat32Parser(), std::make_unique<MemorySource>(img));
    }
};

std::string readAll(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
}

int childCount(test::ParsedVolume& v, RecordId id) {
    int n = 0;
    v.parser->forEachChild(id, [&](RecordId) { return ++n, true; });
    return n;
}

}  // namespace

TEST(Fat32Synthetic, BootSectorsAcceptedAndRefused) {
    {
        Fat32Builder b;
        std::memcpy(&b.img[3], "BSD  4.4", 8);
        EXPECT_EQ(b.parse()->result, ParseResult::Done);
    }
    {
        // Another formatter's OEM name with a sound parameter block naming FAT32.
        Fat32Builder b;
        std::memcpy(&b.img[3], "mkfs.fat", 8);
        EXPECT_EQ(b.parse()->result, ParseResult::Done);
        // Without the type label it is refused.
        std::memcpy(&b.img[82], "        ", 8);
        auto v = b.parse();
        EXPECT_EQ(v->result, ParseResult::NotThisFormat);
        ASSERT_EQ(v->reporter.messages().size(), 1u);
        EXPECT_EQ(v->reporter.messages()[0].text, u"Selected Drive is not in Fat32 Format");
        EXPECT_EQ(v->reporter.messages()[0].caption, u"");
    }
    {
        Fat32Builder b;  // a FAT16 boot sector: its 16-bit sectors per FAT is set
        storeLe16(b.img, 22, 8);
        EXPECT_EQ(b.parse()->result, ParseResult::NotThisFormat);
    }
    for (std::uint16_t bps : {0, 256, 0x8000, 0xFFFF}) {
        Fat32Builder b;
        storeLe16(b.img, 11, bps);
        EXPECT_EQ(b.parse()->result, ParseResult::NotThisFormat) << bps;
    }
}

TEST(Fat32Synthetic, RootFromTheHeadOfTheFat) {
    // FAT 0, 1, 2 = 0x0FFFFFF8, 0xFFFFFFFF, 0x0FFFFFFF: the root is cluster 2 alone.
    Fat32Builder one;
    one.entry(Fat32Builder::clusterAt(2), "A       TXT", 0x20, 0, 0);
    one.entry(Fat32Builder::clusterAt(3), "B       TXT", 0x20, 0, 0);
    auto v = one.parse();
    EXPECT_EQ(dynamic_cast<Fat32Class&>(*v->parser).fatUsedEntries(), 2u);
    EXPECT_GE(v->find(u"A.TXT"), 0);
    EXPECT_EQ(v->find(u"B.TXT"), -1);

    // FAT 2, 3, 4 = 3, 4, 0x0FFFFFFF: clusters 2, 3 and 4.
    Fat32Builder three;
    three.setFat(2, 3);
    three.setFat(3, 4);
    three.setFat(4, 0x0FFFFFFF);
    for (std::uint32_t c = 2; c <= 4; ++c) {
        const char name[12] = {char('A' + c), ' ', ' ', ' ', ' ', ' ', ' ', ' ', 'T', 'X', 'T', 0};
        three.entry(Fat32Builder::clusterAt(c), name, 0x20, 0, 0);
    }
    auto v3 = three.parse();
    EXPECT_EQ(dynamic_cast<Fat32Class&>(*v3->parser).fatUsedEntries(), 4u);
    for (const char16_t* n : {u"C.TXT", u"D.TXT", u"E.TXT"}) EXPECT_GE(v3->find(n), 0) << v3->listing();
}

TEST(Fat32Synthetic, RootFromTheBootSectorWhenTheHeadNamesNone) {
    // FAT[1] is the end mark itself: the head names no root run, and the
    // boot sector's root cluster (here 5, then 6) is followed.
    Fat32Builder b;
    b.setFat(1, 0x0FFFFFFF);
    b.setFat(2, 0);
    storeLe32(b.img, 44, 5);
    b.setFat(5, 6);
    b.setFat(6, 0x0FFFFFF8);
    b.entry(Fat32Builder::clusterAt(5), "FIRST   TXT", 0x20, 0, 0);
    b.entry(Fat32Builder::clusterAt(6), "SECOND  TXT", 0x20, 0, 0);
    auto v = b.parse();
    ASSERT_EQ(v->result, ParseResult::Done);
    EXPECT_EQ(dynamic_cast<Fat32Class&>(*v->parser).fatUsedEntries(), 1u);
    EXPECT_GE(v->find(u"FIRST.TXT"), 0) << v->listing();
    EXPECT_GE(v->find(u"SECOND.TXT"), 0) << v->listing();
}

TEST(Fat32Synthetic, FolderChainsLoopingAndLong) {
    Fat32Builder b;
    b.entry(Fat32Builder::clusterAt(2), "LOOP       ", 0x10, 10, 0);
    b.entry(Fat32Builder::clusterAt(2) + 32, "LONG       ", 0x10, 20, 0);
    b.entry(Fat32Builder::clusterAt(2) + 64, "FOO        ", 0x20, 60, 5);
    // LOOP: 10 -> 11 -> 10
    b.dirCluster(10, 0);
    b.entry(Fat32Builder::clusterAt(10) + 64, "IN10    TXT", 0x20, 0, 0);
    b.entry(Fat32Builder::clusterAt(11), "IN11    TXT", 0x20, 0, 0);
    b.setFat(10, 11);
    b.setFat(11, 10);
    // LONG: 25 clusters 20 .. 44, one file in each
    b.dirCluster(20, 0);
    for (std::uint32_t c = 20; c < 45; ++c) {
        b.setFat(c, c == 44 ? 0x0FFFFFFF : c + 1);
        char name[12];
        std::snprintf(name, sizeof name, "F%-7uTXT", c);
        b.entry(Fat32Builder::clusterAt(c) + (c == 20 ? 64 : 0), name, 0x20, 0, 0);
    }
    std::memcpy(&b.img[Fat32Builder::clusterAt(60)], "hello", 5);
    b.setFat(60, 0x0FFFFFFF);
    auto v = b.parse();
    ASSERT_EQ(v->result, ParseResult::Done);
    EXPECT_EQ(childCount(*v, v->find(u"LOOP       ")), 2) << v->listing();
    EXPECT_EQ(childCount(*v, v->find(u"LONG       ")), 25) << v->listing();
    EXPECT_GE(v->find(u"LONG       /F44.TXT"), 0);

    // FOO without extension: "FOO" and five blanks, saved as FOO.
    const RecordId foo = v->find(u"FOO     ");
    ASSERT_GE(foo, 0) << v->listing();
    const auto out = test::scratchDir("fat32_foo");
    SaveOutcome s = v->parser->saveFile(foo, out);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.written, out / "FOO");
    EXPECT_EQ(readAll(s.written), "hello");
}

TEST(Fat32Synthetic, FileChainsThatLoopOrLeaveTheVolumeEndEarly) {
    Fat32Builder b;
    b.entry(Fat32Builder::clusterAt(2), "LOOP    BIN", 0x20, 50, 10 * 512);
    b.entry(Fat32Builder::clusterAt(2) + 32, "AWAY    BIN", 0x20, 70, 10 * 512);
    b.setFat(50, 51);
    b.setFat(51, 50);
    b.setFat(70, 900000);  // past the volume
    std::memset(&b.img[Fat32Builder::clusterAt(50)], 'a', 512);
    std::memset(&b.img[Fat32Builder::clusterAt(51)], 'b', 512);
    std::memset(&b.img[Fat32Builder::clusterAt(70)], 'c', 512);
    auto v = b.parse();
    const auto out = test::scratchDir("fat32_bad_chains");
    // What the chain gives, and the rest of the size reported as damage.
    SaveOutcome loop = v->parser->saveFile(v->find(u"LOOP.BIN"), out);
    ASSERT_TRUE(loop.ok);
    EXPECT_EQ(loop.status, SaveStatus::Damaged);
    EXPECT_EQ(loop.badBytes, 8u * 512);
    EXPECT_EQ(readAll(loop.written), std::string(512, 'a') + std::string(512, 'b'));
    SaveOutcome away = v->parser->saveFile(v->find(u"AWAY.BIN"), out);
    ASSERT_TRUE(away.ok);
    EXPECT_EQ(away.status, SaveStatus::Damaged);
    EXPECT_EQ(away.badBytes, 9u * 512);
    EXPECT_EQ(readAll(away.written), std::string(512, 'c'));
    // What a content read reports: where the chain ended and why.
    struct Ranges : ContentSink {
        bool put(const ContentPiece& p) override {
            if (p.cause) causes.emplace_back(p.fileOffset, p.cause);
            return true;
        }
        std::vector<std::pair<std::uint64_t, std::string>> causes;
    } ranges;
    v->parser->readContent(v->find(u"LOOP.BIN"), ranges);
    ASSERT_EQ(ranges.causes.size(), 1u);
    EXPECT_EQ(ranges.causes[0], std::make_pair(std::uint64_t(1024), std::string(cause::kChainLoop)));
    // The listing's map check finds the same damage as the saves (a next
    // cluster past the volume ends the chain), from the chains alone: not
    // one read of the image.
    const auto* image = static_cast<const MemorySource*>(v->source.get());
    const std::uint64_t reads = image->readCalls();
    const FileDamage loopMap = damageOf(*v->parser, v->find(u"LOOP.BIN"), DamageDepth::Map);
    const FileDamage awayMap = damageOf(*v->parser, v->find(u"AWAY.BIN"), DamageDepth::Map);
    EXPECT_EQ(image->readCalls(), reads);
    ASSERT_TRUE(loopMap.damaged());
    ASSERT_EQ(loopMap.ranges.size(), 1u);
    EXPECT_EQ(loopMap.ranges[0], (DamagedRange{1024, 8 * 512, std::nullopt, cause::kChainLoop}));
    ASSERT_TRUE(awayMap.damaged());
    ASSERT_EQ(awayMap.ranges.size(), 1u);
    EXPECT_EQ(awayMap.ranges[0].fileOffset, 512u);
    EXPECT_EQ(awayMap.ranges[0].length, 9u * 512);
    EXPECT_EQ(awayMap.reason, cause::kChainEnded);
}

TEST(Fat32Synthetic, DataStopsAtTheImageEndWhateverTheBootSectorSays) {
    // The boot sector claims a terabyte; the image holds 1,024 sectors. A
    // deleted 4 GB file (read from consecutive clusters) must not become
    // gigabytes of zeros read from past the image.
    Fat32Builder b;
    storeLe32(b.img, 32, 0x80000000u);
    b.entry(Fat32Builder::clusterAt(2), "\xE5IG     BIN", 0x20, 1000, 0xFFFFFFF0u);
    std::memset(&b.img[Fat32Builder::clusterAt(1000)], 'z', 512);
    auto v = b.parse();
    const auto out = test::scratchDir("fat32_past_image");
    RecordId big = -1;
    v->parser->forEachChild(0, [&](RecordId c) {
        if (v->parser->name(c).find(u"IG.BIN") != std::u16string::npos) big = c;
        return true;
    });
    ASSERT_GE(big, 0);
    SaveOutcome s = v->parser->saveFile(big, out);
    ASSERT_TRUE(s.ok);
    // Clusters 1000..1015 lie in the image (cluster 2 is at sector 10; the
    // FAT alone would allow clusters up to 1023); the rest is damage.
    EXPECT_EQ(s.status, SaveStatus::Damaged);
    EXPECT_EQ(std::filesystem::file_size(s.written), 16u * 512);
    EXPECT_EQ(s.badBytes, 0xFFFFFFF0u - 16u * 512);
    EXPECT_EQ(readAll(s.written).substr(0, 512), std::string(512, 'z'));
}

TEST(Fat32Synthetic, RecycleBinNamesFromBothInfoForms) {
    std::vector<std::uint8_t> v1(544, 0), v2(28 + 2 * 12, 0);
    storeLe64(v1, 0, 1);
    const std::u16string p1 = u"C:\\old\\one.txt";
    for (std::size_t i = 0; i < p1.size(); ++i) storeLe16(v1, 24 + 2 * i, p1[i]);
    storeLe64(v2, 0, 2);
    storeLe32(v2, 24, 12);
    const std::u16string p2 = u"D:\\two.doc";
    for (std::size_t i = 0; i < p2.size(); ++i) storeLe16(v2, 28 + 2 * i, p2[i]);
    EXPECT_EQ(fat::recycledFormerName(ByteView(v1)), u"one.txt");
    EXPECT_EQ(fat::recycledFormerName(ByteView(v2)), u"two.doc");
    // A length past the bytes is cut to them; a truncated header gives nothing.
    storeLe32(v2, 24, 0xFFFFFFFF);
    EXPECT_EQ(fat::recycledFormerName(ByteView(v2)), u"two.doc");
    EXPECT_EQ(fat::recycledFormerName(ByteView(v2.data(), 20)), u"");
}

// Random FAT and directory bytes with odd geometry: every parse ends and
// every save stays bounded.
TEST(Fat32Synthetic, HostileVolumesNeverHangOrCrash) {
    std::mt19937 rng(32);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto out = test::scratchDir("fat32_hostile");
    for (int round = 0; round < 120; ++round) {
        Fat32Builder b;
        for (std::size_t i = 1024; i < b.img.size(); ++i) b.img[i] = std::uint8_t(byte(rng));
        if (round % 2 == 0) {
            // Chains that mostly stay inside the volume, so they loop.
            for (std::uint32_t c = 0; c < 1024; ++c) b.setFat(c, std::uint32_t(byte(rng) * 4 + byte(rng) % 4));
        }
        if (round % 3 == 0) {
            const std::uint32_t odd[] = {0, 1, 0x8000, 0xFFFFFFFF, 512, 7};
            storeLe32(b.img, 36, odd[round / 3 % 6]);
            storeLe32(b.img, 44, odd[round / 5 % 6]);
            storeLe32(b.img, 32, odd[round / 7 % 6]);
            b.img[13] = std::uint8_t(byte(rng));
        }
        auto v = b.parse();
        if (v->result != ParseResult::Done) continue;
        v->parser->recycleBinPass();
        for (RecordId id = 0; v->parser->isValidRecord(id) && id < 60; ++id)
            if (!v->parser->isDirectory(id)) v->parser->saveFile(id, out);
    }
}
