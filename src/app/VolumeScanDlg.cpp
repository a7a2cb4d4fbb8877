#include "app/VolumeScanDlg.h"

#include "app/GuiQueue.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <climits>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/QtReporter.h"
#include "app/VolumeSession.h"
#include "app/WizardWindow.h"
#include "app/WorkerJob.h"
#include "browse/FolderOpen.h"
#include "image/Globals.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"
#include "ui/BrowseTreeModel.h"
#include "ui/CheckListView.h"
#include "ui/CheckTreeView.h"
#include "ui/FileListModel.h"
#include "ui/JobProgress.h"

namespace salvage::app {

namespace {
constexpr char16_t kWaitMessage[] = u"Please wait for other process to complete";
constexpr char16_t kStopStatus[] = u"stop button pressed.Please wait for the process to be stopped.";
// How often search results reach the list while the search runs.
constexpr int kResultsRefreshMs = 200;

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
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    treeView_ = new ui::CheckTreeView(splitter);
    treeView_->setObjectName(QStringLiteral("browseTree"));
    treeView_->setModel(treeModel_);
    listView_ = new ui::CheckListView(splitter);
    listView_->setObjectName(QStringLiteral("fileList"));
    listView_->setModel(listModel_);
    const QString time = QStringLiteral("00/00/0000  00:00 AM");
    listView_->setColumnWidths({{80, QStringLiteral("MMMMMMMM.MMM")},
                                {90, time},
                                {90, time},
                                {90, time},
                                {80, QStringLiteral("1023.00 KB")},
                                {70, QString()}});
    splitter->addWidget(treeView_);
    splitter->addWidget(listView_);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 5);
    splitter->setChildrenCollapsible(false);
    layout->addWidget(splitter, 1);

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
    connect(treeView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { session_->tree().select(treeModel_->itemOf(current)); });
    connect(chooseFolder_, &QPushButton::clicked, this, &VolumeScanDlg::chooseOutputFolder);
    connect(saveButton_, &QPushButton::clicked, this, &VolumeScanDlg::save);
    connect(searchButton_, &QPushButton::clicked, this, &VolumeScanDlg::search);
    connect(pause_, &QPushButton::clicked, this, &VolumeScanDlg::pause);
    connect(resume_, &QPushButton::clicked, this, &VolumeScanDlg::resume);
    connect(stop_, &QPushButton::clicked, this, &VolumeScanDlg::stop);
    connect(back_, &QPushButton::clicked, this, [this] {
        if (!isBusy()) goBack();
    });

    startParse();
}

VolumeScanDlg::~VolumeScanDlg() {
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
    listModel_->pull();
    listView_->checkHeader()->setChecked(false);
    showJobControls(false);
    emit jobDone();
}

void VolumeScanDlg::openFolderItem(TreeItem item, bool colourDeleted) {
    VolumeParser* parser = session_->controller().parser();
    if (!parser || item == kNoItem) return;
    BrowseTree& tree = session_->tree();
    treeModel_->insertChildrenOf(item, [&] { openFolder(tree, *parser, item, colourDeleted); });
}

void VolumeScanDlg::fillList(TreeItem item, bool byImage) {
    VolumeParser* parser = session_->controller().parser();
    if (!parser || item == kNoItem) return;
    session_->list().fillFromFolder(session_->tree(), *parser, item, byImage);
    listModel_->pull();
    listView_->checkHeader()->setChecked(false);
}

void VolumeScanDlg::labelClicked(const QModelIndex& index) {
    if (isBusy()) return;
    const TreeItem item = treeModel_->itemOf(index);
    session_->tree().select(item);
    openFolderItem(item, true);
    fillList(item, false);
}

void VolumeScanDlg::expanded(const QModelIndex& index) {
    if (isBusy()) return;
    openFolderItem(treeModel_->itemOf(index), false);
}

void VolumeScanDlg::doubleClicked(const QModelIndex& index) {
    if (isBusy()) return;
    VolumeParser* parser = session_->controller().parser();
    const TreeItem item = treeModel_->itemOf(index);
    if (!parser) return;
    const auto record = validRecord(session_->tree(), *parser, item);
    if (!record) return;
    if (parser->isDirectory(*record)) {
        openFolderItem(item, false);
        fillList(item, true);
        return;
    }
    saveSingle(item, *record);
}

std::u16string VolumeScanDlg::volumePathOf(TreeItem item) const {
    const BrowseTree& tree = session_->tree();
    std::u16string path;
    for (TreeItem t = item; t != kNoItem; t = tree.parent(t))
        path = path.empty() ? tree.text(t) : tree.text(t) + u"\\" + path;
    return path;
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

void VolumeScanDlg::startSave(std::function<void(FolderSave&)> work) {
    VolumeParser* parser = session_->controller().parser();
    auto save = std::make_shared<FolderSave>(*parser, session_->reporter());
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
    showJobControls(true);
    saveJob_->start([save, work = std::move(work)] { work(*save); }, [save] { save->saveStopRequested = true; });
}

void VolumeScanDlg::saveEnded() {
    if (currentSave_) lastSaved_ = currentSave_->saved();
    currentSave_.reset();
    sizeLine_->clear();
    showJobControls(false);
    emit jobDone();
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
    BrowseTree& tree = session_->tree();
    const TreeItem item = tree.selected();
    const std::u16string path = volumePathOf(item);
    if (item != kNoItem && item == tree.root()) {
        // ROOT has no record of its own: its children stand for the volume.
        std::vector<RecordId> records;
        for (TreeItem child : tree.children(item))
            if (auto id = validRecord(tree, *parser, child)) records.push_back(*id);
        startSave([records, out, path](FolderSave& s) { s.saveRecords(records, out, path); });
        return;
    }
    const auto record = validRecord(tree, *parser, item);
    if (!record || !parser->isDirectory(*record)) return;
    const RecordId id = *record;
    startSave([id, out, path](FolderSave& s) { s.saveFolder(id, out, path); });
}

void VolumeScanDlg::saveSingle(TreeItem item, RecordId record) {
    const std::filesystem::path out = pathFromUtf16(outputFolder_->text().trimmed().toStdU16String());
    if (out.empty()) {
        session_->reporter().message(u"select output folder", u"", MessageIcon::Information);
        return;
    }
    const std::u16string path = volumePathOf(item);
    startSave([record, out, path](FolderSave& s) { s.saveSingle(record, out, path); });
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
