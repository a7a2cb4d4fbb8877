#include "app/VolumeScanDlg.h"

#include "app/GuiQueue.h"
#include "app/ImageSession.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QSettings>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <QUrl>
#include <climits>
#include <set>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/QtReporter.h"
#include "app/VolumeSession.h"
#include "app/WizardWindow.h"
#include "app/WorkerJob.h"
#include "browse/FilePreview.h"
#include "browse/FolderOpen.h"
#include "browse/Dfxml.h"
#include "browse/SaveReport.h"
#include "image/Globals.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"
#include "ui/BrowseTreeModel.h"
#include "ui/CheckListView.h"
#include "ui/CheckTreeView.h"
#include "ui/FileListModel.h"
#include "ui/PreviewPane.h"
#include "ui/JobProgress.h"

namespace salvage::app {

namespace {
constexpr char16_t kWaitMessage[] = u"Please wait for other process to complete";
constexpr char16_t kStopStatus[] = u"stop button pressed.Please wait for the process to be stopped.";
// How often search results reach the list while the search runs.
constexpr int kResultsRefreshMs = 200;
// A selection held this long is previewed: moving through the list with
// the keyboard reads only where the user stops.
constexpr int kPreviewDelayMs = 150;
constexpr char kBrowseSplitterKey[] = "volumePage/browseSplitter";
constexpr char kListSplitterKey[] = "volumePage/listSplitter";
// The save report beside the saved files, as the command line writes it.
constexpr char kReportCsv[] = "salvage_report.csv";
constexpr char kReportJson[] = "salvage_report.json";
constexpr char kReportDfxml[] = "salvage_report.xml";

// The reporter of a folder save: everything goes on to the page's reporter
// except the save's own closing "work done", which the page replaces by its
// summary of what was written.
class SaveReporter final : public Reporter {
public:
    explicit SaveReporter(Reporter& inner) : inner_(inner) {}
    void setStatus(const std::u16string& text) override { inner_.setStatus(text); }
    void setProgressRange(std::int64_t minimum, std::int64_t maximum) override {
        inner_.setProgressRange(minimum, maximum);
    }
    void setProgressPosition(std::int64_t position) override { inner_.setProgressPosition(position); }
    void message(const std::u16string& text, const std::u16string& caption, MessageIcon icon) override {
        // The page's summary says both, with the counts and the report.
        if (text == u"work done" || text.starts_with(u"cannot write to the output folder")) return;
        inner_.message(text, caption, icon);
    }
    bool ask(const std::u16string& text, const std::u16string& caption) override { return inner_.ask(text, caption); }

private:
    Reporter& inner_;
};

QString hostPath(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// The names below ROOT of a search result's path: "ROOT\docs\a.txt"
// gives "docs", "a.txt".
std::vector<std::u16string> splitResultPath(const std::u16string& path) {
    std::vector<std::u16string> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i)
        if (i == path.size() || path[i] == u'\\') {
            names.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    if (!names.empty() && names.front() == kRootText) names.erase(names.begin());
    return names;
}

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}
}  // namespace

VolumeScanDlg::VolumeScanDlg(WizardWindow* wizard, WizardPage* owner, const VolumeRecord& record,
                             RecoveryMode mode, std::shared_ptr<VolumeSession> session)
    : WizardPage(wizard, owner), session_(std::move(session)), mode_(mode) {
    setObjectName(QStringLiteral("VolumeScanDlg"));
    QWidget* boxParent = wizard ? static_cast<QWidget*>(wizard) : static_cast<QWidget*>(this);
    if (!session_) session_ = std::make_shared<VolumeSession>(boxParent, record);
    saveJob_ = new WorkerJob(&session_->reporter(), this);

    auto* layout = new QVBoxLayout(this);

    auto* volumeRow = new QHBoxLayout;
    volumeRow->addWidget(new QLabel(QStringLiteral("Volume Data:"), this));
    volumeText_ = new QLineEdit(QString::fromStdU16String(record.name), this);
    volumeText_->setObjectName(QStringLiteral("volumeData"));
    volumeText_->setReadOnly(true);
    volumeRow->addWidget(volumeText_, 1);
    volumeRow->addSpacing(fontMetrics().averageCharWidth() * 2);
    searchBox_ = new QLineEdit(this);
    searchBox_->setObjectName(QStringLiteral("searchBox"));
    searchButton_ = button(QStringLiteral("Search"), "searchButton", this);
    volumeRow->addWidget(searchBox_, 1);
    volumeRow->addWidget(searchButton_);
    layout->addLayout(volumeRow);
    auto* hint = new QLabel(QStringLiteral("* Use \"|\" to find multiple file type "), this);
    hint->setObjectName(QStringLiteral("searchHint"));
    hint->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(hint);

    treeModel_ = new ui::BrowseTreeModel(session_->tree(), this);
    listModel_ = new ui::FileListModel(session_->list(), session_->tree(), this);
    listFilter_ = new ui::FileListFilter(listModel_, this);
    browseSplitter_ = new QSplitter(Qt::Horizontal, this);
    browseSplitter_->setObjectName(QStringLiteral("browseSplitter"));
    treeView_ = new ui::CheckTreeView(browseSplitter_);
    treeView_->setObjectName(QStringLiteral("browseTree"));
    treeView_->setModel(treeModel_);

    // Right of the tree: the filter row, the list and its count line above
    // the preview.
    listSplitter_ = new QSplitter(Qt::Vertical, browseSplitter_);
    listSplitter_->setObjectName(QStringLiteral("listSplitter"));
    auto* listPanel = new QWidget(listSplitter_);
    auto* listLayout = new QVBoxLayout(listPanel);
    listLayout->setContentsMargins(0, 0, 0, 0);
    auto* filterRow = new QHBoxLayout;
    filterBox_ = new QLineEdit(listPanel);
    filterBox_->setObjectName(QStringLiteral("filterBox"));
    filterBox_->setPlaceholderText(QStringLiteral("Filter: name or extension"));
    filterBox_->setClearButtonEnabled(true);
    filterBox_->setToolTip(QStringLiteral("Shows the rows whose name contains any of the words (\"|\" or blanks "
                                          "between them), e.g. .jpg|.png"));
    deletedOnly_ = new QCheckBox(QStringLiteral("Deleted only"), listPanel);
    deletedOnly_->setObjectName(QStringLiteral("deletedOnly"));
    damagedOnly_ = new QCheckBox(QStringLiteral("Damaged only"), listPanel);
    damagedOnly_->setObjectName(QStringLiteral("damagedOnly"));
    damagedOnly_->setToolTip(QStringLiteral("Shows the files that touch damage known so far (marked with a warning "
                                            "icon): unreadable parts of the image, chains or runs that end early"));
    minSize_ = new QLineEdit(listPanel);
    minSize_->setObjectName(QStringLiteral("minSize"));
    minSize_->setPlaceholderText(QStringLiteral("min size"));
    maxSize_ = new QLineEdit(listPanel);
    maxSize_->setObjectName(QStringLiteral("maxSize"));
    maxSize_->setPlaceholderText(QStringLiteral("max size"));
    for (QLineEdit* e : {minSize_, maxSize_}) {
        e->setToolTip(QStringLiteral("Bytes, or with a unit: 10 KB, 1.5 MB, 2 GB"));
        e->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("max size 000")) + 8);
    }
    filterRow->addWidget(filterBox_, 1);
    filterRow->addWidget(deletedOnly_);
    filterRow->addWidget(damagedOnly_);
    filterRow->addWidget(minSize_);
    filterRow->addWidget(maxSize_);
    listLayout->addLayout(filterRow);
    listView_ = new ui::CheckListView(listPanel);
    listView_->setObjectName(QStringLiteral("fileList"));
    listView_->setModel(listFilter_);
    listView_->setRowChecker([this](const QModelIndexList& rows, bool checked) {
        std::vector<std::size_t> source;
        for (const QModelIndex& i : rows) source.push_back(std::size_t(listFilter_->mapToSource(i).row()));
        listModel_->setRowsChecked(source, checked);
    });
    const QString time = QStringLiteral("00/00/0000  00:00 AM");
    listView_->setColumnWidths({{80, QStringLiteral("MMMMMMMM.MMM")},
                                {90, time},
                                {90, time},
                                {90, time},
                                {80, QStringLiteral("1023.00 KB")},
                                {70, QString()}});
    listLayout->addWidget(listView_, 1);
    countLine_ = new QLabel(listPanel);
    countLine_->setObjectName(QStringLiteral("countLine"));
    countLine_->setMinimumWidth(1);
    listLayout->addWidget(countLine_);
    preview_ = new ui::PreviewPane(listSplitter_);
    preview_->setObjectName(QStringLiteral("previewPane"));
    // In a small window the preview gives way first; it may be closed to
    // nothing by its splitter.
    preview_->setMinimumSize(1, 1);
    listSplitter_->addWidget(listPanel);
    listSplitter_->addWidget(preview_);
    listSplitter_->setStretchFactor(0, 3);
    listSplitter_->setStretchFactor(1, 2);
    listSplitter_->setCollapsible(0, false);

    browseSplitter_->addWidget(treeView_);
    browseSplitter_->addWidget(listSplitter_);
    browseSplitter_->setStretchFactor(0, 2);
    browseSplitter_->setStretchFactor(1, 5);
    browseSplitter_->setChildrenCollapsible(false);
    layout->addWidget(browseSplitter_, 1);

    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(new QLabel(QStringLiteral("Output Folder:"), this));
    outputFolder_ = new QLineEdit(this);
    outputFolder_->setObjectName(QStringLiteral("outputFolder"));
    chooseFolder_ = button(QStringLiteral("..."), "chooseFolderButton", this);
    chooseFolder_->setToolTip(QStringLiteral("Please choose a folder."));
    chooseFolder_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("...")) +
                                 fontMetrics().averageCharWidth() * 4);
    saveButton_ = button(QStringLiteral("Save"), "saveButton", this);
    outputRow->addWidget(outputFolder_, 1);
    outputRow->addWidget(chooseFolder_);
    outputRow->addWidget(saveButton_);
    layout->addLayout(outputRow);

    auto* progressRow = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusLine"));
    status_->setMinimumWidth(1);
    sizeLine_ = new QLabel(this);
    sizeLine_->setObjectName(QStringLiteral("sizeLine"));
    progress_ = new ui::JobProgress(this);
    progress_->setObjectName(QStringLiteral("jobProgress"));
    pause_ = button(QStringLiteral("Pause"), "pauseButton", this);
    resume_ = button(QStringLiteral("Resume"), "resumeButton", this);
    stop_ = button(QStringLiteral("Stop"), "stopButton", this);
    progressRow->addWidget(status_, 3);
    progressRow->addWidget(sizeLine_);
    progressRow->addWidget(progress_, 2);
    progressRow->addWidget(pause_);
    progressRow->addWidget(resume_);
    progressRow->addWidget(stop_);
    layout->addLayout(progressRow);

    back_ = button(QStringLiteral("Back"), "backButton", this);
    layout->addLayout(makeButtonRow({back_}));

    resultsTimer_ = new QTimer(this);
    resultsTimer_->setInterval(kResultsRefreshMs);
    previewTimer_ = new QTimer(this);
    previewTimer_->setSingleShot(true);
    previewTimer_->setInterval(kPreviewDelayMs);

    QtReporter& reporter = session_->reporter();
    connect(&reporter, &QtReporter::statusChanged, status_, &QLabel::setText);
    connectProgress(reporter, *progress_);
    connect(session_.get(), &VolumeSession::jobEnded, this, &VolumeScanDlg::jobEnded);
    connect(saveJob_, &WorkerJob::finished, this, &VolumeScanDlg::saveEnded);
    connect(resultsTimer_, &QTimer::timeout, listModel_, &ui::FileListModel::pull);
    connect(resultsTimer_, &QTimer::timeout, this,
            [this] { progress_->setCounts(QStringLiteral("%1 found").arg(listModel_->rowCount())); });
    connect(treeView_, &ui::CheckTreeView::labelClicked, this, &VolumeScanDlg::labelClicked);
    connect(treeView_, &QTreeView::expanded, this, &VolumeScanDlg::expanded);
    connect(treeView_, &QTreeView::doubleClicked, this, &VolumeScanDlg::doubleClicked);
    connect(treeView_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        const TreeItem item = treeModel_->itemOf(current);
        session_->tree().select(item);
        VolumeParser* parser = session_->controller().parser();
        const auto record = parser && !isBusy() ? validRecord(session_->tree(), *parser, item) : std::nullopt;
        if (record && !parser->isDirectory(*record)) schedulePreview(record, current.data().toString());
    });
    connect(listView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        const ListRow* row = listFilter_->rowAt(current.row());
        if (!row) return;
        std::optional<RecordId> record = row->record;
        if (!record) record = session_->tree().itemData(row->item);
        schedulePreview(record, QString::fromStdU16String(row->name));
    });
    connect(listView_, &QTableView::doubleClicked, this, &VolumeScanDlg::listDoubleClicked);
    connect(previewTimer_, &QTimer::timeout, this, &VolumeScanDlg::showPreview);
    connect(filterBox_, &QLineEdit::textChanged, this, &VolumeScanDlg::applyFilter);
    connect(deletedOnly_, &QCheckBox::toggled, this, &VolumeScanDlg::applyFilter);
    connect(damagedOnly_, &QCheckBox::toggled, this, &VolumeScanDlg::applyFilter);
    connect(minSize_, &QLineEdit::textChanged, this, &VolumeScanDlg::applyFilter);
    connect(maxSize_, &QLineEdit::textChanged, this, &VolumeScanDlg::applyFilter);
    connect(listFilter_, &QAbstractItemModel::modelReset, this, &VolumeScanDlg::listChanged);
    connect(listFilter_, &QAbstractItemModel::layoutChanged, this, &VolumeScanDlg::listChanged);
    connect(listFilter_, &QAbstractItemModel::rowsInserted, this, &VolumeScanDlg::listChanged);
    connect(listFilter_, &QAbstractItemModel::rowsRemoved, this, &VolumeScanDlg::listChanged);
    connect(chooseFolder_, &QPushButton::clicked, this, &VolumeScanDlg::chooseOutputFolder);
    connect(saveButton_, &QPushButton::clicked, this, &VolumeScanDlg::save);
    connect(searchButton_, &QPushButton::clicked, this, &VolumeScanDlg::search);
    connect(pause_, &QPushButton::clicked, this, &VolumeScanDlg::pause);
    connect(resume_, &QPushButton::clicked, this, &VolumeScanDlg::resume);
    connect(stop_, &QPushButton::clicked, this, &VolumeScanDlg::stop);
    connect(back_, &QPushButton::clicked, this, [this] {
        if (!isBusy()) goBack();
    });

    restoreLayout();
    listChanged();
    startParse();
}

VolumeScanDlg::~VolumeScanDlg() {
    saveLayout();
    // Ends the save first: it may be held by the controller's pause gate.
    if (currentSave_) currentSave_->saveStopRequested = true;
    session_->controller().pauseGate().resume();
    saveJob_->stopAndWait();
    session_->stopAndWait();
    session_->reporter().rearm();
    // The models read the session's tree and list, which may go with this
    // page's share of the session before the page's children are deleted.
    delete treeModel_;
    delete listModel_;
}

bool VolumeScanDlg::isBusy() const { return controllerJob_ || saveJob_->isRunning(); }

QString VolumeScanDlg::runningJobNote() const {
    if (saveJob_->isRunning())
        return QStringLiteral("Files are being saved into %1. Closing stops the save after the file being written; "
                              "the files written so far stay there.")
            .arg(outputFolder_->text());
    if (controllerJob_)
        return QStringLiteral("A job on this volume (reading its folders, or a search) is running. Closing stops "
                              "it; what it found so far is not kept.");
    return {};
}

void VolumeScanDlg::showJobControls(bool running) {
    progress_->setVisible(running);
    pause_->setVisible(running);
    resume_->setVisible(running);
    stop_->setVisible(running);
    treeView_->setEnabled(!running);
    listView_->setEnabled(!running);
    back_->setEnabled(!running);
    if (running) {
        // Parse, search and save all step through entries (records, names,
        // files).
        progress_->start();
        progress_->setUnit(ui::JobProgress::Unit::Entries);
    } else {
        progress_->finish();
    }
}

void VolumeScanDlg::startParse() {
    showJobControls(true);
    session_->list().clear();
    listModel_->pull();
    treeModel_->detach();
    session_->reporter().rearm();
    const StartOutcome outcome = session_->controller().startParse(session_->volume(), mode_, g_sectorSource);
    if (outcome == StartOutcome::Started) {
        controllerJob_ = true;
        return;
    }
    treeModel_->attach();
    showJobControls(false);
}

void VolumeScanDlg::jobEnded(int kind) {
    if (!controllerJob_) return;
    session_->controller().wait();
    controllerJob_ = false;
    resultsTimer_->stop();
    if (!treeModel_->attached()) treeModel_->attach();
    if (JobKind(kind) == JobKind::Parse) {
        const QModelIndex root = treeModel_->indexOf(session_->tree().root());
        if (root.isValid()) treeView_->expand(root);
    }
    markDamage();
    listView_->checkHeader()->setChecked(false);
    showJobControls(false);
    emit jobDone();
}

void VolumeScanDlg::markDamage() {
    // The map check reads no file data (only the parser's metadata, mostly
    // in memory), so it runs here on the GUI thread, never while a job owns
    // the parser.
    if (VolumeParser* parser = session_->controller().parser(); parser && !isBusy())
        session_->list().markDamage(session_->tree(), *parser);
    listModel_->pull();
}

void VolumeScanDlg::openFolderItem(TreeItem item) {
    VolumeParser* parser = session_->controller().parser();
    if (!parser || item == kNoItem) return;
    BrowseTree& tree = session_->tree();
    // Deleted entries are drawn red however the folder is opened.
    treeModel_->insertChildrenOf(item, [&] { openFolder(tree, *parser, item, true); });
}

void VolumeScanDlg::fillList(TreeItem item, bool byImage) {
    VolumeParser* parser = session_->controller().parser();
    if (!parser || item == kNoItem) return;
    session_->list().fillFromFolder(session_->tree(), *parser, item, byImage);
    markDamage();
    listView_->checkHeader()->setChecked(false);
}

void VolumeScanDlg::labelClicked(const QModelIndex& index) {
    if (isBusy()) return;
    const TreeItem item = treeModel_->itemOf(index);
    session_->tree().select(item);
    openFolderItem(item);
    fillList(item, false);
}

void VolumeScanDlg::expanded(const QModelIndex& index) {
    if (isBusy()) return;
    openFolderItem(treeModel_->itemOf(index));
}

void VolumeScanDlg::doubleClicked(const QModelIndex& index) {
    if (isBusy()) return;
    VolumeParser* parser = session_->controller().parser();
    const TreeItem item = treeModel_->itemOf(index);
    if (!parser) return;
    const auto record = validRecord(session_->tree(), *parser, item);
    if (!record) return;
    if (parser->isDirectory(*record)) {
        openFolderItem(item);
        fillList(item, true);
        return;
    }
    saveSingle(item, *record);
}

void VolumeScanDlg::listDoubleClicked(const QModelIndex& index) {
    if (isBusy()) return;
    if (const ListRow* row = listFilter_->rowAt(index.row()); row && row->record && row->item == kNoItem)
        revealInTree(*row);
}

void VolumeScanDlg::revealInTree(const ListRow& row) {
    // A search result: its folders are opened down from ROOT and the entry
    // is selected in the tree; the results stay in the list.
    VolumeParser* parser = session_->controller().parser();
    if (!parser) return;
    BrowseTree& tree = session_->tree();
    const std::vector<std::u16string> names = splitResultPath(row.name);
    TreeItem item = tree.root();
    // The path holds folder names without their blank padding.
    for (const std::u16string& name : names) {
        openFolderItem(item);
        const QString wanted = QString::fromStdU16String(name).trimmed();
        TreeItem next = kNoItem;
        for (TreeItem c : tree.children(item)) {
            if (tree.itemData(c) == row.record) {
                next = c;
                break;
            }
            if (next == kNoItem && tree.image(c) != ItemImage::Placeholder &&
                QString::fromStdU16String(tree.text(c)).trimmed() == wanted)
                next = c;
        }
        if (next == kNoItem) break;
        item = next;
    }
    const QModelIndex index = treeModel_->indexOf(item);
    if (!index.isValid()) return;
    if (index.parent().isValid()) treeView_->expand(index.parent());
    treeView_->setCurrentIndex(index);
    treeView_->scrollTo(index);
    tree.select(item);
}

void VolumeScanDlg::applyFilter() {
    listFilter_->setNameFilter(filterBox_->text());
    listFilter_->setDeletedOnly(deletedOnly_->isChecked());
    listFilter_->setDamagedOnly(damagedOnly_->isChecked());
    listFilter_->setSizeRange(ui::parseSizeText(minSize_->text()), ui::parseSizeText(maxSize_->text()));
    listChanged();
}

void VolumeScanDlg::listChanged() {
    countLine_->setText(listFilter_->countLine());
    listView_->fitColumnsToContents();
}

void VolumeScanDlg::schedulePreview(std::optional<RecordId> record, const QString& name) {
    previewRecord_ = record;
    previewName_ = name;
    previewTimer_->start();
}

void VolumeScanDlg::showPreview() {
    VolumeParser* parser = session_->controller().parser();
    // The parser belongs to the job while one runs.
    if (!parser || isBusy() || !previewRecord_) return;
    const FileHead head = readFileHead(*parser, *previewRecord_, std::size_t(kPreviewFileLimit));
    switch (head.result) {
        case FileHead::Result::Read:
            preview_->showBytes(previewName_, QByteArray(head.bytes.data(), qsizetype(head.bytes.size())),
                                head.fileSize);
            break;
        case FileHead::Result::TooLarge:
            preview_->showMessage(QStringLiteral("%1 is too large to preview; save it to see it.").arg(previewName_));
            break;
        case FileHead::Result::NotAFile:
            preview_->clear();
            break;
        case FileHead::Result::Failed:
            preview_->showMessage(QStringLiteral("%1 could not be read.").arg(previewName_));
            break;
    }
}

void VolumeScanDlg::restoreLayout() {
    const QSettings settings;
    browseSplitter_->restoreState(settings.value(QLatin1String(kBrowseSplitterKey)).toByteArray());
    listSplitter_->restoreState(settings.value(QLatin1String(kListSplitterKey)).toByteArray());
}

void VolumeScanDlg::saveLayout() const {
    QSettings settings;
    settings.setValue(QLatin1String(kBrowseSplitterKey), browseSplitter_->saveState());
    settings.setValue(QLatin1String(kListSplitterKey), listSplitter_->saveState());
}

void VolumeScanDlg::chooseOutputFolder() {
    const QString folder = dialogs().chooseFolder(this, QStringLiteral("Please choose a folder."));
    if (!folder.isEmpty()) outputFolder_->setText(folder);
}

bool VolumeScanDlg::refuseWhileBusy() {
    if (!isBusy()) return false;
    session_->reporter().message(kWaitMessage, kAppTitle, MessageIcon::Information);
    return true;
}

void VolumeScanDlg::startSave(SaveKind kind, const std::filesystem::path& out,
                              std::function<void(FolderSave&)> work) {
    VolumeParser* parser = session_->controller().parser();
    auto reporter = std::make_shared<SaveReporter>(session_->reporter());
    auto save = std::make_shared<FolderSave>(*parser, *reporter);
    save->pauseGate = &session_->controller().pauseGate();
    QPointer<QLabel> sizeLine = sizeLine_;
    save->sizeLine = [sizeLine](const std::u16string& text) {
        const QString t = QString::fromStdU16String(text);
        postToGui(sizeLine, [sizeLine, t] { if (sizeLine) sizeLine->setText(t); });
    };
    // A Stop pressed before (during the parse or an earlier save) is not
    // meant for this save: the parsers' file saves poll the same flag.
    parser->stopRequested = false;
    session_->controller().saveStopRequested = false;
    currentSave_ = save;
    saveReporter_ = reporter;
    saveKind_ = kind;
    saveOut_ = out;
    auto reportWritten = std::make_shared<std::atomic<bool>>(false);
    reportWritten_ = reportWritten;
    if (kind == SaveKind::Entries)
        for (const char* name : {kReportCsv, kReportJson, kReportDfxml}) save->reserveName(out, name);
    showJobControls(true);
    saveJob_->start(
        [save, reporter, kind, out, reportWritten, parser, image = sourcePath(), work = std::move(work)] {
            work(*save);
            // The same reports as the command line's, beside the files: CSV,
            // JSON and the DFXML with each file's byte runs on the image.
            if (kind == SaveKind::Entries)
                *reportWritten = writeSaveReportCsv(out / kReportCsv, out, save->saved()) &&
                                 writeSaveReportJson(out / kReportJson, out, save->saved()) &&
                                 writeDfxml(out / kReportDfxml, dfxmlForSave(*parser, image, save->saved(), out));
        },
        [save] { save->saveStopRequested = true; });
}

void VolumeScanDlg::saveEnded() {
    const bool stopped = currentSave_ && currentSave_->saveStopRequested.load();
    if (currentSave_) lastSaved_ = currentSave_->saved();
    saveOutputError_ = currentSave_ && !currentSave_->output().isOpen()
                           ? QString::fromStdString(currentSave_->output().error())
                           : QString();
    currentSave_.reset();
    saveReporter_.reset();
    sizeLine_->clear();
    showJobControls(false);
    // The save read the files: damage it met now marks the rows shown.
    markDamage();
    if (saveKind_ == SaveKind::Single) {
        // Where the file went (or that it did not), on the status line.
        const SavedFile* last = lastSaved_.empty() ? nullptr : &lastSaved_.back();
        if (last && (last->status == SaveStatus::Ok || last->status == SaveStatus::Damaged) && !last->written.empty())
            status_->setText(QStringLiteral("Saved %1%2").arg(hostPath(last->written),
                                                             last->status == SaveStatus::Damaged
                                                                 ? QStringLiteral(" (damaged: some ranges are zeros)")
                                                                 : QString()));
        else if (!lastSaved_.empty())
            status_->setText(QStringLiteral("Could not save %1 to %2")
                                 .arg(QString::fromStdU16String(lastSaved_.back().volumePath), hostPath(saveOut_)));
    } else {
        reportSave(stopped);
    }
    emit jobDone();
}

void VolumeScanDlg::reportSave(bool stopped) {
    std::size_t written = 0, damaged = 0, failed = 0, skipped = 0;
    for (const SavedFile& f : lastSaved_) {
        switch (f.status) {
        case SaveStatus::Skipped: ++skipped; break;
        case SaveStatus::Ok: ++written; break;
        case SaveStatus::Damaged: ++written, ++damaged; break;
        case SaveStatus::Failed: ++failed; break;
        }
    }
    const QString counts = QStringLiteral("%1 of %2 saved, %3 damaged, %4 failed")
                               .arg(written)
                               .arg(lastSaved_.size() - skipped)
                               .arg(damaged)
                               .arg(failed) +
                           (skipped ? QStringLiteral(", %1 skipped").arg(skipped) : QString());
    const QString out = hostPath(saveOut_);
    const QString report = hostPath(saveOut_ / kReportCsv);
    const bool reportOk = reportWritten_ && reportWritten_->load();
    QString head;
    if (stopped)
        head = QStringLiteral("The save was stopped.");
    else if (lastSaved_.empty() && !saveOutputError_.isEmpty())
        head = QStringLiteral("Nothing was saved: no file could be written to %1 (%2).").arg(out, saveOutputError_);
    else if (lastSaved_.empty())
        head = QStringLiteral("Nothing was saved: the chosen entries hold no files.");
    else if (written == 0)
        head = QStringLiteral("Nothing was saved: no file could be written to %1.").arg(out);
    else if (failed || damaged)
        head = QStringLiteral("The save is incomplete.");
    else
        head = QStringLiteral("work done");
    const bool clean = head == QLatin1String("work done") && reportOk;
    QString text = head + u'\n' + counts + u'\n' +
                   (reportOk ? QStringLiteral("report at %1").arg(report)
                             : QStringLiteral("The save report could not be written to %1.").arg(out));
    status_->setText(counts);
    QStringList buttons{QStringLiteral("Open Folder")};
    if (reportOk) buttons << QStringLiteral("Show Report");
    buttons << QStringLiteral("Close");
    const int chosen =
        dialogs().choose(wizard(), text, QString(), clean ? BoxIcon::Information : BoxIcon::Warning, buttons);
    if (chosen == 0) dialogs().openUrl(QUrl::fromLocalFile(out));
    else if (chosen == 1 && reportOk) dialogs().openUrl(QUrl::fromLocalFile(report));
}

void VolumeScanDlg::save() {
    if (refuseWhileBusy()) return;
    VolumeParser* parser = session_->controller().parser();
    if (!parser) return;
    const std::filesystem::path out = pathFromUtf16(outputFolder_->text().trimmed().toStdU16String());
    if (out.empty()) {
        session_->reporter().message(u"select output folder", u"", MessageIcon::Information);
        return;
    }
    if (saveChecked(out)) return;
    // Nothing checked: the selected folder's subtree.
    BrowseTree& tree = session_->tree();
    const TreeItem item = tree.selected();
    const std::u16string path = itemPath(tree, item);
    if (item != kNoItem && item == tree.root()) {
        // ROOT has no record of its own: its children stand for the volume.
        std::vector<RecordId> records;
        for (TreeItem child : tree.children(item))
            if (auto id = validRecord(tree, *parser, child)) records.push_back(*id);
        startSave(SaveKind::Entries, out, [records, out, path](FolderSave& s) { s.saveRecords(records, out, path); });
        return;
    }
    const auto record = validRecord(tree, *parser, item);
    if (!record || !parser->isDirectory(*record)) return;
    const RecordId id = *record;
    startSave(SaveKind::Entries, out, [id, out, path](FolderSave& s) { s.saveFolder(id, out, path); });
}

bool VolumeScanDlg::saveChecked(const std::filesystem::path& out) {
    // The checked entries, each group under the path of the folder it lies
    // in so that the report names where every file came from. The files go
    // side by side into the output folder.
    VolumeParser* parser = session_->controller().parser();
    const BrowseTree& tree = session_->tree();
    std::vector<std::pair<std::u16string, std::vector<RecordId>>> groups;
    std::set<RecordId> taken;
    for (const CheckedGroup& g : checkedEntries(tree, *parser)) {
        groups.emplace_back(g.folder == kNoItem ? std::u16string() : itemPath(tree, g.folder), g.records);
        taken.insert(g.records.begin(), g.records.end());
    }
    // Checked search results not checked in the tree as well.
    for (const ListRow& row : session_->list().rows()) {
        if (!row.checked || !row.record || row.item != kNoItem || !taken.insert(*row.record).second) continue;
        std::vector<std::u16string> names = splitResultPath(row.name);
        if (!names.empty()) names.pop_back();
        std::u16string folder(kRootText);
        for (const auto& n : names) folder += u"\\" + n;
        groups.push_back({folder, {*row.record}});
    }
    if (groups.empty()) return false;
    startSave(SaveKind::Entries, out, [groups, out](FolderSave& s) {
        for (const auto& [folder, records] : groups) {
            if (s.saveStopRequested) break;
            s.saveRecords(records, out, folder);
        }
    });
    return true;
}

void VolumeScanDlg::saveSingle(TreeItem item, RecordId record) {
    const std::filesystem::path out = pathFromUtf16(outputFolder_->text().trimmed().toStdU16String());
    if (out.empty()) {
        session_->reporter().message(u"select output folder", u"", MessageIcon::Information);
        return;
    }
    const std::u16string path = itemPath(session_->tree(), item);
    startSave(SaveKind::Single, out, [record, out, path](FolderSave& s) { s.saveSingle(record, out, path); });
}

void VolumeScanDlg::search() {
    if (refuseWhileBusy()) return;
    if (!session_->controller().parser()) return;
    session_->reporter().rearm();
    const StartOutcome outcome = session_->controller().startSearch(searchBox_->text().toStdU16String());
    if (outcome == StartOutcome::Busy) {
        session_->reporter().message(kWaitMessage, kAppTitle, MessageIcon::Information);
        return;
    }
    if (outcome != StartOutcome::Started) return;
    controllerJob_ = true;
    showJobControls(true);
    listView_->checkHeader()->setChecked(false);
    resultsTimer_->start();
}

void VolumeScanDlg::pause() { session_->controller().pause(); }

void VolumeScanDlg::resume() { session_->controller().resume(); }

void VolumeScanDlg::stop() {
    if (currentSave_) {
        // Ends the save before its next file; the file being written is
        // finished, so no saved file is cut short.
        currentSave_->saveStopRequested = true;
        session_->reporter().setStatus(kStopStatus);
        return;
    }
    if (controllerJob_) session_->controller().stop();
}

}  // namespace salvage::app
