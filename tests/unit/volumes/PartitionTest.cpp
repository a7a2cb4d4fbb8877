#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "TestPaths.h"
#include "image/SectorSource.h"
#include "platform/ByteView.h"
#include "platform/Text.h"
#include "volumes/Partition.h"

using namespace salvage;

namespace {
// A disk image in memory with helpers to lay down tables and boot sectors.
struct Disk {
    std::vector<std::uint8_t> bytes;
    explicit Disk(std::size_t sectors) : bytes(sectors * 512, 0) {}
    std::span<std::uint8_t> sector(std::int64_t s) { return {bytes.data() + s * 512, 512}; }
    void entry(std::int64_t tableSector, int i, std::uint8_t type, std::uint32_t start, std::uint32_t count) {
        auto s = sector(tableSector);
        std::size_t off = 446 + 16 * std::size_t(i);
        s[off + 4] = type;
        storeLe32(s, off + 8, start);
        storeLe32(s, off + 12, count);
        s[510] = 0x55;
        s[511] = 0xAA;
    }
    void ntfsBoot(std::int64_t at, std::uint64_t total) {
        auto s = sector(at);
        s[0] = 0xEB; s[1] = 0x52; std::memcpy(&s[3], "NTFS    ", 8);
        storeLe16(s, 11, 512);
        storeLe64(s, 40, total);
    }
    void exfatBoot(std::int64_t at, std::uint64_t length) {
        auto s = sector(at);
        s[0] = 0xEB; s[1] = 0x76; std::memcpy(&s[3], "EXFAT   ", 8);
        storeLe64(s, 72, length);
    }
    void fatBoot(std::int64_t at, std::uint8_t jump, std::uint16_t perFat, std::uint16_t total16, std::uint32_t total32) {
        auto s = sector(at);
        s[0] = 0xEB; s[1] = jump; std::memcpy(&s[3], "MSDOS5.0", 8);
        storeLe16(s, 19, total16);
        storeLe16(s, 22, perFat);
        storeLe32(s, 32, total32);
    }
    void gptEntry(int i, std::int64_t first, std::int64_t last, std::u16string name, std::int64_t arrayLba = 2) {
        storeLe64(sector(1), 72, std::uint64_t(arrayLba));
        auto e = std::span<std::uint8_t>(bytes.data() + arrayLba * 512 + 128 * std::size_t(i), 128);
        e[0] = 0xA2; e[1] = 0xA0; e[2] = 0xD0; e[3] = 0xEB;
        storeLe64(e, 32, std::uint64_t(first));
        storeLe64(e, 40, std::uint64_t(last));
        for (std::size_t k = 0; k < name.size() && k < 36; ++k) storeLe16(e, 56 + 2 * k, name[k]);
    }
};

std::vector<VolumeRecord> scan(Disk& d, bool gpt, int* rc = nullptr, RecordingReporter* rep = nullptr) {
    MemorySource src(d.bytes);
    src.baseOffset = 12345;  // the scan sets it to 0 itself
    std::vector<VolumeRecord> out;
    RecordingReporter local;
    Partition p(out, rep ? *rep : local);
    p.useGpt = gpt;
    int r = scanPartitionTables(src, p);
    if (rc) *rc = r;
    return out;
}
}  // namespace

TEST(MbrScan, ExtendedEntryEndsThePrimaryWalkAndTheChainFollows) {
    Disk d(4096);
    d.entry(0, 0, 0x07, 100, 1000000);
    d.entry(0, 1, 0x05, 2000, 2000);
    d.entry(0, 2, 0x0B, 3000, 500);  // after the extended entry: not listed
    d.ntfsBoot(100, 999999);
    d.entry(2000, 0, 0x83, 10, 4096);
    d.entry(2000, 1, 0x05, 500, 1000);
    d.entry(2500, 0, 0x06, 10, 2048 * 3);
    d.entry(2500, 1, 0x05, 800, 1000);
    d.entry(2800, 0, 0x07, 5, 2048);
    RecordingReporter rep;
    int rc = -1;
    auto v = scan(d, false, &rc, &rep);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].fileSystem, u"NTFS");
    EXPECT_EQ(v[0].sizeText, u"488   MB");
    EXPECT_EQ(v[0].startSector, 100);
    EXPECT_EQ(v[1].fileSystem, u"extX");
    EXPECT_EQ(v[1].startSector, 2010);
    EXPECT_EQ(v[1].sizeText, u"2   MB");
    EXPECT_EQ(v[2].fileSystem, u"FAT16");
    EXPECT_EQ(v[2].startSector, 2000 + 500 + 10);
    EXPECT_EQ(v[3].fileSystem, u"NTFS");
    EXPECT_EQ(v[3].startSector, 2000 + 800 + 5);
    EXPECT_EQ(v[3].name, u"3");
    EXPECT_TRUE(rep.sawStatus(u"found NTFS 1..."));
    EXPECT_TRUE(rep.sawStatus(u"found extx..."));
    EXPECT_TRUE(rep.sawStatus(u"found NTFS..."));
}

TEST(MbrScan, ZeroTypeFirstEndsTheWalkAndExfatIsFat64) {
    Disk d(512);
    d.entry(0, 1, 0x07, 100, 4096);
    EXPECT_TRUE(scan(d, false).empty());

    Disk e(512);
    e.entry(0, 0, 0x07, 100, 4096);
    e.exfatBoot(100, 4096);
    auto v = scan(e, false);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].fileSystem, u"FAT64");
}

TEST(MbrScan, LoopingOrOutOfRangeChainsEnd) {
    Disk d(4096);
    d.entry(0, 0, 0x0F, 2000, 100);
    d.entry(2000, 0, 0x83, 1, 2048);
    d.entry(2000, 1, 0x05, 0, 100);  // links back to itself
    auto v = scan(d, false);
    EXPECT_EQ(v.size(), std::size_t(kMaxExtendedBootRecords));

    Disk far(16);
    far.entry(0, 0, 0x05, 0xFFFFFF00u, 100);  // past the end of the image
    int rc = 0;
    EXPECT_TRUE(scan(far, false, &rc).empty());
    EXPECT_NE(rc, 0);
}

TEST(MbrScan, TruncatedAndZeroImages) {
    Disk zero(64);
    EXPECT_TRUE(scan(zero, false).empty());
    Disk tiny(0);
    int rc = 0;
    EXPECT_TRUE(scan(tiny, false, &rc).empty());
    EXPECT_NE(rc, 0);
    EXPECT_TRUE(scan(tiny, true, &rc).empty());
}

TEST(GptScan, ReservedSkippedHfsBareSizeFatAndSmallVolumes) {
    Disk d(200000);
    d.gptEntry(0, 40, 100, u"Microsoft reserved partition");
    d.gptEntry(1, 2048, 2048 + 2048 * 10, u"Basic data partition");
    d.ntfsBoot(2048, 2048 * 10);
    d.gptEntry(2, 30000, 30000 + 953 * 2048, u"Mac");
    d.sector(30002)[0] = 'H';
    d.sector(30002)[1] = '+';
    d.gptEntry(3, 40000, 80000, u"fat16");
    d.fatBoot(40000, 0x3C, 200, 40000, 0);
    d.gptEntry(4, 90000, 91000, u"odd");
    d.fatBoot(90000, 0x3C, 17, 40000, 0);  // neither 0, 200 nor 256
    d.gptEntry(5, 100000, 110000, u"unnamed-ish");
    auto v = scan(d, true);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].fileSystem, u"NTFS");
    EXPECT_EQ(v[0].sizeText, u"10   MB");
    EXPECT_EQ(v[0].name, u"0");
    EXPECT_EQ(v[1].fileSystem, u"HFS+");
    EXPECT_EQ(v[1].sizeText, u"953");
    EXPECT_EQ(v[2].fileSystem, u"FAT16");
    EXPECT_EQ(v[2].sizeText, u"19  MB");
    EXPECT_EQ(v[3].fileSystem, u"unnamed-ish");
    EXPECT_EQ(v[3].startSector, 100000);
}

TEST(GptScan, EntryListEndsAtLba2AndNamesStayInTheirField) {
    Disk d(4096);
    d.gptEntry(0, 100, 200, std::u16string(36, u'A'));  // no terminating zero
    d.gptEntry(1, 2, 300, u"ends");
    d.gptEntry(2, 400, 500, u"never");
    auto v = scan(d, true);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].fileSystem, std::u16string(36, u'A'));

    Disk far(8);
    storeLe64(far.sector(1), 72, 0x7FFFFFFFFFFFFFFFull);  // entry array far away
    EXPECT_TRUE(scan(far, true).empty());
}

// Sector 0 that is a volume's own boot sector or superblock: one bare volume
// at sector 0 with its exact length, whatever its boot code would read as
// partition entries; a real table still wins over a superblock behind it.
TEST(BareVolume, BootSectorOrSuperblockAtSectorZero) {
    struct Case {
        const char* what;
        std::function<void(Disk&)> lay;
        std::u16string fs;  // empty: not a bare volume
        std::int64_t sectors;
    };
    auto floppy = [](Disk& d) {
        auto s = d.sector(0);
        s[0] = 0xEB, s[1] = 0x3C, s[2] = 0x90;
        std::memcpy(&s[3], "mkfs.fat", 8);
        storeLe16(s, 11, 512);
        s[13] = 1;                 // sectors per cluster
        storeLe16(s, 14, 1);       // reserved
        s[16] = 2;                 // FATs
        storeLe16(s, 17, 224);     // root entries
        storeLe16(s, 19, 2880);    // sectors
        s[21] = 0xF0;
        storeLe16(s, 22, 9);       // sectors per FAT
        for (std::size_t i = 446; i < 510; ++i) s[i] = std::uint8_t(i * 7);  // boot code that looks like entries
        s[510] = 0x55, s[511] = 0xAA;
    };
    auto ext = [](Disk& d) {
        auto sb = d.sector(2);
        storeLe32(sb, 0, 1024);    // inodes
        storeLe32(sb, 4, 4096);    // blocks
        storeLe32(sb, 20, 1);      // first data block (1 KiB blocks)
        storeLe32(sb, 24, 0);
        storeLe32(sb, 32, 8192);   // blocks per group
        storeLe32(sb, 40, 1024);   // inodes per group
        storeLe16(sb, 56, 0xEF53);
    };
    const std::vector<Case> cases = {
        {"FAT12 floppy", floppy, u"FAT12", 2880},
        {"FAT16 by cluster count", [&](Disk& d) { floppy(d); storeLe16(d.sector(0), 19, 20000); d.sector(0)[13] = 4; storeLe16(d.sector(0), 22, 20); }, u"FAT16", 20000},
        {"NTFS", [](Disk& d) { d.ntfsBoot(0, 4095); }, u"NTFS", 4096},
        {"ext, 1 KiB blocks", ext, u"extX", 8192},
        {"ext backup superblock", [&](Disk& d) { ext(d); storeLe16(d.sector(2), 90, 1); }, u"", 0},
        {"ext with the wrong first data block", [&](Disk& d) { ext(d); storeLe32(d.sector(2), 20, 0); }, u"", 0},
        {"table before a superblock", [&](Disk& d) { ext(d); d.entry(0, 0, 0x83, 2048, 2000); }, u"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Disk d(9000);
        c.lay(d);
        auto v = scan(d, false);
        if (c.fs.empty()) {
            for (const auto& r : v) EXPECT_NE(r.startSector, 0);
            continue;
        }
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(v[0].fileSystem, c.fs);
        EXPECT_EQ(v[0].startSector, 0);
        EXPECT_EQ(v[0].sectors, c.sectors);
        EXPECT_EQ(volumeBytes(v[0]), c.sectors * 512);
        EXPECT_EQ(v[0].fit, c.sectors <= 9000 ? ImageFit::Inside : ImageFit::RunsPast);
        EXPECT_EQ(scan(d, true).size(), 1u);  // --gpt too
    }
}

TEST(BareVolume, ExtentIsCheckedAndClippedToTheImage) {
    VolumeRecord r;
    r.startSector = 100;
    r.sectors = 50;
    ASSERT_TRUE(extentOf(r, 1000));
    EXPECT_EQ(extentOf(r, 1000)->bytes(), 50 * 512);
    EXPECT_FALSE(extentOf(r, 1000)->clipped);
    EXPECT_EQ(extentOf(r, 120)->sectors, 20);  // runs past: clipped
    EXPECT_TRUE(extentOf(r, 120)->clipped);
    EXPECT_EQ(fitInImage(r, 120), ImageFit::RunsPast);
    EXPECT_FALSE(extentOf(r, 100));             // starts at the end
    EXPECT_EQ(fitInImage(r, 100), ImageFit::Outside);
    r.sectors = -1;
    r.sizeText = u"0";
    EXPECT_EQ(extentOf(r, 1000)->sectors, 900);  // no size: the rest of the image
    r.sizeText = u"2   MB";
    EXPECT_EQ(volumeBytes(r), 2 * 1048576);
    r.startSector = -5;
    EXPECT_FALSE(extentOf(r, 1000));
}
