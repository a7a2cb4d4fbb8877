#include "app/PopulateDriveDlg.h"

#include "app/GuiQueue.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/InfoList.h"
#include "app/LaterPages.h"
#include "app/ParceModeNtfsDlg.h"
#include "app/QtReporter.h"
#include "app/SectorBox.h"
#include "app/WorkerJob.h"
#include "image/EwfReader.h"
#include "image/Globals.h"
#include "platform/Text.h"
#include "ui/JobProgress.h"
#include "volumes/AdvancedVolumeScan.h"
#include "volumes/Partition.h"

namespace salvage::app {

PopulateDriveDlg::PopulateDriveDlg(WizardWindow* wizard, WizardPage* owner, const ScanRequest& request)
    : WizardPage(wizard, owner), request_(request) {
    setObjectName(QStringLiteral("PopulateDriveDlg"));
    reporter_ = new QtReporter(this, this);
    job_ = new WorkerJob(reporter_, this);
    model_ = std::make_unique<VolumeList>(request_.scanMode == 2 ? ScanMode::Advanced : ScanMode::Standard,
                                          *reporter_);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;

    auto* listGroup = new QGroupBox(QStringLiteral("Volume List:"), this);
    auto* listLayout = new QVBoxLayout(listGroup);
    list_ = new InfoList({QStringLiteral("VOLUME"), QStringLiteral("FILE_SYSTEM"), QStringLiteral("VOLUME_SIZE"),
                          QStringLiteral("START_SECTOR")},
                         {80, 80, 80, 100}, listGroup);
    list_->setObjectName(QStringLiteral("volumeList"));
    filter_ = new QPushButton(QStringLiteral("Filter Entries"), listGroup);
    filter_->setObjectName(QStringLiteral("filterButton"));
    addCustom_ = new QPushButton(QStringLiteral("Add Custom Volume"), listGroup);
    addCustom_->setObjectName(QStringLiteral("addCustomButton"));
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(filter_);
    listButtons->addWidget(addCustom_);
    listButtons->addStretch(1);
    listLayout->addWidget(list_, 1);
    listLayout->addLayout(listButtons);

    // The tick of the group's title is "Custom Settings For Selected Volume ".
    custom_ = new QGroupBox(QStringLiteral("Custom Settings For Selected Volume "), this);
    custom_->setObjectName(QStringLiteral("customSettings"));
    custom_->setCheckable(true);
    custom_->setChecked(false);
    auto* grid = new QGridLayout(custom_);
    selectedVolume_ = new QLabel(custom_);
    selectedVolume_->setObjectName(QStringLiteral("selectedVolume"));
    startBox_ = new SectorBox(custom_);
    startBox_->setObjectName(QStringLiteral("startSector"));
    endBox_ = new SectorBox(custom_);
    endBox_->setObjectName(QStringLiteral("endSector"));
    treatAs_ = new QComboBox(custom_);
    treatAs_->setObjectName(QStringLiteral("treatAs"));
    for (auto choice : kTreatAsChoices) {
        const QString name = QString::fromStdU16String(std::u16string(choice));
        treatAs_->addItem(name);
        treatAs_->setItemData(treatAs_->count() - 1, plainTermTip(name), Qt::ToolTipRole);
    }
    treatAs_->setCurrentIndex(-1);
    grid->addWidget(new QLabel(QStringLiteral("Selected Volume :"), custom_), 0, 0);
    grid->addWidget(selectedVolume_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Start Sector:"), custom_), 1, 0);
    grid->addWidget(startBox_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("End Sector :"), custom_), 2, 0);
    grid->addWidget(endBox_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Treat file system as:"), custom_), 3, 0);
    grid->addWidget(treatAs_, 3, 1);
    grid->setRowStretch(4, 1);

    top->addWidget(listGroup, 3);
    top->addWidget(custom_, 2);

    progress_ = new ui::JobProgress(this);
    progress_->setObjectName(QStringLiteral("jobProgress"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusLine"));
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setObjectName(QStringLiteral("stopButton"));
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(status_, 1);
    progressRow->addWidget(progress_, 1);
    progressRow->addWidget(stop_);

    back_ = new QPushButton(QStringLiteral("Back"), this);
    back_->setObjectName(QStringLiteral("backButton"));
    next_ = new QPushButton(QStringLiteral("Next"), this);
    next_->setObjectName(QStringLiteral("nextButton"));

    layout->addLayout(top, 1);
    layout->addLayout(progressRow);
    layout->addLayout(makeButtonRow({back_, next_}));

    connect(reporter_, &QtReporter::statusChanged, status_, &QLabel::setText);
    connectProgress(*reporter_, *progress_);
    connect(list_, &QTableWidget::itemSelectionChanged, this, &PopulateDriveDlg::rowSelected);
    connect(list_, &QTableWidget::cellClicked, this, [this](int row, int) { rowClicked(row); });
    connect(filter_, &QPushButton::clicked, this, &PopulateDriveDlg::filterEntries);
    connect(addCustom_, &QPushButton::clicked, this, &PopulateDriveDlg::addCustomVolume);
    connect(stop_, &QPushButton::clicked, this, [this] {
        job_->requestStop();
        back_->setEnabled(true);
    });
    connect(back_, &QPushButton::clicked, this, &WizardPage::goBack);
    connect(next_, &QPushButton::clicked, this, &PopulateDriveDlg::next);
    connect(job_, &WorkerJob::finished, this, [this] { advancedScanEnded(scanError_); });

    // Until a scan has found something, nothing can be customised.
    custom_->setEnabled(false);
    addCustom_->setEnabled(false);

    if (request_.scanMode == 1) {
        standardScan();
    } else if (request_.scanMode == 2) {
        advancedScan();
    } else {
        status_->setText(QStringLiteral("Finished Scanning."));
    }
}

PopulateDriveDlg::~PopulateDriveDlg() { job_->stopAndWait(); }

bool PopulateDriveDlg::isScanning() const { return job_->isRunning(); }

QString PopulateDriveDlg::runningJobNote() const {
    if (!isScanning()) return {};
    return QStringLiteral("An advanced volume scan is running. Closing stops it; the volumes found so far are not "
                          "kept.");
}

void PopulateDriveDlg::finishControls() {
    addCustom_->setEnabled(true);
    status_->setText(QStringLiteral("Finished Scanning."));
    progress_->hide();
    stop_->hide();
    status_->setText(QStringLiteral("Select volume and click next button..."));
    progress_->finish();
}

void PopulateDriveDlg::reportReadFailure(int error, const QString& where) {
    // The list keeps what was found before the failure; the user is told
    // that it may be incomplete and why, rather than shown a short list
    // without a word.
    QString text = QStringLiteral("%1 could not be read: %2 (error %3).")
                       .arg(where, QString::fromLocal8Bit(std::strerror(error)))
                       .arg(error);
    if (auto* ewf = dynamic_cast<FileReadSeekEWf*>(g_sectorSource); ewf && ewf->checksumErrors() > 0)
        text += QStringLiteral(" The image holds %1 damaged chunk(s) that fail their checksum.")
                    .arg(ewf->checksumErrors());
    text += QStringLiteral(
        "\nThe list shows only the volumes found before it. A segment of the image may be missing or cut "
        "short, or the disk may be damaged.");
    readFailure_ = text;
    status_->setText(text.section(QLatin1Char('\n'), 0, 0));
    status_->setToolTip(text);
    dialogs().message(this, text, appTitle(), BoxIcon::Warning);
}

void PopulateDriveDlg::standardScan() {
    progress_->setRange(0, 1000);
    if (!g_sectorSource) {
        dialogs().message(this, QStringLiteral("information lost ..go back and parse again"), QString(),
                          BoxIcon::None);
        return;
    }
    Partition scanner(model_->records(), *reporter_);
    scanner.useGpt = request_.useGpt;
    if (!g_sectorSource->open(pathFromUtf16(request_.imagePath.toStdU16String()))) {
        dialogs().message(this, QStringLiteral("file not opened.."), appTitle(), BoxIcon::Information);
    } else {
        list_->clearRows();
        model_->records().clear();
        scanError_ = scanPartitionTables(*g_sectorSource, scanner);
        model_->showStandardResults();
        showRows();
        custom_->setEnabled(!model_->records().empty());
    }
    filter_->setEnabled(true);
    finishControls();
    if (scanError_ != 0) reportReadFailure(scanError_, QStringLiteral("A partition table sector"));
}

void PopulateDriveDlg::advancedScan() {
    addCustom_->setEnabled(false);
    next_->setEnabled(false);
    if (!g_sectorSource || !g_sectorSource->open(pathFromUtf16(request_.imagePath.toStdU16String()))) {
        next_->setEnabled(true);
        dialogs().message(this, QStringLiteral("file not opened.."), appTitle(), BoxIcon::Information);
        return;
    }
    list_->clearRows();
    model_->records().clear();
    progress_->start();
    // The scan counts in per mille of the sectors it searches.
    const std::int64_t first = request_.rangeEndSector >= 0 ? request_.rangeStartSector : 0;
    const std::int64_t last = request_.rangeEndSector >= 0 ? request_.rangeEndSector : g_sectorSource->totalSectors();
    if (last > first) progress_->setUnit(ui::JobProgress::Unit::Bytes, double(last - first) * 512.0 / 1000.0);
    foundCount_ = 0;

    // The scan fills its own array on the worker; each find reaches the
    // page's model as a copy, on the GUI thread.
    auto scan = std::make_shared<std::vector<VolumeRecord>>();
    auto scanner = std::make_shared<AdvancedVolumeScan>(*scan, *reporter_);
    scanner->skipVolumeSize = !request_.doNotSkipVolumeSize;
    if (request_.rangeEndSector >= 0) {
        scanner->rangeStartSector = request_.rangeStartSector;
        scanner->rangeEndSector = request_.rangeEndSector;
    }
    scanner->pauseGate = &job_->pauseGate();
    scanner->onFound = [this](const VolumeRecord& record) {
        postToGui(this, [this, record] {
            // Appends to the model's records and adds the row on top.
            model_->addScannedRecord(record);
            showRows();
            progress_->setCounts(QStringLiteral("%1 volume(s) found").arg(++foundCount_));
        });
    };
    back_->setEnabled(false);
    filter_->setEnabled(false);
    readWriteInterface* source = g_sectorSource;
    // scanError_ is read only after the job has been joined.
    job_->start([this, scan, scanner, source] { scanError_ = scanner->run(*source); },
                [scanner] { scanner->stopRequested = true; });
}

void PopulateDriveDlg::advancedScanEnded(int error) {
    status_->setText(QStringLiteral("Scanned Partitions"));
    dialogs().message(this, QStringLiteral("populated partitions...."), QString(), BoxIcon::None);
    status_->setText(QStringLiteral("Finished Scanning."));
    back_->setEnabled(true);
    custom_->setEnabled(!model_->records().empty());
    // A window that could not be read ends the scan with the list's filter
    // left off, as the scan left it.
    filter_->setEnabled(error == 0);
    next_->setEnabled(true);
    finishControls();
    if (error != 0) reportReadFailure(error, QStringLiteral("A scan window of the image"));
    emit scanFinished();
}

void PopulateDriveDlg::showRows() {
    showingRows_ = true;
    list_->clearRows();
    for (std::size_t r = 0; r < model_->rowCount(); ++r) {
        const VolumeRowText& t = model_->rowText(r);
        list_->insertTextRow({QString::fromStdU16String(t.volume), QString::fromStdU16String(t.fileSystem),
                              QString::fromStdU16String(t.volumeSize), QString::fromStdU16String(t.startSector)});
    }
    if (auto selected = model_->selectedRow(); selected && *selected < model_->rowCount())
        list_->selectRow(int(*selected));
    else
        list_->clearSelection();
    showingRows_ = false;
}

void PopulateDriveDlg::rowSelected() {
    if (showingRows_) return;
    const auto rows = list_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    model_->selectRow(std::size_t(rows.first().row()));
    showDetails();
}

void PopulateDriveDlg::rowClicked(int row) {
    if (row < 0 || std::size_t(row) >= model_->rowCount()) return;
    model_->clickRow(std::size_t(row));
    showDetails();
}

void PopulateDriveDlg::showDetails() {
    selectedVolume_->setText(QString::fromStdU16String(model_->selectedVolumeText));
    startBox_->setText(QString::fromStdU16String(model_->startText));
    endBox_->setText(QString::fromStdU16String(model_->endText));
    treatAs_->setCurrentIndex(model_->treatAs ? int(*model_->treatAs) : -1);
}

void PopulateDriveDlg::syncDetailsToModel() {
    model_->customSettings = custom_->isChecked();
    model_->startText = startBox_->text().toStdU16String();
    model_->endText = endBox_->text().toStdU16String();
    if (treatAs_->currentIndex() >= 0)
        model_->treatAs = std::size_t(treatAs_->currentIndex());
    else
        model_->treatAs.reset();
}

void PopulateDriveDlg::filterEntries() {
    syncDetailsToModel();
    model_->filterEntries();
    showRows();
}

void PopulateDriveDlg::addCustomVolume() {
    syncDetailsToModel();
    model_->addCustomVolume();
    custom_->setEnabled(true);
    custom_->setChecked(model_->customSettings);
    showRows();
    showDetails();
}

void PopulateDriveDlg::next() {
    if (job_->isRunning()) return;
    syncDetailsToModel();
    const ProceedResult result = model_->proceed();
    switch (result.route) {
        case ProceedRoute::Stay: break;
        case ProceedRoute::RawRecovery: openRawRecoveryPage(*this, result.record); break;
        case ProceedRoute::RecoveryMode:
            if (!openNext<ParceModeNtfsDlg>(result.record))
                dialogs().message(this, QStringLiteral("error creating ParceModeNtfsDlg"), appTitle(),
                                  BoxIcon::Information);
            break;
    }
}

}  // namespace salvage::app
