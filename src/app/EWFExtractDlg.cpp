#include "app/EWFExtractDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/QtReporter.h"
#include "app/WorkerJob.h"
#include "platform/Text.h"
#include "volumes/VolumeList.h"

namespace salvage::app {

namespace {
std::int64_t boxNumber(const QLineEdit* box) { return numberBoxValue(box->text().toStdU16String()); }
}  // namespace

EWFExtractDlg::EWFExtractDlg(WizardWindow* wizard, WizardPage* owner, const QString& imagePath,
                             const EwfInfoRecord& info, const QString& mediaSizeText)
    : WizardPage(wizard, owner), imagePath_(imagePath), info_(info) {
    setObjectName(QStringLiteral("EWFExtractDlg"));
    reporter_ = new QtReporter(this, this);
    job_ = new WorkerJob(reporter_, this);

    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Export image"), this);
    auto* grid = new QGridLayout(group);

    pathBox_ = new QLineEdit(group);
    pathBox_->setObjectName(QStringLiteral("targetPathBox"));
    auto* browseButton = new QPushButton(QStringLiteral("..."), group);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    browseButton->setFixedWidth(browseButton->fontMetrics().horizontalAdvance(QStringLiteral("....")) * 3);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathBox_, 1);
    pathRow->addWidget(browseButton);
    grid->addWidget(new QLabel(QStringLiteral("Save As :"), group), 0, 0);
    grid->addLayout(pathRow, 0, 1, 1, 2);

    format_ = new QComboBox(group);
    format_->setObjectName(QStringLiteral("formatChoice"));
    format_->addItems({QStringLiteral("default (raw)"), QStringLiteral("ewf")});
    format_->setCurrentIndex(0);
    grid->addWidget(new QLabel(QStringLiteral("Export to format:"), group), 1, 0);
    grid->addWidget(format_, 1, 1);

    segmentSize_ = new QLineEdit(QStringLiteral("0"), group);
    segmentSize_->setObjectName(QStringLiteral("segmentSizeBox"));
    grid->addWidget(new QLabel(QStringLiteral("Segment File Size :"), group), 2, 0);
    grid->addWidget(segmentSize_, 2, 1);

    startOffset_ = new QLineEdit(QStringLiteral("0"), group);
    startOffset_->setObjectName(QStringLiteral("startOffsetBox"));
    auto* hint = new QLabel(QStringLiteral("( should be less then ") + mediaSizeText + QStringLiteral(" )"), group);
    hint->setObjectName(QStringLiteral("offsetHint"));
    grid->addWidget(new QLabel(QStringLiteral("Extract Start Offset :"), group), 3, 0);
    grid->addWidget(startOffset_, 3, 1);
    grid->addWidget(hint, 3, 2);

    // The media size's number part: the text before the "B" of "Bytes".
    byteCount_ = new QLineEdit(group);
    byteCount_->setObjectName(QStringLiteral("byteCountBox"));
    if (!mediaSizeText.isEmpty()) {
        const qsizetype b = mediaSizeText.indexOf(QLatin1Char('B'));
        byteCount_->setText(b < 0 ? mediaSizeText : mediaSizeText.left(b));
    }
    grid->addWidget(new QLabel(QStringLiteral("Number of Byte To Extract :"), group), 4, 0);
    grid->addWidget(byteCount_, 4, 1);
    grid->setColumnStretch(1, 1);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    percentLine_ = new QLabel(this);
    percentLine_->setObjectName(QStringLiteral("percentLine"));
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setObjectName(QStringLiteral("stopButton"));
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(progress_, 1);
    progressRow->addWidget(percentLine_);
    progressRow->addWidget(stop_);

    back_ = new QPushButton(QStringLiteral("Back"), this);
    back_->setObjectName(QStringLiteral("backButton"));
    extract_ = new QPushButton(QStringLiteral("Extract"), this);
    extract_->setObjectName(QStringLiteral("extractButton"));

    layout->addWidget(group);
    layout->addStretch(1);
    layout->addLayout(progressRow);
    layout->addLayout(makeButtonRow({back_, extract_}));

    progress_->hide();
    percentLine_->hide();
    stop_->hide();

    connect(browseButton, &QPushButton::clicked, this, &EWFExtractDlg::browse);
    connect(extract_, &QPushButton::clicked, this, &EWFExtractDlg::extract);
    connect(back_, &QPushButton::clicked, this, &WizardPage::goBack);
    connect(stop_, &QPushButton::clicked, this, [this] { job_->requestStop(); });
    connect(reporter_, &QtReporter::progressRangeChanged, this,
            [this](qint64 lo, qint64 hi) { progress_->setRange(int(lo), int(hi)); });
    connect(reporter_, &QtReporter::progressPositionChanged, this,
            [this](qint64 pos) { progress_->setValue(int(pos)); });
    connect(reporter_, &QtReporter::statusChanged, percentLine_, &QLabel::setText);
    connect(job_, &WorkerJob::finished, this, &EWFExtractDlg::finish);
}

EWFExtractDlg::~EWFExtractDlg() {
    // The job refers to this page's reporter: end it first.
    job_->stopAndWait();
}

bool EWFExtractDlg::isExporting() const { return job_->isRunning(); }

void EWFExtractDlg::browse() {
    const QString path = dialogs().saveFile(this);
    if (!path.isEmpty()) pathBox_->setText(path);
}

ExportSettings EWFExtractDlg::collectSettings() const {
    ExportSettings s;
    s.imagePath = pathFromUtf16(imagePath_.toStdU16String());
    s.info = info_;
    s.targetPath = pathBox_->text().toStdString();
    s.outputFormat = format_->currentIndex() == 1 ? ExportFormat::Ewf : ExportFormat::Raw;
    // A negative size reads as a huge unsigned one, which the job replaces
    // by its default segment size.
    s.maximumSegmentSize = static_cast<std::uint64_t>(boxNumber(segmentSize_));
    s.exportOffset = boxNumber(startOffset_);
    s.exportSize = boxNumber(byteCount_);
    return s;
}

void EWFExtractDlg::extract() {
    if (pathBox_->text().isEmpty()) {
        dialogs().message(this, QStringLiteral("Please give save file name"), appTitle(), BoxIcon::Information);
        return;
    }
    if (job_->isRunning()) return;
    const ExportSettings settings = collectSettings();
    // The job checks the output again with the media's own size; this check
    // is for the question, asked before anything is removed.
    std::vector<std::string> earlierSet;
    const std::uint64_t bytes = settings.exportSize > 0 ? std::uint64_t(settings.exportSize) : info_.mediaSize;
    if (const std::u16string why = checkExportTarget(settings, bytes, earlierSet); !why.empty()) {
        dialogs().message(this, QString::fromStdU16String(why), appTitle(), BoxIcon::Warning);
        return;
    }
    if (!earlierSet.empty() &&
        !dialogs().ask(this,
                       QStringLiteral("An earlier export under this name exists (%1, %2 file(s)). Replace it?")
                           .arg(QString::fromStdString(earlierSet.front()))
                           .arg(earlierSet.size()),
                       appTitle()))
        return;
    exportJob_ = std::make_unique<ExportJob>(settings, *reporter_);
    percentLine_->setText(QString());
    progress_->setValue(0);
    setExporting(true);
    ExportJob* job = exportJob_.get();
    job_->start([this, job] { lastResult_ = job->run(); }, [job] { job->stopRequested = true; });
}

void EWFExtractDlg::setExporting(bool exporting) {
    extract_->setEnabled(!exporting);
    back_->setEnabled(!exporting);
    progress_->setVisible(exporting);
    percentLine_->setVisible(exporting);
    stop_->setVisible(exporting);
}

void EWFExtractDlg::finish() {
    setExporting(false);
    // A full bar only for a complete, sound copy; the job's last message
    // says in words how it ended.
    if (lastResult_.outcome == ExportOutcome::Done) progress_->setValue(1000);
    exportJob_.reset();
    emit exportFinished();
}

}  // namespace salvage::app
