// The EWF reader against images acquired with ewfacquire from a known raw
// disk, the shared two-segment image, and damaged segment sets.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "EwfTestSupport.h"
#include "TestPaths.h"
#include "image/EwfReader.h"
#include "image/Globals.h"
#include "image/ImageOpen.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {
constexpr std::uint64_t kMbrDiskBytes = 48ull << 20;

bool fixtureSet(fs::path& expectFile) { return test::requireFixture("ewf.expect", expectFile); }

}  // namespace

TEST(EwfReader, EveryFormatReadsTheRawDiskByteForByte) {
    fs::path expectFile;
    if (!fixtureSet(expectFile)) return;
    auto expect = test::ewfExpect(expectFile);
    ASSERT_EQ(expect.size(), 5u);
    for (const auto& [name, md5] : expect) {
        SCOPED_TRACE(name);
        OpenedImage img = openImage(test::fixturePath(name), nullReporter());
        ASSERT_NE(img.source, nullptr);
        EXPECT_EQ(img.kind, ImageKind::Ewf);
        EXPECT_EQ(img.source->totalSectors(), std::int64_t(kMbrDiskBytes / 512));
        EXPECT_EQ(test::md5Through(*img.source, kMbrDiskBytes, 1 << 20), md5);
    }
}

TEST(EwfReader, ReadsAcrossSegmentBoundariesMatchTheRawDisk) {
    fs::path raw;
    if (!test::requireFixture("mbr_encase6.E03", raw) || !test::requireFixture("mbr_disk.img", raw)) return;
    FileReadSeekEWf reader;
    ASSERT_TRUE(reader.open(test::fixturePath("mbr_encase6.E01")));
    // An odd read size puts reads across every segment and chunk boundary.
    std::ifstream in(raw, std::ios::binary);
    ASSERT_EQ(test::md5Through(reader, kMbrDiskBytes, 999999), test::md5File(raw));
    // A read straddling each 16 MiB segment boundary, compared directly.
    for (std::uint64_t boundary : {16ull << 20, 32ull << 20}) {
        for (std::uint64_t at = boundary - 70000; at < boundary + 70000; at += 33333) {
            std::vector<std::uint8_t> got(65536, 0xAA);
            ASSERT_TRUE(readAt(reader, std::int64_t(at), got.data(), std::uint32_t(got.size())));
            EXPECT_EQ(got, test::fileBytes(raw, at, got.size())) << at;
        }
    }
    // A wildcard naming the segments opens the same set.
    FileReadSeekEWf byPattern;
    ASSERT_TRUE(byPattern.open(test::fixturePath("mbr_encase6.E0?")));
    EXPECT_EQ(byPattern.mediaSize(), kMbrDiskBytes);
}

TEST(EwfReader, SharedTwoSegmentImageMatchesItsRawCopy) {
    fs::path raw;
    if (!test::requireTestdata("image-split.raw.gz", "", raw)) return;
    OpenedImage img = openImage(test::testdataDir() / "image-split.E01", nullReporter());
    ASSERT_NE(img.source, nullptr);
    const std::uint64_t size = fs::file_size(raw);
    EXPECT_EQ(size, 2880u * 512);
    EXPECT_EQ(test::md5Through(*img.source, size, 4096), "38ea5af8a80e16e46c095c9110242fc0");
    EXPECT_EQ(test::md5Through(*img.source, size, 1000), test::md5File(raw));
}

TEST(EwfReader, ReadsPastTheMediaEndZeroFillAndNeverMove) {
    fs::path e01;
    if (!test::requireFixture("mbr_ftk.E01", e01)) return;
    FileReadSeekEWf reader;
    ASSERT_TRUE(reader.open(e01));
    EXPECT_EQ(g_totalSectors, std::int64_t(kMbrDiskBytes / 512));
    auto raw = test::fileBytes(test::fixturePath("mbr_disk.img"), kMbrDiskBytes - 100, 100);

    // Stale bytes of an earlier read must never survive past the data.
    std::vector<std::uint8_t> buf(512, 0xAA);
    ASSERT_TRUE(reader.seek(std::int64_t(kMbrDiskBytes) - 100));
    EXPECT_TRUE(reader.read(buf.data(), 512));
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), buf.begin()));
    EXPECT_TRUE(std::all_of(buf.begin() + 100, buf.end(), [](auto b) { return b == 0; }));

    std::fill(buf.begin(), buf.end(), 0xAA);
    ASSERT_TRUE(reader.seek(std::int64_t(kMbrDiskBytes)));
    EXPECT_TRUE(reader.read(buf.data(), 512));
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](auto b) { return b == 0; }));

    // Two reads without a seek give the same bytes; seek adds baseOffset.
    reader.baseOffset = 63 * 512;
    ASSERT_TRUE(reader.seek(0));
    EXPECT_EQ(reader.position, 32256);
    std::vector<std::uint8_t> a(4096), b(4096);
    ASSERT_TRUE(reader.read(a.data(), 4096));
    ASSERT_TRUE(reader.read(b.data(), 4096));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, test::fileBytes(test::fixturePath("mbr_disk.img"), 32256, 4096));
}

TEST(EwfReader, OpenFailuresAreQuietAndBadChunkSizesAreRefused) {
    RecordingReporter reporter;
    FileReadSeekEWf reader(reporter);
    EXPECT_FALSE(reader.open(test::scratchDir("ewf_nomatch") / "nothing*.E01"));
    EXPECT_FALSE(reader.open("/nonexistent/image.E01"));
    EXPECT_TRUE(reporter.messages().empty());

    fs::path e01;
    if (!test::requireFixture("mbr_encase6.E01", e01)) return;
    EwfInfoRecord info;
    info.sectorsPerChunk = 100;
    FileReadSeekEWf checked(reporter, &info);
    EXPECT_FALSE(checked.open(e01));
    EXPECT_TRUE(reporter.sawMessage(u"Unable to set sectors per chunk."));
    // Information recorded for a larger image than the one opened.
    info = EwfInfoRecord{};
    info.mediaSize = kMbrDiskBytes + 512;
    FileReadSeekEWf larger(nullReporter(), &info);
    EXPECT_FALSE(larger.open(e01));
}

TEST(EwfReader, DamagedSegmentSetsFailCleanly) {
    fs::path e01;
    if (!test::requireFixture("mbr_encase6.E04", e01)) return;
    // A missing middle segment: the first segment's data stays readable
    // (evidence is not refused for what it does hold); every read of the
    // missing part and beyond fails and delivers zeros.
    {
        fs::path dir = test::copySet("ewf_missing", "mbr_encase6", 4);
        fs::remove(dir / "mbr_encase6.E02");
        FileReadSeekEWf reader;
        ASSERT_TRUE(reader.open(dir / "mbr_encase6.E01"));
        std::vector<std::uint8_t> buf(1 << 20, 0xAA);
        EXPECT_TRUE(readAt(reader, 0, buf.data(), 4096));
        for (std::int64_t at : {20ll << 20, 40ll << 20}) {
            std::fill(buf.begin(), buf.end(), 0xAA);
            EXPECT_FALSE(readAt(reader, at, buf.data(), std::uint32_t(buf.size()))) << at;
        }
    }
    // A truncated segment: either the open fails or the reads past the cut do.
    {
        fs::path dir = test::copySet("ewf_truncated", "mbr_encase6", 4);
        fs::resize_file(dir / "mbr_encase6.E02", fs::file_size(dir / "mbr_encase6.E02") / 2);
        FileReadSeekEWf reader;
        if (reader.open(dir / "mbr_encase6.E01")) {
            std::vector<std::uint8_t> buf(1 << 20);
            bool allRead = true;
            for (std::int64_t at = 0; at < std::int64_t(kMbrDiskBytes); at += std::int64_t(buf.size()))
                allRead = readAt(reader, at, buf.data(), std::uint32_t(buf.size())) && allRead;
            EXPECT_FALSE(allRead);
        }
    }
    // A first segment cut inside its header sections.
    {
        fs::path dir = test::copySet("ewf_stub", "mbr_encase6", 1);
        fs::resize_file(dir / "mbr_encase6.E01", 100);
        RecordingReporter reporter;
        EwfInfoRecord info;
        EXPECT_FALSE(readImageInformation(dir / "mbr_encase6.E01", info, reporter));
        EXPECT_FALSE(openImage(dir / "mbr_encase6.E01", nullReporter()).source);
    }
}

TEST(EwfReader, ChunkFailingItsChecksumReadsAsZerosAndFails) {
    fs::path e01;
    if (!test::requireFixture("mbr_ftk.E01", e01)) return;
    // The NTFS boot sector at 1 MiB is stored uncompressed; change one byte
    // of it inside the segment file so its chunk fails its checksum.
    fs::path dir = test::scratchDir("ewf_badchunk");
    ASSERT_TRUE(test::copyWithBadChunk(e01, dir / "bad.E01"));
    FileReadSeekEWf reader;
    ASSERT_TRUE(reader.open(dir / "bad.E01"));
    std::vector<std::uint8_t> buf(512, 0xAA);
    EXPECT_FALSE(readAt(reader, 2048 * 512, buf.data(), 512));
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](auto b) { return b == 0; }));
    EXPECT_GE(reader.checksumErrors(), 1u);
    // The chunks around it read normally.
    auto raw = test::fileBytes(test::fixturePath("mbr_disk.img"), 0, 512);
    ASSERT_TRUE(readAt(reader, 0, buf.data(), 512));
    EXPECT_EQ(buf, raw);
}
