#include <gtest/gtest.h>

#include <thread>

#include "CarveTestSupport.h"
#include "platform/Text.h"

using namespace salvage;
using namespace salvage::test;
using Finds = std::vector<std::pair<std::uint64_t, std::int64_t>>;

namespace {
constexpr std::size_t MiB = 1 << 20;

TEST(MyJpgMatch, SignaturesAreSeenOnlyAtSectorStarts) {
    Volume v(2 * MiB);
    v.put(100, {0xFF, 0xD8, 0xFF}).put(4096, {0xFF, 0xD8, 0xFF});
    Scan s({record(u"jpg", {0xFF, 0xD8, 0xFF}, {}, u"Images", 5000)}, v.bytes);
    ASSERT_TRUE(s.run());
    EXPECT_EQ(s.finds(), (Finds{{4096, 5000}}));
}

TEST(MyJpgMatch, WildcardsOneByteSignaturesAndLowerTypesFirst) {
    myJpg e;
    e.addSignatureType(record(u"one", {0x41}), 0);
    e.addSignatureType(record(u"jpg", {0xFF, 0xD8, 0xFF, 0x2A}), 1);
    e.addSignatureType(record(u"jpe", {0xFF, 0xD8}), 2);
    e.addSignatureType(record(u"end", {0x10, 0x11}, {0x41}), 3);
    ASSERT_TRUE(e.buildMatchTable());
    std::uint8_t a[10] = {0x41, 0x42};
    EXPECT_EQ(e.matchAt(ByteView(a, 10)).kind, MatchKind::None);  // a one-byte start or end never matches
    std::uint8_t j[10] = {0xFF, 0xD8, 0xFF, 0x99};
    MatchResult m = e.matchAt(ByteView(j, 10));
    EXPECT_EQ(m.kind, MatchKind::Start);
    EXPECT_EQ(m.typeIndex, 1u);  // any fourth byte; type 1 wins over type 2
    std::uint8_t literal[10] = {0xFF, 0xD8, 0xFF, 0x2A};
    EXPECT_EQ(e.matchAt(ByteView(literal, 10)).typeIndex, 1u);
}

TEST(MyJpgScan, EndSignatureEndsTheFindAtItsLastByte) {
    Volume v(2 * MiB);
    v.put(4096, {0xAA, 0xBB, 0x01}).put(8192, {0xCC, 0xDD}).put(8704, {0xAA, 0xBB, 0x02}).put(9216, {0xCC, 0xDD});
    Scan s({record(u"t", {0xAA, 0xBB}, {0xCC, 0xDD}, u"Images", 0)}, v.bytes);
    ASSERT_TRUE(s.run());
    // The sector right after an end is examined too: the start at 8704 is seen.
    EXPECT_EQ(s.finds(), (Finds{{4096, 4098}, {8704, 514}}));
    Scan capped({record(u"t", {0xAA, 0xBB}, {0xCC, 0xDD}, u"Images", 1000)}, v.bytes);
    capped.run();
    EXPECT_EQ(capped.finds(), (Finds{{4096, 1000}, {8704, 514}}));
}

TEST(MyJpgScan, FinalPassGivesEachOpenStartTheGapToTheNextNewerOne) {
    Volume v(3 * MiB);
    v.put(0, {0xAA, 0xBB}).put(MiB, {0xAA, 0xBB});
    Scan s({record(u"t", {0xAA, 0xBB}, {0xCC, 0xDD}, u"Images", 3 * MiB)}, v.bytes);
    s.run();
    EXPECT_EQ(s.finds(), (Finds{{MiB, 3 * MiB}, {0, MiB}}));
    Scan small({record(u"t", {0xAA, 0xBB}, {0xCC, 0xDD}, u"Images", 4000)}, v.bytes);
    small.run();
    EXPECT_EQ(small.finds(), (Finds{{MiB, 4000}, {0, 4000}}));
    Scan none({record(u"t", {0xAA, 0xBB}, {0xCC, 0xDD}, u"Images", 0)}, v.bytes);
    none.run();
    EXPECT_TRUE(none.finds().empty());
    EXPECT_EQ(none.engine.pendingStarts[0].size(), 2u);  // the stacks keep their starts
}

TEST(MyJpgScan, TypesWithoutEndOrSizeReportApproxSizeAndSkip) {
    Volume v(3 * MiB);
    v.put(0, {0xAA, 0xBB}).put(512, {0xAA, 0xBB}).put(1024, {0xAA, 0xBB}).put(MiB, {0xAA, 0xBB});
    Scan zero({record(u"t", {0xAA, 0xBB})}, v.bytes);
    zero.run();
    EXPECT_EQ(zero.finds(), (Finds{{0, 0}, {512, 0}, {1024, 0}, {MiB, 0}}));  // 0 included

    SignatureRecord r = record(u"t", {0xAA, 0xBB}, {}, u"Images", 77);
    r.skipSize = 2 * MiB;  // ends the chunk; the next chunk is examined from its start
    Scan far({r}, v.bytes);
    far.run();
    EXPECT_EQ(far.finds(), (Finds{{0, 77}, {MiB, 77}}));
    r.skipSize = 1000;  // rounds down to 512: the next sector
    Scan near({r}, v.bytes);
    near.run();
    EXPECT_EQ(near.finds().size(), 4u);
    r.skipSize = std::uint64_t(-5);  // negative counts as 0
    Scan negative({r}, v.bytes);
    negative.run();
    EXPECT_EQ(negative.finds().size(), 4u);
}

SignatureRecord sizeType(std::uint32_t byteCount, std::uint64_t approx) {
    SignatureRecord r = record(u"bmp", {0x42, 0x4D}, {}, u"Images", approx);
    r.sizeOffset = 2;
    r.sizeByteCount = byteCount;
    r.sizeIncludesHeader = 1;
    return r;
}

TEST(MyJpgScan, SizeFieldJumpsToTheSectorAfterTheFile) {
    Volume v(4 * MiB);
    v.put(0, {0x42, 0x4D, 0xB8, 0x0B, 0, 0})          // size 3000
        .put(2560, {0x42, 0x4D, 1, 0, 0, 0})            // inside the first file: not examined
        .put(3072, {0x42, 0x4D, 0x80, 0x84, 0x1E, 0})   // size 2,000,000
        .put(3072 + 2000384, {0x42, 0x4D, 0x10, 0, 0, 0});  // right after it, inside chunk 1
    Scan s({sizeType(4, 3 * MiB)}, v.bytes);
    s.run();
    EXPECT_EQ(s.finds(), (Finds{{0, 3 * MiB}, {3072, 3 * MiB}, {3072 + 2000384, 3 * MiB}}));
    Scan twoBytes({sizeType(2, 3 * MiB)}, v.bytes);
    twoBytes.run();
    EXPECT_TRUE(twoBytes.finds().empty());
    Scan tooSmall({sizeType(4, 2999)}, v.bytes);  // a size above approxSize reads as 0
    tooSmall.run();
    EXPECT_EQ(tooSmall.finds(), (Finds{{2560, 2999}, {3072 + 2000384, 2999}}));
}

TEST(MyJpgScan, CategoriesAreSharedAndCountedInTheTree) {
    Volume v(MiB);
    v.put(0, {1, 2}).put(512, {3, 4}).put(1024, {1, 2}).put(2048, {5, 6});
    Scan s({record(u"jpg", {1, 2}, {}, u"Images", 10), record(u"png", {3, 4}, {}, u"Images", 10),
            record(u"zip", {5, 6}, {}, u"Archives", 10), record(u"mp3", {7, 8}, {}, u"Audio", 10)},
           v.bytes);
    s.run();
    TreeItem root = s.tree.root();
    EXPECT_EQ(s.tree.text(root), u"RAW RECOVERY ");
    auto cats = s.tree.children(root);
    ASSERT_EQ(cats.size(), 3u);
    EXPECT_EQ(s.tree.text(cats[0]), u"Images (3)");
    EXPECT_EQ(s.tree.text(cats[1]), u"Archives (1)");
    EXPECT_EQ(s.tree.text(cats[2]), u"Audio");
    auto images = s.tree.children(cats[0]);
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(s.tree.text(images[1]), u"512 .png");
    EXPECT_EQ(s.tree.itemData(images[2]), 2);
    EXPECT_EQ(s.engine.foundFiles[2].start, 1024u);
    EXPECT_EQ(s.engine.categoryCounts[u"Images"], 3u);
}

// A source whose reads of one region fail without touching the buffer.
class FailingSource : public MemorySource {
public:
    using MemorySource::MemorySource;
    bool seek(std::int64_t offset, int origin) override {
        at_ = offset;
        return MemorySource::seek(offset, origin);
    }
    bool read(void* buffer, std::uint32_t n) override {
        if (at_ >= failFrom && at_ < failTo) return false;
        return MemorySource::read(buffer, n);
    }
    std::int64_t failFrom = 0, failTo = 0;

private:
    std::int64_t at_ = 0;
};

TEST(MyJpgScan, FailedReadDoesNotRepeatThePreviousChunk) {
    Volume v(3 * MiB);
    v.put(0, {1, 2});
    FailingSource src(v.bytes);
    src.failFrom = MiB;
    src.failTo = 2 * MiB;
    myJpg e;
    e.addSignatureType(record(u"a", {1, 2}, {}, u"X", 9), 0);
    e.source = &src;
    e.volumeBytes = 3 * MiB;
    e.scanVolume();
    EXPECT_EQ(e.foundFiles.size(), 1u);
}

TEST(MyJpgScan, ShortLastPartIsScanned) {
    Volume v(MiB + 1536);
    v.put(MiB + 1024, {1, 2});
    Scan s({record(u"a", {1, 2}, {}, u"X", 9)}, v.bytes);
    RecordingReporter rep;
    s.engine.pageWindow = &rep;
    s.run();
    EXPECT_EQ(s.finds(), (Finds{{MiB + 1024, 9}}));
    EXPECT_EQ(rep.rangeMax(), 2);
    EXPECT_EQ(rep.position(), 2);
    EXPECT_TRUE(rep.sawMessage(u"done.."));
}

// Stops the engine when the progress reaches a chunk.
class StopAt : public RecordingReporter {
public:
    StopAt(myJpg& e, std::int64_t chunk) : engine(e), at(chunk) {}
    void setProgressPosition(std::int64_t p) override {
        RecordingReporter::setProgressPosition(p);
        if (p == at) engine.stopRequested = true;
    }
    myJpg& engine;
    std::int64_t at;
};

TEST(MyJpgScan, StopKeepsFindsAndRunsTheFinalPass) {
    Volume v(4 * MiB);
    v.put(0, {1, 2}).put(4096, {3, 4}).put(2 * MiB, {1, 2});
    Scan s({record(u"a", {1, 2}, {}, u"X", 9), record(u"b", {3, 4}, {5, 6}, u"X", 100)}, v.bytes);
    StopAt rep(s.engine, 1);
    s.engine.pageWindow = &rep;
    EXPECT_TRUE(s.run());
    EXPECT_EQ(s.finds(), (Finds{{0, 9}, {4096, 100}}));
    EXPECT_TRUE(rep.sawMessage(u"done.."));
    EXPECT_TRUE(s.engine.stopRequested);
}

TEST(MyJpgScan, MoreThan128TypesAllKeepTheirStarts) {
    std::vector<SignatureRecord> records;
    for (int i = 0; i < 200; ++i) records.push_back(record(u"t", {0xEE, std::uint8_t(i)}, {0xEF, 0xEF}, u"X", 50));
    Volume v(MiB);
    v.put(512, {0xEE, 199}).put(1024, {0xEE, 150});
    Scan s(records, v.bytes);
    s.run();
    EXPECT_EQ(s.finds(), (Finds{{1024, 50}, {512, 50}}));
}

TEST(MyJpgScan, EmptyAndHostileInputsEndCleanly) {
    Scan nothing({}, std::vector<std::uint8_t>(MiB));
    EXPECT_TRUE(nothing.run());
    EXPECT_TRUE(nothing.finds().empty());
    SignatureRecord wild = record(u"w", {1, 2});
    wild.startLength = 200;  // longer than the pattern: never matches
    Scan hostile({wild}, std::vector<std::uint8_t>(MiB, 1));
    hostile.engine.volumeBytes = -5;
    EXPECT_TRUE(hostile.run());
    EXPECT_TRUE(hostile.finds().empty());
}
}  // namespace

namespace {
TEST(MyJpgScan, OneByteEndLeavesStartsToTheFinalPass) {
    Volume v(MiB);
    v.put(0, {0xAA, 0xBB}).put(512, {0x41}).put(4096, {0xAA, 0xBB});
    Scan s({record(u"t", {0xAA, 0xBB}, {0x41}, u"X", 100000)}, v.bytes);
    s.run();
    EXPECT_EQ(s.finds(), (Finds{{4096, 100000}, {0, 4096}}));
}

// Settings files of arbitrary bytes: whatever loads, a scan over arbitrary
// bytes ends, and every find lies where the scan looked.
TEST(MyJpgScan, ArbitrarySettingsAndVolumesNeverMisbehave) {
    std::uint64_t x = 0x2545F4914F6CDD1Dull;
    auto next = [&] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
    std::vector<std::uint8_t> volume(2 * MiB + 700);
    for (auto& b : volume) b = std::uint8_t(next() % 4);  // few byte values: many matches
    for (int round = 0; round < 40; ++round) {
        std::vector<std::uint8_t> settings(kSignatureRecordBytes * (1 + next() % 6));
        for (auto& b : settings) b = std::uint8_t(next() % 5);
        myJpg e;
        for (std::size_t at = 0; at < settings.size(); at += kSignatureRecordBytes) {
            SignatureRecord r = SignatureRecord::decode(ByteView(settings).sub(at, kSignatureRecordBytes));
            r.sizeOffset = std::uint32_t(next() % 600) - 50;  // inside, outside and "none"
            r.sizeByteCount = std::uint32_t(next() % 6);
            r.approxSize = next() % 3 == 0 ? std::uint64_t(-1) : next() % (3 * MiB);
            r.skipSize = next() % (3 * MiB);
            e.addSignatureType(r, std::uint32_t(e.signatureTypes.size()));
        }
        MemorySource src(volume);
        e.source = &src;
        e.volumeBytes = std::int64_t(volume.size());
        ASSERT_TRUE(e.scanVolume());
        for (const auto& f : e.foundFiles) {
            EXPECT_EQ(f.start % 512, 0u);
            EXPECT_LT(f.start, volume.size());
            EXPECT_GE(f.length, 0);
        }
    }
}
}  // namespace

namespace {
TEST(MyJpgScan, PauseHoldsTheScanUntilResume) {
    Volume v(4 * MiB);
    v.put(3 * MiB, {1, 2});
    Scan s({record(u"a", {1, 2}, {}, u"X", 9)}, v.bytes);
    PauseGate gate;
    gate.pause();
    s.engine.pauseGate = &gate;
    RecordingReporter rep;
    s.engine.pageWindow = &rep;
    std::thread worker([&] { s.run(); });
    while (gate.holds() == 0) std::this_thread::yield();
    EXPECT_EQ(rep.position(), 0);  // held at the first chunk's poll point
    EXPECT_FALSE(rep.sawMessage(u"done.."));
    gate.resume();
    worker.join();
    EXPECT_EQ(s.finds(), (Finds{{3 * MiB, 9}}));
}
}  // namespace
