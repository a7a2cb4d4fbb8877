#include <gtest/gtest.h>

#include <map>
#include <cstring>

#include "image/ChunkedScan.h"
#include "image/WindowReader.h"

using namespace salvage;

namespace {

// An image whose byte i is a function of i, with one sector whose reads
// fail; a failed read scribbles over the caller's buffer, so only the scan's
// own zero-fill can leave zeros there.
std::uint8_t patternAt(std::int64_t i) { return std::uint8_t(1 + (i * 7 + i / 251) % 253); }
std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = patternAt(std::int64_t(i));
    return b;
}

class PatternSource : public MemorySource {
public:
    // badSector counts from the image's start, whatever the baseOffset.
    PatternSource(std::size_t size, std::int64_t badSector) : MemorySource(pattern(size)), badSector_(badSector) {}
    bool seek(std::int64_t offset, int origin) override {
        at_ = baseOffset + offset;
        return MemorySource::seek(offset, origin);
    }
    bool read(void* buffer, std::uint32_t n) override {
        ++reads;
        bytesRead += n;
        if (badSector_ >= 0 && at_ < (badSector_ + 1) * 512 && at_ + n > badSector_ * 512) {
            std::memset(buffer, 0xEE, n);
            return false;
        }
        return MemorySource::read(buffer, n);
    }

    int reads = 0;
    std::int64_t bytesRead = 0;

private:
    std::int64_t badSector_;
    std::int64_t at_ = 0;
};

struct Case {
    const char* name;
    std::size_t imageBytes;
    std::int64_t begin, end;
    std::uint32_t chunk, overlap;
    bool grid;
    std::int64_t badSector;                  // -1: none
    std::map<std::int64_t, std::int64_t> skips;  // position -> where to go on
    int stopAfterChunks;                     // 0: never
    std::vector<ScanDamage> damage;
};

TEST(ChunkedScan, EveryPositionOnceWithWholeOverlapAndDamageListed) {
    const Case cases[] = {
        {"overlap across chunk borders", 10240, 0, 10240, 2048, 1024, true, -1, {}, 0, {}},
        {"range inside the image", 10240, 1536, 8192, 3000, 700, true, -1, {}, 0, {}},
        {"clipped at the image's last whole sector", 5000, 0, 1 << 20, 2048, 1024, true, -1, {}, 0, {}},
        {"failed sector in the middle", 10240, 0, 10240, 4096, 1024, true, 5, {}, 0, {{2560, 512}}},
        {"failed sector in an overlap is listed once", 10240, 0, 10240, 4096, 1024, true, 8, {}, 0, {{4096, 512}}},
        {"skip ahead across chunks on the grid", 20480, 0, 20480, 4096, 512, true, -1, {{1024, 9216}, {9728, 17920}}, 0, {}},
        {"skip ahead with chunks from the resume point", 20480, 0, 20480, 4096, 512, false, -1, {{1024, 9216}}, 0, {}},
        {"skip past the end", 20480, 0, 20480, 4096, 0, true, -1, {{512, 1 << 30}}, 0, {}},
        {"stop after two chunks", 20480, 0, 20480, 4096, 0, true, -1, {}, 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PatternSource src(c.imageBytes, c.badSector);
        const std::int64_t imageEnd = std::int64_t(c.imageBytes) / 512 * 512;
        const std::int64_t end = std::min(c.end, imageEnd);
        Pollable poll;
        RecordingReporter progress;
        ChunkedScanOptions o;
        o.begin = c.begin;
        o.end = c.end;
        o.chunkBytes = c.chunk;
        o.overlapBytes = c.overlap;
        o.chunksOnGrid = c.grid;
        o.poll = &poll;
        o.progress = &progress;
        std::vector<std::int64_t> seen;
        int chunks = 0;
        const ChunkedScanResult r = chunkedScan(src, o, [&](const ScanChunk& k) -> std::int64_t {
            ++chunks;
            // Chunk borders: on the grid, or one chunk on from the resume point.
            if (k.limit != end) {
                if (c.grid) EXPECT_EQ((k.limit - c.begin) % c.chunk, 0);
                else EXPECT_EQ(k.limit - k.offset, c.chunk);
            }
            EXPECT_EQ(k.bytes.size(), std::size_t(k.limit - k.offset + c.overlap));
            for (std::size_t i = 0; i < k.bytes.size(); ++i) {
                const std::int64_t at = k.offset + std::int64_t(i);
                const bool zero = at >= end || at / 512 == c.badSector;
                if (k.bytes[i] != (zero ? 0 : patternAt(at))) {
                    ADD_FAILURE() << "wrong byte at " << at;
                    break;
                }
            }
            if (c.stopAfterChunks && chunks == c.stopAfterChunks) poll.stopRequested = true;
            std::int64_t p = k.offset;
            for (; p < k.limit; p += 512) {
                seen.push_back(p);
                if (auto s = c.skips.find(p); s != c.skips.end()) return s->second;
            }
            return p;  // a position past the limit carries into the next chunk
        });
        std::vector<std::int64_t> want;
        for (std::int64_t p = c.begin; p < end; p += 512) {
            if (c.stopAfterChunks && p >= std::int64_t(c.stopAfterChunks) * c.chunk) break;
            want.push_back(p);
            if (auto s = c.skips.find(p); s != c.skips.end()) p = s->second - 512;
        }
        EXPECT_EQ(seen, want);
        EXPECT_EQ(r.unreadable, c.damage);
        EXPECT_EQ(r.unreadableBytes, std::int64_t(c.damage.size()) * 512);
        EXPECT_EQ(r.firstReadError != 0, !c.damage.empty());
        EXPECT_EQ(r.stopped, c.stopAfterChunks != 0);
        EXPECT_EQ(r.completed, !r.stopped);
        EXPECT_EQ(progress.rangeMax(), 1000);
        EXPECT_EQ(progress.position() == 1000, r.completed);
    }
}

TEST(ChunkedScan, OffsetsFollowTheBaseOffsetAndAVisitorCanEndIt) {
    PatternSource src(8192, 9);  // image sector 9: volume sector 1 behind a base of 4096
    src.baseOffset = 4096;
    ChunkedScanOptions o;
    o.end = 1 << 20;  // only 4096 bytes behind the base
    o.chunkBytes = 1024;
    std::vector<std::int64_t> offsets;
    ChunkedScanResult r = chunkedScan(src, o, [&](const ScanChunk& k) {
        offsets.push_back(k.offset);
        EXPECT_EQ(k.bytes[0], patternAt(4096 + k.offset));
        EXPECT_EQ(k.bytes[512], k.offset == 0 ? 0 : patternAt(4096 + k.offset + 512));
        EXPECT_TRUE(k.readable);  // the chunk's other sector read
        return k.limit;
    });
    EXPECT_EQ(offsets, (std::vector<std::int64_t>{0, 1024, 2048, 3072}));
    EXPECT_EQ(r.unreadable, (std::vector<ScanDamage>{{512, 512}}));

    // A chunk that has no readable sector says so; the visitor ends the scan.
    PatternSource one(4096, 2);
    o = {};
    o.end = 4096;
    o.chunkBytes = 512;
    offsets.clear();
    r = chunkedScan(one, o, [&](const ScanChunk& k) {
        offsets.push_back(k.offset);
        return k.readable ? k.limit : kScanStop;
    });
    EXPECT_EQ(offsets, (std::vector<std::int64_t>{0, 512, 1024}));
    EXPECT_TRUE(r.visitorEnded);
    EXPECT_FALSE(r.completed);
}

}  // namespace

// Windows at rising offsets hold what one read of each gives and say
// whether it failed, whether a block served them, a block met the bad
// sector and was given up, or the block was cut at the image's end;
// windows close together cost one read, and a block stops at the reach the
// caller gives.
TEST(WindowReader, WindowsAsSingleReadsGiveThem) {
    PatternSource src(20000, 12);  // bad sector at 6144..6656; the image ends at 19968
    WindowReader reader(src, 1024, 4096);
    for (std::int64_t at : {0, 512, 1000, 3072, 4096, 5500, 6200, 7000, 16384, 18944, 19000}) {
        SCOPED_TRACE(at);
        const ByteView w = reader.at(at);
        ASSERT_EQ(w.size(), 1024u);
        const bool bad = at < 6656 && at + 1024 > 6144;
        const bool pastEnd = at + 1024 > 19968;
        EXPECT_EQ(reader.ok(), !bad && !pastEnd);
        for (std::size_t i = 0; reader.ok() && i < w.size(); ++i) {
            const std::int64_t b = at + std::int64_t(i);
            if (w[i] != patternAt(b)) {
                ADD_FAILURE() << "wrong byte at " << b;
                break;
            }
        }
    }
    PatternSource clean(1 << 20, -1);
    WindowReader close(clean, 512, 64 * 1024);
    for (std::int64_t at = 0; at < 60 * 1024; at += 2048) close.at(at);
    EXPECT_EQ(clean.reads, 1);
    // Finds far apart, their reach given: no block reads past it.
    PatternSource sparse(1 << 20, -1);
    WindowReader apart(sparse, 512, 64 * 1024);
    apart.at(0, 512);
    apart.at(300000, 301024);
    apart.at(300512, 301024);
    EXPECT_EQ(sparse.bytesRead, 512 + 1024);
    EXPECT_EQ(apart.at(300512).size(), 512u);
}
