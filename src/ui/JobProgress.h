#pragma once
// Live progress of one long job: a bar with its percentage, and beneath it the
// rate (MB/s or entries/s), the time elapsed, the time still to go and the
// job's own live counts ("123 entries found", finds per category).
//
// Positions arrive with the time at which the worker reported them, so a
// queue of events that reaches the GUI thread late does not skew the rate.
// Positions may be any 64-bit range; the bar shows them as per mille.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <deque>

class QLabel;
class QProgressBar;
class QTimer;

namespace salvage::ui {

// Milliseconds of the monotonic clock the worker time stamps use.
qint64 steadyMs();

class JobProgress : public QWidget {
    Q_OBJECT
public:
    enum class Unit { None, Bytes, Entries };

    explicit JobProgress(QWidget* parent = nullptr);

    // A new job: the bar goes to 0, the clock starts, the counts are cleared.
    void start();
    // The job has ended: the clock stops and the bar stays where the work
    // stopped (an export stopped at 13 % is not shown full).
    void finish();
    bool running() const { return running_; }

    // What one position step is worth for the rate: `perStep` bytes (shown
    // in MB/s) or entries (shown in entries/s); None shows no rate.
    void setUnit(Unit unit, double perStep = 1.0);
    void setRange(qint64 minimum, qint64 maximum);
    // `stamp` is steadyMs() when the worker reported the position; -1 = now.
    void setPosition(qint64 position, qint64 stamp = -1);
    // The job's live counts, shown after the times.
    void setCounts(const QString& text);

    // 0–100, from the last position and range.
    int percent() const;
    // The line under the bar, as shown.
    QString detailText() const;
    // Bytes (or entries) per second over the last few seconds; 0 if unknown.
    double rate() const;

    // "0:07", "12:03", "1:02:03".
    static QString formatDuration(qint64 ms);

private:
    void refresh();

    struct Sample {
        qint64 stamp;
        qint64 position;
    };
    QProgressBar* bar_;
    QLabel* detail_;
    QTimer* tick_;
    Unit unit_ = Unit::None;
    double perStep_ = 1.0;
    qint64 minimum_ = 0;
    qint64 maximum_ = 0;
    qint64 position_ = 0;
    qint64 started_ = 0;
    qint64 ended_ = -1;
    bool running_ = false;
    QString counts_;
    std::deque<Sample> samples_;
};

}  // namespace salvage::ui
