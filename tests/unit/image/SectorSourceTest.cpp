#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "TestPaths.h"
#include "image/Globals.h"
#include "image/ImageOpen.h"
#include "image/SectorSource.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {
fs::path writeImage(const std::string& name, std::size_t size) {
    fs::path p = test::scratchDir("sector_source") / name;
    std::ofstream out(p, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) out.put(char(i % 251));
    return p;
}
}  // namespace

TEST(FileReadSeek, SizesInWholeSectorsAndReadsAtBaseOffset) {
    fs::path p = writeImage("million.img", 1000000);
    FileReadSeek r;
    g_totalSectors = 0;
    ASSERT_TRUE(r.open(p));
    EXPECT_EQ(g_totalSectors, 1953);  // the last 64 bytes are not counted
    EXPECT_EQ(r.fileLength, 1000000u);

    r.baseOffset = 2 * 512;
    std::uint8_t b[4];
    ASSERT_TRUE(readAt(r, 10, b, 4));
    EXPECT_EQ(b[0], (1024 + 10) % 251);
    EXPECT_EQ(r.baseOffset, 1024);  // no operation of the reader changes it
}

TEST(FileReadSeek, ReadAcrossTheEndIsZeroFilledAndFails) {
    fs::path p = writeImage("tail.img", 1000000);
    FileReadSeek r;
    ASSERT_TRUE(r.open(p));
    std::vector<std::uint8_t> b(512, 0xAA);
    EXPECT_FALSE(readAt(r, 1000000 - 100, b.data(), 512));
    EXPECT_EQ(b[0], (1000000 - 100) % 251);
    EXPECT_EQ(b[99], (1000000 - 1) % 251);
    for (std::size_t i = 100; i < 512; ++i) ASSERT_EQ(b[i], 0) << i;

    std::vector<std::uint8_t> c(512, 0xAA);
    EXPECT_FALSE(readAt(r, 1000000, c.data(), 512));
    for (auto x : c) ASSERT_EQ(x, 0xAA);  // nothing read: buffer untouched
}

TEST(FileReadSeek, MissingPathReportsInvalidHandleAndKeepsTotal) {
    RecordingReporter rep;
    FileReadSeek r(rep);
    g_totalSectors = 77;
    EXPECT_FALSE(r.open("/nonexistent/image.dd"));
    EXPECT_EQ(g_totalSectors, 77);
    EXPECT_TRUE(rep.sawMessage(u"invalid handle ..."));
}

TEST(MemorySource, FollowsTheRawReadRules) {
    MemorySource m(std::vector<std::uint8_t>(1000, 7));
    m.baseOffset = 512;
    std::uint8_t b[600];
    std::fill(std::begin(b), std::end(b), 0xAA);
    EXPECT_FALSE(readAt(m, 0, b, 600));
    EXPECT_EQ(b[487], 7);
    EXPECT_EQ(b[488], 0);
    EXPECT_FALSE(m.seek(-1000));
}

TEST(ImageOpen, MissingImageIsAClearError) {
    std::string error;
    OpenedImage img = openImage("/nonexistent/x.E01", nullReporter(), &error);
    EXPECT_FALSE(img.source);
    EXPECT_NE(error.find("no such file"), std::string::npos);
}
