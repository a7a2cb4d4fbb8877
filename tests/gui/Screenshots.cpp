#include "Screenshots.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QFileInfo>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTableWidget>
#include <cstdio>

#include "WizardHarness.h"
#include "app/PopulateDriveDlg.h"

namespace salvage::test {

namespace {
struct Shooter {
    Harness& h;
    QString dir;
    QString tag;
    int count = 0;
    int missing = 0;

    void shoot(const char* name) {
        if (!h.page()) {
            std::fprintf(stderr, "screenshots: no page for %s\n", name);
            ++missing;
            return;
        }
        Harness::settle();
        QTest::qWait(50);
        const QString file = QStringLiteral("%1/%2-%3-%4.png").arg(dir).arg(++count, 2, 10, QLatin1Char('0')).arg(QLatin1String(name), tag);
        if (!h.window->grab().save(file)) ++missing;
        std::printf("%s\n", qPrintable(file));
    }
    void require(bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "screenshots: could not %s\n", what);
            ++missing;
        }
    }
};
}  // namespace

namespace {
// Shows the progress bar, Stop and a status text as a running job does.
void showProgress(Harness& h, const QString& line, const QString& text) {
    if (auto* bar = h.find<QProgressBar>("progressBar")) {
        bar->setValue(452);
        bar->show();
    }
    if (auto* stop = h.find<QWidget>("stopButton")) stop->show();
    if (auto* label = h.page()->findChild<QLabel*>(line)) {
        label->setText(text);
        label->show();
    }
}
}  // namespace

int takeScreenshots(const QString& dir) {
    QDir().mkpath(dir);
    Harness h;
    Shooter s{h, dir, qEnvironmentVariable("SALVAGE_SCREENSHOT_TAG", QStringLiteral("100"))};
    const QString ewf = testdata("image-split.E01");
    const QString mbr = fixture("mbr_disk.img");
    const QString gpt = fixture("gpt_disk.img");

    h.dialogs.queueFile(ewf);
    s.require(h.click("browseButton"), "choose an image");
    s.shoot("selection");
    s.require(h.click("nextButton"), "open the information page");
    s.shoot("information");
    s.require(h.click("convertButton"), "open the export page");
    h.dialogs.queueFile(QDir::temp().filePath(QStringLiteral("salvage-screenshot-export")));
    s.require(h.click("browseButton"), "choose an export target");
    s.shoot("export");
    // The controls an export shows while it runs, laid out as then.
    showProgress(h, QStringLiteral("percentLine"), QStringLiteral("45.200001 % extracted"));
    s.shoot("export-running");
    s.require(h.click("backButton"), "go back");
    s.require(h.click("backButton"), "go back");

    h.dialogs.queueFile(mbr);
    s.require(h.click("browseButton"), "choose the MBR disk");
    s.require(h.click("nextButton"), "open the information page");
    s.shoot("information-raw");
    s.require(h.click("parseButton"), "parse as disk");
    s.shoot("scan-mode");
    s.require(h.click("advanceScan"), "choose the advanced scan");
    s.require(h.click("customSetting"), "tick the custom setting");
    s.shoot("scan-mode-advanced");
    s.require(h.click("customSetting"), "untick the custom setting");
    s.require(h.click("standardScan"), "choose the standard scan");
    s.require(h.click("nextButton"), "scan");
    if (auto* list = h.find<QTableWidget>("volumeList")) list->selectRow(3);
    if (auto* custom = h.find<QGroupBox>("customSettings")) custom->setChecked(true);
    s.shoot("volume-list");
    s.require(h.click("nextButton"), "open the recovery-mode page");
    s.require(h.click("advancedMode"), "choose Advanced");
    s.shoot("recovery-mode-fat32");
    s.require(h.click("backButton"), "go back");
    s.require(h.click("backButton"), "go back");
    s.require(h.click("advanceScan"), "choose the advanced scan");
    s.require(h.click("nextButton"), "scan");
    if (auto* page = h.pageAs<app::PopulateDriveDlg>()) {
        QSignalSpy ended(page, &app::PopulateDriveDlg::scanFinished);
        if (page->isScanning()) ended.wait(30000);
    }
    s.shoot("volume-list-advanced");
    showProgress(h, QStringLiteral("statusLine"), QStringLiteral("found NTFS 1..."));
    s.shoot("volume-list-scanning");
    if (auto* list = h.find<QTableWidget>("volumeList")) list->selectRow(list->rowCount() - 1);
    s.require(h.click("nextButton"), "open the recovery-mode page");
    s.require(h.click("deepMode"), "choose Deep");
    s.shoot("recovery-mode-ntfs");
    (void)gpt;
    return s.missing == 0 ? 0 : 1;
}

}  // namespace salvage::test
