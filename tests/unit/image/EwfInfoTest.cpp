// The information rows of images written in several formats by ewfacquire.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestPaths.h"
#include "image/EwfInfo.h"
#include "platform/Text.h"

using namespace salvage;
namespace fs = std::filesystem;

namespace {
std::vector<InfoRow> rowsOf(const std::string& fixture, bool* ok = nullptr) {
    EwfInfoRecord record;
    std::vector<InfoRow> rows;
    bool read = readImageInformation(test::fixturePath(fixture), record, nullReporter());
    if (ok) *ok = read;
    if (read) fillInformationList(record, rows);
    return rows;
}
bool has(const std::vector<InfoRow>& rows, const char16_t* item) {
    return std::any_of(rows.begin(), rows.end(), [&](const InfoRow& r) { return r.item == item; });
}
std::u16string value(const std::vector<InfoRow>& rows, const char16_t* item) {
    for (const auto& r : rows)
        if (r.item == item) return r.value;
    return u"(absent)";
}
const char16_t* const kExtendedRows[] = {u"SECTOR \\ CHUNK :", u"ERROR GRANULARITY:", u"COMPRESSION LEVEL:", u"GUID :"};
}  // namespace

TEST(EwfInfo, EnCase6ImageShowsEveryRowInOrder) {
    fs::path p;
    if (!test::requireFixture("mbr_encase6.E01", p)) return;
    bool ok = false;
    auto rows = rowsOf("mbr_encase6.E01", &ok);
    ASSERT_TRUE(ok);
    for (auto item : kExtendedRows) EXPECT_TRUE(has(rows, item)) << toUtf8(item);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().item, u"GUID :");
    EXPECT_EQ(rows.back().item, u"EWF FILE INFORMATION :");
    EXPECT_EQ(rows.back().value, u"ewfexport 20120813\n\n");
    EXPECT_EQ(value(rows, u"MEDIA SIZE :"), u"50331648  Bytes");
    EXPECT_EQ(value(rows, u"NUMBER OF SECTOR :"), u"98304");
    EXPECT_EQ(value(rows, u"BYTES PER SECTOR :"), u"512");
    EXPECT_EQ(value(rows, u"SECTOR \\ CHUNK :"), u"64");
    EXPECT_EQ(value(rows, u"COMPRESSION LEVEL:"), u"no compression");
    EXPECT_EQ(value(rows, u"FILE FORMAT :"), u"EnCase 6");
    EXPECT_EQ(value(rows, u"IS PHYSICAL:"), u"2");
    EXPECT_EQ(value(rows, u"MEDIA TYPES :"), u"fixed disk");
    EXPECT_EQ(value(rows, u"CASE NUMBER :"), u"CASE-0042");
    EXPECT_EQ(value(rows, u"DESCRIPTION :"), u"MBR test disk");
    EXPECT_EQ(value(rows, u"EXAMINER NAME :"), u"Examiner Salvage");
    EXPECT_EQ(value(rows, u"EVIDENCE NUMBER :"), u"EV-7");
    EXPECT_EQ(value(rows, u"NOTES:"), u"acquired for tests");
    EXPECT_EQ(value(rows, u"OPERATING SYSTEM USED :"), u"Linux");
    // The rows keep the order of the information list.
    std::vector<std::u16string> order;
    for (const auto& r : rows) order.push_back(r.item);
    const std::vector<std::u16string> want = {
        u"GUID :", u"COMPRESSION LEVEL:", u"ERROR GRANULARITY:", u"SECTOR \\ CHUNK :", u"FILE FORMAT :",
        u"MEDIA SIZE :", u"NUMBER OF SECTOR :", u"BYTES PER SECTOR :", u"IS PHYSICAL:", u"MEDIA TYPES :",
        u"SOFTWARE VERSION USED :", u"OPERATING SYSTEM USED :", u"SYSTEM DATE :", u"ACQUISITION DATE:", u"NOTES:",
        u"EVIDENCE NUMBER :", u"EXAMINER NAME :", u"DESCRIPTION :", u"CASE NUMBER :", u"EWF FILE INFORMATION :"};
    EXPECT_EQ(order, want);
}

TEST(EwfInfo, FormatDependentRows) {
    fs::path p;
    if (!test::requireFixture("mbr_linen6.E01", p)) return;
    // FTK Imager: none of the four extended rows, and no notes were given.
    auto ftk = rowsOf("mbr_ftk.E01");
    EXPECT_EQ(value(ftk, u"FILE FORMAT :"), u"FTK Imager");
    for (auto item : kExtendedRows) EXPECT_FALSE(has(ftk, item)) << toUtf8(item);
    EXPECT_FALSE(has(ftk, u"NOTES:"));
    // linen 6, removable and logical: extended rows, no IS PHYSICAL.
    auto linen = rowsOf("mbr_linen6.E01");
    EXPECT_EQ(value(linen, u"FILE FORMAT :"), u"linen 6");
    for (auto item : kExtendedRows) EXPECT_TRUE(has(linen, item)) << toUtf8(item);
    EXPECT_EQ(value(linen, u"MEDIA TYPES :"), u"removable disk");
    EXPECT_FALSE(has(linen, u"IS PHYSICAL:"));
    // libewf reads ewfacquire's SMART and EWFX output as FTK Imager and
    // EnCase 4 images; both list their header values and media size.
    for (const char* name : {"mbr_smart.s01", "mbr_ewfx.e01"}) {
        bool ok = false;
        auto rows = rowsOf(name, &ok);
        EXPECT_TRUE(ok) << name;
        EXPECT_EQ(value(rows, u"MEDIA SIZE :"), u"50331648  Bytes") << name;
        EXPECT_EQ(value(rows, u"CASE NUMBER :"), u"CASE-0042") << name;
    }
}

TEST(EwfInfo, NotEwfGivesHeaderMessageAndNoRows) {
    fs::path p;
    if (!test::requireFixture("mbr_disk.img", p)) return;
    RecordingReporter reporter;
    EwfInfoRecord record;
    EXPECT_FALSE(readImageInformation(p, record, reporter));
    ASSERT_EQ(reporter.messages().size(), 1u);
    EXPECT_EQ(reporter.messages()[0].text, u"Unable to print header values.\n");
    EXPECT_EQ(reporter.messages()[0].caption, u"");
}

TEST(EwfInfo, NameTablesAndGuidByteOrder) {
    EXPECT_EQ(ewfFormatName(14), u"SMART");
    EXPECT_EQ(ewfFormatName(113), u"EWFX (extended EWF)");
    EXPECT_EQ(ewfFormatName(99), u"unknown");
    EXPECT_EQ(ewfCompressionName(7), u"unknown compression");
    EXPECT_EQ(ewfMediaTypeName(3), u"optical disk (CD/DVD/BD)");
    EXPECT_EQ(ewfMediaTypeName(2), u"unknown");
    const std::uint8_t g[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    EXPECT_EQ(ewfGuidText(g), u"03020100-0504-0706-0809-0a0b0c0d0e0f");
    // A 1 GiB record: the size row with two blanks, the sector count.
    EwfInfoRecord r;
    r.mediaSize = 1073741824;
    r.numberOfSectors = 2097152;
    r.isPhysical = 0;
    std::vector<InfoRow> rows;
    fillInformationList(r, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].value, u"1073741824  Bytes");
    EXPECT_EQ(rows[1].value, u"2097152");
}
