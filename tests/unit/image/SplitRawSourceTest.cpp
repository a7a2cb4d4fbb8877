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
