#include <gtest/gtest.h>

#include "TestPaths.h"
#include "image/SectorSource.h"
#include "volumes/Partition.h"

using namespace salvage;

namespace {
std::vector<VolumeRecord> scanFile(const std::filesystem::path& p, bool gpt) {
    FileReadSeek src;
    EXPECT_TRUE(src.open(p));
    std::vector<VolumeRecord> out;
    Partition scanner(out);
    scanner.useGpt = gpt;
    EXPECT_EQ(scanPartitionTables(src, scanner), 0);
    return out;
}
}  // namespace

// An MBR disk written by sfdisk with real file systems at its offsets.
TEST(FixtureDisks, MbrWithExtendedChain) {
    std::filesystem::path p;
    if (!test::requireFixture("mbr_disk.img", p)) return;
    auto v = scanFile(p, false);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].fileSystem, u"NTFS");
    EXPECT_EQ(v[0].startSector, 2048);
    EXPECT_EQ(v[1].fileSystem, u"FAT16");
    EXPECT_EQ(v[1].startSector, 20480);
    EXPECT_EQ(v[2].fileSystem, u"extX");
    EXPECT_EQ(v[2].startSector, 38912);
    EXPECT_EQ(v[3].fileSystem, u"FAT32");
    EXPECT_EQ(v[3].sizeText, u"10   MB");
}

// A GPT disk written by sgdisk: the reserved partition is skipped, exFAT is
// "FAT64" and HFS+ has a bare size.
TEST(FixtureDisks, GptWithReservedNtfsExfatHfs) {
    std::filesystem::path p;
    if (!test::requireFixture("gpt_disk.img", p)) return;
    auto v = scanFile(p, true);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].fileSystem, u"NTFS");
    EXPECT_EQ(v[0].sizeText, u"15   MB");  // mkntfs records one sector less
    EXPECT_EQ(v[1].fileSystem, u"FAT64");
    EXPECT_EQ(v[1].sizeText, u"12  MB");
    EXPECT_EQ(v[2].fileSystem, u"HFS+");
    EXPECT_EQ(v[2].sizeText, u"2");
    // Without the GPT box the protective entry shows as "Unknown".
    auto m = scanFile(p, false);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].fileSystem, u"Unknown");
}

// The shared real-world disk: six FAT16 partitions across extended records.
TEST(FixtureDisks, RealExtendedPartitionDisk) {
    std::filesystem::path p;
    if (!test::requireTestdata("1-extend-part.zip", "1-extend-part/ext-part-test-2.dd", p)) return;
    auto v = scanFile(p, false);
    ASSERT_GE(v.size(), 6u);
    for (const auto& r : v) EXPECT_TRUE(r.fileSystem == u"FAT16" || r.fileSystem == u"FAT12" || r.fileSystem == u"FAT32" || r.fileSystem == u"Unknown") << r.startSector;
}
