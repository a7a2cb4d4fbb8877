#include "app/RawRecoveryDialog.h"

#include "app/GuiQueue.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
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

namespace salvage::app {

namespace {

constexpr std::int64_t kMiB = 1 << 20;

// The engine's reporter on the worker: passes everything on to the page's
// reporter and, at every progress step (once per 1 MiB chunk), sends the
// finds listed since the previous step to the page.
class ScanReporter final : public Reporter {
public:
    ScanReporter(Reporter& page, TreeRelay& relay, FindsTreeModel* model) : page_(page), relay_(relay), model_(model) {}
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
        TreeBatch batch = relay_.take();
        if (batch.empty()) return;
        // Queued to the model: it lives as long as the page, which joins
        // this worker before it goes.
        postToGui(model_, [model = model_, batch = std::make_shared<TreeBatch>(std::move(batch))] {
            model->apply(*batch);
        });
    }

private:
    Reporter& page_;
    TreeRelay& relay_;
    FindsTreeModel* model_;
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
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setTextVisible(false);
    pause_ = iconButton(this, "pauseButton", QStringLiteral("Pause"), QStyle::SP_MediaPause, QStringLiteral("Pause"));
    resume_ = iconButton(this, "resumeButton", QStringLiteral("Resume"), QStyle::SP_MediaPlay, QStringLiteral("Resume"));
    stop_ = iconButton(this, "stopButton", QStringLiteral("Stop"), QStyle::SP_MediaStop, QStringLiteral("Stop"));
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(status_, 1);
    progressRow->addWidget(progress_, 1);
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
    connect(reporter_, &QtReporter::progressRangeChanged, this, &RawRecoveryDialog::setProgressRange);
    connect(reporter_, &QtReporter::progressPositionChanged, this, &RawRecoveryDialog::setProgressPosition);
    connect(job_, &WorkerJob::finished, this, [this] {
        if (writer_) saveEnded();
        else scanEnded();
    });
    // A click on a check box changes the check, not the list: the model
    // reports the toggle before the view reports the click.
    connect(model_, &FindsTreeModel::checkToggled, this, [this] { checkClicked_ = true; });
    connect(tree_, &QTreeView::pressed, this, [this] { checkClicked_ = false; });
    connect(tree_, &QTreeView::clicked, this, &RawRecoveryDialog::itemClicked);
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

void RawRecoveryDialog::setProgressRange(qint64 minimum, qint64 maximum) {
    // The bar counts in int; a range beyond it is shown scaled down.
    progressDivisor_ = maximum > std::numeric_limits<int>::max() ? maximum / std::numeric_limits<int>::max() + 1 : 1;
    progress_->setRange(int(minimum / progressDivisor_), int(maximum / progressDivisor_));
}

void RawRecoveryDialog::setProgressPosition(qint64 position) { progress_->setValue(int(position / progressDivisor_)); }

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
    progress_->setRange(0, 1000);
    progress_->setValue(0);
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
    auto scanReporter = std::make_shared<ScanReporter>(*reporter_, *relay_, model_);
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
    back_->setEnabled(true);
    editor_->setEnabled(true);
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
    progress_->setRange(0, 1000);
    progress_->setValue(0);
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
    status_->setText(stopped ? QStringLiteral("Saving stopped") : QStringLiteral("Saving done"));
    showProgressControls(false);
    parse_->setEnabled(true);
    back_->setEnabled(true);
    editor_->setEnabled(true);
    busy_ = false;
    dialogs().message(this, text, appTitle(), BoxIcon::Information);
    emit jobFinished();
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
