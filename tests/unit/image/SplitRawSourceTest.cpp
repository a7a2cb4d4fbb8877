#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "TestPaths.h"
#include "image/Globals.h"
#include "image/ImageOpen.h"
#include "image/SplitRawSource.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {
std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i) v[i] = std::uint8_t((i * 7 + i / 509) % 253);
    return v;
}

// Writes `whole` cut into pieces of `pieceBytes` under the given names.
void writePieces(const std::vector<std::uint8_t>& whole, std::size_t pieceBytes, const std::vector<fs::path>& names) {
    std::size_t at = 0;
    for (const auto& n : names) {
        std::ofstream out(n, std::ios::binary);
        std::size_t len = std::min(pieceBytes, whole.size() - at);
        out.write(reinterpret_cast<const char*>(whole.data() + at), std::streamsize(len));
        at += len;
    }
}
}  // namespace

TEST(SplitRaw, NumberedSetReadsAsOneImageFromAnyPieceAndAcrossBorders) {
    fs::path dir = test::scratchDir("split_numbered");
    auto whole = pattern(3 * 100000 + 4000);  // pieces not sector-aligned
    std::vector<fs::path> names = {dir / "disk.001", dir / "disk.002", dir / "disk.003", dir / "disk.004"};
    writePieces(whole, 100000, names);
    std::ofstream(dir / "disk.006") << "not part of the run";

    for (const auto& start : {names[0], names[2]}) {
        EXPECT_EQ(splitRawPieces(start).size(), 4u);
        FileReadSeekSplit r;
        ASSERT_TRUE(r.open(start));
        EXPECT_EQ(r.length(), whole.size());
        EXPECT_EQ(r.totalSectors(), std::int64_t(whole.size() / 512));
        // Reads that straddle every border, at odd offsets and sizes.
        for (std::int64_t off : {0L, 99990L, 199999L, 299000L}) {
            std::vector<std::uint8_t> buf(3000);
            ASSERT_TRUE(readAt(r, off, buf.data(), std::uint32_t(buf.size())));
            EXPECT_TRUE(std::equal(buf.begin(), buf.end(), whole.begin() + off)) << off;
        }
        // baseOffset is added to every seek.
        r.baseOffset = 100000;
        std::uint8_t b = 0;
        ASSERT_TRUE(readAt(r, 5, &b, 1));
        EXPECT_EQ(b, whole[100005]);
    }
    EXPECT_TRUE(splitRawPieces(dir / "disk.006").empty());  // behind a gap
}

TEST(SplitRaw, ReadPastTheEndIsZeroFilledAndFailsLikeTheRawReader) {
    fs::path dir = test::scratchDir("split_tail");
    auto whole = pattern(2 * 4096);
    writePieces(whole, 4096, {dir / "xaa", dir / "xab"});
    FileReadSeekSplit r;
    ASSERT_TRUE(r.open(dir / "xab"));
    EXPECT_EQ(r.pieceCount(), 2u);

    std::vector<std::uint8_t> buf(1024, 0xCC);
    EXPECT_FALSE(readAt(r, 8192 - 512, buf.data(), 1024));
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 512, whole.end() - 512));
    EXPECT_TRUE(std::all_of(buf.begin() + 512, buf.end(), [](std::uint8_t c) { return c == 0; }));

    std::fill(buf.begin(), buf.end(), 0xCC);
    EXPECT_FALSE(readAt(r, 1 << 20, buf.data(), 1024));  // nothing read: untouched
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](std::uint8_t c) { return c == 0xCC; }));
}

TEST(SplitRaw, BytesAReadCouldNotDeliverAreKnownDamageUntilAReadDeliversThem) {
    fs::path dir = test::scratchDir("split_known_damage");
    auto whole = pattern(4 * 4096);
    writePieces(whole, 4096, {dir / "xaa", dir / "xab", dir / "xac", dir / "xad"});
    FileReadSeekSplit r;
    ASSERT_TRUE(r.open(dir / "xaa"));
    std::vector<std::uint8_t> buf(4096);
    // Bytes past the image's end fail to read but are not damage of the image.
    EXPECT_FALSE(readAt(r, 4 * 4096 - 512, buf.data(), 1024));
    EXPECT_TRUE(r.unreadableRanges().empty());
    // The second piece loses its second half after the open: a read over
    // it fails from there on, and only that much is marked.
    fs::resize_file(dir / "xab", 2048);
    r.baseOffset = 1024;  // the ranges count from the image's start, not the volume's
    EXPECT_FALSE(readAt(r, 4096, buf.data(), 2048));  // image bytes 5120..7168
    std::vector<ImageRange> known;
    r.knownDamage(0, 4 * 4096 + 100, known);
    ASSERT_EQ(known.size(), 2u);
    EXPECT_EQ(known[0].offset, 4096u + 2048);
    EXPECT_EQ(known[0].length, 1024u);
    EXPECT_EQ(known[0].kind, ImageRange::Kind::Unreadable);
    EXPECT_EQ(known[1].offset, 4u * 4096);
    EXPECT_EQ(known[1].length, 100u);
    EXPECT_EQ(known[1].kind, ImageRange::Kind::PastEnd);
    // The piece comes back: a read of part of the range takes that part out.
    writePieces(whole, 4096, {dir / "xaa", dir / "xab"});
    EXPECT_TRUE(readAt(r, 4096 + 2048 + 512 - 1024, buf.data(), 512));  // image bytes 6656..7168
    const auto left = r.unreadableRanges();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].offset, 4096u + 2048);
    EXPECT_EQ(left[0].length, 512u);
}

TEST(SplitRaw, OpenImageChoosesTheSplitReaderOnlyForARealSet) {
    fs::path dir = test::scratchDir("split_open");
    auto whole = pattern(8192);
    writePieces(whole, 4096, {dir / "img.000", dir / "img.001"});
    std::ofstream(dir / "lonely.001") << std::string(1024, 'x');

    auto set = openImage(dir / "img.001", nullReporter());
    ASSERT_TRUE(set.source);
    EXPECT_EQ(set.kind, ImageKind::Raw);
    EXPECT_EQ(set.source->totalSectors(), 16);  // from img.000 on

    auto single = openImage(dir / "lonely.001", nullReporter());
    ASSERT_TRUE(single.source);
    EXPECT_EQ(single.source->totalSectors(), 2);
}
