// The raw recovery page and the signature editor, reached from the volume
// list with "Treat file system as:" "RAW" on the carving fixture disk.
#include "RawRecoveryTest.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QThread>
#include <atomic>
#include <functional>

#include "WizardHarness.h"
#include "app/InfoList.h"
#include "app/PopulateDriveDlg.h"
#include "app/RawRecoveryDialog.h"
#include "app/RawRecoveryDialogTree.h"
#include "app/RawSettingDlg.h"
#include "app/SectorBox.h"
#include "app/WorkerJob.h"
#include "carve/SignatureRecord.h"
#include "carve/myJpg.h"
#include "image/Globals.h"
#include "image/SectorSource.h"
#include "ui/JobProgress.h"

using namespace salvage;
using namespace salvage::app;
using namespace salvage::test;

namespace {

struct Planted {
    QString name;
    qint64 offset = 0;
    qint64 length = 0;
    bool cut = false;
};

QList<Planted> manifest() {
    QList<Planted> out;
    QFile f(fixture("carve_manifest.txt"));
    if (!f.open(QIODevice::ReadOnly)) return out;
    while (!f.atEnd()) {
        const QStringList p = QString::fromUtf8(f.readLine()).simplified().split(QLatin1Char(' '));
        if (p.size() == 4) out.push_back({p[0], p[1].toLongLong(), p[2].toLongLong(), p[3] == QLatin1String("1")});
    }
    return out;
}

QString categoryOf(const QString& name) {
    const QString ext = name.section(QLatin1Char('.'), -1);
    if (QStringList{"jpg", "png", "gif", "bmp", "tif"}.contains(ext)) return QStringLiteral("Images");
    if (ext == QLatin1String("pdf")) return QStringLiteral("Documents");
    if (ext == QLatin1String("zip") || ext == QLatin1String("gz")) return QStringLiteral("Archives");
    if (ext == QLatin1String("wav")) return QStringLiteral("Audio");
    return QStringLiteral("Databases");
}

// The carving disk's one volume, treated as "RAW", opened from the list.
RawRecoveryDialog* openRawPage(Harness& h) {
    if (!h.openImage(fixture("carve_disk.img")) || !h.click("parseButton") || !h.click("nextButton")) return nullptr;
    auto* list = h.find<InfoList>("volumeList");
    if (!list || list->rowCount() < 1) return nullptr;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 0)).center());
    Harness::settle();
    h.find<QGroupBox>("customSettings")->setChecked(true);
    h.find<QComboBox>("treatAs")->setCurrentText(QStringLiteral("RAW"));
    if (!h.click("nextButton")) return nullptr;
    return h.pageAs<RawRecoveryDialog>();
}

bool waitIdle(RawRecoveryDialog* page) {
    QSignalSpy done(page, &RawRecoveryDialog::jobFinished);
    return !page->isBusy() || done.wait(60000);
}

// The item of `model` whose text is `text`, searched depth first.
QModelIndex findText(const QAbstractItemModel* model, const QString& text, const QModelIndex& parent = {}) {
    for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex i = model->index(r, 0, parent);
        if (i.data().toString() == text) return i;
        if (QModelIndex found = findText(model, text, i); found.isValid()) return found;
    }
    return {};
}

QModelIndex findCategory(const QAbstractItemModel* model, const QString& category) {
    const QModelIndex root = model->index(0, 0);
    for (int r = 0; r < model->rowCount(root); ++r)
        if (model->index(r, 0, root).data().toString().startsWith(category + QStringLiteral(" (")))
            return model->index(r, 0, root);
    return {};
}

void clickLabel(QTreeView* view, const QModelIndex& index) {
    view->scrollTo(index);
    QRect r = view->visualRect(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(r.right() - 4, r.center().y()));
    Harness::settle();
}

// Runs `drive` on the modal dialog the next event loop shows.
void whenModal(std::function<void(QWidget*)> drive) {
    QTimer::singleShot(0, [drive] {
        QWidget* modal = QApplication::activeModalWidget();
        drive(modal);
        if (modal) QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    });
}

// A sector source that holds every read from `heldFrom` (volume-relative)
// on until released, so a test can look at the page in the middle of a scan.
class HeldSource : public readWriteInterface {
public:
    HeldSource(readWriteInterface& inner, std::int64_t heldFrom) : inner_(inner), heldFrom_(heldFrom) {
        totalSectors_ = inner.totalSectors();
    }
    bool open(const std::filesystem::path& path) override { return inner_.open(path); }
    bool seek(std::int64_t offset, int origin) override {
        offset_ = offset;
        inner_.baseOffset = baseOffset;
        return inner_.seek(offset, origin);
    }
    bool read(void* buffer, std::uint32_t byteCount) override {
        if (offset_ >= heldFrom_) {
            held = true;
            while (!released) QThread::msleep(2);
        }
        return inner_.read(buffer, byteCount);
    }
    std::atomic<bool> held{false};
    std::atomic<bool> released{false};

private:
    readWriteInterface& inner_;
    std::int64_t heldFrom_;
    std::int64_t offset_ = 0;
};

}  // namespace

void RawRecoveryTest::findsModelFollowsTheWorkerTree() {
    FindsTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    BrowseTree worker;
    TreeRelay relay(worker);
    const TreeItem root = worker.insertItem(u"RAW RECOVERY ", ItemImage::Folder);
    const TreeItem images = worker.insertItem(u"Images", ItemImage::Folder, root);
    model.apply(relay.take());
    QCOMPARE(model.rowCount(model.index(0, 0)), 1);

    // Finds and renamed categories arrive in later batches, with their data.
    worker.setText(images, u"Images (2)");
    worker.setItemData(worker.insertItem(u"0 .jpg", ItemImage::File, images), 0);
    worker.setItemData(worker.insertItem(u"4096 .png", ItemImage::File, images), 1);
    model.tree().setCheck(model.tree().child(model.tree().root(), 0), true);
    model.apply(relay.take());
    const QModelIndex cat = model.index(0, 0, model.index(0, 0));
    QCOMPARE(cat.data().toString(), QStringLiteral("Images (2)"));
    QCOMPARE(model.rowCount(cat), 2);
    // Finds that arrive under a category checked during the scan are checked.
    QCOMPARE(cat.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(model.checkedRecords(), (std::vector<RecordId>{0, 1}));
    QVERIFY(model.setData(model.index(0, 0, cat), Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(cat.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(model.checkedRecords(), std::vector<RecordId>{1});
    // A click on a partly checked category checks all of it.
    QVERIFY(model.setData(cat, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(model.checkedRecords(), (std::vector<RecordId>{0, 1}));
    QCOMPARE(model.index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // A start still waiting for its end is listed at once, without a box and
    // outside the saved records; the find the engine reports for it later
    // takes its place, in the engine's order, and leftovers go at the end.
    TreeBatch waiting;
    waiting.pending.push_back({kNoItem, images, u"8192 .jpg", ItemImage::File, {}});
    waiting.pending.push_back({kNoItem, images, u"9216 .jpg", ItemImage::File, {}});
    model.apply(waiting);
    QCOMPARE(model.rowCount(cat), 4);
    const QModelIndex pending = model.index(2, 0, cat);
    QCOMPARE(pending.data().toString(), QStringLiteral("8192 .jpg"));
    QVERIFY(!pending.data(Qt::CheckStateRole).isValid());
    QVERIFY(!(model.flags(pending) & Qt::ItemIsUserCheckable));
    QCOMPARE(model.checkedRecords(), (std::vector<RecordId>{0, 1}));
    worker.setItemData(worker.insertItem(u"9216 .jpg", ItemImage::File, images), 2);
    worker.setItemData(worker.insertItem(u"8192 .jpg", ItemImage::File, images), 3);
    model.apply(relay.take());
    QCOMPARE(model.rowCount(cat), 4);
    QCOMPARE(model.index(2, 0, cat).data().toString(), QStringLiteral("9216 .jpg"));
    QCOMPARE(model.index(3, 0, cat).data().toString(), QStringLiteral("8192 .jpg"));
    QCOMPARE(model.checkedRecords(), (std::vector<RecordId>{0, 1, 2, 3}));
    waiting.pending = {{kNoItem, images, u"70000 .jpg", ItemImage::File, {}}};
    model.apply(waiting);
    QCOMPARE(model.rowCount(cat), 5);
    model.dropPending();
    QCOMPARE(model.rowCount(cat), 4);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
}

void RawRecoveryTest::parseDefaultsListsAndSavesPlantedFiles() {
    REQUIRE_FILE(fixture("carve_disk.img"));
    const QList<Planted> planted = manifest();
    QVERIFY(!planted.isEmpty());
    QTemporaryDir out;
    Harness h;
    RawRecoveryDialog* page = openRawPage(h);
    QVERIFY(page);
    QCOMPARE(page->volume().sizeText, std::u16string(u"4"));
    QCOMPARE(page->volume().startSector, std::int64_t(2048));

    // Opened: the default file beside the program, ticked, progress hidden.
    const QString defaults = QCoreApplication::applicationDirPath() + QStringLiteral("/FileSetting.txt");
    QCOMPARE(page->defaultSettingsPath(), defaults);
    QVERIFY(QFileInfo::exists(defaults));
    QCOMPARE(h.find<QLineEdit>("settingsPathBox")->text(), defaults);
    QVERIFY(h.find<QCheckBox>("loadDefaultItems")->isChecked());
    for (const char* name : {"progressBar", "pauseButton", "resumeButton", "stopButton"})
        QVERIFY2(!h.find<QWidget>(name)->isVisible(), name);
    QCOMPARE(h.find<InfoList>("filesList")->horizontalHeaderItem(0)->text(), QStringLiteral("FILES LIST "));
    QCOMPARE(h.find<QPushButton>("settingButton")->toolTip(), QStringLiteral("Setting"));

    // The default file loads twice (ticked, and named in the box); the
    // second copies never win, so each planted file is listed once.
    QVERIFY(h.click("parseButton"));
    QVERIFY(waitIdle(page));
    QVERIFY(h.dialogs.texts().contains(QStringLiteral("done..")));
    QCOMPARE(h.find<QLabel>("statusLine")->text(), QStringLiteral("Processing done"));
    QVERIFY(h.find<QPushButton>("parseButton")->isEnabled());
    QVERIFY(h.find<QPushButton>("backButton")->isEnabled());
    QVERIFY(h.find<QPushButton>("settingButton")->isEnabled());
    // The path box and "..." are usable again: a settings file just made in
    // the editor loads with the next Parse.
    QVERIFY(h.find<QPushButton>("browseButton")->isEnabled());
    QVERIFY(h.find<QLineEdit>("settingsPathBox")->isEnabled());
    QVERIFY(!h.find<QProgressBar>("progressBar")->isVisible());

    auto* view = h.find<QTreeView>("findsTree");
    const QAbstractItemModel* model = view->model();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("RAW RECOVERY "));
    for (const Planted& p : planted) {
        const QModelIndex cat = findCategory(model, categoryOf(p.name));
        QVERIFY2(cat.isValid(), qPrintable(p.name));
        QCOMPARE(cat.data().toString(), QStringLiteral("%1 (%2)").arg(categoryOf(p.name)).arg(model->rowCount(cat)));
        const QString item = QStringLiteral("%1 .%2").arg(p.offset).arg(p.name.section(QLatin1Char('.'), -1));
        int times = 0;
        for (int r = 0; r < model->rowCount(cat); ++r) times += model->index(r, 0, cat).data().toString() == item;
        QVERIFY2(times == 1, qPrintable(item));
    }

    // A click on a category's label lists its finds; on the root, nothing.
    auto* files = h.find<InfoList>("filesList");
    const QModelIndex images = findCategory(model, QStringLiteral("Images"));
    clickLabel(view, images);
    QCOMPARE(files->rowCount(), model->rowCount(images));
    QCOMPARE(files->text(0, 0), model->index(0, 0, images).data().toString());
    clickLabel(view, model->index(0, 0));
    QCOMPARE(files->rowCount(), 0);

    // Check some finds with the mouse on their boxes and save them.
    QVERIFY(h.click("saveButton"));
    QCOMPARE(h.dialogs.texts().last(), QStringLiteral("Please check the files to save first."));
    const QStringList chosen = {"a.jpg", "c.png", "e.bmp", "i.pdf", "j.zip", "k.wav", "d.gif"};
    for (const Planted& p : planted) {
        if (!chosen.contains(p.name)) continue;
        const QModelIndex i =
            findText(model, QStringLiteral("%1 .%2").arg(p.offset).arg(p.name.section(QLatin1Char('.'), -1)));
        view->scrollTo(i);
        const QRect r = view->visualRect(i);
        // The check box sits at the item's left edge, before its icon.
        const int box = view->style()->pixelMetric(QStyle::PM_IndicatorWidth);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(r.left() + box / 2 + 3, r.center().y()));
        Harness::settle();
        QCOMPARE(i.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    }
    QCOMPARE(files->rowCount(), 0);  // clicks on check boxes leave the list as it was
    h.dialogs.clear();
    h.dialogs.queueFile(out.path());
    QVERIFY(h.click("saveButton"));
    QVERIFY(waitIdle(page));
    QCOMPARE(h.dialogs.folderTitles().last(), QStringLiteral("Please choose a folder."));
    QVERIFY2(h.dialogs.texts().last().startsWith(QStringLiteral("%1 of %1 files saved").arg(chosen.size())),
             qPrintable(h.dialogs.texts().join('|')));
    for (const Planted& p : planted) {
        if (!chosen.contains(p.name)) continue;
        QFile written(out.filePath(QStringLiteral("%1.%2").arg(p.offset).arg(p.name.section(QLatin1Char('.'), -1))));
        QFile original(fixture("carve_files/") + p.name);
        QVERIFY2(written.open(QIODevice::ReadOnly), qPrintable(written.fileName()));
        QVERIFY(original.open(QIODevice::ReadOnly));
        QVERIFY2(written.readAll() == original.readAll(), qPrintable(p.name));
    }
    QVERIFY(QFileInfo::exists(out.filePath(QStringLiteral("carve-report.csv"))));

    // Stop during a save of everything: what is written so far is reported.
    QTemporaryDir stopped;
    QVERIFY(view->model()->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole));
    page->job().pause();
    h.dialogs.queueFile(stopped.path());
    QVERIFY(h.click("saveButton"));
    QTRY_VERIFY(page->job().pauseGate().holds() >= 1);
    QVERIFY(!h.find<QPushButton>("backButton")->isEnabled());
    QVERIFY(h.click("stopButton"));
    QVERIFY(h.click("resumeButton"));
    QVERIFY(waitIdle(page));
    QVERIFY2(h.dialogs.texts().last().startsWith(QStringLiteral("Saving stopped. 0 of %1 files saved")
                                                     .arg(page->engine()->foundFiles.size())),
             qPrintable(h.dialogs.texts().last()));
    QVERIFY(h.click("backButton"));
    QVERIFY(h.pageAs<PopulateDriveDlg>());
}

void RawRecoveryTest::pauseStopAndBrowseThenParseAgain() {
    REQUIRE_FILE(fixture("carve_disk.img"));
    Harness h;
    RawRecoveryDialog* page = openRawPage(h);
    QVERIFY(page);
    // Held at its first poll point, the scan is in the scanning state.
    page->job().pause();
    QVERIFY(h.click("parseButton"));
    QTRY_VERIFY(page->job().pauseGate().holds() >= 1);
    Harness::settle();  // the worker's "Processing....." is shown first
    for (const char* name : {"backButton", "browseButton", "settingButton", "parseButton"})
        QVERIFY2(!h.find<QWidget>(name)->isEnabled(), name);
    QVERIFY(!h.find<QLineEdit>("settingsPathBox")->isEnabled());
    QVERIFY(h.find<QProgressBar>("progressBar")->isVisible());
    QVERIFY(h.click("pauseButton"));
    QCOMPARE(h.find<QLabel>("statusLine")->text(), QStringLiteral("Pause button pressed"));
    // The close box names the running job and what closing does to it.
    h.dialogs.queueAnswer(false);
    h.window->close();
    QVERIFY(h.window->isVisible());
    QVERIFY(h.dialogs.texts().last().startsWith(QStringLiteral("A carving scan is running. Closing stops it")));
    QVERIFY(h.dialogs.texts().last().endsWith(QStringLiteral("\n\nDo you want to Close Application ?")));
    QVERIFY(h.click("saveButton"));
    QCOMPARE(h.dialogs.texts().last(), QStringLiteral("Please wait for other process to complete"));
    QVERIFY(h.click("stopButton"));
    QCOMPARE(h.find<QLabel>("statusLine")->text(),
             QStringLiteral("Stop button pressed.Please wait for the process to stop"));
    QVERIFY(page->isBusy());  // a paused scan stays paused after Stop
    QVERIFY(h.click("resumeButton"));
    QVERIFY(waitIdle(page));
    QVERIFY(h.dialogs.texts().contains(QStringLiteral("done..")));
    QCOMPARE(h.find<QLabel>("statusLine")->text(), QStringLiteral("Processing done"));
    QVERIFY(page->engine()->foundFiles.empty());

    // Still browsable: the root and its categories, whose lists are empty.
    auto* view = h.find<QTreeView>("findsTree");
    const QModelIndex images = findCategory(view->model(), QStringLiteral("Images"));
    QVERIFY(!images.isValid());  // no finds: the category keeps its bare name
    const QModelIndex first = view->model()->index(0, 0, view->model()->index(0, 0));
    QVERIFY(first.isValid());
    clickLabel(view, first);
    QCOMPARE(h.find<InfoList>("filesList")->rowCount(), 0);

    // A second Parse starts over: one root, the finds of a whole scan.
    QVERIFY(h.click("parseButton"));
    QVERIFY(waitIdle(page));
    QCOMPARE(view->model()->rowCount(), 1);
    const int finds = int(page->engine()->foundFiles.size());
    QVERIFY(finds >= manifest().size());
    QVERIFY(h.click("parseButton"));
    QVERIFY(waitIdle(page));
    QCOMPARE(int(page->engine()->foundFiles.size()), finds);
    QCOMPARE(view->model()->rowCount(), 1);
}

void RawRecoveryTest::findsAppearWhileTheScanRuns() {
    REQUIRE_FILE(fixture("carve_disk.img"));
    Harness h;
    RawRecoveryDialog* page = openRawPage(h);
    QVERIFY(page);
    // The scan is held at the volume's third MiB. Everything planted before
    // it is listed already: finds whose end the engine has met, and starts
    // still waiting for theirs (most formats end with an end signature
    // that rarely starts a sector, so they settle only when the scan ends).
    readWriteInterface* real = g_sectorSource;
    HeldSource held(*real, 2 << 20);
    g_sectorSource = &held;
    QVERIFY(h.click("parseButton"));
    QTRY_VERIFY(held.held.load());
    auto* view = h.find<QTreeView>("findsTree");
    const QList<Planted> planted = manifest();
    int early = 0;
    for (const Planted& p : planted) {
        if (p.offset >= (2 << 20)) continue;
        ++early;
        const QString item = QStringLiteral("%1 .%2").arg(p.offset).arg(p.name.section(QLatin1Char('.'), -1));
        QTRY_VERIFY2(findText(view->model(), item).isValid(), qPrintable(item));
    }
    QVERIFY(early >= 5);
    auto& progress = page->progress();
    QVERIFY(progress.percent() > 0 && progress.percent() < 100);
    const QRegularExpressionMatch count = QRegularExpression(QStringLiteral("(\\d+) finds: Images")).match(progress.detailText());
    QVERIFY2(count.hasMatch() && count.captured(1).toInt() >= early, qPrintable(progress.detailText()));
    held.released = true;
    QVERIFY(waitIdle(page));
    g_sectorSource = real;
    // The scan's own list, each find once, none left waiting.
    QCOMPARE(int(page->engine()->foundFiles.size()), [&] {
        int n = 0;
        const QModelIndex root = view->model()->index(0, 0);
        for (int c = 0; c < view->model()->rowCount(root); ++c) n += view->model()->rowCount(view->model()->index(c, 0, root));
        return n;
    }());
}

void RawRecoveryTest::parseRefusalsRestoreTheControls() {
    REQUIRE_FILE(fixture("carve_disk.img"));
    QTemporaryDir dir;
    Harness h;
    RawRecoveryDialog* page = openRawPage(h);
    QVERIFY(page);

    // Nothing to load.
    QVERIFY(h.click("loadDefaultItems"));
    QVERIFY(h.click("browseButton"));  // cancelled: the box empties
    QCOMPARE(h.find<QLineEdit>("settingsPathBox")->text(), QString());
    QVERIFY(h.click("parseButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("enter the info file first..")});
    QVERIFY(!page->isBusy());

    // A file that is no settings file: the loader's message, back to idle.
    const QString junk = dir.filePath("junk.txt");
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(100, 'x'));
    f.close();
    h.dialogs.clear();
    h.dialogs.queueFile(junk);
    QVERIFY(h.click("browseButton"));
    QVERIFY(h.click("parseButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("not a valid file..")});
    QCOMPARE(h.find<QLabel>("statusLine")->text(), QStringLiteral("Processing done"));
    for (const char* name : {"backButton", "browseButton", "settingButton", "parseButton", "settingsPathBox"})
        QVERIFY2(h.find<QWidget>(name)->isEnabled(), name);
    QVERIFY(!h.find<QProgressBar>("progressBar")->isVisible());

    // A volume of 0 MiB starts nothing.
    QVERIFY(h.click("backButton"));
    h.find<SectorBox>("endSector")->setText(QStringLiteral("2048"));
    QVERIFY(h.click("nextButton"));
    page = h.pageAs<RawRecoveryDialog>();
    QVERIFY(page);
    QCOMPARE(page->volume().sizeText, std::u16string(u"0"));
    h.dialogs.clear();
    QVERIFY(h.click("parseButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("zero size volume..")});
    QCOMPARE(h.find<QLabel>("statusLine")->text(), QStringLiteral("Processing done"));
    QVERIFY(!page->isBusy());
    QVERIFY(h.find<QPushButton>("browseButton")->isEnabled());

    // A custom end far past the image: the scan ends with the image, 4 MiB
    // behind the volume's start on this 5 MiB disk.
    QVERIFY(h.click("backButton"));
    h.find<SectorBox>("endSector")->setText(QStringLiteral("999999999999"));
    QVERIFY(h.click("nextButton"));
    page = h.pageAs<RawRecoveryDialog>();
    QVERIFY(page);
    QVERIFY(h.click("parseButton"));
    QVERIFY(waitIdle(page));
    QCOMPARE(page->engine()->volumeBytes, std::int64_t(4) << 20);
}

void RawRecoveryTest::editorWritesATypeThatTheScanFinds() {
    REQUIRE_FILE(fixture("carve_disk.img"));
    QTemporaryDir dir;
    const QString settings = dir.filePath("sounds.set");
    {
        QFile old(settings);  // an existing file is emptied when chosen
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(500, 'z'));
    }
    Harness h;
    RawRecoveryDialog* page = openRawPage(h);
    QVERIFY(page);

    bool driven = false;
    whenModal([&](QWidget* w) {
        auto* editor = qobject_cast<RawSettingDlg*>(w);
        if (!editor) return;
        auto box = [editor](const char* name) { return editor->findChild<QLineEdit*>(QLatin1String(name)); };
        auto press = [editor](const char* name) {
            QTest::mouseClick(editor->findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
        };
        QCOMPARE(editor->windowTitle(), QStringLiteral("Salvage Forensic Recovery"));
        QCOMPARE(editor->findChild<QToolButton*>("startSignatureBoxHelp")->toolTip(),
                 QStringLiteral("here enter the file signature that happens to be in the starting of the file.\n "
                                "example 0x89,0x50,0x4E,0x47  for png File"));
        QCOMPARE(editor->findChild<QToolButton*>("categoryBoxHelp")->toolTip(),
                 QStringLiteral("here enter the name of category you want to put these files under"));
        QCOMPARE(editor->findChild<QCheckBox*>("sizeIncludesHeader")->text(), QStringLiteral("Size includes header size"));
        press("entriesSaveButton");  // no file yet: nothing happens
        QVERIFY(h.dialogs.texts().isEmpty());
        h.dialogs.queueFile(dir.filePath("missing/folder/x.set"));
        press("entriesBrowseButton");
        QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("file can not be created")});
        h.dialogs.queueFile(settings);
        press("entriesBrowseButton");
        QCOMPARE(QFileInfo(settings).size(), qint64(0));
        QCOMPARE(box("entriesPathBox")->text(), settings);

        press("entriesSaveButton");
        QCOMPARE(h.dialogs.texts().last(), QStringLiteral("extention length is zero.."));
        box("extensionBox")->setText(QStringLiteral("wave"));
        box("startSignatureBox")->setText(QStringLiteral(",,"));
        press("entriesSaveButton");
        QCOMPARE(h.dialogs.texts().last(), QStringLiteral("signature length is zero.."));
        // A RIFF start whose "WAVE" follows four size bytes, found by sectors.
        box("startSignatureBox")->setText(QStringLiteral("52,49,46,46,2A,2A,2A,2A,0x57,0x41"));
        box("approxSizeBox")->setText(QStringLiteral("65536"));
        box("categoryBox")->setText(QStringLiteral("Sounds"));
        press("entriesSaveButton");
        QCOMPARE(h.dialogs.texts().last(), QStringLiteral("everything initialized well....."));
        // A second type in the same visit: a GIF with its trailer.
        box("extensionBox")->setText(QStringLiteral("gif"));
        box("startSignatureBox")->setText(QStringLiteral("0x47,0x49,0x46,0x38"));
        box("endSignatureBox")->setText(QStringLiteral("0x00,0x3B"));
        box("approxSizeBox")->setText(QStringLiteral("1048576"));
        box("categoryBox")->setText(QStringLiteral("Pictures"));
        press("entriesSaveButton");
        QCOMPARE(QFileInfo(settings).size(), qint64(2 * kSignatureRecordBytes));
        driven = true;
    });
    QVERIFY(h.click("settingButton"));
    QVERIFY(driven);
    QFile written(settings);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QCOMPARE(quint8(bytes[33]), quint8(0));
    QCOMPARE(quint8(bytes[kSignatureRecordBytes + 33]), quint8(1));

    // Only the new file: its types find the planted WAV and GIF.
    h.dialogs.clear();
    QVERIFY(h.click("loadDefaultItems"));
    h.find<QLineEdit>("settingsPathBox")->setText(settings);
    QVERIFY(h.click("parseButton"));
    QVERIFY(waitIdle(page));
    const QAbstractItemModel* model = h.find<QTreeView>("findsTree")->model();
    qint64 wav = -1, gif = -1;
    for (const Planted& p : manifest()) {
        if (p.name == QLatin1String("k.wav")) wav = p.offset;
        if (p.name == QLatin1String("d.gif")) gif = p.offset;
    }
    QCOMPARE(findCategory(model, QStringLiteral("Sounds")).data().toString(), QStringLiteral("Sounds (1)"));
    QVERIFY(findText(model, QStringLiteral("%1 .wave").arg(wav)).isValid());
    QVERIFY(findText(model, QStringLiteral("%1 .gif").arg(gif)).isValid());
    QVERIFY(!findCategory(model, QStringLiteral("Images")).isValid());
}
