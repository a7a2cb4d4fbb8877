// The wizard driven as a user drives it: image selection, information,
// export, scan mode, volume list and recovery mode, on fixture images and
// the shared segmented EWF image.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <tuple>

#include "PageFlowTest.h"
#include "WizardHarness.h"
#include "app/DriveParsingModes.h"
#include "app/EWFExtractDlg.h"
#include "app/EwfDialog.h"
#include "app/EwfFileInfo.h"
#include "app/InfoList.h"
#include "app/ParceModeNtfsDlg.h"
#include "app/PopulateDriveDlg.h"
#include "app/RawRecoveryDialog.h"
#include "app/SectorBox.h"
#include "app/VolumeScanDlg.h"
#include "app/advanceOptions.h"
#include "image/Globals.h"

using namespace salvage;
using namespace salvage::app;
using namespace salvage::test;

namespace {

const QString kTitle = QStringLiteral("Salvage Forensic Recovery");

// Opens `image`, presses "Parse as Disk", sets the scan mode, presses Next.
PopulateDriveDlg* scanImage(Harness& h, const QString& image, bool gpt) {
    if (!h.openImage(image) || !h.click("parseButton")) return nullptr;
    if (gpt) h.find<QCheckBox>("gptFormat")->setChecked(true);
    if (!h.click("nextButton")) return nullptr;
    return h.pageAs<PopulateDriveDlg>();
}

// Selects `row` of the volume list with the mouse, as a user does.
void clickRow(Harness& h, int row) {
    auto* list = h.find<InfoList>("volumeList");
    const QRect cell = list->visualRect(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    Harness::settle();
}

}  // namespace

void PageFlowTest::selectionNeedsTheFileDialog() {
    Harness h;
    QVERIFY(h.pageAs<EwfDialog>());
    QCOMPARE(h.window->windowTitle(), kTitle);
    QVERIFY(h.click("nextButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("please select a file first")});
    QCOMPARE(h.dialogs.shown().back().caption, kTitle);

    // A typed path is not a chosen one.
    QTest::keyClicks(h.find<QLineEdit>("pathBox"), fixture("mbr_disk.img"));
    QVERIFY(h.click("nextButton"));
    QCOMPARE(h.dialogs.texts().size(), 2);
    QVERIFY(h.pageAs<EwfDialog>());

    // A cancelled dialog leaves the path empty.
    QVERIFY(h.click("browseButton"));
    QVERIFY(h.pageAs<EwfDialog>()->imagePath().isEmpty());
}

void PageFlowTest::ewfInformationRowsInOrder() {
    const QString image = testdata("image-split.E01");
    REQUIRE_FILE(image);
    Harness h;
    QVERIFY(h.openImage(image));
    auto* info = h.pageAs<EwfFileInfo>();
    QVERIFY(info);
    const QStringList items = info->list()->columnTexts(0);
    const QStringList expected = {
        "GUID :", "COMPRESSION LEVEL:", "ERROR GRANULARITY:", "SECTOR \\ CHUNK :", "FILE FORMAT :",
        "MEDIA SIZE :", "NUMBER OF SECTOR :", "BYTES PER SECTOR :", "IS PHYSICAL:", "MEDIA TYPES :",
        "SOFTWARE VERSION USED :", "OPERATING SYSTEM USED :", "SYSTEM DATE :", "ACQUISITION DATE:", "NOTES:",
        "EVIDENCE NUMBER :", "EXAMINER NAME :", "DESCRIPTION :", "CASE NUMBER :", "EWF FILE INFORMATION :"};
    QCOMPARE(items, expected);
    const QStringList values = info->list()->columnTexts(1);
    QCOMPARE(values[items.indexOf("FILE FORMAT :")], QStringLiteral("EnCase 6"));
    QCOMPARE(values[items.indexOf("MEDIA SIZE :")], QStringLiteral("1474560  Bytes"));
    QCOMPARE(values[items.indexOf("NUMBER OF SECTOR :")], QStringLiteral("2880"));
    QCOMPARE(values[items.indexOf("CASE NUMBER :")], QStringLiteral("Case"));
    QCOMPARE(info->list()->horizontalHeaderItem(0)->text(), QStringLiteral("ITEM"));
    // No label is cut off: the ITEM column fits its longest text.
    const int longest = info->list()->fontMetrics().horizontalAdvance(QStringLiteral("OPERATING SYSTEM USED :"));
    QVERIFY(info->list()->columnWidth(0) > longest);
    QVERIFY(h.dialogs.texts().isEmpty());
}

void PageFlowTest::rawImageShowsItsSize() {
    const QString image = fixture("mbr_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    QVERIFY(h.openImage(image));
    auto* info = h.pageAs<EwfFileInfo>();
    QVERIFY(info);
    QCOMPARE(info->list()->columnTexts(0),
             (QStringList{"FILE FORMAT :", "MEDIA SIZE :", "NUMBER OF SECTOR :", "BYTES PER SECTOR :"}));
    QCOMPARE(info->list()->columnTexts(1),
             (QStringList{"raw image", "50331648  Bytes", "98304", "512"}));
}

void PageFlowTest::unreadableImageLeavesAnEmptyList() {
    QTemporaryDir dir;
    // A file that is no disk is taken, with a warning, and one that is
    // empty too.
    for (const auto& [name, bytes, words] :
         {std::tuple{"report.pdf", QByteArray("%PDF-1.4\n") + QByteArray(4096, 'x'), "neither a partition table"},
          std::tuple{"empty.img", QByteArray(), "is empty"}}) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        Harness h;
        QVERIFY(h.openImage(f.fileName()));
        QVERIFY2(h.dialogs.texts().size() == 1 && h.dialogs.texts()[0].contains(QLatin1String(words)),
                 qPrintable(h.dialogs.texts().join('|')));
        QVERIFY(h.pageAs<EwfFileInfo>());
    }

    const QString junk = dir.filePath("junk.E01");
    {
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        // An EWF signature and nothing sound behind it.
        f.write(QByteArray("EVF\x09\x0d\x0a\xff\x00", 8) + QByteArray(600, '\x7f'));
    }
    Harness h;
    QVERIFY(h.openImage(junk));
    auto* info = h.pageAs<EwfFileInfo>();
    QVERIFY(info);
    QCOMPARE(info->list()->rowCount(), 0);
    QVERIFY(!h.dialogs.texts().isEmpty());
    h.dialogs.clear();
    QVERIFY(h.click("convertButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("No item in List")});
    QVERIFY(h.pageAs<EwfFileInfo>());

    // "Parse as Disk" still leads on; the scan reports the failure.
    h.dialogs.clear();
    QVERIFY(h.click("parseButton"));
    QVERIFY(h.pageAs<DriveParsingModes>());
    QVERIFY(h.click("nextButton"));
    QVERIFY(h.dialogs.texts().contains(QStringLiteral("file not opened..")));
    QVERIFY(h.pageAs<PopulateDriveDlg>());
    QVERIFY(h.find<QPushButton>("addCustomButton")->isEnabled());
}

void PageFlowTest::backShowsTheOwnerAsItWas() {
    const QString first = fixture("mbr_disk.img");
    const QString second = fixture("gpt_disk.img");
    REQUIRE_FILE(first);
    REQUIRE_FILE(second);
    Harness h;
    QVERIFY(h.openImage(first));
    QPointer<WizardPage> info = h.page();
    QVERIFY(h.click("backButton"));
    QVERIFY(info.isNull());  // destroyed
    auto* selection = h.pageAs<EwfDialog>();
    QVERIFY(selection);
    QCOMPARE(h.find<QLineEdit>("pathBox")->text(), first);

    // Another image: the next "Parse as Disk" works on it.
    QVERIFY(h.openImage(second));
    QVERIFY(h.click("parseButton"));
    QVERIFY(h.click("backButton"));
    QVERIFY(h.click("parseButton"));
    QVERIFY(g_sectorSource != nullptr);
    QCOMPARE(h.find<QLabel>("driveLabel")->text(), second);
    QCOMPARE(g_imageKind, ImageKind::Raw);
    QCOMPARE(g_totalSectors, std::int64_t(98304));
}

void PageFlowTest::exportRangeWithProgressAndDone() {
    const QString image = testdata("image-split.E01");
    REQUIRE_FILE(image);
    QTemporaryDir dir;
    Harness h;
    QVERIFY(h.openImage(image));
    QVERIFY(h.click("convertButton"));
    auto* page = h.pageAs<EWFExtractDlg>();
    QVERIFY(page);
    QCOMPARE(h.find<QLabel>("offsetHint")->text(), QStringLiteral("( should be less then 1474560  Bytes )"));
    QCOMPARE(h.find<QLineEdit>("byteCountBox")->text(), QStringLiteral("1474560  "));
    QCOMPARE(h.find<QComboBox>("formatChoice")->currentText(), QStringLiteral("default (raw)"));
    QVERIFY(!h.find<QProgressBar>("progressBar")->isVisible());
    QVERIFY(!h.find<QPushButton>("stopButton")->isVisible());

    QVERIFY(h.click("extractButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("Please give save file name")});
    h.dialogs.clear();

    const QString target = dir.filePath("part");
    h.dialogs.queueFile(target);
    QVERIFY(h.click("browseButton"));
    QCOMPARE(h.find<QLineEdit>("targetPathBox")->text(), target);
    auto* offset = h.find<QLineEdit>("startOffsetBox");
    offset->setText("512");
    h.find<QLineEdit>("byteCountBox")->setText("65536");
    QSignalSpy done(page, &EWFExtractDlg::exportFinished);
    QVERIFY(h.click("extractButton"));
    QVERIFY(!h.find<QPushButton>("extractButton")->isEnabled() || done.count() == 1);
    QVERIFY(done.wait(20000) || done.count() == 1);
    QVERIFY(h.dialogs.texts().contains(QStringLiteral("done")));
    QCOMPARE(page->lastResult().bytesCopied, std::uint64_t(65536));
    QVERIFY(h.find<QPushButton>("extractButton")->isEnabled());
    QVERIFY(h.find<QPushButton>("backButton")->isEnabled());
    QVERIFY(!h.find<QProgressBar>("progressBar")->isVisible());
    QCOMPARE(h.find<QProgressBar>("progressBar")->value(), 1000);
    const QFileInfo out(QString::fromStdString(page->lastResult().outputPath));
    QVERIFY2(out.exists(), qPrintable(out.filePath()));
    QCOMPARE(out.size(), qint64(65536));

    QVERIFY(h.click("backButton"));
    QVERIFY(h.pageAs<EwfFileInfo>());
}

void PageFlowTest::exportStopAndHostileNumbers() {
    const QString image = fixture("mbr_disk.img");
    REQUIRE_FILE(image);
    QTemporaryDir dir;
    Harness h;
    QVERIFY(h.openImage(image));
    QVERIFY(h.click("convertButton"));
    auto* page = h.pageAs<EWFExtractDlg>();
    QVERIFY(page);
    QCOMPARE(h.find<QLineEdit>("byteCountBox")->text(), QStringLiteral("50331648  "));

    // Text that is not a number reads as 0: the whole media from 0.
    h.find<QLineEdit>("targetPathBox")->setText(dir.filePath("whole"));
    h.find<QLineEdit>("startOffsetBox")->setText("abc");
    h.find<QLineEdit>("segmentSizeBox")->setText("-1");
    QCOMPARE(page->collectSettings().exportOffset, std::int64_t(0));
    h.find<QLineEdit>("byteCountBox")->setText("zero");
    QCOMPARE(page->collectSettings().exportSize, std::int64_t(0));

    // Stop at once: the output is closed; "done" and a full bar only if the
    // copy was complete before Stop came.
    QSignalSpy finished(page, &EWFExtractDlg::exportFinished);
    QVERIFY(h.click("extractButton"));
    if (page->isExporting()) QVERIFY(h.click("stopButton"));
    QVERIFY(finished.count() == 1 || finished.wait(30000));
    const bool complete = page->lastResult().outcome == ExportOutcome::Done;
    QCOMPARE(h.dialogs.texts().contains(QStringLiteral("done")), complete);
    QCOMPARE(h.find<QProgressBar>("progressBar")->value() == 1000, complete);
    QVERIFY(page->lastResult().bytesCopied <= 50331648u);
    QVERIFY(h.find<QPushButton>("backButton")->isEnabled());

    // The same name again: asked first; No leaves the earlier set alone.
    h.dialogs.clear();
    h.dialogs.queueAnswer(false);
    QVERIFY(h.click("extractButton"));
    QCOMPARE(h.dialogs.texts().size(), 1);
    QVERIFY(h.dialogs.texts().front().contains(QStringLiteral("Replace it?")));
    QCOMPARE(finished.count(), 1);
    QVERIFY(QFileInfo::exists(dir.filePath("whole.raw.info")));

    // An output that is the image (through a link) is refused; the image
    // keeps every byte.
    h.dialogs.clear();
    QVERIFY(QFile::link(image, dir.filePath("ev.raw")));
    h.find<QLineEdit>("targetPathBox")->setText(dir.filePath("ev"));
    QVERIFY(h.click("extractButton"));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(h.dialogs.texts().size(), 1);
    QVERIFY(h.dialogs.texts().front().contains(QStringLiteral("is a file of the image")));
    QCOMPARE(QFileInfo(image).size(), qint64(50331648));

    // A range past the media copies nothing and does not say "done".
    h.dialogs.clear();
    h.find<QLineEdit>("targetPathBox")->setText(dir.filePath("none"));
    h.find<QLineEdit>("startOffsetBox")->setText("512");
    h.find<QLineEdit>("byteCountBox")->setText("50331648");
    QVERIFY(h.click("extractButton"));
    QVERIFY(finished.count() == 2 || finished.wait(30000));
    QCOMPARE(page->lastResult().bytesCopied, std::uint64_t(0));
    QCOMPARE(page->lastResult().outcome, ExportOutcome::RangeRejected);
    QVERIFY(!h.dialogs.texts().contains(QStringLiteral("done")));
}

void PageFlowTest::hostileChoicesDoNotCrash() {
    QTemporaryDir dir;
    const QString empty = dir.filePath("empty.img");
    QFile(empty).open(QIODevice::WriteOnly);
    const QString missing = dir.filePath("gone.E01");
    for (const QString& path : {empty, missing, dir.path()}) {
        Harness h;
        QVERIFY(h.openImage(path));
        QVERIFY(h.pageAs<EwfFileInfo>());
        QVERIFY(h.click("parseButton"));
        QVERIFY(h.click("nextButton"));
        auto* page = h.pageAs<PopulateDriveDlg>();
        QVERIFY(page);
        QCOMPARE(page->list()->rowCount(), 0);
        // Nothing found: a custom entry is still possible.
        QVERIFY(h.click("addCustomButton"));
        QCOMPARE(page->list()->rowCount(), 1);
        QVERIFY(h.click("backButton"));
        QVERIFY(h.click("advanceScan"));
        QVERIFY(h.click("nextButton"));
        auto* advanced = h.pageAs<PopulateDriveDlg>();
        QVERIFY(advanced);
        QSignalSpy ended(advanced, &PopulateDriveDlg::scanFinished);
        if (advanced->isScanning()) QVERIFY(ended.wait(30000));
        QCOMPARE(advanced->list()->rowCount(), 0);
        QVERIFY(h.find<QPushButton>("nextButton")->isEnabled());
    }
}

void PageFlowTest::standardScanMbrRows() {
    const QString image = fixture("mbr_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = scanImage(h, image, false);
    QVERIFY(page);
    auto* list = page->list();
    QCOMPARE(list->columnTexts(0), (QStringList{"0", "1", "2", "3"}));
    QCOMPARE(list->columnTexts(1), (QStringList{"NTFS", "FAT16", "extX", "FAT32"}));
    QCOMPARE(list->columnTexts(3), (QStringList{"2048", "20480", "38912", "57344"}));
    QCOMPARE(h.find<QLabel>("statusLine")->text(), QStringLiteral("Select volume and click next button..."));
    QVERIFY(!h.find<QProgressBar>("progressBar")->isVisible());
    QVERIFY(h.find<QGroupBox>("customSettings")->isEnabled());
    QVERIFY(h.find<QPushButton>("addCustomButton")->isEnabled());
    QVERIFY(h.find<QPushButton>("filterButton")->isEnabled());
    QVERIFY(h.dialogs.texts().isEmpty());
    QVERIFY(page->readFailure().isEmpty());

    // The same disk as an EWF set whose second segment is missing: the
    // tables of the volumes in it cannot be read, and the page says so
    // rather than show a short list without a word.
    const QString first = fixture("mbr_encase6.E01");
    REQUIRE_FILE(first);
    QTemporaryDir dir;
    for (const char* seg : {"E01", "E03", "E04"})
        QVERIFY(QFile::copy(fixture("mbr_encase6.") + QLatin1String(seg), dir.filePath("set.") + QLatin1String(seg)));
    Harness partial;
    page = scanImage(partial, dir.filePath("set.E01"), false);
    QVERIFY(page);
    QCOMPARE(page->list()->columnTexts(0), (QStringList{"0", "1"}));
    QVERIFY2(page->readFailure().contains(QStringLiteral("could not be read")), qPrintable(page->readFailure()));
    QVERIFY(page->readFailure().contains(QStringLiteral("segment of the image may be missing")));
    QVERIFY(partial.dialogs.texts().contains(page->readFailure()));
    QVERIFY(partial.find<QLabel>("statusLine")->text().contains(QStringLiteral("could not be read")));
}

void PageFlowTest::standardScanGptWithAndWithoutTheBox() {
    const QString image = fixture("gpt_disk.img");
    REQUIRE_FILE(image);
    {
        Harness h;
        auto* page = scanImage(h, image, true);
        QVERIFY(page);
        QCOMPARE(page->list()->columnTexts(1), (QStringList{"NTFS", "FAT64", "HFS+"}));
        QCOMPARE(page->list()->columnTexts(0), (QStringList{"0", "1", "2"}));
    }
    {
        // Unticked on a GPT disk: the protective MBR entry.
        Harness h;
        auto* page = scanImage(h, image, false);
        QVERIFY(page);
        QCOMPARE(page->list()->columnTexts(1), QStringList{"Unknown"});
    }
}

void PageFlowTest::volumeListEditing() {
    const QString image = fixture("mbr_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = scanImage(h, image, false);
    QVERIFY(page);

    // Next without a selection.
    QVERIFY(h.click("nextButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("please select a valid volume.")});
    QCOMPARE(h.dialogs.shown().back().caption, kTitle);
    QCOMPARE(h.dialogs.shown().back().icon, BoxIcon::Information);
    h.dialogs.clear();

    // Selecting a row fills the custom details; clicking moves the choice.
    clickRow(h, 0);
    QCOMPARE(h.find<QLabel>("selectedVolume")->text(), QStringLiteral("0"));
    QCOMPARE(h.find<SectorBox>("startSector")->text(), QStringLiteral("2048"));
    QCOMPARE(h.find<SectorBox>("endSector")->text(), QString::number(2048 + 8 * 2048 - 1));
    QCOMPARE(h.find<QComboBox>("treatAs")->currentText(), QStringLiteral("NTFS"));
    // The spin arrows step by one and stop at 0.
    auto* start = h.find<SectorBox>("startSector");
    start->stepBy(1);
    QCOMPARE(start->text(), QStringLiteral("2049"));
    start->setText("0");
    start->stepBy(-1);
    QCOMPARE(start->text(), QStringLiteral("0"));

    // A custom entry goes to the end after a standard scan, ticked, at 0.
    QVERIFY(h.click("addCustomButton"));
    QCOMPARE(page->list()->rowCount(), 5);
    QCOMPARE(page->list()->text(4, 0), QStringLiteral("4"));
    QCOMPARE(page->list()->text(4, 1), QStringLiteral("CUSTOM "));
    QCOMPARE(page->list()->text(4, 2), QStringLiteral("0"));
    QVERIFY(h.find<QGroupBox>("customSettings")->isChecked());
    QCOMPARE(h.find<SectorBox>("endSector")->text(), QStringLiteral("0"));

    // Custom settings turn the entry into an NTFS volume at 2048.
    h.find<SectorBox>("startSector")->setText("2048");
    h.find<SectorBox>("endSector")->setText("206847");
    h.find<QComboBox>("treatAs")->setCurrentText("NTFS");
    QVERIFY(h.click("nextButton"));
    auto* modes = h.pageAs<ParceModeNtfsDlg>();
    QVERIFY(modes);
    QCOMPARE(modes->record().fileSystem, std::u16string(u"ntfs"));
    QCOMPARE(modes->record().sizeText, std::u16string(u"100"));
    QCOMPARE(modes->record().startSector, std::int64_t(2048));
    QVERIFY(h.find<QRadioButton>("deepMode")->isVisible());
    QVERIFY(h.find<QRadioButton>("advancedMode")->isVisible());

    // Back keeps the list as it was; "RAW" leads to raw recovery.
    QVERIFY(h.click("backButton"));
    QCOMPARE(h.pageAs<PopulateDriveDlg>(), page);
    QCOMPARE(page->list()->rowCount(), 5);
    h.find<QComboBox>("treatAs")->setCurrentText("RAW");
    h.dialogs.clear();
    QVERIFY(h.click("nextButton"));
    QVERIFY(h.dialogs.texts().isEmpty());
    QVERIFY(h.pageAs<RawRecoveryDialog>());
    QVERIFY(h.click("backButton"));
    QCOMPARE(h.pageAs<PopulateDriveDlg>(), page);

    // Filter Entries keeps only records that start one sector after the
    // previous one: none here.
    QVERIFY(h.click("filterButton"));
    QCOMPARE(page->list()->rowCount(), 0);
}

void PageFlowTest::unknownVolumeIsRefused() {
    const QString image = fixture("gpt_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = scanImage(h, image, false);
    QVERIFY(page);
    clickRow(h, 0);
    QVERIFY(h.click("nextButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("can not parse unknown volume")});
    // A plain box: the program's default caption and no icon.
    QVERIFY(h.dialogs.shown().back().caption.isEmpty());
    QCOMPARE(h.dialogs.shown().back().icon, BoxIcon::None);
    QCOMPARE(h.pageAs<PopulateDriveDlg>(), page);
}

void PageFlowTest::recoveryModesPerFileSystem() {
    const QString image = fixture("mbr_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    QVERIFY(scanImage(h, image, false));
    struct Case {
        int row;
        bool advanced, deep;
    };
    // NTFS, FAT16, extX, FAT32.
    const Case cases[] = {{0, true, true}, {1, true, false}, {2, false, false}, {3, true, false}};
    for (const Case& c : cases) {
        clickRow(h, c.row);
        QVERIFY(h.click("nextButton"));
        auto* modes = h.pageAs<ParceModeNtfsDlg>();
        QVERIFY(modes);
        QVERIFY(h.find<QRadioButton>("standardMode")->isVisible());
        QVERIFY(h.find<QRadioButton>("standardMode")->isChecked());
        QCOMPARE(h.find<QRadioButton>("advancedMode")->isVisible(), c.advanced);
        QCOMPARE(h.find<QRadioButton>("deepMode")->isVisible(), c.deep);
        QVERIFY(!h.find<QLineEdit>("maxFileSystems")->isVisible());
        if (c.advanced) {
            QVERIFY(h.click("advancedMode"));
            QCOMPARE(modes->recoveryMode(), 2);
            QVERIFY(h.find<QLineEdit>("maxFileSystems")->isVisible());
            QCOMPARE(modes->maxFileSystemsText(), QStringLiteral("3"));
            const bool fat = modes->fileSystemPrefix().compare("fat", Qt::CaseInsensitive) == 0;
            QCOMPARE(h.find<QCheckBox>("driveFormatted")->isVisible(), fat);
            if (fat) {
                QVERIFY(h.click("driveFormatted"));
                QVERIFY(g_driveFormatted.load());
                QVERIFY(h.click("standardMode"));
                QVERIFY(!g_driveFormatted.load());
                QVERIFY(!h.find<QCheckBox>("driveFormatted")->isVisible());
            }
        }
        h.dialogs.clear();
        QVERIFY(h.click("nextButton"));
        // Next leads on to the volume page or, for Advanced, the
        // advanced-input page; Back is offered once its job has ended.
        QVERIFY(h.page() != modes);
        QVERIFY(h.pageAs<VolumeScanDlg>() || h.pageAs<advanceOptions>());
        auto* back = h.find<QPushButton>("backButton");
        QTRY_VERIFY_WITH_TIMEOUT(back->isEnabled(), 60000);
        QVERIFY(h.click("backButton"));
        QCOMPARE(h.page(), static_cast<WizardPage*>(modes));
        QVERIFY(h.click("backButton"));
    }
}

void PageFlowTest::hfsOffersStandardAndDeep() {
    const QString image = fixture("gpt_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    QVERIFY(scanImage(h, image, true));
    clickRow(h, 2);  // HFS+
    QVERIFY(h.click("nextButton"));
    QVERIFY(h.pageAs<ParceModeNtfsDlg>());
    QVERIFY(!h.find<QRadioButton>("advancedMode")->isVisible());
    QVERIFY(h.find<QRadioButton>("deepMode")->isVisible());
}

void PageFlowTest::backThenNextRunsANewScan() {
    const QString image = fixture("mbr_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    QPointer<PopulateDriveDlg> first = scanImage(h, image, false);
    QVERIFY(first);
    QVERIFY(h.click("addCustomButton"));
    QCOMPARE(first->list()->rowCount(), 5);
    QVERIFY(h.click("backButton"));
    QVERIFY(first.isNull());
    QVERIFY(h.pageAs<DriveParsingModes>());
    QVERIFY(h.click("nextButton"));
    auto* second = h.pageAs<PopulateDriveDlg>();
    QVERIFY(second);
    QCOMPARE(second->list()->rowCount(), 4);
}

void PageFlowTest::advancedScanOnAWorker() {
    const QString image = fixture("mbr_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    QVERIFY(h.openImage(image));
    QVERIFY(h.click("parseButton"));
    QVERIFY(!h.find<QCheckBox>("doNotSkip")->isEnabled());
    QVERIFY(h.click("advanceScan"));
    QVERIFY(h.find<QCheckBox>("doNotSkip")->isEnabled());
    QVERIFY(!h.find<QLineEdit>("startingSector")->isEnabled());
    QVERIFY(h.click("customSetting"));
    QVERIFY(h.find<QLineEdit>("startingSector")->isEnabled());
    QVERIFY(h.click("customSetting"));
    QVERIFY(h.click("nextButton"));
    auto* page = h.pageAs<PopulateDriveDlg>();
    QVERIFY(page);
    // The scan of a small image may end while the click is still being
    // handled: wait for its closing box rather than for a signal.
    QTRY_VERIFY_WITH_TIMEOUT(h.dialogs.texts().contains(QStringLiteral("populated partitions....")), 30000);
    QVERIFY(h.find<QPushButton>("backButton")->isEnabled());
    QVERIFY(h.find<QPushButton>("nextButton")->isEnabled());
    QCOMPARE(h.find<QLabel>("statusLine")->text(), QStringLiteral("Select volume and click next button..."));
    // Newest first; the NTFS volume at 2048 was the first find.
    const QStringList starts = page->list()->columnTexts(3);
    QVERIFY2(!starts.isEmpty(), "nothing found");
    QCOMPARE(starts.last(), QStringLiteral("2048"));
    QCOMPARE(page->list()->columnTexts(1).last(), QStringLiteral("NTFS"));

    // A custom entry goes to the top after an advanced scan.
    const int before = page->list()->rowCount();
    QVERIFY(h.click("addCustomButton"));
    QCOMPARE(page->list()->text(0, 0), QString::number(before));
    QCOMPARE(page->list()->text(0, 1), QStringLiteral("CUSTOM "));
}

void PageFlowTest::leavingDuringAnAdvancedScanStopsIt() {
    const QString image = fixture("mbr_disk.img");
    REQUIRE_FILE(image);
    Harness h;
    QVERIFY(h.openImage(image));
    QVERIFY(h.click("parseButton"));
    QVERIFY(h.click("advanceScan"));
    h.find<QCheckBox>("doNotSkip")->setChecked(true);
    QVERIFY(h.click("nextButton"));
    QPointer<PopulateDriveDlg> page = h.pageAs<PopulateDriveDlg>();
    QVERIFY(page);
    if (page->isScanning()) {
        QVERIFY(!h.find<QPushButton>("backButton")->isEnabled());
        QVERIFY(h.click("stopButton"));
        QVERIFY(h.find<QPushButton>("backButton")->isEnabled());
        QVERIFY(h.click("backButton"));  // joins the stopped job
        QVERIFY(page.isNull());
    }
    QVERIFY(h.pageAs<DriveParsingModes>() || h.pageAs<PopulateDriveDlg>());
}
