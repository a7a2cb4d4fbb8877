#pragma once
// The one channel through which long jobs talk to whoever watches them:
// status text, progress range and position, and user messages. Core code
// never shows anything by itself.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace salvage {

enum class MessageIcon { Information, Warning, Error, Question };

class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void setStatus(const std::u16string& text) = 0;
    virtual void setProgressRange(std::int64_t minimum, std::int64_t maximum) = 0;
    virtual void setProgressPosition(std::int64_t position) = 0;
    // A message box. An empty caption stands for the program's default name.
    virtual void message(const std::u16string& text, const std::u16string& caption,
                         MessageIcon icon = MessageIcon::Information) = 0;
    // A Yes/No question; true for Yes.
    virtual bool ask(const std::u16string& text, const std::u16string& caption) = 0;
};

// Swallows everything and answers No.
Reporter& nullReporter();

// Writes status and messages to stderr and draws a progress bar there when
// stderr is a terminal. Questions are answered with `defaultAnswer`.
class CliReporter : public Reporter {
public:
    explicit CliReporter(bool showStatus = false, bool defaultAnswer = false);
    ~CliReporter() override;
    void setStatus(const std::u16string& text) override;
    void setProgressRange(std::int64_t minimum, std::int64_t maximum) override;
    void setProgressPosition(std::int64_t position) override;
    void message(const std::u16string& text, const std::u16string& caption, MessageIcon icon) override;
    bool ask(const std::u16string& text, const std::u16string& caption) override;
    // Ends a progress bar line, if one is drawn.
    void finishProgress();
    std::vector<std::u16string> messages() const;

private:
    void draw();
    mutable std::mutex mutex_;
    bool showStatus_;
    bool defaultAnswer_;
    bool tty_;
    bool barShown_ = false;
    std::int64_t min_ = 0, max_ = 0, pos_ = 0;
    int lastPercent_ = -1;
    std::vector<std::u16string> messages_;
};

// Records every call, for tests. Thread-safe: a worker may report while the
// test thread reads.
class RecordingReporter : public Reporter {
public:
    struct Message {
        std::u16string text;
        std::u16string caption;
        MessageIcon icon;
    };
    void setStatus(const std::u16string& text) override;
    void setProgressRange(std::int64_t minimum, std::int64_t maximum) override;
    void setProgressPosition(std::int64_t position) override;
    void message(const std::u16string& text, const std::u16string& caption, MessageIcon icon) override;
    bool ask(const std::u16string& text, const std::u16string& caption) override;

    void setAnswer(bool yes) { std::lock_guard l(mutex_); answer_ = yes; }
    std::vector<std::u16string> statuses() const { std::lock_guard l(mutex_); return statuses_; }
    std::vector<Message> messages() const { std::lock_guard l(mutex_); return messages_; }
    std::vector<std::u16string> questions() const { std::lock_guard l(mutex_); return questions_; }
    std::u16string lastStatus() const;
    std::int64_t rangeMin() const { std::lock_guard l(mutex_); return min_; }
    std::int64_t rangeMax() const { std::lock_guard l(mutex_); return max_; }
    std::int64_t position() const { std::lock_guard l(mutex_); return pos_; }
    std::size_t positionUpdates() const { std::lock_guard l(mutex_); return positionUpdates_; }
    bool sawStatus(const std::u16string& text) const;
    bool sawMessage(const std::u16string& text) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::u16string> statuses_;
    std::vector<Message> messages_;
    std::vector<std::u16string> questions_;
    std::int64_t min_ = 0, max_ = 0, pos_ = 0;
    std::size_t positionUpdates_ = 0;
    bool answer_ = false;
};

}  // namespace salvage
