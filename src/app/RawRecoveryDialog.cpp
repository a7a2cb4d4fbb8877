#include "app/RawRecoveryDialog.h"

#include "app/GuiQueue.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <limits>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/InfoList.h"
#include "app/QtReporter.h"
#include "app/RawRecoveryDialogTree.h"
#include "app/RawSettingDlg.h"
#include "app/WorkerJob.h"
#include "carve/CarveWriter.h"
#include "carve/SignatureFile.h"
#include "carve/myJpg.h"
#include "image/Globals.h"
#include "image/SectorSource.h"
#include "platform/ByteView.h"
#include "platform/Text.h"
#include "ui/JobProgress.h"

namespace salvage::app {

namespace {

constexpr std::int64_t kMiB = 1 << 20;

// The engine's reporter on the worker: passes everything on to the page's
// reporter and, at every progress step (once per 1 MiB chunk), sends what the
// scan found since the previous step to the page as one batch: new finds,
// renamed categories, starts still waiting for their end (listed as
// pending), and the finds per category. A chunk full of finds is one batch,
// not one event per find; a step that found nothing sends nothing.
class ScanReporter final : public Reporter {
public:
    ScanReporter(Reporter& page, TreeRelay& relay, const myJpg& engine, FindsTreeModel* model,
                 ui::JobProgress* progress)
        : page_(page), relay_(relay), engine_(engine), model_(model), progress_(progress) {}
    void setStatus(const std::u16string& text) override { page_.setStatus(text); }
    void setProgressRange(std::int64_t minimum, std::int64_t maximum) override {
        page_.setProgressRange(minimum, maximum);
    }
    void setProgressPosition(std::int64_t position) override {
        flush();
        page_.setProgressPosition(position);
    }
    void message(const std::u16string& text, const std::u16string& caption, MessageIcon icon) override {
        flush();
        page_.message(text, caption, icon);
    }
    bool ask(const std::u16string& text, const std::u16string& caption) override { return page_.ask(text, caption); }

    void flush() {
        auto batch = std::make_shared<TreeBatch>(relay_.take());
        addPending(*batch);
        QString counts = countText();
        if (batch->empty() && counts == lastCounts_) return;
        lastCounts_ = counts;
        // Queued to the model: it and the progress live as long as the page,
        // which joins this worker before it goes.
        postToGui(model_, [model = model_, progress = progress_, batch, counts] {
            model->apply(*batch);
            progress->setCounts(counts);
        });
    }

private:
    void addPending(TreeBatch& batch) {
        const auto& types = engine_.signatureTypes;
        const std::size_t n = std::min(types.size(), engine_.pendingStarts.size());
        sentUpTo_.resize(n, -1);
        for (std::size_t i = 0; i < n; ++i) {
            // A type's starts are pushed in scan order: those not sent yet
            // are at the top of its stack.
            const auto& starts = engine_.pendingStarts[i];
            std::size_t first = starts.size();
            while (first > 0 && std::int64_t(starts[first - 1]) > sentUpTo_[i]) --first;
            if (first == starts.size() || types[i].categoryItem == kNoItem) continue;
            for (std::size_t k = first; k < starts.size(); ++k)
                batch.pending.push_back(
                    {kNoItem, types[i].categoryItem, myJpg::findText(types[i], starts[k]), ItemImage::File, {}});
            sentUpTo_[i] = std::int64_t(starts.back());
        }
    }

    // "12 finds: Images 9, Documents 3", pending starts included.
    QString countText() const {
        std::vector<std::pair<std::u16string, std::uint64_t>> perCategory;
        std::uint64_t total = 0;
        const auto& types = engine_.signatureTypes;
        for (std::size_t i = 0; i < types.size(); ++i) {
            auto it = std::find_if(perCategory.begin(), perCategory.end(),
                                   [&](const auto& c) { return c.first == types[i].category; });
            if (it == perCategory.end()) {
                auto reported = engine_.categoryCounts.find(types[i].category);
                perCategory.emplace_back(types[i].category,
                                         reported == engine_.categoryCounts.end() ? 0 : reported->second);
                total += perCategory.back().second;
                it = perCategory.end() - 1;
            }
            if (i < engine_.pendingStarts.size()) {
                it->second += engine_.pendingStarts[i].size();
                total += engine_.pendingStarts[i].size();
            }
        }
        QStringList parts;
        for (const auto& [category, count] : perCategory)
            if (count) parts << QStringLiteral("%1 %2").arg(QString::fromStdU16String(category)).arg(count);
        QString text = QStringLiteral("%1 finds").arg(total);
        if (!parts.isEmpty()) text += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
        return text;
    }

    Reporter& page_;
    TreeRelay& relay_;
    const myJpg& engine_;
    FindsTreeModel* model_;
    ui::JobProgress* progress_;
    std::vector<std::int64_t> sentUpTo_;
    QString lastCounts_;
};

QPushButton* iconButton(QWidget* parent, const char* name, const QString& text, QStyle::StandardPixmap icon,
                        const QString& tip) {
    auto* b = new QPushButton(parent->style()->standardIcon(icon), text, parent);
    b->setObjectName(QLatin1String(name));
    b->setToolTip(tip);
    return b;
}

}  // namespace

RawRecoveryDialog::RawRecoveryDialog(WizardWindow* wizard, WizardPage* owner, const VolumeRecord& volume)
    : WizardPage(wizard, owner), volume_(volume) {
    setObjectName(QStringLiteral("RawRecoveryDialog"));
    setWindowTitle(appTitle());
    reporter_ = new QtReporter(this, this);
    job_ = new WorkerJob(reporter_, this);
    model_ = new FindsTreeModel(this);

    auto* layout = new QVBoxLayout(this);

    auto* group = new QGroupBox(
        QStringLiteral("Click Parse button to add default file settings or create your own file to process raw "
                       "recovery."),
        this);
    auto* groupLayout = new QVBoxLayout(group);
    pathBox_ = new QLineEdit(group);
    pathBox_->setObjectName(QStringLiteral("settingsPathBox"));
    browse_ = new QPushButton(QStringLiteral("..."), group);
    browse_->setObjectName(QStringLiteral("browseButton"));
    browse_->setFixedWidth(browse_->fontMetrics().horizontalAdvance(QStringLiteral("....")) * 3);
    parse_ = iconButton(group, "parseButton", QStringLiteral("Parse"), QStyle::SP_MediaPlay, QStringLiteral("Parse"));
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathBox_, 1);
    pathRow->addWidget(browse_);
    pathRow->addWidget(parse_);
    loadDefault_ = new QCheckBox(QStringLiteral("Load Default Items"), group);
    loadDefault_->setObjectName(QStringLiteral("loadDefaultItems"));
    editor_ = iconButton(group, "settingButton", QString(), QStyle::SP_FileDialogDetailedView,
                         QStringLiteral("Setting"));
    auto* editorNote = new QLabel(QStringLiteral("[Add new signatures in \n new/existing file]"), group);
    auto* optionRow = new QHBoxLayout;
    optionRow->addWidget(loadDefault_);
    optionRow->addStretch(1);
    optionRow->addWidget(editor_);
    optionRow->addWidget(editorNote);
    groupLayout->addLayout(pathRow);
    groupLayout->addLayout(optionRow);

    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("findsTree"));
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    tree_->setUniformRowHeights(true);
    list_ = new InfoList({QStringLiteral("FILES LIST ")}, {300}, this);
    list_->setObjectName(QStringLiteral("filesList"));
    list_->horizontalHeader()->setStretchLastSection(true);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->addWidget(tree_);
    split->addWidget(list_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusLine"));
    progress_ = new ui::JobProgress(this);
    progress_->setObjectName(QStringLiteral("jobProgress"));
    pause_ = iconButton(this, "pauseButton", QStringLiteral("Pause"), QStyle::SP_MediaPause, QStringLiteral("Pause"));
    resume_ = iconButton(this, "resumeButton", QStringLiteral("Resume"), QStyle::SP_MediaPlay, QStringLiteral("Resume"));
    stop_ = iconButton(this, "stopButton", QStringLiteral("Stop"), QStyle::SP_MediaStop, QStringLiteral("Stop"));
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(status_, 1);
    progressRow->addWidget(progress_, 2);
    progressRow->addWidget(pause_);
    progressRow->addWidget(resume_);
    progressRow->addWidget(stop_);

    back_ = iconButton(this, "backButton", QStringLiteral("Back"), QStyle::SP_ArrowBack, QStringLiteral("Back"));
    save_ = iconButton(this, "saveButton", QStringLiteral("Save"), QStyle::SP_DialogSaveButton, QStringLiteral("Save"));

    layout->addWidget(group);
    layout->addWidget(split, 1);
    layout->addLayout(progressRow);
    layout->addLayout(makeButtonRow({back_, save_}));

    connect(browse_, &QPushButton::clicked, this, &RawRecoveryDialog::chooseSettingsFile);
    connect(parse_, &QPushButton::clicked, this, &RawRecoveryDialog::parse);
    connect(editor_, &QPushButton::clicked, this, &RawRecoveryDialog::openEditor);
    connect(save_, &QPushButton::clicked, this, &RawRecoveryDialog::save);
    connect(back_, &QPushButton::clicked, this, &WizardPage::goBack);
    connect(pause_, &QPushButton::clicked, this, [this] {
        if (!job_->isRunning()) return;
        job_->pause();
        status_->setText(QStringLiteral("Pause button pressed"));
    });
    connect(resume_, &QPushButton::clicked, this, [this] {
        if (!job_->isRunning()) return;
        job_->resume();
        status_->setText(QStringLiteral("Resume button pressed"));
    });
    connect(stop_, &QPushButton::clicked, this, [this] {
        job_->requestStop();
        status_->setText(QStringLiteral("Stop button pressed.Please wait for the process to stop"));
    });
    connect(reporter_, &QtReporter::statusChanged, status_, &QLabel::setText);
    connectProgress(*reporter_, *progress_);
    connect(job_, &WorkerJob::finished, this, [this] {
        if (writer_) saveEnded();
        else scanEnded();
    });
    // A click on a check box changes the check, not the list: the model
    // reports the toggle before the view reports the click.
    connect(model_, &FindsTreeModel::checkToggled, this, [this] { checkClicked_ = true; });
    connect(tree_, &QTreeView::pressed, this, [this] { checkClicked_ = false; });
    connect(tree_, &QTreeView::clicked, this, &RawRecoveryDialog::itemClicked);
    // A batch applied as one reset (the scan's end) keeps the categories
    // the user had opened.
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        expandedBeforeReset_.clear();
        const BrowseTree& tree = model_->tree();
        for (TreeItem top : tree.children(kNoItem)) {
            if (tree_->isExpanded(model_->indexOf(top))) expandedBeforeReset_.push_back(top);
            for (TreeItem category : tree.children(top))
                if (tree_->isExpanded(model_->indexOf(category))) expandedBeforeReset_.push_back(category);
        }
    });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        for (TreeItem item : expandedBeforeReset_) tree_->expand(model_->indexOf(item));
        expandedBeforeReset_.clear();
    });
    // The category items and the root come open as they arrive.
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent, int first, int) {
        if (!parent.isValid()) tree_->expand(model_->index(first, 0));
    });

    defaultSettingsPath_ = QString::fromStdString(salvage::defaultSettingsPath().string());
    pathBox_->setText(defaultSettingsPath_);
    loadDefault_->setChecked(true);
    showProgressControls(false);
}

RawRecoveryDialog::~RawRecoveryDialog() {
    // The job refers to the engine, the trees and this page's reporter.
    job_->stopAndWait();
    relay_.reset();
}

RawRecoveryDialog* RawRecoveryDialog::openFrom(WizardPage& from, const VolumeRecord& volume) {
    // openNext is the opener's own step; reached through this class, as the
    // page every opener may open.
    auto open = &RawRecoveryDialog::openNext<RawRecoveryDialog, const VolumeRecord&>;
    return (from.*open)(volume);
}

void RawRecoveryDialog::showProgressControls(bool shown) {
    progress_->setVisible(shown);
    pause_->setVisible(shown);
    resume_->setVisible(shown);
    stop_->setVisible(shown);
}

void RawRecoveryDialog::chooseSettingsFile() {
    // A cancelled dialog empties the box.
    pathBox_->setText(dialogs().openFile(this));
}

void RawRecoveryDialog::restoreIdle() {
    parse_->setEnabled(true);
    back_->setEnabled(true);
    browse_->setEnabled(true);
    pathBox_->setEnabled(true);
    editor_->setEnabled(true);
    showProgressControls(false);
    progress_->finish();
    status_->setText(QStringLiteral("Processing done"));
    busy_ = false;
}

void RawRecoveryDialog::parse() {
    if (busy_ || job_->isRunning()) return;
    const QString userPath = pathBox_->text();
    if (!loadDefault_->isChecked() && userPath.isEmpty()) {
        dialogs().message(this, QStringLiteral("enter the info file first.."), appTitle(), BoxIcon::Information);
        return;
    }
    showProgressControls(true);
    progress_->start();
    // The scan's steps are 1 MiB chunks.
    progress_->setUnit(ui::JobProgress::Unit::Bytes, double(kMiB));
    parse_->setEnabled(false);
    busy_ = true;

    // Every Parse starts over: the earlier finds, their tree and the list go.
    relay_.reset();
    scanTree_.reset();
    engine_.reset();
    model_->clear();
    list_->clearRows();

    if (loadDefault_->isChecked()) loadDefaultSignatures(pathFromUtf16(defaultSettingsPath_.toStdU16String()), engine_, *reporter_);
    if (!userPath.isEmpty() && !loadUserSignatures(pathFromUtf16(userPath.toStdU16String()), engine_, *reporter_)) {
        restoreIdle();
        return;
    }
    if (!engine_ || engine_->signatureTypes.empty()) {
        // The default file was missing or held nothing usable.
        dialogs().message(this, QStringLiteral("enter the info file first.."), appTitle(), BoxIcon::Information);
        engine_.reset();
        restoreIdle();
        return;
    }
    back_->setEnabled(false);
    browse_->setEnabled(false);
    pathBox_->setEnabled(false);
    editor_->setEnabled(false);
    startScan();
}

void RawRecoveryDialog::startScan() {
    if (!g_sectorSource) {
        dialogs().message(this, QStringLiteral("information lost ..go back and parse again"), QString(), BoxIcon::None);
        restoreIdle();
        return;
    }
    std::int64_t bytes = 0, startOffset = 0;
    // A volume read past the image's end would only yield failed reads: the
    // scan stops where the image does.
    if (volumeBytes(volume_) > 0) {
        if (const std::optional<VolumeExtent> x = extentOf(volume_, g_totalSectors > 0 ? g_totalSectors : INT64_MAX)) {
            startOffset = x->startByte();
            bytes = x->bytes();
        }
    }
    if (bytes <= 0) {
        engine_.reset();
        dialogs().message(this, QStringLiteral("zero size volume.."), appTitle(), BoxIcon::Information);
        restoreIdle();
        return;
    }
    engine_->volumeBytes = bytes;
    g_sectorSource->baseOffset = startOffset;
    volumeStartOffset_ = startOffset;
    engine_->source = g_sectorSource;
    engine_->pauseGate = &job_->pauseGate();
    scanTree_ = std::make_unique<BrowseTree>();
    relay_ = std::make_unique<TreeRelay>(*scanTree_);
    engine_->tree = scanTree_.get();

    back_->setEnabled(false);
    myJpg* engine = engine_.get();
    auto scanReporter = std::make_shared<ScanReporter>(*reporter_, *relay_, *engine, model_, progress_);
    engine->pageWindow = scanReporter.get();
    job_->start(
        [engine, scanReporter] {
            scanReporter->setStatus(u"Processing.....");
            engine->scanVolume();
            scanReporter->flush();
            engine->pageWindow = &nullReporter();
        },
        [engine] { engine->stopRequested = true; });
}

void RawRecoveryDialog::scanEnded() {
    model_->dropPending();
    progress_->finish();
    back_->setEnabled(true);
    editor_->setEnabled(true);
    // The path box and "..." come back too, so a settings file just made in
    // the editor can be loaded with the next Parse.
    browse_->setEnabled(true);
    pathBox_->setEnabled(true);
    status_->setText(QStringLiteral("Processing done"));
    showProgressControls(false);
    parse_->setEnabled(true);
    busy_ = false;
    emit jobFinished();
}

void RawRecoveryDialog::save() {
    if (busy_) {
        dialogs().message(this, QStringLiteral("Please wait for other process to complete"), appTitle(),
                          BoxIcon::Information);
        return;
    }
    std::vector<std::size_t> finds;
    if (engine_)
        for (RecordId r : model_->checkedRecords())
            if (r >= 0 && std::size_t(r) < engine_->foundFiles.size()) finds.push_back(std::size_t(r));
    if (finds.empty()) {
        dialogs().message(this, QStringLiteral("Please check the files to save first."), appTitle(),
                          BoxIcon::Information);
        return;
    }
    if (!g_sectorSource) {
        dialogs().message(this, QStringLiteral("information lost ..go back and parse again"), QString(), BoxIcon::None);
        return;
    }
    const QString folder = dialogs().chooseFolder(this, QStringLiteral("Please choose a folder."));
    if (folder.isEmpty()) return;

    busy_ = true;
    saveFolder_ = folder;
    checkedCount_ = finds.size();
    parse_->setEnabled(false);
    back_->setEnabled(false);
    editor_->setEnabled(false);
    showProgressControls(true);
    progress_->start();
    progress_->setUnit(ui::JobProgress::Unit::Entries);
    status_->setText(QStringLiteral("Saving....."));

    // The finds' offsets count from the volume's first byte.
    g_sectorSource->baseOffset = volumeStartOffset_;
    writer_ = std::make_unique<CarveWriter>(*g_sectorSource, engine_->volumeBytes,
                                            pathFromUtf16(folder.toStdU16String()), *reporter_);
    writer_->pauseGate = &job_->pauseGate();
    CarveWriter* writer = writer_.get();
    const myJpg* engine = engine_.get();
    job_->start([writer, engine, finds = std::move(finds)] { writer->write(*engine, finds); },
                [writer] { writer->stopRequested = true; });
}

void RawRecoveryDialog::saveEnded() {
    const std::vector<CarvedFile>& carved = writer_->carved();
    std::size_t trimmed = 0, incomplete = 0;
    for (const CarvedFile& c : carved) {
        if (c.trimmed) ++trimmed;
        if (!c.complete) ++incomplete;
    }
    const bool stopped = writer_->stopRequested.load();
    QString text = QStringLiteral("%1 of %2 files saved in %3.").arg(carved.size()).arg(checkedCount_).arg(saveFolder_);
    if (stopped) text = QStringLiteral("Saving stopped. ") + text;
    if (trimmed) text += QStringLiteral("\n%1 ended before their listed length, at their format's end.").arg(trimmed);
    if (incomplete) text += QStringLiteral("\n%1 could not be read whole.").arg(incomplete);
    text += QStringLiteral("\nOffsets, lengths, MD5 and SHA-256 are listed in %1.").arg(QLatin1String(kCarveReportName));
    writer_.reset();
    progress_->finish();
    status_->setText(stopped ? QStringLiteral("Saving stopped") : QStringLiteral("Saving done"));
    showProgressControls(false);
    parse_->setEnabled(true);
    back_->setEnabled(true);
    editor_->setEnabled(true);
    busy_ = false;
    dialogs().message(this, text, appTitle(), BoxIcon::Information);
    emit jobFinished();
}

QString RawRecoveryDialog::runningJobNote() const {
    if (!job_->isRunning()) return {};
    if (writer_)
        return QStringLiteral("Carved files are being saved into %1. Closing stops the save after the file being "
                              "written; the files written so far stay there, listed in %2.")
            .arg(saveFolder_, QLatin1String(kCarveReportName));
    return QStringLiteral("A carving scan is running. Closing stops it; its finds are not kept.");
}

void RawRecoveryDialog::openEditor() {
    RawSettingDlg editor(this);
    editor.exec();
}

void RawRecoveryDialog::itemClicked(const QModelIndex& index) {
    if (checkClicked_) {
        checkClicked_ = false;
        return;
    }
    list_->clearRows();
    const BrowseTree& tree = model_->tree();
    const TreeItem item = model_->itemAt(index);
    if (item == kNoItem) return;
    for (TreeItem child : tree.children(item)) {
        if (tree.image(child) == ItemImage::Folder) continue;
        const int row = list_->insertTextRow({QString::fromStdU16String(tree.text(child))});
        list_->item(row, 0)->setData(Qt::UserRole, int(child));
    }
}

}  // namespace salvage::app
