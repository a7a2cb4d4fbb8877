// The volume page and the advanced-input page driven through their widgets
// on fixture volumes: parse, open folders, colours, check marks, save,
// double-click save, search, Pause/Resume/Stop, and the Advanced flow.
#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "VolumePageTest.h"
#include "WizardHarness.h"
#include "app/ImageSession.h"
#include "app/QtReporter.h"
#include "app/VolumeScanDlg.h"
#include "app/VolumeSession.h"
#include "app/advanceOptions.h"
#include "browse/FolderOpen.h"
#include "ui/BrowseTreeModel.h"
#include "ui/CheckListView.h"
#include "ui/CheckTreeView.h"
#include "browse/DisplayFormats.h"
#include "ui/FileListModel.h"
#include "ui/PreviewPane.h"
#include <QBuffer>
#include <QCheckBox>
#include <QImage>
#include <QLayout>
#include <QSettings>
#include <QSplitter>

using namespace salvage;
using namespace salvage::app;
using namespace salvage::test;

namespace {

const QString kDone = QStringLiteral("Scanning processing done.Select save button to save the data.");

VolumeRecord volumeRecord(const char* fileSystem, int sizeMb, qint64 startSector) {
    VolumeRecord r;
    r.fileSystem = QString::fromLatin1(fileSystem).toStdU16String();
    r.name = std::u16string(1, u'1');
    r.sizeText = QStringLiteral("%1 MB").arg(sizeMb).toStdU16String();
    r.startSector = startSector;
    return r;
}

void installImage(const QString& image) {
    const std::filesystem::path path = image.toStdString();
    installSectorSource(path, nullptr).open(path);
}

// Opens the volume page on `image` as the recovery-mode page would.
VolumeScanDlg* openVolume(Harness& h, const QString& image, const VolumeRecord& record, RecoveryMode mode,
                          std::shared_ptr<VolumeSession> session = nullptr) {
    installImage(image);
    auto* page = new VolumeScanDlg(h.window.get(), nullptr, record, mode, std::move(session));
    h.window->showPage(page);
    return page;
}

// Opens a whole-image volume of the given file system in Standard mode.
VolumeScanDlg* openWholeImage(Harness& h, const QString& image, const char* fileSystem) {
    return openVolume(h, image, volumeRecord(fileSystem, int(QFileInfo(image).size() >> 20), 0),
                      RecoveryMode::Standard);
}

bool waitIdle(VolumeScanDlg* page, int ms = 60000) {
    QElapsedTimer t;
    t.start();
    while (page->isBusy() && t.elapsed() < ms) QTest::qWait(10);
    Harness::settle();
    return !page->isBusy();
}

QModelIndex childNamed(QAbstractItemModel* m, const QModelIndex& parent, const QString& name) {
    for (int r = 0; r < m->rowCount(parent); ++r) {
        const QModelIndex i = m->index(r, 0, parent);
        // FAT short names keep their blank padding.
        if (i.data().toString().trimmed().compare(name, Qt::CaseInsensitive) == 0) return i;
    }
    return {};
}

QModelIndex rootIndex(VolumeScanDlg* page) { return page->treeModel()->index(0, 0); }

// A point on the item's text near its start: in a narrow tree the rest of
// a long label lies beyond the viewport's edge.
QPoint onLabel(ui::CheckTreeView* view, const QModelIndex& index) {
    const QRect label = view->labelRect(index);
    return QPoint(label.left() + qMin(6, label.width() / 2), label.center().y());
}

void clickLabel(ui::CheckTreeView* view, const QModelIndex& index) {
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, onLabel(view, index));
    Harness::settle();
}

void clickCheckBox(ui::CheckTreeView* view, const QModelIndex& index) {
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->checkBoxRect(index).center());
    Harness::settle();
}

// A click, then the second press as the system reports it: a double click.
void doubleClick(QAbstractItemView* view, const QPoint& at) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QMouseEvent event(QEvent::MouseButtonDblClick, at, view->viewport()->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &event);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
    Harness::settle();
}

QStringList listNames(VolumeScanDlg* page) {
    QStringList out;
    auto* m = page->listModel();
    for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, 0).data().toString();
    return out;
}

QByteArray md5Of(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5).toHex();
}

// Every file below `dir`, relative, with its MD5.
QMap<QString, QByteArray> filesUnder(const QString& dir) {
    QMap<QString, QByteArray> out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        out.insert(QDir(dir).relativeFilePath(f), md5Of(f));
    }
    return out;
}

// A parser over a made-up table: record 0 is a folder holding `files`
// files, record 1 a folder holding record 0. File N has N thousand bytes,
// was created (40 - N) hours after the epoch, is deleted when N % 7 == 3,
// and saves as the text "file N" (file 2 as a small PNG picture; file 40's
// chain ends before its size, so it touches damage).
class WideParser : public VolumeParser {
public:
    explicit WideParser(int files) : files_(files) {}
    std::u16string parserName() const override { return u"wide"; }
    ParseResult parse(RecoveryMode) override {
        rootItem = tree->insertItem(kRootText, ItemImage::Folder);
        TreeItem top = tree->insertItem(u"top", ItemImage::Folder, rootItem);
        tree->setItemData(top, 1);
        TreeItem wide = tree->insertItem(u"wide", ItemImage::Folder, rootItem);
        tree->setItemData(wide, 0);
        return ParseResult::Done;
    }
    bool isValidRecord(RecordId id) const override { return id >= 0 && id < files_ + 2; }
    bool isDirectory(RecordId id) const override { return id < 2; }
    bool isDeleted(RecordId id) const override { return id % 7 == 3; }
    std::u16string name(RecordId id) const override {
        return id == 0 ? u"wide" : id == 1 ? u"top" : QStringLiteral("file%1.jpg").arg(id).toStdU16String();
    }
    bool hasChildren(RecordId id) const override { return id < 2; }
    void forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const override {
        if (id == 1) visit(0);
        if (id == 0)
            for (RecordId c = 2; c < files_ + 2; ++c)
                if (!visit(c)) return;
    }
    std::u16string creationTimeText(RecordId) const override { return u"01/02/2020  03:04 AM"; }
    std::u16string accessTimeText(RecordId) const override { return u""; }
    std::u16string modificationTimeText(RecordId) const override { return u""; }
    std::u16string sizeText(RecordId id) const override { return formatListSize(sizeBytes(id)); }
    std::u16string attributeText(RecordId) const override { return u"A"; }
    std::uint64_t sizeBytes(RecordId id) const override { return std::uint64_t(id) * 1000; }
    RecordTimes times(RecordId id) const override {
        RecordTimes t;
        t.creation = UnixNanos(40 - id) * 3600 * 1000000000LL;
        return t;
    }
    ContentResult readContent(RecordId id, ContentSink& sink) override {
        QByteArray bytes = QStringLiteral("file %1").arg(id).toUtf8();
        if (id == 2) {
            QImage picture(40, 30, QImage::Format_RGB32);
            picture.fill(Qt::red);
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, "PNG");
        }
        ContentResult r;
        r.readable = true;
        r.expectedSize = std::uint64_t(bytes.size()) + (id == 40 ? 512 : 0);
        ContentStream out(sink, nullptr, r.expectedSize);
        out.bytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::uint64_t(bytes.size()), true,
                  std::nullopt, ByteRun::Kind::Resident);
        out.finish(cause::kChainEnded);
        return r;
    }

private:
    int files_;
};

// The volume page over a WideParser of `files` files.
VolumeScanDlg* openWide(Harness& h, int files) {
    installImage(fixture("ntfs.img"));
    auto session = std::make_shared<VolumeSession>(h.window.get(), volumeRecord("NTFS", 64, 0));
    session->controller().parserFactory = [files](ParserKind) { return std::make_unique<WideParser>(files); };
    return openVolume(h, fixture("ntfs.img"), volumeRecord("NTFS", 64, 0), RecoveryMode::Standard, session);
}

void clickHeader(ui::CheckListView* view, int column) {
    auto* header = view->checkHeader();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) * 3 / 4;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    Harness::settle();
}

}  // namespace

void VolumePageTest::ntfsParseFoldersAndColours() {
    const QString image = fixture("ntfs.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = openVolume(h, image, volumeRecord("NTFS", 64, 0), RecoveryMode::Standard);
    QAbstractItemModelTester tester(page->treeModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(!page->findChild<QPushButton*>(QStringLiteral("backButton"))->isEnabled());
    QVERIFY(waitIdle(page));
    QVERIFY(h.dialogs.texts().contains(kDone));
    QCOMPARE(page->findChild<QLabel*>(QStringLiteral("statusLine"))->text(), kDone);
    QVERIFY(page->findChild<QPushButton*>(QStringLiteral("backButton"))->isEnabled());
    QVERIFY(!page->findChild<QProgressBar*>(QStringLiteral("progressBar"))->isVisible());
    QVERIFY(!page->findChild<QPushButton*>(QStringLiteral("stopButton"))->isVisible());

    auto* model = page->treeModel();
    auto* view = page->treeView();
    const QModelIndex root = rootIndex(page);
    QCOMPARE(root.data().toString(), QStringLiteral("ROOT"));
    QVERIFY(view->isExpanded(root));
    // An unopened folder shows one placeholder; expanding replaces it once.
    QModelIndex docs = childNamed(model, root, QStringLiteral("docs"));
    QVERIFY(docs.isValid());
    QCOMPARE(model->rowCount(docs), 1);
    QCOMPARE(model->index(0, 0, docs).data().toString(), QStringLiteral("..DUMY.."));
    view->expand(docs);
    Harness::settle();
    const int opened = model->rowCount(docs);
    QVERIFY(opened > 1);
    QVERIFY(!childNamed(model, docs, QStringLiteral("..DUMY..")).isValid());
    view->collapse(docs);
    view->expand(docs);
    QCOMPARE(model->rowCount(docs), opened);
    // Opened by the expand button, the deleted file is red as well.
    const QModelIndex deleted = childNamed(model, docs, QStringLiteral("deleted.bin"));
    QVERIFY(deleted.isValid());
    QCOMPARE(deleted.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    QVERIFY(listNames(page).isEmpty());  // expanding leaves the list alone
    // A file's named stream is listed right after it, marked in the attribute column.
    clickLabel(view, docs);
    const QStringList docsFiles = listNames(page);
    const int file = int(docsFiles.indexOf(QStringLiteral("with_stream.txt")));
    const int stream = int(docsFiles.indexOf(QStringLiteral("with_stream.txt:Zone.Identifier")));
    QVERIFY2(file >= 0 && stream > file && stream <= file + 2, qPrintable(docsFiles.join(',')));
    QVERIFY(page->listModel()->index(stream, 5).data().toString().endsWith(QStringLiteral(" stream")));
    QVERIFY(!page->listModel()->index(file, 5).data().toString().contains(QStringLiteral("stream")));

    // Opened by a label click: deleted children are red, and the list holds
    // the folder's files only.
    const QModelIndex deldir = childNamed(model, root, QStringLiteral("deldir"));
    QVERIFY(deldir.isValid());
    clickLabel(view, deldir);
    const QModelIndex tiny = childNamed(model, deldir, QStringLiteral("tiny.txt"));
    QVERIFY(tiny.isValid());
    QCOMPARE(tiny.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    QCOMPARE(listNames(page), QStringList{QStringLiteral("tiny.txt")});
    QCOMPARE(page->listModel()->headerData(5, Qt::Horizontal).toString(), QStringLiteral("Attribute"));
    // A label click on ROOT lists the first level's files.
    clickLabel(view, root);
    QVERIFY(listNames(page).contains(QStringLiteral("big.bin")));
    QVERIFY(!listNames(page).contains(QStringLiteral("docs")));
}

void VolumePageTest::checksTravelBetweenTreeAndList() {
    const QString image = fixture("ntfs.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = openVolume(h, image, volumeRecord("ntfs", 64, 0), RecoveryMode::Standard);
    QVERIFY(waitIdle(page));
    auto* model = page->treeModel();
    auto* view = page->treeView();
    const QModelIndex root = rootIndex(page);
    QModelIndex docs = childNamed(model, root, QStringLiteral("docs"));
    // A folder checked before it is opened passes its mark to its children.
    clickCheckBox(view, docs);
    QCOMPARE(docs.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(root.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    clickLabel(view, docs);
    const QModelIndex small = childNamed(model, docs, QStringLiteral("small.txt"));
    QCOMPARE(small.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(childNamed(model, docs, QStringLiteral("deep")).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    // A row's box mirrors to its tree item; the folder becomes partly checked.
    auto* list = page->listModel();
    const int row = listNames(page).indexOf(QStringLiteral("small.txt"));
    QVERIFY(row >= 0);
    QCOMPARE(list->index(row, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    auto* listView = page->listView();
    const QRect cell = listView->visualRect(page->listFilter()->index(row, 0));
    QTest::mouseClick(listView->viewport(), Qt::LeftButton, {},
                      QPoint(cell.left() + listView->style()->pixelMetric(QStyle::PM_IndicatorWidth) / 2 + 3,
                             cell.center().y()));
    Harness::settle();
    QCOMPARE(list->index(row, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(small.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(docs.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    // The header's box checks every row, and the tree follows.
    auto* header = listView->checkHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, header->checkBoxRect().center());
    Harness::settle();
    for (int r = 0; r < list->rowCount(); ++r)
        QCOMPARE(list->index(r, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(small.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(docs.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
}

void VolumePageTest::saveFolderByteForByte() {
    const QString image = fixture("search_fat16.img");
    const QString tree = fixture("search_tree");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = openWholeImage(h, image, "FAT16");
    QVERIFY(waitIdle(page));
    QTemporaryDir out;
    auto* view = page->treeView();
    const QModelIndex photos = childNamed(page->treeModel(), rootIndex(page), QStringLiteral("photos"));
    QVERIFY(photos.isValid());
    clickLabel(view, photos);

    // No output folder: the message, and nothing written.
    h.dialogs.clear();
    QVERIFY(h.click("saveButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("select output folder")});
    QVERIFY(!page->isBusy());

    // The folder chooser fills the field; a cancelled chooser keeps it.
    h.dialogs.queueFile(out.path());
    QVERIFY(h.click("chooseFolderButton"));
    QCOMPARE(page->findChild<QLineEdit*>(QStringLiteral("outputFolder"))->text(), out.path());
    QVERIFY(h.click("chooseFolderButton"));
    QCOMPARE(page->findChild<QLineEdit*>(QStringLiteral("outputFolder"))->text(), out.path());

    // A Stop left from the parse must not cut the files of a later save.
    page->session().controller().parser()->stopRequested = true;
    h.dialogs.clear();
    QVERIFY(h.click("saveButton"));
    QVERIFY(waitIdle(page));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("work done\n3 of 3 saved, 0 damaged, 0 failed\nreport at %1")
                                                .arg(out.filePath(QStringLiteral("salvage_report.csv")))});
    QVERIFY(QFileInfo::exists(out.filePath(QStringLiteral("salvage_report.json"))));
    auto* bar = page->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    QCOMPARE(bar->value(), bar->maximum());  // all three files: a full bar
    QMap<QString, QByteArray> expected = filesUnder(tree + QStringLiteral("/photos"));
    QCOMPARE(expected.size(), 3);
    QList<QByteArray> want = expected.values();
    QMap<QString, QByteArray> written = filesUnder(out.path());
    written.remove(QStringLiteral("salvage_report.csv"));
    written.remove(QStringLiteral("salvage_report.json"));
    QVERIFY(written.remove(QStringLiteral("salvage_report.xml")) == 1);
    QFile dfxml(out.filePath(QStringLiteral("salvage_report.xml")));
    QVERIFY(dfxml.open(QIODevice::ReadOnly));
    QCOMPARE(dfxml.readAll().count("<byte_run "), 3);  // the DFXML names where each file lay
    QList<QByteArray> got = written.values();
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    QCOMPARE(got, want);

    // Stopped at once, then saved again: the second save is whole.
    QDir(out.path()).removeRecursively();
    QVERIFY(h.click("saveButton"));
    page->findChild<QPushButton*>(QStringLiteral("stopButton"))->click();
    QVERIFY(waitIdle(page));
    QVERIFY(h.click("saveButton"));
    QVERIFY(waitIdle(page));
    QCOMPARE(page->lastSaved().size(), std::size_t(3));
    for (const SavedFile& s : page->lastSaved()) QVERIFY(s.ok);

    // A paused save holds before its next file until Resume.
    page->session().controller().pauseGate().pause();
    h.dialogs.clear();
    QVERIFY(h.click("saveButton"));
    QTRY_VERIFY_WITH_TIMEOUT(page->session().controller().pauseGate().holds() >= 1, 10000);
    QTest::qWait(100);
    QVERIFY(page->isBusy());
    QVERIFY(h.dialogs.texts().isEmpty());
    QVERIFY(h.click("resumeButton"));
    QVERIFY(waitIdle(page));
    QCOMPARE(h.dialogs.texts().size(), 1);
    QVERIFY(h.dialogs.texts().first().startsWith(QStringLiteral("work done\n3 of 3 saved")));

    // Stopped before its first file: a stopped save, not "work done".
    page->session().controller().pauseGate().pause();
    h.dialogs.clear();
    QVERIFY(h.click("saveButton"));
    QTRY_VERIFY_WITH_TIMEOUT(page->session().controller().pauseGate().holds() >= 1, 10000);
    QVERIFY(h.click("stopButton"));
    QVERIFY(h.click("resumeButton"));
    QVERIFY(waitIdle(page));
    QVERIFY2(h.dialogs.texts().first().startsWith(QStringLiteral("The save was stopped.\n")),
             qPrintable(h.dialogs.texts().first()));
}

void VolumePageTest::doubleClickSavesOneFile() {
    const QString image = fixture("search_fat16.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = openWholeImage(h, image, "fat");
    QVERIFY(waitIdle(page));
    auto* view = page->treeView();
    QModelIndex file;
    const QModelIndex root = rootIndex(page);
    for (int r = 0; r < page->treeModel()->rowCount(root); ++r) {
        const QModelIndex i = page->treeModel()->index(r, 0, root);
        if (i.data().toString().compare(QStringLiteral("a.jpg"), Qt::CaseInsensitive) == 0) file = i;
    }
    QVERIFY(file.isValid());
    view->scrollTo(file);
    const QPoint at = onLabel(view, file);
    h.dialogs.clear();
    doubleClick(view, at);
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("select output folder")});

    QTemporaryDir out;
    page->findChild<QLineEdit*>(QStringLiteral("outputFolder"))->setText(out.path());
    h.dialogs.clear();
    doubleClick(view, at);
    QVERIFY(waitIdle(page));
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 1);
    const QString saved = out.filePath(QDir(out.path()).entryList(QDir::Files).first());
    QCOMPARE(md5Of(saved), md5Of(fixture("search_tree/a.jpg")));
    QVERIFY(h.dialogs.texts().isEmpty());  // FAT16 shows no box after a single save
    // but the status line says where the file went.
    QCOMPARE(page->findChild<QLabel*>(QStringLiteral("statusLine"))->text(), QStringLiteral("Saved %1").arg(saved));
}

void VolumePageTest::doubleClickAnnouncesOnExt() {
    const QString image = fixture("search_ext.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = openWholeImage(h, image, "extX");
    QVERIFY(waitIdle(page));
    const QModelIndex file = childNamed(page->treeModel(), rootIndex(page), QStringLiteral("B.PNG"));
    QVERIFY(file.isValid());
    QTemporaryDir out;
    page->findChild<QLineEdit*>(QStringLiteral("outputFolder"))->setText(out.path());
    h.dialogs.clear();
    page->treeView()->scrollTo(file);
    doubleClick(page->treeView(), onLabel(page->treeView(), file));
    QVERIFY(waitIdle(page));
    QCOMPARE(md5Of(out.filePath(QStringLiteral("B.PNG"))), md5Of(fixture("search_tree/B.PNG")));
    QCOMPARE(h.dialogs.texts(),
             QStringList{QStringLiteral("file is dumped in path  :  %1   ").arg(out.filePath(QStringLiteral("B.PNG")))});
}

void VolumePageTest::searchListsMatches() {
    const QString image = fixture("search_fat16.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = openWholeImage(h, image, "FAT16");
    QVERIFY(waitIdle(page));
    auto* box = page->findChild<QLineEdit*>(QStringLiteral("searchBox"));
    QCOMPARE(page->findChild<QLabel*>(QStringLiteral("searchHint"))->text(),
             QStringLiteral("* Use \"|\" to find multiple file type "));
    box->setText(QStringLiteral("jpg|png"));
    h.dialogs.clear();
    QVERIFY(h.click("searchButton"));
    QVERIFY(waitIdle(page));
    QVERIFY(h.dialogs.texts().contains(QStringLiteral("Searching Finished")));
    QStringList names = listNames(page);
    for (QString& n : names) n = n.toLower();
    names.sort();
    QStringList expected{QStringLiteral("root\\a.jpg"), QStringLiteral("root\\b.png"),
                         QStringLiteral("root\\backup.jpg.old"), QStringLiteral("root\\photos\\c.jpg"),
                         QStringLiteral("root\\photos\\deep\\d.png")};
    for (const QString& e : expected) QVERIFY2(names.contains(e), qPrintable(e + " in " + names.join(',')));
    QVERIFY(!names.contains(QStringLiteral("root\\photos\\deep\\e.jpeg")));
    // Result rows can be checked and saved, and a double click opens their
    // folder in the tree with the entry selected.
    auto* list = page->listModel();
    const auto rowOf = [&](const QString& name) { return int(listNames(page).indexOf(name, 0)); };
    QStringList shown = listNames(page);
    const QString deepPng = shown.filter(QStringLiteral("d.png"), Qt::CaseInsensitive).value(0);
    const QString cJpg = shown.filter(QStringLiteral("c.jpg"), Qt::CaseInsensitive).value(0);
    for (const QString& name : {deepPng, cJpg}) {
        QVERIFY(list->setData(list->index(rowOf(name), 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(list->index(rowOf(name), 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    }
    QTemporaryDir out;
    page->findChild<QLineEdit*>(QStringLiteral("outputFolder"))->setText(out.path());
    h.dialogs.clear();
    QVERIFY(h.click("saveButton"));
    QVERIFY(waitIdle(page));
    QVERIFY2(h.dialogs.texts().value(0).startsWith(QStringLiteral("work done\n2 of 2 saved")),
             qPrintable(h.dialogs.texts().join('|')));
    // FAT keeps these as short names: C.JPG, D.PNG.
    const QMap<QString, QByteArray> written = filesUnder(out.path());
    QCOMPARE(written.value(QStringLiteral("C.JPG")), md5Of(fixture("search_tree/photos/c.jpg")));
    QCOMPARE(written.value(QStringLiteral("D.PNG")), md5Of(fixture("search_tree/photos/deep/d.png")));
    QVERIFY(listNames(page).contains(deepPng));  // the results stay
    auto* listView = page->listView();
    const QRect cell = listView->visualRect(page->listFilter()->index(rowOf(deepPng), 1));
    doubleClick(listView, cell.center());
    const QModelIndex current = page->treeView()->currentIndex();
    QCOMPARE(current.data().toString().trimmed().toLower(), QStringLiteral("d.png"));
    QVERIFY(page->treeView()->isExpanded(current.parent()));
    QCOMPARE(current.parent().data().toString().trimmed().toLower(), QStringLiteral("deep"));

    box->setText(QStringLiteral("*.jpg"));
    h.dialogs.clear();
    QVERIFY(h.click("searchButton"));
    QVERIFY(waitIdle(page));
    QCOMPARE(h.dialogs.texts(),
             QStringList{QStringLiteral("such characters are not allowed for search.Try again with different pattern.")});
    QCOMPARE(list->rowCount(), 0);
    // A label click ends the result mode.
    clickLabel(page->treeView(), rootIndex(page));
    QVERIFY(!page->session().list().showsSearchResults());
}

void VolumePageTest::stopAPausedSearch() {
    const QString image = fixture("search_fat16.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = openWholeImage(h, image, "FAT16");
    QVERIFY(waitIdle(page));
    auto* box = page->findChild<QLineEdit*>(QStringLiteral("searchBox"));
    box->setText(QStringLiteral("jpg|png|mp3"));
    QVERIFY(h.click("searchButton"));
    QVERIFY(waitIdle(page));
    const QStringList all = listNames(page);
    QVERIFY2(all.size() >= 6, qPrintable(all.join(QLatin1Char(','))));

    // Paused before it starts, the search holds at the first folder it
    // walks; Stop then Resume ends that folder's walk and the search goes
    // on with the next top-level folder and finishes.
    PauseGate& gate = page->session().controller().pauseGate();
    const auto heldBefore = gate.holds();
    gate.pause();
    h.dialogs.clear();
    QVERIFY(h.click("searchButton"));
    QTRY_VERIFY_WITH_TIMEOUT(gate.holds() > heldBefore, 10000);
    QVERIFY(page->isBusy());
    QVERIFY(h.click("stopButton"));
    QVERIFY(h.click("resumeButton"));
    QVERIFY(waitIdle(page));
    QVERIFY(h.dialogs.texts().contains(QStringLiteral("Searching Finished")));
    QStringList names = listNames(page);
    QVERIFY2(names.size() < all.size(), qPrintable(names.join(',')));
    for (const char* top : {"ROOT\\a.jpg", "ROOT\\backup.jpg.old"})
        QVERIFY2(names.contains(QString::fromLatin1(top), Qt::CaseInsensitive), qPrintable(names.join(',')));
    QVERIFY(!page->isBusy());
    QVERIFY(page->findChild<QPushButton*>(QStringLiteral("searchButton"))->isEnabled());
}

void VolumePageTest::pauseStopAndResumeAParse() {
    const QString image = fixture("ntfs.img");
    REQUIRE_FILE(image);
    Harness h;
    installImage(image);
    // Paused before it starts, the parse holds at its first poll.
    auto session = std::make_shared<VolumeSession>(h.window.get(), volumeRecord("NTFS", 64, 0));
    session->controller().pauseGate().pause();
    auto* page = openVolume(h, image, volumeRecord("NTFS", 64, 0), RecoveryMode::Deep, session);
    QTRY_VERIFY_WITH_TIMEOUT(session->controller().pauseGate().holds() >= 1, 10000);
    auto* bar = page->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    QVERIFY(bar->isVisible());
    const int frozen = bar->value();
    QTest::qWait(200);
    QCOMPARE(bar->value(), frozen);
    QVERIFY(page->isBusy());

    // Save while the parse runs is refused.
    h.dialogs.clear();
    QVERIFY(h.click("saveButton"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("Please wait for other process to complete")});

    QVERIFY(h.click("stopButton"));
    QCOMPARE(page->findChild<QLabel*>(QStringLiteral("statusLine"))->text(),
             QStringLiteral("stop button pressed.Please wait for the process to be stopped."));
    QTest::qWait(100);
    QVERIFY(page->isBusy());  // Stop does not release a paused job
    QVERIFY(h.click("resumeButton"));
    QVERIFY(waitIdle(page));
    QVERIFY(h.dialogs.texts().contains(kDone));
    QCOMPARE(rootIndex(page).data().toString(), QStringLiteral("ROOT"));
    QVERIFY(!bar->isVisible());
}

void VolumePageTest::exfatAndHfsBrowse() {
    struct Case {
        const char* image;
        const char* fileSystem;
        qint64 start;
        const char* file;  // a file of the first level
        const char* done;  // the parse's last status
    };
    const Case cases[] = {
        {"exfat_gpt_disk.img", "exFat", 2048, nullptr, "Scanning processing done.Select save button to save the data."},
        {"search_hfs.img", "HFS+", 0, "a.jpg", "Work Done."},
    };
    for (const Case& c : cases) {
        const QString image = fixture(c.image);
        REQUIRE_FILE(image);
        Harness h;
        const int sizeMb = int((QFileInfo(image).size() - c.start * 512) >> 20);
        auto* page = openVolume(h, image, volumeRecord(c.fileSystem, sizeMb, c.start), RecoveryMode::Standard);
        QVERIFY(waitIdle(page));
        QCOMPARE(page->findChild<QLabel*>(QStringLiteral("statusLine"))->text(), QLatin1String(c.done));
        const QModelIndex root = rootIndex(page);
        QVERIFY2(page->treeModel()->rowCount(root) > 0, c.image);
        clickLabel(page->treeView(), root);
        if (c.file) QVERIFY2(listNames(page).contains(QLatin1String(c.file)), qPrintable(listNames(page).join(',')));
        // Every first-level folder opens once, with or without colour.
        for (int r = 0; r < page->treeModel()->rowCount(root); ++r) {
            const QModelIndex i = page->treeModel()->index(r, 0, root);
            page->treeView()->expand(i);
            QVERIFY(!childNamed(page->treeModel(), i, QStringLiteral("..DUMY..")).isValid());
        }
    }
}

void VolumePageTest::unknownVolumeStartsNothing() {
    const QString image = fixture("ntfs.img");
    REQUIRE_FILE(image);
    Harness h;
    auto* page = openVolume(h, image, volumeRecord("unknown", 64, 0), RecoveryMode::Standard);
    QVERIFY(!page->isBusy());
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("not a valid drive.")});
    QCOMPARE(page->findChild<QLabel*>(QStringLiteral("statusLine"))->text(), QStringLiteral("Not a valid Drive .Go back"));
    QVERIFY(page->findChild<QPushButton*>(QStringLiteral("backButton"))->isEnabled());
    QCOMPARE(page->treeModel()->rowCount(), 0);
}

void VolumePageTest::advancedFlowNtfs() {
    const QString image = fixture("ntfs_zeroboot.img");
    REQUIRE_FILE(image);
    Harness h;
    installImage(image);
    auto* options = new advanceOptions(h.window.get(), h.page(), volumeRecord("NTFS", 64, 0), QStringLiteral("0"));
    h.window->showPage(options);
    QSignalSpy ended(options, &advanceOptions::searchFinished);
    QVERIFY(ended.wait(60000));
    auto* candidates = options->findChild<QComboBox*>(QStringLiteral("candidateList"));
    QVERIFY(candidates->count() >= 1);
    QCOMPARE(candidates->itemText(0), QStringLiteral("MFT_ENTRY:0"));
    auto* spc = options->findChild<QComboBox*>(QStringLiteral("sectorsPerClusterList"));
    QCOMPARE(spc->itemText(0), QStringLiteral("8"));
    QVERIFY(!options->findChild<QComboBox*>(QStringLiteral("heapOffsetList"))->isVisible());
    QCOMPARE(h.dialogs.texts().last(),
             QStringLiteral("Number of MFT-ENTRY found = %1 . Please select the choice from combo box and click "
                            "Next button to proceed.")
                 .arg(candidates->count()));
    QCOMPARE(options->findChild<QLabel*>(QStringLiteral("statusLine"))->text(),
             QStringLiteral("Parsing done.Click next to continue."));

    QVERIFY(h.click("nextButton"));
    auto* page = h.pageAs<VolumeScanDlg>();
    QVERIFY(page);
    QCOMPARE(page->mode(), RecoveryMode::Advanced);
    QVERIFY(waitIdle(page));
    QVERIFY(childNamed(page->treeModel(), rootIndex(page), QStringLiteral("docs")).isValid());
    // Back leads to the advanced-input page, as it was.
    QVERIFY(h.click("backButton"));
    QCOMPARE(h.page(), static_cast<WizardPage*>(options));
    QCOMPARE(candidates->currentIndex(), 0);
}

void VolumePageTest::advancedFlowFat32() {
    const QString disk = fixture("fat_mbr_disk.img");
    REQUIRE_FILE(disk);
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("fat32_noboot.img"));
    QVERIFY(QFile::copy(disk, image));
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(2048 * 512);
        f.write(QByteArray(512, '\0'));  // the boot sector is gone
    }
    Harness h;
    installImage(image);
    const int sizeMb = int((QFileInfo(image).size() - 2048 * 512) >> 20);
    auto* options = new advanceOptions(h.window.get(), h.page(), volumeRecord("FAT32", sizeMb, 2048), QString());
    h.window->showPage(options);
    QSignalSpy ended(options, &advanceOptions::searchFinished);
    QVERIFY(ended.wait(60000));
    auto* candidates = options->findChild<QComboBox*>(QStringLiteral("candidateList"));
    QVERIFY(candidates->count() >= 1);
    QCOMPARE(candidates->itemText(0), QStringLiteral("FAT32_ENTRY:0"));
    QCOMPARE(options->findChild<QLabel*>(QStringLiteral("candidateLabel"))->text(), QStringLiteral("TFS :"));
    QVERIFY(h.dialogs.texts().last().startsWith(QStringLiteral("Number of FAT32-ENTRY found = ")));
    QVERIFY(h.click("nextButton"));
    auto* page = h.pageAs<VolumeScanDlg>();
    QVERIFY(page);
    QVERIFY(waitIdle(page));
    QVERIFY(h.dialogs.texts().contains(kDone));
    const QModelIndex root = rootIndex(page);
    QVERIFY(page->treeModel()->rowCount(root) > 0);
}

void VolumePageTest::hundredThousandEntriesOpenQuickly() {
    static constexpr int kFiles = 100000;
    Harness h;
    auto* page = openWide(h, kFiles);
    QAbstractItemModelTester tester(page->treeModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(waitIdle(page));
    auto* model = page->treeModel();
    auto* view = page->treeView();
    const QModelIndex wide = childNamed(model, rootIndex(page), QStringLiteral("wide"));
    QVERIFY(wide.isValid());
    QElapsedTimer t;
    t.start();
    clickLabel(view, wide);
    view->expand(wide);
    view->scrollToBottom();
    Harness::settle();
    QTest::qWait(1);
    const qint64 ms = t.elapsed();
    QCOMPARE(model->rowCount(wide), kFiles);
    QCOMPARE(page->listModel()->rowCount(), kFiles);
    // The fill marks the one file that touches damage, within the same time.
    const QModelIndex cut = page->listModel()->index(38, 0);
    QCOMPARE(cut.data().toString(), QStringLiteral("file40.jpg"));
    QVERIFY(cut.data(ui::FileListModel::DamagedRole).toBool());
    QVERIFY(cut.data(Qt::ToolTipRole).toString().contains(QLatin1String(cause::kChainEnded)));
    QVERIFY(!page->listModel()->index(37, 0).data(ui::FileListModel::DamagedRole).toBool());
// Under the sanitizers every access is checked: no time to hold there.
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
    QVERIFY2(ms < 3000, qPrintable(QStringLiteral("opening took %1 ms").arg(ms)));
#else
    Q_UNUSED(ms);
#endif
    // Checking the folder marks every entry without a stall either.
    t.restart();
    clickCheckBox(view, wide);
    QVERIFY2(t.elapsed() < 3000, qPrintable(QStringLiteral("checking took %1 ms").arg(t.elapsed())));
    QCOMPARE(model->index(kFiles - 1, 0, wide).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    // and so does the list's header box, row by row.
    auto* header = page->listView()->checkHeader();
    t.restart();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, header->checkBoxRect().center());
    Harness::settle();
    QVERIFY2(t.elapsed() < 5000, qPrintable(QStringLiteral("the header box took %1 ms").arg(t.elapsed())));
    QCOMPARE(page->listModel()->index(kFiles - 1, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, header->checkBoxRect().center());
    Harness::settle();
    QCOMPARE(model->index(kFiles - 1, 0, wide).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(wide.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
}

void VolumePageTest::fileListSortFilterPreviewAndCheckedSave() {
    Harness h;
    auto* page = openWide(h, 30);
    QVERIFY(waitIdle(page));
    // The page fits the smallest window.
    const QSize needed = h.window->layout()->totalMinimumSize();
    QVERIFY2(needed.width() <= h.window->minimumWidth() && needed.height() <= h.window->minimumHeight(),
             qPrintable(QStringLiteral("%1x%2").arg(needed.width()).arg(needed.height())));
    const QModelIndex wide = childNamed(page->treeModel(), rootIndex(page), QStringLiteral("wide"));
    clickLabel(page->treeView(), wide);
    auto* view = page->listView();
    auto* rows = page->listFilter();
    auto* count = page->findChild<QLabel*>(QStringLiteral("countLine"));
    QCOMPARE(rows->rowCount(), 30);
    QCOMPARE(count->text(), QStringLiteral("30 files, 5 deleted, 483.40 KB"));
    for (int r = 0; r < rows->rowCount(); ++r) {
        const bool deleted = rows->rowAt(r)->deleted;
        QCOMPARE(rows->index(r, 0).data(Qt::ForegroundRole).value<QColor>() == QColor(255, 0, 0), deleted);
    }
    for (int c = 0; c < 5; ++c) QVERIFY(view->columnWidth(c) >= static_cast<QAbstractItemView*>(view)->sizeHintForColumn(c));

    // Sorted by the values, not the texts: sizes grow with the number,
    // creation times fall with it (their texts are all the same).
    const auto firstName = [&] { return rows->index(0, 0).data().toString(); };
    clickHeader(view, 4);
    QCOMPARE(firstName(), QStringLiteral("file2.jpg"));
    clickHeader(view, 4);
    QCOMPARE(firstName(), QStringLiteral("file31.jpg"));
    clickHeader(view, 1);
    QCOMPARE(firstName(), QStringLiteral("file31.jpg"));
    QCOMPARE(rows->index(29, 0).data().toString(), QStringLiteral("file2.jpg"));

    // Filters: name words, deleted only, a size range; the count line follows.
    auto* filter = page->findChild<QLineEdit*>(QStringLiteral("filterBox"));
    filter->setText(QStringLiteral("file1"));
    QCOMPARE(rows->rowCount(), 10);
    QVERIFY2(count->text().startsWith(QStringLiteral("10 files, 2 deleted, ")) &&
                 count->text().endsWith(QStringLiteral("(of 30)")),
             qPrintable(count->text()));
    auto* deletedOnly = page->findChild<QCheckBox*>(QStringLiteral("deletedOnly"));
    deletedOnly->setChecked(true);
    QCOMPARE(rows->rowCount(), 2);
    deletedOnly->setChecked(false);
    filter->setText(QStringLiteral("file1|file2"));
    QCOMPARE(rows->rowCount(), 21);
    filter->clear();
    page->findChild<QLineEdit*>(QStringLiteral("minSize"))->setText(QStringLiteral("20 KB"));
    page->findChild<QLineEdit*>(QStringLiteral("maxSize"))->setText(QStringLiteral("25000"));
    QCOMPARE(rows->rowCount(), 5);  // 21 000 to 25 000 bytes
    page->findChild<QLineEdit*>(QStringLiteral("minSize"))->clear();
    page->findChild<QLineEdit*>(QStringLiteral("maxSize"))->clear();

    // The preview reads the selected file: a picture, or text and hex.
    auto* preview = page->preview();
    const auto select = [&](const QString& name) {
        for (int r = 0; r < rows->rowCount(); ++r)
            if (rows->index(r, 0).data().toString() == name) view->setCurrentIndex(rows->index(r, 1));
    };
    select(QStringLiteral("file2.jpg"));
    QTRY_VERIFY(preview->hasPicture());
    QVERIFY(preview->hexText().startsWith(QStringLiteral("00000000  89 50 4e 47")));
    select(QStringLiteral("file3.jpg"));
    QTRY_COMPARE(preview->plainText(), QStringLiteral("file 3"));
    QVERIFY(!preview->hasPicture());

    // The header box checks the rows shown only; Save writes exactly the
    // checked entries and ends with the summary and the report.
    filter->setText(QStringLiteral("file1"));
    QTest::mouseClick(view->checkHeader()->viewport(), Qt::LeftButton, {}, view->checkHeader()->checkBoxRect().center());
    Harness::settle();
    filter->clear();
    QCOMPARE(wide.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QTemporaryDir out;
    page->findChild<QLineEdit*>(QStringLiteral("outputFolder"))->setText(out.path());
    h.dialogs.clear();
    h.dialogs.queueChoice(1);
    QVERIFY(h.click("saveButton"));
    QVERIFY(waitIdle(page));
    QStringList saved = QDir(out.path()).entryList(QDir::Files);
    QCOMPARE(saved.size(), 13);  // ten files and the three reports
    QVERIFY(saved.contains(QStringLiteral("file19.jpg")) && !saved.contains(QStringLiteral("file2.jpg")));
    const QString report = out.filePath(QStringLiteral("salvage_report.csv"));
    QCOMPARE(h.dialogs.texts(), QStringList{QStringLiteral("work done\n10 of 10 saved, 0 damaged, 0 failed\nreport at %1")
                                                .arg(report)});
    QCOMPARE(h.dialogs.choiceButtons().back(),
             (QStringList{QStringLiteral("Open Folder"), QStringLiteral("Show Report"), QStringLiteral("Close")}));
    QCOMPARE(h.dialogs.urls().back(), QUrl::fromLocalFile(report));
    QFile csv(report);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray lines = csv.readAll();
    QCOMPARE(lines.count('\n'), 11);
    QVERIFY(lines.contains("ROOT\\wide\\file17.jpg"));

    // A folder that cannot be written: never "work done".
    QFile blocker(out.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    page->findChild<QLineEdit*>(QStringLiteral("outputFolder"))->setText(blocker.fileName() + QStringLiteral("/sub"));
    h.dialogs.clear();
    QVERIFY(h.click("saveButton"));
    QVERIFY(waitIdle(page));
    QCOMPARE(h.dialogs.shown().size(), std::size_t(1));
    QVERIFY2(h.dialogs.texts().first().startsWith(QStringLiteral("Nothing was saved: no file could be written to ")),
             qPrintable(h.dialogs.texts().first()));
    QCOMPARE(h.dialogs.shown().front().icon, BoxIcon::Warning);

    // Splitter positions outlive the page.
    auto* splitter = page->findChild<QSplitter*>(QStringLiteral("browseSplitter"));
    splitter->setSizes({123, splitter->width() - 123 - splitter->handleWidth()});
    const QList<int> sizes = splitter->sizes();
    delete page;
    page = openWide(h, 3);
    QVERIFY(waitIdle(page));
    QCOMPARE(page->findChild<QSplitter*>(QStringLiteral("browseSplitter"))->sizes(), sizes);
    QSettings().remove(QStringLiteral("volumePage"));
}
