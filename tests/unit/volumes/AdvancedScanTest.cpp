// The sector search for volumes: the zeroed-table disk made by the real
// tools, and hand-made sectors for what no tool writes (wild sizes,
// volumes packed back to back, headers at the image's edges).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "TestPaths.h"
#include "image/SectorSource.h"
#include "platform/ByteView.h"
#include "platform/Text.h"
#include "volumes/AdvancedVolumeScan.h"
#include "volumes/BootSignature.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {
struct Expected {
    std::string fs;
    std::int64_t start, sectors;
};
std::vector<Expected> expected() {
    std::vector<Expected> out;
    std::ifstream in(test::fixturePath("zeroed_disk.expect"));
    Expected e;
    while (in >> e.fs >> e.start >> e.sectors) out.push_back(e);
    return out;
}
std::vector<std::pair<std::string, std::int64_t>> scan(readWriteInterface& src, bool skip, std::int64_t from = 0,
                                                       std::int64_t to = 0) {
    std::vector<VolumeRecord> records;
    AdvancedVolumeScan s(records);
    s.skipVolumeSize = skip;
    s.rangeStartSector = from;
    s.rangeEndSector = to;
    EXPECT_EQ(s.run(src), 0);
    std::vector<std::pair<std::string, std::int64_t>> out;
    for (const auto& r : records) out.push_back({toUtf8(r.fileSystem), r.startSector});
    return out;
}

void storeBe32(std::span<std::uint8_t> b, std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = std::uint8_t(v >> (24 - 8 * i));
}

// Hand-made boot sectors.
void putNtfs(std::vector<std::uint8_t>& d, std::int64_t sector, std::uint64_t totalSectors) {
    auto* p = d.data() + sector * 512;
    p[0] = 0xEB, p[1] = 0x52, p[2] = 0x90;
    std::memcpy(p + 3, "NTFS    ", 8);
    storeLe16({p, 512}, 11, 512);
    storeLe64({p, 512}, 40, totalSectors);
}
void putFat16(std::vector<std::uint8_t>& d, std::int64_t sector, std::uint16_t sectors, std::uint16_t perFat = 128) {
    auto* p = d.data() + sector * 512;
    p[0] = 0xEB, p[1] = 0x3C, p[2] = 0x90;
    std::memcpy(p + 3, "MSDOS5.0", 8);
    storeLe16({p, 512}, 19, sectors);
    storeLe16({p, 512}, 22, perFat);
}
void putExfat(std::vector<std::uint8_t>& d, std::int64_t sector, std::uint64_t sectors) {
    auto* p = d.data() + sector * 512;
    p[0] = 0xEB, p[1] = 0x76, p[2] = 0x90;
    std::memcpy(p + 3, "EXFAT   ", 8);
    storeLe64({p, 512}, 72, sectors);
}
}  // namespace

TEST(AdvancedScan, FindsEveryVolumeOfTheZeroedTableDisk) {
    fs::path img;
    if (!test::requireFixture("zeroed_disk.img", img)) return;
    FileReadSeek src;
    ASSERT_TRUE(src.open(img));
    std::vector<std::pair<std::string, std::int64_t>> want;
    for (const auto& e : expected()) want.push_back({e.fs, e.start});
    ASSERT_EQ(want.size(), 6u);
    EXPECT_EQ(scan(src, true), want);  // HFS+ at its header's sector - 2

    // Without skipping: the NTFS backup boot sector in its last sector, the
    // FAT32 backup at +6, exFAT's backup region at +12 and the HFS+
    // alternate header 1024 bytes before the volume's end come too.
    auto all = scan(src, false);
    auto count = [&](const std::string& fs, std::int64_t start) {
        return std::count(all.begin(), all.end(), std::make_pair(fs, start));
    };
    for (const auto& e : want) EXPECT_EQ(count(e.first, e.second), 1) << e.first << " " << e.second;
    EXPECT_EQ(count("NTFS", 2048 + 32767), 1);
    EXPECT_EQ(count("FAT32", 34816 + 6), 1);
    EXPECT_EQ(count("FAT64", 141536 + 12), 1);
    EXPECT_EQ(all.size(), 10u);
}

// The disk made by Linux tools alone: FAT boot sectors with mkfs.fat's own
// OEM name, FAT12, and ext superblocks (1 KiB and 4 KiB blocks), each found
// once with its full length, the ext backup superblocks inside not at all.
TEST(AdvancedScan, FindsLinuxMadeVolumesByTheirStructure) {
    fs::path img;
    if (!test::requireFixture("zeroed_linux.img", img)) return;
    FileReadSeek src;
    ASSERT_TRUE(src.open(img));
    std::vector<std::tuple<std::string, std::int64_t, std::int64_t>> want, got, unskipped;
    std::ifstream in(test::fixturePath("zeroed_linux.expect"));
    Expected e;
    while (in >> e.fs >> e.start >> e.sectors) want.push_back({e.fs, e.start, e.sectors});
    ASSERT_EQ(want.size(), 6u);
    for (bool skip : {true, false}) {
        std::vector<VolumeRecord> records;
        AdvancedVolumeScan s(records);
        s.skipVolumeSize = skip;
        ASSERT_EQ(s.run(src), 0);
        for (const auto& r : records)
            (skip ? got : unskipped).push_back({toUtf8(r.fileSystem), r.startSector, r.sectors});
    }
    EXPECT_EQ(got, want);
    // Without skipping, only the NTFS and FAT32 backup boot sectors come on top.
    for (const auto& w : want) EXPECT_EQ(std::count(unskipped.begin(), unskipped.end(), w), 1);
    EXPECT_EQ(unskipped.size(), want.size() + 2) << ::testing::PrintToString(unskipped);
}

TEST(AdvancedScan, CustomRangeRulesAndStop) {
    fs::path img;
    if (!test::requireFixture("zeroed_disk.img", img)) return;
    FileReadSeek src;
    ASSERT_TRUE(src.open(img));
    // The end is tested against each window's start: start 0, end 1000
    // scans the first window (sectors 0..2047) and the one at 2048.
    auto first = scan(src, true, 0, 1000);
    EXPECT_TRUE(first.empty());
    auto second = scan(src, true, 0, 2048);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].second, 2048);
    // A start inside the disk: the volumes from there on.
    auto tail = scan(src, true, 108544, 0);
    ASSERT_EQ(tail.size(), 4u);
    EXPECT_EQ(tail[0], std::make_pair(std::string("FAT16"), std::int64_t(108544)));
    // A start at or past the end scans nothing.
    EXPECT_TRUE(scan(src, true, src.totalSectors(), 0).empty());
    EXPECT_TRUE(scan(src, true, INT64_MAX, INT64_MAX).empty());

    // Stop after the first find: it stays, the status says so.
    std::vector<VolumeRecord> records;
    RecordingReporter reporter;
    AdvancedVolumeScan s(records, reporter);
    s.onFound = [&](const VolumeRecord&) { s.stopRequested = true; };
    EXPECT_EQ(s.run(src), 0);
    EXPECT_EQ(records.size(), 1u);
    EXPECT_EQ(reporter.lastStatus(), u"Scanned Partitions");
    EXPECT_TRUE(reporter.sawStatus(u"Scanning partition....."));
    EXPECT_TRUE(reporter.sawStatus(u"found NTFS 1..."));
    EXPECT_EQ(reporter.rangeMax(), 1000);
}

TEST(AdvancedScan, HandMadeVolumesBackToBackAndWildSizes) {
    // 16 MiB image: a FAT16 volume at 2048 of 4096 sectors with an exFAT
    // volume directly behind it; an NTFS volume claiming far more sectors
    // than the image holds, followed by a FAT16 volume it would hide.
    std::vector<std::uint8_t> d(32768 * 512, 0);
    putFat16(d, 2048, 4096);
    putExfat(d, 6144, 8192);
    putNtfs(d, 14336, 0x7FFFFFFFFFFFFFull);
    putFat16(d, 20480, 4096, 200);
    // Below 1 MiB: not listed, not skipped.
    putFat16(d, 24576, 100, 256);
    MemorySource src(d);
    std::vector<std::pair<std::string, std::int64_t>> want = {
        {"FAT16", 2048}, {"FAT64", 6144}, {"NTFS", 14336}, {"FAT16", 20480}};
    EXPECT_EQ(scan(src, true), want);

    std::vector<VolumeRecord> records;
    AdvancedVolumeScan s(records);
    s.run(src);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].sizeText, u"2  MB");
    EXPECT_EQ(records[1].sizeText, u"4  MB");
    EXPECT_EQ(records[1].name, u"1");
}

TEST(AdvancedScan, ShortLastWindowAndReadErrors) {
    // An image that ends mid-window, with a volume in its last sectors.
    std::vector<std::uint8_t> d((2048 + 2100) * 512, 0);
    putFat16(d, 4100, 4096);
    MemorySource src(d);
    auto found = scan(src, true);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].second, 4100);

    // A source whose reads fail: the error code comes back.
    struct Failing : MemorySource {
        using MemorySource::MemorySource;
        bool read(void*, std::uint32_t) override {
            errno = EIO;
            return false;
        }
    } failing(d);
    std::vector<VolumeRecord> records;
    AdvancedVolumeScan s(records);
    EXPECT_EQ(s.run(failing), EIO);

    // One unreadable sector in the first window: the volumes around it,
    // in that window and behind it, are still found.
    std::vector<std::uint8_t> e(8192 * 512, 0);
    putFat16(e, 100, 4096);
    putFat16(e, 6000, 2048, 200);
    struct OneBadSector : MemorySource {
        using MemorySource::MemorySource;
        bool seek(std::int64_t offset, int origin) override {
            at = offset;
            return MemorySource::seek(offset, origin);
        }
        bool read(void* buffer, std::uint32_t bytes) override {
            if (at <= 50 * 512 && at + bytes > 50 * 512) return false;
            return MemorySource::read(buffer, bytes);
        }
        std::int64_t at = 0;
    } damaged(e);
    auto around = scan(damaged, true);
    ASSERT_EQ(around.size(), 2u);
    EXPECT_EQ(around[0].second, 100);
    EXPECT_EQ(around[1].second, 6000);
}

TEST(BootSignature, TableOfSignatures) {
    std::vector<std::uint8_t> d(8 * 512, 0);
    putExfat(d, 0, 8388608);
    BootSignature ex = classifyBootSector(ByteView(d.data(), 512), 0);
    EXPECT_EQ(ex.fileSystem, u"FAT64");
    EXPECT_EQ(ex.sizeText, u"4096  MB");
    EXPECT_EQ(ex.statusWords, u"found FAT 64...");

    putNtfs(d, 1, 204799);
    BootSignature nt = classifyBootSector(ByteView(d.data() + 512, 512), 2048);
    EXPECT_EQ(nt.sizeText, u"99   MB");
    EXPECT_EQ(nt.volumeStartSector + nt.volumeSectors, 206848);  // the first sector after the volume
    // Bytes per sector other than 512: not NTFS.
    storeLe16({d.data() + 512, 512}, 11, 4096);
    EXPECT_EQ(classifyBootSector(ByteView(d.data() + 512, 512), 2048).kind, BootKind::None);

    putFat16(d, 2, 4096, 17);
    BootSignature other = classifyBootSector(ByteView(d.data() + 1024, 512), 9);
    EXPECT_EQ(other.fileSystem, u"UNKNOWN");
    EXPECT_FALSE(other.listed());
    EXPECT_TRUE(other.statusEvenWhenUnlisted());

    // HFS+ header: volume starts two sectors earlier; not in sectors 0 and 1.
    auto* h = d.data() + 3 * 512;
    h[0] = 'H', h[1] = '+', h[2] = 0, h[3] = 4;
    storeBe32({h, 512}, 40, 4096);
    storeBe32({h, 512}, 44, 1024);
    BootSignature hfs = classifyBootSector(ByteView(h, 512), 4098);
    EXPECT_EQ(hfs.volumeStartSector, 4096);
    EXPECT_EQ(hfs.sizeText, u"4  MB");
    EXPECT_EQ(classifyBootSector(ByteView(h, 512), 1).kind, BootKind::None);
}

TEST(AdvancedScan, EverySectorABootSectorWithRandomSizesEnds) {
    // 8 MiB where every sector claims a volume of some random size; the scan
    // must end, list only starts inside the image and keep moving forward.
    std::vector<std::uint8_t> d(16384 * 512, 0);
    std::uint64_t seed = 0x9E3779B97F4A7C15ull;
    auto next = [&] { return seed = seed * 6364136223846793005ull + 1442695040888963407ull; };
    for (std::int64_t s = 0; s < 16384; ++s) {
        switch (next() % 4) {
            case 0: putNtfs(d, s, next() >> (next() % 64)); break;
            case 1: putFat16(d, s, std::uint16_t(next()), std::uint16_t(next() % 2 ? 128 : 0)); break;
            case 2: putExfat(d, s, next() >> (next() % 64)); break;
            default: {
                auto* h = d.data() + s * 512;
                h[0] = 'H', h[1] = '+', h[2] = 0;
                storeBe32({h, 512}, 40, std::uint32_t(next()));
                storeBe32({h, 512}, 44, std::uint32_t(next()));
            }
        }
    }
    MemorySource src(d);
    for (bool skip : {true, false}) {
        std::vector<VolumeRecord> records;
        RecordingReporter reporter;
        AdvancedVolumeScan s(records, reporter);
        s.skipVolumeSize = skip;
        EXPECT_EQ(s.run(src), 0);
        EXPECT_FALSE(records.empty());
        for (const auto& r : records) {
            EXPECT_GE(r.startSector, 0);
            EXPECT_LT(r.startSector, 16384);
        }
        EXPECT_LE(reporter.position(), 1000);
    }
}
