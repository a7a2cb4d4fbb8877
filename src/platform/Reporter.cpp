#include "platform/Reporter.h"

#include <unistd.h>

#include <cstdio>

#include "platform/Text.h"

namespace salvage {

namespace {
class NullReporter final : public Reporter {
public:
    void setStatus(const std::u16string&) override {}
    void setProgressRange(std::int64_t, std::int64_t) override {}
    void setProgressPosition(std::int64_t) override {}
    void message(const std::u16string&, const std::u16string&, MessageIcon) override {}
    bool ask(const std::u16string&, const std::u16string&) override { return false; }
};
}  // namespace

Reporter& nullReporter() {
    static NullReporter instance;
    return instance;
}

CliReporter::CliReporter(bool showStatus, bool defaultAnswer)
    : showStatus_(showStatus), defaultAnswer_(defaultAnswer), tty_(isatty(STDERR_FILENO) == 1) {}

CliReporter::~CliReporter() { finishProgress(); }

void CliReporter::setStatus(const std::u16string& text) {
    std::lock_guard l(mutex_);
    if (!showStatus_) return;
    if (barShown_) {
        std::fputs("\n", stderr);
        barShown_ = false;
    }
    std::fprintf(stderr, "%s\n", toUtf8(text).c_str());
}

void CliReporter::setProgressRange(std::int64_t minimum, std::int64_t maximum) {
    std::lock_guard l(mutex_);
    min_ = minimum;
    max_ = maximum;
    lastPercent_ = -1;
}

void CliReporter::setProgressPosition(std::int64_t position) {
    std::lock_guard l(mutex_);
    pos_ = position;
    draw();
}

void CliReporter::draw() {
    if (!tty_ || max_ <= min_) return;
    double fraction = double(pos_ - min_) / double(max_ - min_);
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    int percent = int(fraction * 100.0);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    constexpr int kWidth = 40;
    int filled = int(fraction * kWidth);
    std::string bar(std::size_t(filled), '#');
    bar.append(std::size_t(kWidth - filled), '.');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
    std::fflush(stderr);
    barShown_ = true;
}

void CliReporter::finishProgress() {
    std::lock_guard l(mutex_);
    if (barShown_) {
        std::fputs("\n", stderr);
        barShown_ = false;
    }
}

void CliReporter::message(const std::u16string& text, const std::u16string& caption, MessageIcon) {
    std::lock_guard l(mutex_);
    if (barShown_) {
        std::fputs("\n", stderr);
        barShown_ = false;
    }
    messages_.push_back(text);
    if (caption.empty())
        std::fprintf(stderr, "%s\n", toUtf8(text).c_str());
    else
        std::fprintf(stderr, "%s: %s\n", toUtf8(caption).c_str(), toUtf8(text).c_str());
}

bool CliReporter::ask(const std::u16string& text, const std::u16string& caption) {
    message(text + (defaultAnswer_ ? u" [yes]" : u" [no]"), caption, MessageIcon::Question);
    return defaultAnswer_;
}

std::vector<std::u16string> CliReporter::messages() const {
    std::lock_guard l(mutex_);
    return messages_;
}

void RecordingReporter::setStatus(const std::u16string& text) {
    std::lock_guard l(mutex_);
    statuses_.push_back(text);
}
void RecordingReporter::setProgressRange(std::int64_t minimum, std::int64_t maximum) {
    std::lock_guard l(mutex_);
    min_ = minimum;
    max_ = maximum;
}
void RecordingReporter::setProgressPosition(std::int64_t position) {
    std::lock_guard l(mutex_);
    pos_ = position;
    ++positionUpdates_;
}
void RecordingReporter::message(const std::u16string& text, const std::u16string& caption, MessageIcon icon) {
    std::lock_guard l(mutex_);
    messages_.push_back({text, caption, icon});
}
bool RecordingReporter::ask(const std::u16string& text, const std::u16string&) {
    std::lock_guard l(mutex_);
    questions_.push_back(text);
    return answer_;
}
std::u16string RecordingReporter::lastStatus() const {
    std::lock_guard l(mutex_);
    return statuses_.empty() ? std::u16string() : statuses_.back();
}
bool RecordingReporter::sawStatus(const std::u16string& text) const {
    std::lock_guard l(mutex_);
    for (const auto& s : statuses_)
        if (s == text) return true;
    return false;
}
bool RecordingReporter::sawMessage(const std::u16string& text) const {
    std::lock_guard l(mutex_);
    for (const auto& m : messages_)
        if (m.text == text) return true;
    return false;
}

}  // namespace salvage
