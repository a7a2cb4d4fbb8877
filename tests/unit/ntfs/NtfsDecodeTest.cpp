// Decoding rules on hand-made bytes: run lists, fix-ups, LZNT1 chunks,
// boot sectors, attribute letters and Recycle Bin "$I" files.
#include <gtest/gtest.h>

#include <random>

#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/NtfsRuns.h"
#include "fs/ntfs/NtfsStructures.h"

using namespace salvage;
using namespace salvage::ntfs_disk;

namespace {

std::vector<ClusterRun> runs(std::vector<std::uint8_t> bytes, std::uint64_t bound = 1u << 30) {
    return decodeRunList(ByteView(bytes), bound);
}

TEST(NtfsRunList, DecodesLengthsOffsetsSparseRunsAndTheExtentBound) {
    auto r = runs({0x21, 0x18, 0x34, 0x56, 0x00});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].clusterCount, 0x18u);
    EXPECT_EQ(r[0].startCluster, 0x5634);

    // A length-only run is sparse and leaves the current cluster alone; a
    // 3-byte offset FF FF FF moves back by one.
    r = runs({0x11, 0x04, 0x40, 0x01, 0x08, 0x31, 0x02, 0xFF, 0xFF, 0xFF, 0x00});
    ASSERT_EQ(r.size(), 3u);
    EXPECT_TRUE(r[1].sparse);
    EXPECT_EQ(r[1].clusterCount, 8u);
    EXPECT_EQ(r[2].startCluster, 0x3F);

    // With 16 clusters in the extent, runs of 10 and 8 yield only the first.
    r = runs({0x11, 0x0A, 0x10, 0x11, 0x08, 0x10, 0x00}, 16);
    ASSERT_EQ(r.size(), 1u);

    // 64-bit arithmetic: a cluster number above 2^31 stays as it is.
    r = runs({0x51, 0x01, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].startCluster, std::int64_t(0x80000000));
}

TEST(NtfsRunList, DamagedListsEndWithoutReadingPastTheirBytes) {
    EXPECT_TRUE(runs({0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}).empty());  // length field of 9 bytes
    EXPECT_TRUE(runs({0x44, 0x01}).empty());                           // cut off
    EXPECT_TRUE(runs({}).empty());
    // Lengths that overflow the count end the list.
    auto r = runs({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,
                   0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
                  UINT64_MAX);
    EXPECT_EQ(r.size(), 1u);
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint8_t> b(rng() % 40);
        for (auto& x : b) x = std::uint8_t(rng());
        auto rr = decodeRunList(ByteView(b), rng());
        EXPECT_LE(runClusters(rr), UINT64_MAX);
    }
}

TEST(NtfsFixups, RestoreSectorEndsAndIgnoreArraysOutsideTheRecord) {
    std::vector<std::uint8_t> rec(1024, 0xAB);
    storeLe16(rec, 4, 48);
    storeLe16(rec, 6, 3);
    storeLe16(rec, 48, 0x1111);
    storeLe16(rec, 50, 0x2222);
    storeLe16(rec, 52, 0x3333);
    Record r = applyFixups(ByteView(rec));
    EXPECT_EQ(le16(ByteView(r.data(), r.size()), 510), 0x2222);
    EXPECT_EQ(le16(ByteView(r.data(), r.size()), 1022), 0x3333);
    // An array that points past the record, or counts more sectors than a
    // record has, is not followed beyond it.
    storeLe16(rec, 4, 1023);
    storeLe16(rec, 6, 400);
    r = applyFixups(ByteView(rec));
    EXPECT_EQ(r[510], 0xAB);
    // A short buffer is padded with zeros.
    r = applyFixups(ByteView(rec.data(), 100));
    EXPECT_EQ(r[200], 0);
}

std::vector<std::uint8_t> lznt1(std::vector<std::uint8_t> in, std::size_t capacity, bool* error = nullptr) {
    std::vector<std::uint8_t> out(capacity);
    Lznt1Result r = decompressLznt1(in.data(), in.size(), out.data(), out.size());
    out.resize(r.produced);
    if (error) *error = r.error;
    return out;
}

TEST(NtfsLznt1, ChunkRules) {
    // Header 0xB00A: compressed, 13 bytes with the header. Flags 0x00: eight
    // literals, then flags 0x01 with a token copying "abc" again... here:
    // "abcdefgh" then a back-reference of distance 8, length 3.
    std::vector<std::uint8_t> chunk = {0x0D, 0xB0, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x01};
    // position 8: b = 0 while (8-1) < 16, distance (t >> 12) + 1 = 8, length (t & 0xFFF) + 3 = 3.
    chunk.push_back(0x00);
    chunk.push_back(0x70);
    chunk[0] = std::uint8_t(chunk.size() - 3);
    bool error = true;
    auto out = lznt1(chunk, 100, &error);
    EXPECT_FALSE(error);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abcdefghabc");

    // A header of 0 ends the stream; what follows is not read.
    auto withEnd = chunk;
    withEnd.insert(withEnd.end(), {0x00, 0x00, 0x05, 0xB0, 0x00, 'x', 'y', 'z'});
    EXPECT_EQ(lznt1(withEnd, 100).size(), 11u);

    // A stored chunk (bit 15 clear, size 4095) is copied.
    std::vector<std::uint8_t> stored = {0xFF, 0x0F};
    for (int i = 0; i < 4096; ++i) stored.push_back(std::uint8_t(i));
    out = lznt1(stored, 8192, &error);
    EXPECT_FALSE(error);
    ASSERT_EQ(out.size(), 4096u);
    EXPECT_EQ(out[300], std::uint8_t(300));
}

TEST(NtfsLznt1, StreamsThatLieStopWithTheBytesProducedSoFar) {
    bool error = false;
    // A chunk that claims more bytes than the input has.
    EXPECT_TRUE(lznt1({0x20, 0xB0, 0x00, 'a'}, 100, &error).empty());
    EXPECT_TRUE(error);
    // A back-reference before the chunk's first byte stops the chunk: the
    // first chunk's output is not reachable from the second.
    std::vector<std::uint8_t> two = {0x03, 0xB0, 0x00, 'a', 'b', 'c', 0x02, 0xB0, 0x01, 0x00, 0x70};
    auto out = lznt1(two, 100, &error);
    EXPECT_TRUE(error);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abc");
    // Output capacity is never passed.
    out = lznt1({0x0B, 0xB0, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x01, 0xFF, 0x0F}, 20, &error);
    EXPECT_TRUE(error);
    EXPECT_EQ(out.size(), 20u);
    // A token cut off at the chunk's end.
    lznt1({0x01, 0xB0, 0x01, 0x00}, 100, &error);
    EXPECT_TRUE(error);
    std::mt19937 rng(11);
    std::vector<std::uint8_t> in(2000), sink(4096);
    for (int round = 0; round < 3000; ++round) {
        for (auto& x : in) x = std::uint8_t(rng());
        if (round % 2) in[1] |= 0x80;
        auto r = decompressLznt1(in.data(), rng() % in.size(), sink.data(), sink.size());
        EXPECT_LE(r.produced, sink.size());
    }
}

TEST(NtfsBootSector, ClusterSizeAndMftOffset) {
    std::vector<std::uint8_t> s(512, 0);
    s[3] = 'N'; s[4] = 'T'; s[5] = 'F'; s[6] = 'S';
    storeLe16(s, 11, 512);
    s[13] = 8;
    storeLe64(s, 40, 999999);
    storeLe64(s, 48, 786432);
    BootSector b = decodeBootSector(ByteView(s));
    EXPECT_TRUE(b.isNtfs);
    EXPECT_EQ(b.clusterBytes(), 4096u);
    EXPECT_EQ(b.mftCluster, 786432);
    s[13] = 0xF4;  // 2^12 sectors: 2 MiB clusters
    EXPECT_EQ(decodeBootSector(ByteView(s)).clusterBytes(), 2u << 20);
    s[13] = 0;
    EXPECT_EQ(decodeBootSector(ByteView(s)).clusterBytes(), 0u);
    storeLe16(s, 11, 700);
    s[13] = 8;
    EXPECT_EQ(decodeBootSector(ByteView(s)).clusterBytes(), 0u);
}

TEST(NtfsRecordHeader, TheScanTestRejectsLargeHeaderFields) {
    std::vector<std::uint8_t> h(1024, 0);
    h[0] = 'F'; h[1] = 'I'; h[2] = 'L'; h[3] = 'E';
    storeLe16(h, 4, 48);
    storeLe16(h, 6, 3);
    storeLe16(h, 20, 56);
    EXPECT_TRUE(looksLikeRecordHeader(ByteView(h)));
    storeLe16(h, 4, 512);
    EXPECT_FALSE(looksLikeRecordHeader(ByteView(h)));
}

TEST(NtfsTexts, AttributeLettersAndRecycleBinNames) {
    EXPECT_EQ(attributeLetters(0x0023), u"-R-H-A");
    EXPECT_EQ(attributeLetters(0x4820), u"-A-C-E");
    EXPECT_EQ(attributeLetters(0x0200), u"-S");

    auto utf16 = [](const std::u16string& s) {
        std::vector<std::uint8_t> b;
        for (char16_t c : s) { b.push_back(std::uint8_t(c)); b.push_back(std::uint8_t(c >> 8)); }
        return b;
    };
    std::vector<std::uint8_t> v1(24, 0);
    v1[0] = 1;
    auto p1 = utf16(u"C:\\Users\\x\\report.txt");
    v1.insert(v1.end(), p1.begin(), p1.end());
    v1.insert(v1.end(), {0, 0, 0xAA, 0xBB});
    EXPECT_EQ(recycleBinFormerName(ByteView(v1)), u"report.txt");

    std::vector<std::uint8_t> v2(28, 0);
    v2[0] = 2;
    auto p2 = utf16(u"D:\\plan.doc");
    storeLe32(v2, 24, 12);
    v2.insert(v2.end(), p2.begin(), p2.end());
    v2.insert(v2.end(), {0, 0});
    EXPECT_EQ(recycleBinFormerName(ByteView(v2)), u"plan.doc");
    // A version-2 length beyond the file reads what is there.
    storeLe32(v2, 24, 100000);
    EXPECT_EQ(recycleBinFormerName(ByteView(v2)), u"plan.doc");
    EXPECT_EQ(recycleBinFormerName(ByteView(v2.data(), 10)), u"");
}

}  // namespace
