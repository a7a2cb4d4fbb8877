#pragma once
// Every file dialog, folder dialog, message box and browser hand-off of the
// wizard goes through one service, so that tests can answer them.
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace salvage::app {

enum class BoxIcon { None, Information, Question, Warning };

class DialogService {
public:
    virtual ~DialogService() = default;
    // An open-file dialog without a type filter. Empty when cancelled.
    virtual QString openFile(QWidget* parent) = 0;
    // A save-file dialog that confirms overwriting. Empty when cancelled.
    virtual QString saveFile(QWidget* parent) = 0;
    virtual QString chooseFolder(QWidget* parent) = 0;
    // A folder dialog with its own title. Empty when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title) {
        (void)title;
        return chooseFolder(parent);
    }
    // An empty caption stands for the program's default name.
    virtual void message(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) = 0;
    // A box with buttons of the given texts, left to right; answers the
    // index of the one pressed, -1 when the box was closed otherwise.
    virtual int choose(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon,
                       const QStringList& buttons) = 0;
    // Yes/No with the question icon; true for Yes.
    virtual bool ask(QWidget* parent, const QString& text, const QString& caption) = 0;
    virtual void about(QWidget* parent) = 0;
    // Opens an address in the user's default viewer or browser.
    virtual void openUrl(const QUrl& url) = 0;
};

// The service the wizard uses. The real one until a test installs its own;
// the caller keeps ownership of what it installs.
DialogService& dialogs();
void setDialogService(DialogService* service);

// The caption of boxes that carry none of their own.
QString defaultCaption();

}  // namespace salvage::app
