#include "app/DialogService.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "app/AppInfo.h"

namespace salvage::app {

namespace {

QMessageBox::Icon toQt(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Information: return QMessageBox::Information;
        case BoxIcon::Question: return QMessageBox::Question;
        case BoxIcon::Warning: return QMessageBox::Warning;
        case BoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

class QtDialogService final : public DialogService {
public:
    QString openFile(QWidget* parent) override {
        // Qt's own dialog with system entries shown, so that block devices
        // under /dev can be chosen as well as image files.
        QFileDialog dialog(parent);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setOption(QFileDialog::ReadOnly, true);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setFilter(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().first();
    }
    QString saveFile(QWidget* parent) override {
        return QFileDialog::getSaveFileName(parent, QString(), QString(), QString(), nullptr);
    }
    QString chooseFolder(QWidget* parent) override { return chooseFolder(parent, QString()); }
    QString chooseFolder(QWidget* parent, const QString& title) override {
        return QFileDialog::getExistingDirectory(parent, title, QString());
    }
    void message(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) override {
        QMessageBox box(toQt(icon), caption.isEmpty() ? defaultCaption() : caption, text, QMessageBox::Ok, parent);
        box.exec();
    }
    int choose(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon,
               const QStringList& buttons) override {
        QMessageBox box(toQt(icon), caption.isEmpty() ? defaultCaption() : caption, text, QMessageBox::NoButton,
                        parent);
        QList<QAbstractButton*> made;
        for (const QString& b : buttons) made << box.addButton(b, QMessageBox::AcceptRole);
        box.setEscapeButton(made.isEmpty() ? nullptr : made.last());
        box.exec();
        return int(made.indexOf(box.clickedButton()));
    }
    bool ask(QWidget* parent, const QString& text, const QString& caption) override {
        QMessageBox box(QMessageBox::Question, caption.isEmpty() ? defaultCaption() : caption, text,
                        QMessageBox::Yes | QMessageBox::No, parent);
        return box.exec() == QMessageBox::Yes;
    }
    void about(QWidget* parent) override { QMessageBox::about(parent, aboutCaption(), aboutText()); }
    void openUrl(const QUrl& url) override { QDesktopServices::openUrl(url); }
};

DialogService* g_installed = nullptr;

}  // namespace

DialogService& dialogs() {
    static QtDialogService real;
    return g_installed ? *g_installed : real;
}

void setDialogService(DialogService* service) { g_installed = service; }

QString defaultCaption() { return QString::fromLatin1(kProgramName); }

}  // namespace salvage::app
