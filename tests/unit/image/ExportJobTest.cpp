// Export of the EWF fixtures to raw (whole, split, ranged) and to EWF, with
// Stop, range checks and the segment-size rule; outputs that are the input,
// damaged sources and sources that fail or lie.
#include <gtest/gtest.h>

#include <cstdlib>

#include "EwfTestSupport.h"
#include "FaultyExportInput.h"
#include "TestPaths.h"
#include "image/EwfInfo.h"
#include "image/ExportJob.h"
#include "image/ExportOutput.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {
constexpr std::uint64_t kDiskBytes = 48ull << 20;

ExportSettings settingsFor(const std::string& fixture, const fs::path& target, ExportFormat format) {
    ExportSettings s;
    s.imagePath = test::fixturePath(fixture);
    readImageInformation(s.imagePath, s.info, nullReporter());
    s.targetPath = target.string();
    s.outputFormat = format;
    return s;
}

// Concatenated MD5 of segment files, in name order.
std::string md5OfSegments(const fs::path& dir, const std::string& prefix, int* count) {
    std::vector<fs::path> parts;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(prefix, 0) == 0 && e.path().extension() != ".info")
            parts.push_back(e.path());
    std::sort(parts.begin(), parts.end());
    *count = int(parts.size());
    fs::path joined = dir / "joined.bin";
    std::ofstream out(joined, std::ios::binary);
    for (const auto& p : parts) {
        std::ifstream in(p, std::ios::binary);
        out << in.rdbuf();
    }
    out.close();
    return test::md5File(joined);
}

// Sets stopRequested once the progress passes a per-mille mark.
class StopAt : public RecordingReporter {
public:
    StopAt(std::int64_t mark) : mark_(mark) {}
    void setProgressPosition(std::int64_t position) override {
        RecordingReporter::setProgressPosition(position);
        if (job && position >= mark_ && position < 1000) job->stopRequested = true;
    }
    ExportJob* job = nullptr;

private:
    std::int64_t mark_;
};

bool ewfverifyPasses(const fs::path& e01) {
    std::string cmd = "ewfverify -q '" + e01.string() + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}
}  // namespace

TEST(ExportJob, RawExportEqualsTheMediaWholeAndSplit) {
    fs::path expect;
    if (!test::requireFixture("ewf.expect", expect)) return;
    const std::string md5 = test::ewfExpect(expect)["mbr_encase6.E01"];
    fs::path dir = test::scratchDir("export_raw");

    RecordingReporter reporter;
    ExportJob job(settingsFor("mbr_encase6.E01", dir / "disk.raw", ExportFormat::Raw), reporter);
    ExportResult r = job.run();
    EXPECT_EQ(r.outcome, ExportOutcome::Done);
    EXPECT_EQ(r.bytesCopied, kDiskBytes);
    EXPECT_EQ(r.md5, md5);
    // The image stores the acquisition MD5: the copy is checked against it.
    EXPECT_EQ(r.hashCheck, HashCheck::Verified);
    EXPECT_EQ(r.storedHash, md5);
    EXPECT_TRUE(reporter.sawMessage(u"hash verified: the copy's MD5 matches the one stored in the image"));
    // "disk.raw" is the file written, not disk.raw.raw.
    EXPECT_EQ(r.outputPath, (dir / "disk.raw").string());
    EXPECT_EQ(test::md5File(dir / "disk.raw"), md5);
    ASSERT_FALSE(reporter.messages().empty());
    EXPECT_EQ(reporter.messages().back().text, u"done");
    EXPECT_EQ(reporter.rangeMax(), 1000);
    EXPECT_EQ(reporter.position(), 1000);

    ExportSettings split = settingsFor("mbr_encase6.E01", dir / "part", ExportFormat::Raw);
    split.maximumSegmentSize = 20 << 20;
    ExportResult rs = ExportJob(split, nullReporter()).run();
    EXPECT_EQ(rs.outcome, ExportOutcome::Done);
    int parts = 0;
    EXPECT_EQ(md5OfSegments(dir, "part.raw.", &parts), md5);
    EXPECT_EQ(parts, 3);
}

TEST(ExportJob, EwfExportVerifiesAndKeepsHeaderValues) {
    fs::path e01;
    if (!test::requireFixture("mbr_ftk.E01", e01)) return;
    fs::path dir = test::scratchDir("export_ewf");
    ExportSettings s = settingsFor("mbr_ftk.E01", dir / "copy.E01", ExportFormat::Ewf);
    s.maximumSegmentSize = 20 << 20;
    ExportResult r = ExportJob(s, nullReporter()).run();
    ASSERT_EQ(r.outcome, ExportOutcome::Done);
    EXPECT_EQ(r.outputPath, (dir / "copy.E01").string());
    EXPECT_TRUE(fs::exists(dir / "copy.E03"));
    EXPECT_TRUE(ewfverifyPasses(dir / "copy.E01"));

    EwfInfoRecord info;
    ASSERT_TRUE(readImageInformation(dir / "copy.E01", info, nullReporter()));
    EXPECT_EQ(info.fileFormat, u"EnCase 6");
    EXPECT_EQ(info.sectorsPerChunk, 64u);  // FTK Imager gives none: the default
    EXPECT_EQ(info.compressionLevel, u"no compression");
    EXPECT_EQ(info.caseNumber, u"CASE-0042");
    EXPECT_EQ(info.examinerName, u"Examiner Salvage");
    EXPECT_EQ(info.softwareVersion, u"20120813");
    EXPECT_EQ(info.mediaSize, kDiskBytes);
    ASSERT_EQ(info.guid.size(), 36u);
    EXPECT_EQ(info.guid[14], u'4');  // a version-4 GUID
    OpenedImage back = openImage(dir / "copy.E01", nullReporter());
    ASSERT_NE(back.source, nullptr);
    EXPECT_EQ(test::md5Through(*back.source, kDiskBytes, 1 << 20), r.md5);
}

TEST(ExportJob, AnEarlierSetOfTheSameNameIsReplacedWhole) {
    fs::path e01;
    if (!test::requireFixture("mbr_encase6.E01", e01)) return;
    fs::path dir = test::scratchDir("export_again");
    ExportSettings s = settingsFor("mbr_encase6.E01", dir / "again", ExportFormat::Ewf);
    s.maximumSegmentSize = 20 << 20;
    ASSERT_EQ(ExportJob(s, nullReporter()).run().outcome, ExportOutcome::Done);
    ASSERT_TRUE(fs::exists(dir / "again.E03"));
    // A smaller export under the same name: no stale segment joins the set.
    s.exportSize = 1 << 20;
    ExportResult r = ExportJob(s, nullReporter()).run();
    EXPECT_FALSE(fs::exists(dir / "again.E02"));
    EXPECT_TRUE(ewfverifyPasses(dir / "again.E01"));
    OpenedImage back = openImage(dir / "again.E01", nullReporter());
    ASSERT_NE(back.source, nullptr);
    EXPECT_EQ(back.source->totalSectors(), 2048);
    EXPECT_EQ(test::md5Through(*back.source, 1 << 20, 4096), r.md5);

    s.outputFormat = ExportFormat::Raw;
    s.exportSize = 0;
    ASSERT_EQ(ExportJob(s, nullReporter()).run().outcome, ExportOutcome::Done);
    EXPECT_TRUE(fs::exists(dir / "again.raw.002"));
    s.maximumSegmentSize = 0;
    ASSERT_EQ(ExportJob(s, nullReporter()).run().outcome, ExportOutcome::Done);
    EXPECT_FALSE(fs::exists(dir / "again.raw.000"));
    EXPECT_EQ(fs::file_size(dir / "again.raw"), kDiskBytes);
}

TEST(ExportJob, RangeExportAndRangeChecks) {
    fs::path raw;
    if (!test::requireFixture("mbr_disk.img", raw) || !test::requireFixture("mbr_encase6.E01", raw)) return;
    raw = test::fixturePath("mbr_disk.img");
    fs::path dir = test::scratchDir("export_range");

    ExportSettings s = settingsFor("mbr_encase6.E01", dir / "range", ExportFormat::Raw);
    s.exportOffset = (16ull << 20) - 12345;  // across the first segment boundary
    s.exportSize = 3 * 1048576 + 17;
    ASSERT_EQ(ExportJob(s, nullReporter()).run().outcome, ExportOutcome::Done);
    EXPECT_EQ(test::fileBytes(dir / "range.raw"), test::fileBytes(raw, std::uint64_t(s.exportOffset), s.exportSize));

    // Offset 512 with the whole media size: nothing exported, no output,
    // an explanation and no "done".
    RecordingReporter reporter;
    s.targetPath = (dir / "none").string();
    s.exportOffset = 512;
    s.exportSize = std::int64_t(kDiskBytes);
    ExportResult r = ExportJob(s, reporter).run();
    EXPECT_EQ(r.outcome, ExportOutcome::RangeRejected);
    EXPECT_EQ(r.bytesCopied, 0u);
    EXPECT_FALSE(fs::exists(dir / "none.raw"));
    ASSERT_EQ(reporter.messages().size(), 1u);
    EXPECT_NE(reporter.messages()[0].text.find(u"does not fit"), std::u16string::npos);

    for (auto [offset, size] : std::vector<std::pair<std::int64_t, std::int64_t>>{
             {-512, 512}, {0, std::int64_t(kDiskBytes) + 1}, {std::int64_t(kDiskBytes), 1}, {INT64_MAX, 1}}) {
        s.exportOffset = offset;
        s.exportSize = size;
        EXPECT_EQ(ExportJob(s, nullReporter()).run().outcome, ExportOutcome::RangeRejected) << offset << " " << size;
    }
    // Size 0 exports everything from offset 0.
    s.exportOffset = 0;
    s.exportSize = 0;
    s.targetPath = (dir / "all").string();
    EXPECT_EQ(ExportJob(s, nullReporter()).run().bytesCopied, kDiskBytes);
}

TEST(ExportJob, StopNearFortyPercentLeavesAValidClosedImage) {
    fs::path raw;
    if (!test::requireFixture("mbr_encase6.E01", raw)) return;
    raw = test::fixturePath("mbr_disk.img");
    fs::path dir = test::scratchDir("export_stop");
    for (ExportFormat format : {ExportFormat::Ewf, ExportFormat::Raw}) {
        SCOPED_TRACE(format == ExportFormat::Ewf ? "ewf" : "raw");
        StopAt reporter(400);
        ExportJob job(settingsFor("mbr_encase6.E01", dir / "stopped", format), reporter);
        reporter.job = &job;
        ExportResult r = job.run();
        EXPECT_EQ(r.outcome, ExportOutcome::Stopped);
        EXPECT_FALSE(job.stopRequested.load());  // the stop request is used up
        EXPECT_GE(r.bytesCopied, kDiskBytes * 4 / 10);
        EXPECT_LT(r.bytesCopied, kDiskBytes * 43 / 100);  // Stop is polled once per 1 MiB step
        EXPECT_EQ(reporter.messages().back().text.rfind(u"stopped:", 0), 0u);
        EXPECT_FALSE(reporter.sawMessage(u"done"));
        EXPECT_NE(reporter.position(), 1000);
        EXPECT_EQ(r.hashCheck, HashCheck::NotMade);
        auto want = test::fileBytes(raw, 0, r.bytesCopied);
        // The copy's own information says it is partial.
        const auto info =
            test::fileBytes(dir / (format == ExportFormat::Ewf ? "stopped.E01.status.txt" : "stopped.raw.info"));
        EXPECT_NE(std::string(info.begin(), info.end()).find("partial copy: "), std::string::npos);
        if (format == ExportFormat::Ewf) {
            EXPECT_TRUE(ewfverifyPasses(dir / "stopped.E01"));
            OpenedImage back = openImage(dir / "stopped.E01", nullReporter());
            ASSERT_NE(back.source, nullptr);
            EXPECT_EQ(std::uint64_t(back.source->totalSectors()) * 512, r.bytesCopied);
            EXPECT_EQ(test::md5Through(*back.source, r.bytesCopied, 1 << 20), r.md5);
        } else {
            EXPECT_EQ(test::fileBytes(dir / "stopped.raw"), want);
        }
    }
}

TEST(ExportJob, SettingsRulesAndTexts) {
    EXPECT_EQ(extractedText(452), u"45.200001 % extracted");
    EXPECT_EQ(extractedText(0), u"0.000000 % extracted");
    EXPECT_EQ(ewfOutputBase("x/disk.E01"), "x/disk");
    EXPECT_EQ(rawOutputBase("x/disk.RAW"), "x/disk");
    EXPECT_EQ(rawOutputBase("x/disk.img"), "x/disk.img");

    std::uint8_t guid[16];
    randomGuid(guid);
    std::u16string text = ewfGuidText(guid);
    EXPECT_EQ(text[14], u'4');
    EXPECT_NE(std::u16string(u"89ab").find(text[19]), std::u16string::npos);

    fs::path e01;
    if (!test::requireFixture("mbr_encase6.E01", e01)) return;
    fs::path dir = test::scratchDir("export_rules");
    ExportSettings s = settingsFor("mbr_encase6.E01", dir / "seg", ExportFormat::Raw);
    s.maximumSegmentSize = 9223372036854775807ull;
    s.exportSize = 4096;
    ExportResult r = ExportJob(s, nullReporter()).run();
    EXPECT_TRUE(r.segmentSizeReplaced);
    EXPECT_EQ(r.outcome, ExportOutcome::Done);

    RecordingReporter reporter;
    s.info.sectorsPerChunk = 48;
    EXPECT_EQ(ExportJob(s, reporter).run().outcome, ExportOutcome::Failed);
    EXPECT_TRUE(reporter.sawMessage(u"Unable to set sectors per chunk."));

    RecordingReporter unopened;
    s.info.sectorsPerChunk = 0;
    s.targetPath = (dir / "no" / "such" / "folder" / "x").string();
    EXPECT_EQ(ExportJob(s, unopened).run().outcome, ExportOutcome::Failed);
    EXPECT_TRUE(unopened.sawMessage(u"Unable to open output.\n"));

    // A raw image is a source too.
    ExportSettings fromRaw;
    fromRaw.imagePath = test::fixturePath("mbr_disk.img");
    fromRaw.targetPath = (dir / "fromraw").string();
    fromRaw.exportSize = 1 << 20;
    ExportResult rr = ExportJob(fromRaw, nullReporter()).run();
    EXPECT_EQ(rr.outcome, ExportOutcome::Done);
    EXPECT_EQ(test::fileBytes(dir / "fromraw.raw"), test::fileBytes(fromRaw.imagePath, 0, 1 << 20));

    // A piece of a split raw set exports the whole set.
    const auto head = test::fileBytes(fromRaw.imagePath, 0, 3 << 20);
    std::ofstream(dir / "piece.001", std::ios::binary).write((const char*)head.data(), 1 << 20);
    std::ofstream(dir / "piece.002", std::ios::binary).write((const char*)head.data() + (1 << 20), 2 << 20);
    fromRaw.imagePath = dir / "piece.001";
    fromRaw.exportSize = 0;
    fromRaw.targetPath = (dir / "whole").string();
    EXPECT_EQ(ExportJob(fromRaw, nullReporter()).run().bytesCopied, 3u << 20);
    EXPECT_EQ(test::fileBytes(dir / "whole.raw"), head);
}

TEST(ExportJob, AnOutputThatIsAnyInputIsRefusedAndNothingIsTouched) {
    fs::path e01;
    if (!test::requireFixture("mbr_encase6.E04", e01)) return;
    fs::path dir = test::copySet("export_guard", "mbr_encase6", 4);
    // A raw image, a link and a hard link to it, and a file nobody exported.
    fs::copy_file(test::fixturePath("mbr_disk.img"), dir / "ev.raw");
    fs::create_symlink(dir / "ev.raw", dir / "link.raw");
    fs::create_hard_link(dir / "ev.raw", dir / "hard.raw");
    { std::ofstream(dir / "notes.raw") << "my notes"; }
    { std::ofstream(dir / "other.E01") << "not a segment"; }
    const std::string ev = test::md5File(dir / "ev.raw");
    const std::string e02 = test::md5File(dir / "mbr_encase6.E02");
    struct Case {
        const char* image;
        const char* target;
        ExportFormat format;
        std::uint64_t segment;
        const char* named;  // the file the refusal names
    } cases[] = {
        {"ev.raw", "ev", ExportFormat::Raw, 0, "ev.raw"},
        {"ev.raw", "ev.raw", ExportFormat::Raw, 0, "ev.raw"},
        {"ev.raw", "link", ExportFormat::Raw, 0, "link.raw"},
        {"ev.raw", "hard", ExportFormat::Ewf, 0, nullptr},  // hard.E01 is no input: allowed
        {"hard.raw", "ev", ExportFormat::Raw, 4096, "ev.raw"},
        {"mbr_encase6.E01", "mbr_encase6", ExportFormat::Ewf, 20 << 20, "mbr_encase6.E01"},
        {"mbr_encase6.E01", "mbr_encase6.E01", ExportFormat::Ewf, 0, "mbr_encase6.E01"},
        {"ev.raw", "notes", ExportFormat::Raw, 0, "notes.raw"},
        {"ev.raw", "other", ExportFormat::Ewf, 0, "other.E01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " -> " + c.target);
        ExportSettings s;
        s.imagePath = dir / c.image;
        s.targetPath = (dir / c.target).string();
        s.outputFormat = c.format;
        s.maximumSegmentSize = c.segment;
        s.exportSize = 4096;
        RecordingReporter reporter;
        ExportResult r = ExportJob(s, reporter).run();
        if (!c.named) {
            EXPECT_EQ(r.outcome, ExportOutcome::Done);
            continue;
        }
        EXPECT_EQ(r.outcome, ExportOutcome::Refused);
        ASSERT_EQ(reporter.messages().size(), 1u);
        EXPECT_NE(toUtf8(reporter.messages()[0].text).find((dir / c.named).string()), std::string::npos);
    }
    EXPECT_EQ(test::md5File(dir / "ev.raw"), ev);
    EXPECT_EQ(test::md5File(dir / "mbr_encase6.E02"), e02);
    EXPECT_TRUE(fs::exists(dir / "mbr_encase6.E04"));
    EXPECT_EQ(fs::file_size(dir / "notes.raw"), 8u);
    EXPECT_EQ(fs::file_size(dir / "other.E01"), 13u);
}

TEST(ExportJob, DamagedSegmentSetsNeverEndDone) {
    fs::path e01;
    if (!test::requireFixture("mbr_encase6.E04", e01) || !test::requireFixture("mbr_ftk.E01", e01)) return;
    const auto disk = test::fileBytes(test::fixturePath("mbr_disk.img"));
    fs::path missing = test::copySet("export_missing", "mbr_encase6", 4);
    fs::remove(missing / "mbr_encase6.E02");
    fs::path truncated = test::copySet("export_truncated", "mbr_encase6", 4);
    fs::resize_file(truncated / "mbr_encase6.E02", fs::file_size(truncated / "mbr_encase6.E02") / 2);
    fs::path badChunk = test::scratchDir("export_badchunk");
    ASSERT_TRUE(test::copyWithBadChunk(test::fixturePath("mbr_ftk.E01"), badChunk / "bad.E01"));
    for (const fs::path& image : {missing / "mbr_encase6.E01", truncated / "mbr_encase6.E01", badChunk / "bad.E01"}) {
        for (bool goOn : {false, true}) {
            SCOPED_TRACE(image.string() + (goOn ? " continue" : " stop"));
            ExportSettings s;
            s.imagePath = image;
            s.targetPath = (image.parent_path() / (goOn ? "on" : "off")).string();
            s.continueOnError = goOn;
            RecordingReporter reporter;
            ExportResult r = ExportJob(s, reporter).run();
            EXPECT_FALSE(reporter.sawMessage(u"done"));
            const auto out = test::fileBytes(r.outputPath);
            const auto info = test::fileBytes(image.parent_path() / (goOn ? "on.raw.info" : "off.raw.info"));
            const std::string infoText(info.begin(), info.end());
            if (!goOn) {
                ASSERT_EQ(r.outcome, ExportOutcome::ReadFailed);
                // The bytes before the failure are the image's; no zeros pass as data.
                EXPECT_EQ(r.bytesCopied, r.failedAt);
                ASSERT_EQ(out.size(), r.bytesCopied);
                EXPECT_TRUE(std::equal(out.begin(), out.end(), disk.begin()));
                EXPECT_NE(infoText.find("partial copy"), std::string::npos);
                continue;
            }
            ASSERT_EQ(r.outcome, ExportOutcome::Damaged);
            ASSERT_EQ(out.size(), disk.size());
            ASSERT_FALSE(r.unreadable.empty());
            EXPECT_NE(infoText.find("unreadable ranges written as zeros"), std::string::npos);
            // Zeros exactly in the listed ranges; the image's bytes elsewhere.
            std::vector<std::uint8_t> want = disk;
            for (const ByteRange& b : r.unreadable) std::fill_n(want.begin() + b.offset, b.length, 0);
            EXPECT_TRUE(out == want);
            if (image.filename() == "bad.E01") {
                ASSERT_EQ(r.unreadable.size(), 1u);
                EXPECT_LE(r.unreadable[0].offset, 1u << 20);
                EXPECT_GT(r.unreadable[0].offset + r.unreadable[0].length, 1u << 20);
                EXPECT_LE(r.unreadable[0].length, 64u << 10);
            }
        }
    }
}

TEST(ExportJob, FaultyAndLyingInputsAndStoredHashes) {
    test::FaultyExportInput base;
    base.media.resize(1 << 20);
    for (std::size_t i = 0; i < base.media.size(); ++i) base.media[i] = std::uint8_t(i * 7 + (i >> 12));
    ExportSettings plain;
    plain.imagePath = "memory";
    fs::path dir = test::scratchDir("export_faulty");
    // The MD5 of the media, as an acquisition would store it.
    { std::ofstream(dir / "media.bin", std::ios::binary).write((const char*)base.media.data(), base.media.size()); }
    const std::string md5 = test::md5File(dir / "media.bin");

    struct Case {
        const char* what;
        std::vector<ByteRange> failing, damaging, lies;
        std::string storedMd5;
        bool goOn;
        ExportOutcome want;
        std::uint64_t failedAt;
    } cases[] = {
        {"clean, hash verified", {}, {}, {}, md5, false, ExportOutcome::Done, 0},
        {"clean, stored hash differs", {}, {}, {}, std::string(32, '0'), false, ExportOutcome::HashMismatch, 0},
        {"a read fails", {{300000, 1}}, {}, {}, md5, false, ExportOutcome::ReadFailed, 299008},
        {"a read fails, go on", {{300000, 1}}, {}, {}, md5, true, ExportOutcome::Damaged, 0},
        {"reported damage", {}, {{5000, 10}}, {}, "", false, ExportOutcome::ReadFailed, 5000},
        {"reported damage, go on", {}, {{5000, 10}}, {}, "", true, ExportOutcome::Damaged, 0},
        {"damage claimed outside the media", {}, {}, {{2u << 20, 100}, {UINT64_MAX - 5, 100}}, md5, false,
         ExportOutcome::Done, 0},
        {"damage claimed inside", {}, {}, {{1000, 1}}, md5, true, ExportOutcome::Damaged, 0},
        // Chunks read one by one after a failed read: damage a good chunk
        // reports further on must not swallow the failed chunk's range.
        {"a read fails, go on, damage claimed past it", {{300000, 1}}, {}, {{2u << 20, 100}}, md5, true,
         ExportOutcome::Damaged, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::FaultyExportInput input = base;
        input.failing = c.failing;
        input.damaging = c.damaging;
        input.lies = c.lies;
        input.md5 = c.storedMd5;
        ExportSettings s = plain;
        s.targetPath = (dir / "out").string();
        s.continueOnError = c.goOn;
        RecordingReporter reporter;
        ExportResult r = ExportJob(s, reporter).run(&input);
        EXPECT_EQ(r.outcome, c.want);
        EXPECT_EQ(reporter.sawMessage(u"done"), c.want == ExportOutcome::Done);
        if (c.want == ExportOutcome::ReadFailed) EXPECT_EQ(r.failedAt, c.failedAt);
        if (c.want == ExportOutcome::Damaged) {
            // Every listed byte is inside the media and zero in the output;
            // every other byte is the media's.
            const auto out = test::fileBytes(dir / "out.raw");
            ASSERT_EQ(out.size(), base.media.size());
            auto want = base.media;
            for (const ByteRange& b : r.unreadable) {
                ASSERT_LE(b.offset + b.length, out.size());
                std::fill_n(want.begin() + std::ptrdiff_t(b.offset), b.length, 0);
            }
            EXPECT_TRUE(out == want);
        }
    }
}
