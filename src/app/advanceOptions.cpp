#include "app/advanceOptions.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <climits>

#include "app/AppInfo.h"
#include "app/DialogService.h"
#include "app/QtReporter.h"
#include "app/VolumeScanDlg.h"
#include "app/VolumeSession.h"
#include "app/WizardWindow.h"
#include "image/Globals.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"

namespace salvage::app {

namespace {
constexpr std::int64_t kDefaultCandidates = 3;

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

// Items come best first where the parser ranks them; each one's fit is its tooltip.
void fill(QComboBox* combo, const std::vector<std::u16string>& items, const std::vector<std::int64_t>& fits = {}) {
    combo->clear();
    for (std::size_t i = 0; i < items.size(); ++i) {
        combo->addItem(QString::fromStdU16String(items[i]));
        if (i < fits.size())
            combo->setItemData(int(i), QStringLiteral("fit %1 (ranked best first)").arg(fits[i]), Qt::ToolTipRole);
    }
    combo->setCurrentIndex(items.empty() ? -1 : 0);
}
}  // namespace

std::int64_t advanceOptions::maxCandidatesFrom(const QString& text) {
    bool ok = false;
    const qlonglong n = text.trimmed().toLongLong(&ok);
    return ok && n >= 1 ? std::int64_t(n) : kDefaultCandidates;
}

advanceOptions::advanceOptions(WizardWindow* wizard, WizardPage* owner, const VolumeRecord& record,
                               const QString& maxCandidatesText)
    : WizardPage(wizard, owner), kind_(parserKindFor(record.fileSystem)) {
    setObjectName(QStringLiteral("advanceOptions"));
    QWidget* boxParent = wizard ? static_cast<QWidget*>(wizard) : static_cast<QWidget*>(this);
    session_ = std::make_shared<VolumeSession>(boxParent, record);

    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Advanced Input:"), this);
    auto* grid = new QGridLayout(group);
    candidateLabel_ = new QLabel(QStringLiteral("TFS :"), group);
    candidateLabel_->setObjectName(QStringLiteral("candidateLabel"));
    candidates_ = new QComboBox(group);
    candidates_->setObjectName(QStringLiteral("candidateList"));
    clusterLabel_ = new QLabel(QStringLiteral("Sector Per Cluster :"), group);
    sectorsPerCluster_ = new QComboBox(group);
    sectorsPerCluster_->setObjectName(QStringLiteral("sectorsPerClusterList"));
    heapLabel_ = new QLabel(QStringLiteral("Heap Offset :"), group);
    heapOffsets_ = new QComboBox(group);
    heapOffsets_->setObjectName(QStringLiteral("heapOffsetList"));
    const int comboWidth = fontMetrics().horizontalAdvance(QStringLiteral("HEAP_OFFSET_ENTRY:0000")) + 40;
    for (QComboBox* c : {candidates_, sectorsPerCluster_, heapOffsets_}) c->setMinimumWidth(comboWidth);
    grid->addWidget(candidateLabel_, 0, 0);
    grid->addWidget(candidates_, 0, 1);
    grid->addWidget(clusterLabel_, 1, 0);
    grid->addWidget(sectorsPerCluster_, 1, 1);
    grid->addWidget(heapLabel_, 2, 0);
    grid->addWidget(heapOffsets_, 2, 1);
    grid->setColumnStretch(2, 1);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setTextVisible(false);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusLine"));
    status_->setMinimumWidth(1);
    pause_ = button(QStringLiteral("Pause"), "pauseButton", this);
    resume_ = button(QStringLiteral("Resume"), "resumeButton", this);
    stop_ = button(QStringLiteral("Stop"), "stopButton", this);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(status_, 3);
    progressRow->addWidget(progress_, 2);
    progressRow->addWidget(pause_);
    progressRow->addWidget(resume_);
    progressRow->addWidget(stop_);

    back_ = button(QStringLiteral("Back"), "backButton", this);
    next_ = button(QStringLiteral("Next"), "nextButton", this);
    layout->addWidget(group);
    layout->addStretch(1);
    layout->addLayout(progressRow);
    layout->addLayout(makeButtonRow({back_, next_}));

    QtReporter& reporter = session_->reporter();
    connect(&reporter, &QtReporter::statusChanged, status_, &QLabel::setText);
    connect(&reporter, &QtReporter::progressRangeChanged, this, [this](qint64 lo, qint64 hi) {
        const qint64 scale = hi > INT_MAX ? hi / INT_MAX + 1 : 1;
        progress_->setProperty("scale", scale);
        progress_->setRange(int(lo / scale), int(hi / scale));
    });
    connect(&reporter, &QtReporter::progressPositionChanged, this, [this](qint64 pos) {
        const qint64 scale = qMax<qint64>(1, progress_->property("scale").toLongLong());
        progress_->setValue(int(pos / scale));
    });
    connect(session_.get(), &VolumeSession::jobEnded, this, [this](int kind) {
        if (searching_ && JobKind(kind) == JobKind::CandidateScan) searchEnded();
    });
    connect(pause_, &QPushButton::clicked, this, [this] { session_->controller().pause(); });
    connect(resume_, &QPushButton::clicked, this, [this] { session_->controller().resume(); });
    connect(stop_, &QPushButton::clicked, this, &advanceOptions::stop);
    connect(back_, &QPushButton::clicked, this, &advanceOptions::back);
    connect(next_, &QPushButton::clicked, this, &advanceOptions::next);

    // Nothing is offered until the search has found something.
    next_->setEnabled(false);
    back_->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{candidateLabel_, candidates_, clusterLabel_,
                                                      sectorsPerCluster_, heapLabel_, heapOffsets_})
        w->hide();
    startSearch(maxCandidatesFrom(maxCandidatesText));
}

advanceOptions::~advanceOptions() {
    // The volume page this one opened goes first (it shares the session).
    if (WizardPage* page = nextPage()) delete page;
    session_->stopAndWait();
}

void advanceOptions::startSearch(std::int64_t maxCandidates) {
    const auto endEarly = [this] {
        progress_->hide();
        pause_->hide();
        resume_->hide();
        stop_->hide();
        back_->setEnabled(true);
    };
    if (!kind_) {
        dialogs().message(this, QStringLiteral("unKnown Partition Cant be parsed..."), appTitle(),
                          BoxIcon::Information);
        endEarly();
        return;
    }
    if (!g_sectorSource) {
        if (*kind_ == ParserKind::Ntfs)
            dialogs().message(this, QStringLiteral("Please Restart the program to re begin necessary initialization..."),
                              QString(), BoxIcon::None);
        endEarly();
        return;
    }
    if (*kind_ == ParserKind::Fat16 || *kind_ == ParserKind::Fat12) candidateLabel_->setText(QStringLiteral("Total fat16 Entries Found:"));
    if (*kind_ == ParserKind::Fat64) candidateLabel_->setText(QStringLiteral("Total fat64 Entries Found:"));
    session_->reporter().rearm();
    const StartOutcome outcome = session_->controller().startCandidateScan(session_->volume(), g_sectorSource,
                                                                           maxCandidates);
    if (outcome != StartOutcome::Started) {
        endEarly();
        return;
    }
    searching_ = true;
}

void advanceOptions::searchEnded() {
    session_->controller().wait();
    searching_ = false;
    VolumeParser* parser = session_->controller().parser();
    const AdvancedLists lists = parser ? parser->advancedLists() : AdvancedLists{};
    fill(candidates_, lists.candidates, lists.candidateFit);
    fill(sectorsPerCluster_, lists.sectorsPerCluster, lists.sectorsPerClusterFit);
    fill(heapOffsets_, lists.heapOffsets);
    const bool exfat = kind_ == ParserKind::Fat64;
    for (QWidget* w : {static_cast<QWidget*>(candidateLabel_), static_cast<QWidget*>(candidates_),
                       static_cast<QWidget*>(clusterLabel_), static_cast<QWidget*>(sectorsPerCluster_)})
        w->show();
    heapLabel_->setVisible(exfat);
    heapOffsets_->setVisible(exfat);

    const int found = int(lists.candidates.size());
    QString text;
    QString statusText = QStringLiteral("Parsing done.Click Next to continue.");
    switch (*kind_) {
        case ParserKind::Ntfs:
            text = QStringLiteral("Number of MFT-ENTRY found = %1 . Please select the choice from combo box and "
                                  "click Next button to proceed.")
                       .arg(found);
            statusText = QStringLiteral("Parsing done.Click next to continue.");
            break;
        case ParserKind::Fat16:
        case ParserKind::Fat12:
            text = QStringLiteral("Number of FAT-ENTRY found = %1 . Please select the choice from combo box and "
                                  "click Next button to proceed.")
                       .arg(found);
            break;
        case ParserKind::Fat32:
            text = found == 0 ? QStringLiteral("NO FAT  FAT32-ENTRY found ..")
                              : QStringLiteral("Number of FAT32-ENTRY found = %1 . Please select the choice from "
                                               "combo box and click Next button to proceed.")
                                    .arg(found);
            break;
        case ParserKind::Fat64:
            text = QStringLiteral("Number of FAT64-ENTRY found = %1 and Number of HeapOffset-ENTRY found =  %2  . "
                                  "Please select the choice from ( Entry and Heap ) Combobox and click Next button "
                                  "to proceed.")
                       .arg(found)
                       .arg(lists.heapOffsets.size());
            break;
        default: break;
    }
    if (!text.isEmpty()) dialogs().message(this, text, appTitle(), BoxIcon::Information);
    next_->setEnabled(true);
    back_->setEnabled(true);
    progress_->hide();
    pause_->hide();
    resume_->hide();
    stop_->hide();
    status_->setText(statusText);
    emit searchFinished();
}

void advanceOptions::stop() {
    if (!searching_) return;
    session_->controller().stop();
    session_->reporter().setStatus(u"stop button pressed");
    next_->setEnabled(true);
    back_->setEnabled(true);
}

void advanceOptions::back() {
    session_->stopAndWait();
    goBack();
}

void advanceOptions::next() {
    if (searching_) return;
    if (candidates_->currentIndex() < 0) {
        dialogs().message(this, QStringLiteral("No File system Entry Found.Process cannot be continue..."),
                          appTitle(), BoxIcon::Information);
        return;
    }
    if (sectorsPerCluster_->currentIndex() < 0) return;
    VolumeParser* parser = session_->controller().parser();
    if (!parser) return;
    parser->advancedChoice.candidate = candidates_->currentIndex();
    parser->advancedChoice.sectorsPerCluster = sectorsPerCluster_->currentIndex();
    parser->advancedChoice.heapOffset = heapOffsets_->currentIndex();
    if (!openNext<VolumeScanDlg>(session_->volume(), RecoveryMode::Advanced, session_))
        dialogs().message(this, QStringLiteral("error creating VolumeScanDlg"), appTitle(), BoxIcon::Information);
}

}  // namespace salvage::app
