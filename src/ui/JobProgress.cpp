#include "ui/JobProgress.h"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

namespace salvage::ui {

namespace {
// The rate is measured over this much of the most recent work, so it follows
// a job whose speed changes (a fast empty region, then a slow one).
constexpr qint64 kWindowMs = 5000;
// Below this span a rate would be noise.
constexpr qint64 kShortestSpanMs = 250;
constexpr int kBarSteps = 1000;
}  // namespace

qint64 steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

JobProgress::JobProgress(QWidget* parent) : QWidget(parent) {
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("progressBar"));
    bar_->setRange(0, kBarSteps);
    bar_->setValue(0);
    bar_->setFormat(QStringLiteral("%p %"));
    detail_ = new QLabel(this);
    detail_->setObjectName(QStringLiteral("progressDetail"));
    // Long count lines may be cut by a narrow window, never widen it.
    detail_->setMinimumWidth(1);
    detail_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    layout->addWidget(bar_);
    layout->addWidget(detail_);
    tick_ = new QTimer(this);
    tick_->setInterval(1000);
    // Elapsed and remaining time move on while no position arrives (a pause,
    // a slow read).
    connect(tick_, &QTimer::timeout, this, &JobProgress::refresh);
}

void JobProgress::start() {
    running_ = true;
    started_ = steadyMs();
    ended_ = -1;
    position_ = minimum_ = maximum_ = 0;
    counts_.clear();
    samples_.clear();
    bar_->setValue(0);
    tick_->start();
    refresh();
}

void JobProgress::finish() {
    if (running_) ended_ = steadyMs();
    running_ = false;
    tick_->stop();
    refresh();
}

void JobProgress::setUnit(Unit unit, double perStep) {
    unit_ = unit;
    perStep_ = perStep > 0 ? perStep : 1.0;
    refresh();
}

void JobProgress::setRange(qint64 minimum, qint64 maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    // A new range is a new phase of the job (its steps may mean something
    // else): the rate starts over.
    samples_.clear();
    position_ = minimum_;
    refresh();
}

void JobProgress::setPosition(qint64 position, qint64 stamp) {
    if (stamp < 0) stamp = steadyMs();
    position_ = std::clamp(position, minimum_, maximum_);
    samples_.push_back({stamp, position_});
    while (samples_.size() > 2 && samples_.back().stamp - samples_[1].stamp >= kWindowMs) samples_.pop_front();
    refresh();
}

void JobProgress::setCounts(const QString& text) {
    counts_ = text;
    refresh();
}

int JobProgress::percent() const {
    if (maximum_ <= minimum_) return 0;
    return int((position_ - minimum_) * 100 / (maximum_ - minimum_));
}

double JobProgress::rate() const {
    if (samples_.size() < 2) return 0;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const qint64 span = last.stamp - first.stamp;
    if (span < kShortestSpanMs || last.position <= first.position) return 0;
    return double(last.position - first.position) * perStep_ * 1000.0 / double(span);
}

QString JobProgress::formatDuration(qint64 ms) {
    const qint64 s = std::max<qint64>(ms, 0) / 1000;
    const qint64 h = s / 3600, m = s / 60 % 60, sec = s % 60;
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(sec, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(sec, 2, 10, QLatin1Char('0'));
}

QString JobProgress::detailText() const { return detail_->text(); }

void JobProgress::refresh() {
    if (maximum_ > minimum_) {
        bar_->setValue(int((position_ - minimum_) * kBarSteps / (maximum_ - minimum_)));
    }
    QStringList parts;
    if (started_ > 0) {
        const qint64 now = running_ ? steadyMs() : ended_;
        const double perSecond = rate();
        if (running_ && perSecond > 0 && unit_ != Unit::None) {
            if (unit_ == Unit::Bytes)
                parts << QStringLiteral("%1 MB/s").arg(perSecond / 1e6, 0, 'f', perSecond < 1e7 ? 1 : 0);
            else
                parts << QStringLiteral("%1 entries/s").arg(QLocale().toString(qint64(perSecond + 0.5)));
        }
        parts << QStringLiteral("%1 elapsed").arg(formatDuration(now - started_));
        if (running_ && perSecond > 0 && position_ < maximum_) {
            const double steps = double(maximum_ - position_);
            parts << QStringLiteral("about %1 left").arg(formatDuration(qint64(steps * perStep_ * 1000.0 / perSecond)));
        }
    }
    if (!counts_.isEmpty()) parts << counts_;
    detail_->setText(parts.join(QStringLiteral("  ·  ")));
    detail_->setToolTip(detail_->text());
}

}  // namespace salvage::ui
