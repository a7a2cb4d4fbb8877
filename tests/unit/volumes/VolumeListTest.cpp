// The volume list model: rows after both kinds of scan, filtering, custom
// entries and the routing of "Next".
#include <gtest/gtest.h>

#include "platform/Text.h"
#include "volumes/VolumeList.h"

using namespace salvage;

namespace {
VolumeRecord rec(const char16_t* fs, const char16_t* size, std::int64_t start, const char16_t* name = u"") {
    return VolumeRecord{fs, name, size, start};
}
std::vector<std::u16string> names(const VolumeList& l) {
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < l.rowCount(); ++i) out.push_back(l.rowText(i).volume);
    return out;
}
}  // namespace

TEST(VolumeList, StandardRowsInArrayOrderAndAdvancedNewestFirst) {
    VolumeList standard(ScanMode::Standard);
    standard.records() = {rec(u"NTFS", u"8   MB", 2048), rec(u"FAT16", u"8   MB", 20480), rec(u"extX", u"8   MB", 38912)};
    standard.showStandardResults();
    EXPECT_EQ(names(standard), (std::vector<std::u16string>{u"0", u"1", u"2"}));
    EXPECT_EQ(standard.rowText(2).startSector, u"38912");

    VolumeList advanced(ScanMode::Advanced);
    advanced.addScannedRecord(rec(u"NTFS", u"99   MB", 2048, u"0"));
    advanced.addScannedRecord(rec(u"FAT32", u"36  MB", 206848, u"1"));
    EXPECT_EQ(names(advanced), (std::vector<std::u16string>{u"1", u"0"}));
    // A custom entry after two finds: named "2", on top, "CUSTOM " size "0".
    advanced.addCustomVolume();
    EXPECT_EQ(names(advanced), (std::vector<std::u16string>{u"2", u"1", u"0"}));
    EXPECT_EQ(advanced.rowText(0).fileSystem, u"CUSTOM ");
    EXPECT_EQ(advanced.rowText(0).volumeSize, u"0");
    EXPECT_EQ(advanced.selectedRow(), 0u);
    EXPECT_TRUE(advanced.customSettings);
    EXPECT_EQ(advanced.startText, u"0");
    EXPECT_EQ(advanced.endText, u"0");
    // After a standard scan the custom row goes to the end.
    standard.addCustomVolume();
    EXPECT_EQ(names(standard).back(), u"3");
    EXPECT_EQ(standard.selectedRow(), 3u);
}

TEST(VolumeList, FilterKeepsRecordsThatFollowTheirPredecessorBySectorOne) {
    for (ScanMode mode : {ScanMode::Standard, ScanMode::Advanced}) {
        VolumeList l(mode);
        for (std::int64_t start : {63, 64, 2048, 2049, 5000}) {
            if (mode == ScanMode::Advanced) l.addScannedRecord(rec(u"NTFS", u"1   MB", start));
            else l.records().push_back(rec(u"NTFS", u"1   MB", start));
        }
        if (mode == ScanMode::Standard) l.showStandardResults();
        l.selectRow(0);
        l.filterEntries();
        EXPECT_EQ(names(l), (std::vector<std::u16string>{u"3", u"1"}));
        EXPECT_EQ(l.rowRecord(0).startSector, 2049);
        EXPECT_EQ(l.rowRecord(1).startSector, 64);
        EXPECT_FALSE(l.selectedRow());
        EXPECT_EQ(l.records().size(), 5u);
    }
    VolumeList single(ScanMode::Standard);
    single.records().push_back(rec(u"NTFS", u"1   MB", 2048));
    single.showStandardResults();
    single.filterEntries();
    EXPECT_EQ(single.rowCount(), 0u);
}

TEST(VolumeList, SelectAndClickFillTheCustomControls) {
    VolumeList l(ScanMode::Standard);
    l.records() = {rec(u"NTFS", u"488   MB", 2048), rec(u"extX", u"0", 9000), rec(u"Basic data partition", u"5  MB", 1)};
    l.showStandardResults();
    l.selectRow(0);
    EXPECT_EQ(l.selectedVolumeText, u"0");
    EXPECT_EQ(l.startText, u"2048");
    EXPECT_EQ(l.endText, u"1001471");
    l.clickRow(0);
    EXPECT_EQ(kTreatAsChoices[*l.treatAs], u"NTFS");
    l.selectRow(1);
    EXPECT_EQ(l.endText, u"0");
    l.clickRow(1);  // "extX" finds "EXTX"
    EXPECT_EQ(kTreatAsChoices[*l.treatAs], u"EXTX");
    l.clickRow(2);  // a GPT name finds nothing: the choice stays
    EXPECT_EQ(kTreatAsChoices[*l.treatAs], u"EXTX");

    EXPECT_EQ(VolumeList::stepped(u"0", -1), u"0");
    EXPECT_EQ(VolumeList::stepped(u"41", +1), u"42");
    EXPECT_EQ(numberBoxValue(u"abc"), 0);
    EXPECT_EQ(numberBoxValue(u"  -12x"), -12);
    EXPECT_EQ(numberBoxValue(u"99999999999999999999999"), INT64_MAX);
}

TEST(VolumeList, ProceedRoutesAndCustomSettings) {
    RecordingReporter reporter;
    VolumeList l(ScanMode::Standard, reporter);
    l.records() = {rec(u"NTFS", u"100   MB", 2048), rec(u"UNKNOWN", u"5  MB", 300000)};
    l.showStandardResults();

    EXPECT_EQ(l.proceed().route, ProceedRoute::Stay);
    EXPECT_TRUE(reporter.sawMessage(u"please select a valid volume."));

    // "UNKNOWN" cannot be parsed without custom settings.
    l.selectRow(1);
    EXPECT_EQ(l.proceed().route, ProceedRoute::Stay);
    EXPECT_TRUE(reporter.sawMessage(u"can not parse unknown volume"));

    // Custom: start 2048, end 206847, "NTFS" -> "ntfs", size text "100".
    l.selectRow(1);
    l.customSettings = true;
    l.startText = u"2048";
    l.endText = u"206847";
    l.treatAs = treatAsIndex(u"NTFS");
    ProceedResult r = l.proceed();
    EXPECT_EQ(r.route, ProceedRoute::RecoveryMode);
    EXPECT_EQ(r.record.fileSystem, u"ntfs");
    EXPECT_EQ(r.record.sizeText, u"100");
    EXPECT_EQ(r.record.startSector, 2048);
    // Standard scan: the row's record is the array entry, edited in place.
    EXPECT_EQ(l.records()[1].fileSystem, u"ntfs");

    // Unticked after an applied custom setting: the record comes back from
    // the row's texts ("MB" removed, blanks trimmed).
    l.customSettings = false;
    r = l.proceed();
    EXPECT_EQ(r.route, ProceedRoute::Stay);  // UNKNOWN again
    EXPECT_EQ(l.records()[1].fileSystem, u"UNKNOWN");
    EXPECT_EQ(l.records()[1].sizeText, u"5");
    EXPECT_EQ(l.records()[1].startSector, 300000);

    // "RAW" leads to raw recovery even for an NTFS record; end == start gives "0".
    l.selectRow(0);
    l.customSettings = true;
    l.startText = u"2048";
    l.endText = u"2048";
    l.treatAs = treatAsIndex(u"RAW");
    r = l.proceed();
    EXPECT_EQ(r.route, ProceedRoute::RawRecovery);
    EXPECT_EQ(r.record.fileSystem, u"RAW");
    EXPECT_EQ(r.record.sizeText, u"0");
}

TEST(VolumeList, AdvancedRowsEditTheirOwnCopies) {
    VolumeList l(ScanMode::Advanced);
    l.addScannedRecord(rec(u"NTFS", u"15   MB", 2048, u"0"));
    l.selectRow(0);
    l.customSettings = true;
    l.startText = u"4096";
    l.endText = u"8191";
    l.treatAs = treatAsIndex(u"FAT16");
    ProceedResult r = l.proceed();
    EXPECT_EQ(r.record.fileSystem, u"fat16");
    EXPECT_EQ(r.record.sizeText, u"2");
    EXPECT_EQ(l.rowRecord(0).startSector, 4096);
    EXPECT_EQ(l.records()[0].startSector, 2048);  // the array is untouched
    // Adding records never disturbs what the rows hold.
    for (int i = 0; i < 100; ++i) l.addScannedRecord(rec(u"FAT32", u"36  MB", 100000 + i));
    EXPECT_EQ(l.rowRecord(100).startSector, 4096);
    EXPECT_EQ(l.selectedRow(), 100u);
}

TEST(VolumeList, CustomSettingsForTheCommandLine) {
    EXPECT_EQ(treatAsIndex(u"extx"), 0u);
    EXPECT_EQ(treatAsIndex(u"hfs+"), 5u);
    EXPECT_EQ(treatAsIndex(u"raw"), 7u);
    EXPECT_FALSE(treatAsIndex(u"ext4"));
    VolumeRecord r{u"Unknown", u"1", u"7  MB", 63};
    bool raw = true;
    applyCustomSettings(r, 2048, 206847, treatAsIndex(u"fat32"), &raw);
    EXPECT_FALSE(raw);
    EXPECT_EQ(r.fileSystem, u"fat32");
    EXPECT_EQ(r.sizeText, u"100");
    applyCustomSettings(r, INT64_MIN, INT64_MAX, std::nullopt);  // no overflow
    EXPECT_EQ(r.fileSystem, u"fat32");
    EXPECT_EQ(r.sizeText, format16("%lld", (long long)((INT64_MAX - 1 + 1) / 2048)));
}
