#pragma once
// A dialog service that answers from a script and records what it was asked,
// so tests can drive the wizard without real boxes.
#include <QStringList>
#include <QUrl>
#include <deque>
#include <mutex>

#include "app/DialogService.h"

namespace salvage::test {

class FakeDialogs : public app::DialogService {
public:
    struct Shown {
        QString text;
        QString caption;
        app::BoxIcon icon;
    };

    QString take(std::deque<QString>& queue) {
        std::lock_guard l(mutex_);
        if (queue.empty()) return {};
        QString v = queue.front();
        queue.pop_front();
        return v;
    }
    QString openFile(QWidget*) override { return take(files_); }
    QString saveFile(QWidget*) override { return take(files_); }
    QString chooseFolder(QWidget*) override { return take(files_); }
    QString chooseFolder(QWidget* parent, const QString& title) override {
        {
            std::lock_guard l(mutex_);
            folderTitles_.push_back(title);
        }
        return chooseFolder(parent);
    }
    QStringList folderTitles() const {
        std::lock_guard l(mutex_);
        return folderTitles_;
    }
    void message(QWidget*, const QString& text, const QString& caption, app::BoxIcon icon) override {
        std::lock_guard l(mutex_);
        messages_.push_back({text, caption, icon});
    }
    int choose(QWidget*, const QString& text, const QString& caption, app::BoxIcon icon,
               const QStringList& buttons) override {
        std::lock_guard l(mutex_);
        messages_.push_back({text, caption, icon});
        choiceButtons_.push_back(buttons);
        if (choices_.empty()) return -1;
        const int c = choices_.front();
        choices_.pop_front();
        return c;
    }
    bool ask(QWidget*, const QString& text, const QString& caption) override {
        std::lock_guard l(mutex_);
        messages_.push_back({text, caption, app::BoxIcon::Question});
        if (answers_.empty()) return false;
        bool a = answers_.front();
        answers_.pop_front();
        return a;
    }
    void about(QWidget*) override { message(nullptr, QStringLiteral("<about>"), QString(), app::BoxIcon::None); }
    void openUrl(const QUrl& url) override {
        std::lock_guard l(mutex_);
        urls_.push_back(url);
    }

    // The next file or folder dialogs return these, in order; then "".
    void queueFile(const QString& path) {
        std::lock_guard l(mutex_);
        files_.push_back(path);
    }
    void queueAnswer(bool yes) {
        std::lock_guard l(mutex_);
        answers_.push_back(yes);
    }
    // The next boxes with buttons answer with these indices, in order; then -1.
    void queueChoice(int index) {
        std::lock_guard l(mutex_);
        choices_.push_back(index);
    }
    // The buttons of every box with buttons shown, in order.
    std::vector<QStringList> choiceButtons() const {
        std::lock_guard l(mutex_);
        return choiceButtons_;
    }
    QStringList texts() const {
        std::lock_guard l(mutex_);
        QStringList out;
        for (const auto& m : messages_) out << m.text;
        return out;
    }
    std::vector<Shown> shown() const {
        std::lock_guard l(mutex_);
        return messages_;
    }
    std::vector<QUrl> urls() const {
        std::lock_guard l(mutex_);
        return urls_;
    }
    void clear() {
        std::lock_guard l(mutex_);
        messages_.clear();
        urls_.clear();
        files_.clear();
        answers_.clear();
        choices_.clear();
        choiceButtons_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Shown> messages_;
    std::vector<QUrl> urls_;
    std::deque<QString> files_;
    std::deque<bool> answers_;
    std::deque<int> choices_;
    std::vector<QStringList> choiceButtons_;
    QStringList folderTitles_;
};

}  // namespace salvage::test
