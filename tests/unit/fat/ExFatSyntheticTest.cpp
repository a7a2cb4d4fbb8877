// Small exFAT volumes built in memory: entry sets and their deleted forms,
// data with and without a FAT chain, valid data length, times, and hostile bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "FatTestSupport.h"
#include "TestPaths.h"
#include "fs/fat/ExFatTime.h"
#include "fs/fat/Fat64Class.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"

using namespace salvage;

namespace {

// 512-byte sectors and clusters; FAT at sector 8 (8 sectors), cluster heap
// at sector 16, 240 clusters, root at cluster 2: 256 sectors in all.
struct ExFatBuilder {
    std::vector<std::uint8_t> img = std::vector<std::uint8_t>(256 * 512, 0);
    ExFatBuilder() {
        std::memcpy(&img[3], "EXFAT   ", 8);
        storeLe32(img, 80, 8);
        storeLe32(img, 84, 8);
        storeLe32(img, 88, 16);
        storeLe32(img, 92, 240);
        storeLe32(img, 96, 2);
        img[108] = 9;
        img[109] = 0;
        setFat(2, 0xFFFFFFFF);
    }
    void setFat(std::uint32_t c, std::uint32_t v) { storeLe32(img, 8 * 512 + 4 * c, v); }
    static std::size_t clusterAt(std::uint32_t c) { return (16 + c - 2) * 512; }
    // An entry set at byte `at`: file entry, stream extension (unless
    // withStream is false) and name entries. Answers the bytes written.
    std::size_t set(std::size_t at, const std::u16string& name, std::uint16_t attr, std::uint32_t cluster,
                    std::uint64_t length, std::uint8_t flags = 1, bool deleted = false, bool withStream = true,
                    std::uint64_t valid = UINT64_MAX) {
        const std::size_t names = (name.size() + 14) / 15;
        const std::uint8_t live = deleted ? 0x00 : 0x80;
        img[at] = 0x05 | live;
        img[at + 1] = std::uint8_t(names + 1);
        storeLe16(img, at + 4, attr);
        const std::uint32_t ts = (std::uint32_t((44 << 9) | (3 << 5) | 15) << 16) | 0x6000;  // 2024-03-15 12:00:00
        storeLe32(img, at + 8, ts);
        storeLe32(img, at + 12, ts);
        storeLe32(img, at + 16, ts);
        std::size_t off = at + 32;
        if (withStream) {
            img[off] = 0x40 | live;
            img[off + 1] = flags;
            img[off + 3] = std::uint8_t(name.size());
            storeLe64(img, off + 8, valid == UINT64_MAX ? length : valid);
            storeLe32(img, off + 20, cluster);
            storeLe64(img, off + 24, length);
            off += 32;
        }
        for (std::size_t n = 0; n < names; ++n, off += 32) {
            img[off] = 0x41 | live;
            for (std::size_t i = 0; i < 15 && n * 15 + i < name.size(); ++i)
                storeLe16(img, off + 2 + 2 * i, name[n * 15 + i]);
        }
        return off - at;
    }
    std::unique_ptr<test::ParsedVolume> parse() {
        return test::parseVolume(createFat64Parser(), std::make_unique<MemorySource>(img));
    }
};

std::string readAll(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), {});
}

}  // namespace

TEST(ExFatSynthetic, RefusalsAndUnreadableBootSector) {
    ExFatBuilder b;
    std::memcpy(&b.img[3], "NTFS    ", 8);
    auto v = b.parse();
    EXPECT_EQ(v->result, ParseResult::NotThisFormat);
    ASSERT_EQ(v->reporter.messages().size(), 1u);
    EXPECT_EQ(v->reporter.messages()[0].text, u"Selected Drive is not in exFat Format");
    EXPECT_EQ(v->reporter.messages()[0].caption, kAppTitle);

    auto empty = test::parseVolume(createFat64Parser(), std::make_unique<MemorySource>(std::vector<std::uint8_t>{}));
    EXPECT_EQ(empty->result, ParseResult::NotThisFormat);
    ASSERT_EQ(empty->reporter.messages().size(), 2u);
    EXPECT_EQ(empty->reporter.messages()[0].text, u"cant read file");
    EXPECT_EQ(empty->reporter.messages()[1].text, u"Selected Drive is not in exFat Format");

    for (std::uint8_t shift : {0, 8, 13, 40}) {
        ExFatBuilder odd;
        odd.img[108] = shift;
        EXPECT_EQ(odd.parse()->result, ParseResult::NotThisFormat) << int(shift);
    }
}

TEST(ExFatSynthetic, SetsNamesDeletedEntriesAndMissingStreams) {
    ExFatBuilder b;
    std::size_t at = ExFatBuilder::clusterAt(2);
    at += 32;  // a volume label entry (0x83) stays unlisted
    b.img[at - 32] = 0x83;
    at += b.set(at, u"first.bin", 0x20, 10, 700);
    // No stream extension: no data, not the previous set's.
    at += b.set(at, u"nostream.txt", 0x20, 0, 0, 1, false, false);
    // 15 + 15 + 6 characters over three name entries.
    const std::u16string longName = u"abcdefghijklmnoABCDEFGHIJKLMNO123456";
    at += b.set(at, longName, 0x20, 12, 10);
    // The end of the directory, then a deleted set behind it.
    at += 32;
    at += b.set(at, u"gone.txt", 0x20, 13, 5, 3, true);
    std::memset(&b.img[ExFatBuilder::clusterAt(10)], 'x', 1024);
    b.setFat(10, 11);
    b.setFat(11, 0xFFFFFFFF);
    std::memcpy(&b.img[ExFatBuilder::clusterAt(13)], "gone!", 5);
    auto v = b.parse();
    ASSERT_EQ(v->result, ParseResult::Done);
    auto& p = *v->parser;
    EXPECT_EQ(p.name(0), u"DUMMY ENTRY");
    const RecordId ns = v->find(u"nostream.txt");
    ASSERT_GE(ns, 0) << v->listing();
    EXPECT_EQ(p.sizeBytes(ns), 0u);
    const auto out = test::scratchDir("exfat_sets");
    EXPECT_EQ(readAll(p.saveFile(ns, out).written), "");
    EXPECT_GE(v->find(longName), 0) << v->listing();
    const RecordId gone = v->find(u"gone.txt");
    ASSERT_GE(gone, 0);
    EXPECT_TRUE(p.isDeleted(gone));
    EXPECT_EQ(readAll(p.saveFile(gone, out).written), "gone!");
    // Tree: DUMMY ENTRY has no node; the deleted file is red.
    std::vector<std::u16string> top;
    for (TreeItem it : v->tree.children(v->tree.root())) {
        top.push_back(v->tree.text(it));
        EXPECT_EQ(v->tree.isRed(it), v->tree.text(it) == u"gone.txt");
    }
    EXPECT_EQ(top, (std::vector<std::u16string>{u"first.bin", u"nostream.txt", longName, u"gone.txt"}));
}

TEST(ExFatSynthetic, RootAndFoldersAreReadWhole) {
    ExFatBuilder b;
    // Root: clusters 2 -> 5; the second cluster holds a chainless folder of
    // three clusters (20..22) with one file in each.
    b.setFat(2, 5);
    b.setFat(5, 0xFFFFFFFF);
    b.set(ExFatBuilder::clusterAt(2), u"in root.txt", 0x20, 0, 0);
    b.set(ExFatBuilder::clusterAt(5), u"folder", 0x10, 20, 3 * 512, 3);
    for (std::uint32_t c = 20; c < 23; ++c) b.set(ExFatBuilder::clusterAt(c), u"f" + fromUtf8(std::to_string(c)), 0x20, 0, 0);
    // A chained folder looping onto itself: 30 -> 31 -> 30.
    b.set(ExFatBuilder::clusterAt(2) + 96, u"loop", 0x10, 30, 512, 1);
    b.setFat(30, 31);
    b.setFat(31, 30);
    b.set(ExFatBuilder::clusterAt(30), u"l30", 0x20, 0, 0);
    b.set(ExFatBuilder::clusterAt(31), u"l31", 0x20, 0, 0);
    auto v = b.parse();
    ASSERT_EQ(v->result, ParseResult::Done);
    for (const char16_t* path : {u"in root.txt", u"folder/f20", u"folder/f21", u"folder/f22", u"loop/l30", u"loop/l31"})
        EXPECT_GE(v->find(path), 0) << toUtf8(path) << "\n" << v->listing();
    int loopChildren = 0;
    v->parser->forEachChild(v->find(u"loop"), [&](RecordId) { return ++loopChildren, true; });
    EXPECT_EQ(loopChildren, 2);
}

TEST(ExFatSynthetic, DataWithAndWithoutChainAndValidLength) {
    ExFatBuilder b;
    std::size_t at = ExFatBuilder::clusterAt(2);
    at += b.set(at, u"chained.bin", 0x20, 40, 1100, 1);
    at += b.set(at, u"contiguous.bin", 0x20, 50, 1100, 3);
    at += b.set(at, u"short valid.bin", 0x20, 60, 1000, 3, false, true, 300);
    at += b.set(at, u"empty.bin", 0x20, 0, 0, 1);
    at += b.set(at, u"huge.bin", 0x20, 70, 1ull << 60, 3, false, true, 0);
    b.setFat(40, 45);
    b.setFat(45, 42);
    b.setFat(42, 0xFFFFFFFF);
    std::memset(&b.img[ExFatBuilder::clusterAt(40)], 'a', 512);
    std::memset(&b.img[ExFatBuilder::clusterAt(45)], 'b', 512);
    std::memset(&b.img[ExFatBuilder::clusterAt(42)], 'c', 512);
    std::memset(&b.img[ExFatBuilder::clusterAt(50)], 'd', 3 * 512);
    std::memset(&b.img[ExFatBuilder::clusterAt(60)], 'e', 2 * 512);
    auto v = b.parse();
    auto& p = *v->parser;
    const auto out = test::scratchDir("exfat_data");
    EXPECT_EQ(readAll(p.saveFile(v->find(u"chained.bin"), out).written),
              std::string(512, 'a') + std::string(512, 'b') + std::string(76, 'c'));
    EXPECT_EQ(readAll(p.saveFile(v->find(u"contiguous.bin"), out).written), std::string(1100, 'd'));
    // Past the valid data length the file reads as zeros.
    EXPECT_EQ(readAll(p.saveFile(v->find(u"short valid.bin"), out).written),
              std::string(300, 'e') + std::string(700, '\0'));
    // A data length no volume could hold is cut to the cluster area, the
    // rest reported as damage.
    SaveOutcome huge = p.saveFile(v->find(u"huge.bin"), out);
    EXPECT_LE(std::filesystem::file_size(huge.written), 240u * 512);
    EXPECT_EQ(huge.status, SaveStatus::Damaged);
    SaveOutcome e = p.saveFile(v->find(u"empty.bin"), out);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(std::filesystem::file_size(e.written), 0u);
    const auto t = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(e.written));
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count(), 1710504000);
}

TEST(ExFatSynthetic, TimesTakeTheirTenMillisecondsAndUtcOffset) {
    const std::uint32_t ts = (std::uint32_t((44 << 9) | (3 << 5) | 15) << 16) | 0x6000;  // 2024-03-15 12:00:00
    const std::int64_t base = 1710504000LL * 1'000'000'000LL;
    EXPECT_EQ(fat::exFatToUnixNanos(ts, 0, 0), base);
    EXPECT_EQ(fat::exFatToUnixNanos(ts, 150, 0), base + 1'500'000'000LL);
    // UTC+01:00 (four 15-minute steps, valid bit set): 11:00 UTC.
    EXPECT_EQ(fat::exFatToUnixNanos(ts, 0, 0x80 | 4), base - 3600LL * 1'000'000'000LL);
    // UTC-05:00 (-20 steps in seven bits): 17:00 UTC.
    EXPECT_EQ(fat::exFatToUnixNanos(ts, 0, 0x80 | (128 - 20)), base + 5 * 3600LL * 1'000'000'000LL);
    EXPECT_FALSE(fat::exFatToUnixNanos(0, 0, 0));  // month 0
}

TEST(ExFatSynthetic, HostileVolumesNeverHangOrCrash) {
    std::mt19937 rng(64);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto out = test::scratchDir("exfat_hostile");
    for (int round = 0; round < 120; ++round) {
        ExFatBuilder b;
        for (std::size_t i = 8 * 512; i < b.img.size(); ++i) b.img[i] = std::uint8_t(byte(rng));
        // Plenty of plausible set starts among the noise.
        for (std::size_t at = ExFatBuilder::clusterAt(2); at + 32 <= b.img.size(); at += 32 * (1 + byte(rng) % 8)) {
            const std::uint8_t types[] = {0x85, 0xC0, 0xC1, 0x05, 0x40, 0x41};
            b.img[at] = types[byte(rng) % 6];
            if (byte(rng) % 2) storeLe16(b.img, at + 4, 0x10);
        }
        if (round % 3 == 0) {
            storeLe32(b.img, 96, std::uint32_t(byte(rng)) * 0x01010101u);
            storeLe32(b.img, 84, std::uint32_t(byte(rng)) << (byte(rng) % 24));
            b.img[109] = std::uint8_t(byte(rng) % 20);
        }
        auto v = b.parse();
        if (v->result != ParseResult::Done) continue;
        v->parser->recycleBinPass();
        for (RecordId id = 0; v->parser->isValidRecord(id) && id < 60; ++id)
            if (!v->parser->isDirectory(id)) v->parser->saveFile(id, out);
    }
}
