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
#include "app/ImageSession.h"
#include "app/PopulateDriveDlg.h"
#include "app/RawRecoveryDialog.h"
#include "app/RawSettingDlg.h"
#include <QApplication>
#include <QTimer>
#include <QTreeView>
#include "app/VolumeScanDlg.h"
#include "app/advanceOptions.h"
#include "ui/BrowseTreeModel.h"
#include "ui/CheckListView.h"
#include "ui/CheckTreeView.h"

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
// The volume page on the NTFS fixture (the FAT16 search image when that is
// missing), browsed with a file previewed, then as while parsing.
void shootVolumePage(Harness& h, Shooter& s) {
    QString image = fixture("ntfs.img");
    VolumeRecord record;
    record.fileSystem = u"NTFS";
    record.name = u"1";
    record.sizeText = u"64 MB";
    if (!QFileInfo::exists(image)) {
        image = fixture("search_fat16.img");
        record.fileSystem = u"FAT16";
        record.sizeText = u"16 MB";
    }
    const std::filesystem::path imagePath = image.toStdString();
    app::installSectorSource(imagePath, nullptr).open(imagePath);
    auto* volumePage = new app::VolumeScanDlg(h.window.get(), nullptr, record, RecoveryMode::Standard);
    h.window->showPage(volumePage);
    for (int i = 0; i < 6000 && volumePage->isBusy(); ++i) QTest::qWait(10);
    Harness::settle();
    h.dialogs.clear();
    auto* model = volumePage->treeModel();
    const QModelIndex root = model->index(0, 0);
    for (int r = 0; r < model->rowCount(root); ++r) {
        const QModelIndex i = model->index(r, 0, root);
        const QString name = i.data().toString().trimmed().toLower();
        if (name == QStringLiteral("docs") || name == QStringLiteral("photos")) {
            volumePage->treeView()->expand(i);
            volumePage->treeView()->setCurrentIndex(i);
            emit volumePage->treeView()->labelClicked(i);
        }
    }
    if (auto* list = volumePage->listView(); list->model()->rowCount() > 0) {
        list->setCurrentIndex(list->model()->index(0, 1));
        QTest::qWait(300);
    }
    if (auto* out = h.find<QLineEdit>("outputFolder")) out->setText(QDir::temp().filePath(QStringLiteral("recovered")));
    if (auto* box = h.find<QLineEdit>("searchBox")) box->setText(QStringLiteral("jpg|png"));
    s.shoot("volume-page");
    for (const char* name : {"pauseButton", "resumeButton"})
        if (auto* b = h.find<QWidget>(name)) b->show();
    showProgress(h, QStringLiteral("statusLine"), QStringLiteral(" ParsingBasedOnMFT is going on...."));
    s.shoot("volume-page-parsing");
}
}  // namespace

int takeScreenshots(const QString& dir) {
    QDir().mkpath(dir);
    Harness h;
    Shooter s{h, dir, qEnvironmentVariable("SALVAGE_SCREENSHOT_TAG", QStringLiteral("100"))};
    // SALVAGE_SCREENSHOT_SIZE=1024x700: the window at that size (within
    // the screen); SALVAGE_SCREENSHOT_PAGES=volume: the volume page only.
    const QStringList size = qEnvironmentVariable("SALVAGE_SCREENSHOT_SIZE").split(QLatin1Char('x'));
    if (size.size() == 2) {
        QSize wanted(size[0].toInt(), size[1].toInt());
        if (const QScreen* screen = h.window->screen()) wanted = wanted.boundedTo(screen->availableGeometry().size());
        h.window->resize(wanted);
    }
    if (qEnvironmentVariable("SALVAGE_SCREENSHOT_PAGES") == QLatin1String("volume")) {
        shootVolumePage(h, s);
        return s.missing == 0 ? 0 : 1;
    }
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

    // Raw recovery on the carving disk, after a scan with the default file.
    s.require(h.click("backButton"), "go back");
    s.require(h.click("backButton"), "go back");
    s.require(h.click("backButton"), "go back");
    s.require(h.click("backButton"), "go back");
    h.dialogs.queueFile(fixture("carve_disk.img"));
    s.require(h.click("browseButton"), "choose the carving disk");
    s.require(h.click("nextButton") && h.click("parseButton") && h.click("nextButton"), "scan the carving disk");
    if (auto* list = h.find<QTableWidget>("volumeList")) list->selectRow(0);
    if (auto* custom = h.find<QGroupBox>("customSettings")) custom->setChecked(true);
    if (auto* treatAs = h.find<QComboBox>("treatAs")) treatAs->setCurrentText(QStringLiteral("RAW"));
    s.require(h.click("nextButton"), "open the raw recovery page");
    s.shoot("raw-recovery");
    if (auto* page = h.pageAs<app::RawRecoveryDialog>()) {
        QSignalSpy ended(page, &app::RawRecoveryDialog::jobFinished);
        s.require(h.click("parseButton"), "parse");
        if (page->isBusy()) ended.wait(30000);
        auto* view = h.find<QTreeView>("findsTree");
        const QModelIndex images = view->model()->index(0, 0, view->model()->index(0, 0));
        view->expand(images);
        view->model()->setData(view->model()->index(1, 0, images), Qt::Checked, Qt::CheckStateRole);
        // Pressed and clicked on the category's label, as a mouse does.
        QMetaObject::invokeMethod(view, "pressed", Q_ARG(QModelIndex, images));
        QMetaObject::invokeMethod(view, "clicked", Q_ARG(QModelIndex, images));
        s.shoot("raw-recovery-finds");
        if (auto* bar = h.find<QProgressBar>("progressBar")) bar->setRange(0, 1000);
        showProgress(h, QStringLiteral("statusLine"), QStringLiteral("Processing....."));
        for (const char* name : {"pauseButton", "resumeButton"})
            if (auto* w = h.find<QWidget>(name)) w->show();
        s.shoot("raw-recovery-scanning");
        // The signature editor, a dialog of its own over the page.
        QTimer::singleShot(0, [&] {
            if (auto* editor = qobject_cast<app::RawSettingDlg*>(QApplication::activeModalWidget())) {
                QTest::qWait(50);
                const QString file = QStringLiteral("%1/%2-signature-editor-%3.png")
                                         .arg(dir).arg(++s.count, 2, 10, QLatin1Char('0')).arg(s.tag);
                if (!editor->grab().save(file)) ++s.missing;
                std::printf("%s\n", qPrintable(file));
                editor->reject();
            } else {
                ++s.missing;
            }
        });
        s.require(h.click("settingButton"), "open the signature editor");
    } else {
        s.require(false, "reach the raw recovery page");
    }

    shootVolumePage(h, s);

    VolumeRecord record;
    record.fileSystem = u"NTFS";
    record.name = u"1";
    record.sizeText = u"64 MB";
    const QString zeroboot = fixture("ntfs_zeroboot.img");
    const std::filesystem::path zerobootPath = zeroboot.toStdString();
    app::installSectorSource(zerobootPath, nullptr).open(zerobootPath);
    auto* options = new app::advanceOptions(h.window.get(), nullptr, record, QStringLiteral("3"));
    h.window->showPage(options);
    QSignalSpy searched(options, &app::advanceOptions::searchFinished);
    if (options->isSearching()) searched.wait(60000);
    s.shoot("advanced-input");
    return s.missing == 0 ? 0 : 1;
}

}  // namespace salvage::test
