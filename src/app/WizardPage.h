#pragma once
// Base of every wizard page. A page opens the next page as a page it owns,
// hands it what it needs and hides itself; Back shows the owner again, just
// as it was, and destroys the current page.
#include <QPointer>
#include <QWidget>
#include <exception>
#include <utility>

class QBoxLayout;
class QHBoxLayout;
class QPushButton;

namespace salvage::app {

class WizardWindow;

class WizardPage : public QWidget {
    Q_OBJECT
public:
    WizardPage(WizardWindow* wizard, WizardPage* owner);
    // Deletes the page this one opened, if it still exists.
    ~WizardPage() override;

    WizardPage* owner() const { return owner_; }
    WizardWindow* wizard() const { return wizard_; }
    // The page this one opened and that is still open.
    WizardPage* nextPage() const { return next_; }

    // Shows the owner again and destroys this page.
    void goBack();

    // What closing the window now would end: the job this page runs and
    // what becomes of its partial output, in words; empty when it runs none.
    virtual QString runningJobNote() const { return {}; }

protected:
    // Creates the next page with `args` and shows it in place of this one.
    // Null (and this page stays) when creating it failed.
    template <class Page, class... Args>
    Page* openNext(Args&&... args) {
        Page* page = nullptr;
        try {
            page = new Page(wizard_, this, std::forward<Args>(args)...);
        } catch (const std::exception&) {
            return nullptr;
        }
        adoptNext(page);
        return page;
    }

    // The "Help" menu button every page carries.
    QPushButton* makeHelpButton();
    // The bottom row: Help on the left, the given buttons on the right.
    QHBoxLayout* makeButtonRow(std::initializer_list<QPushButton*> buttons);

private:
    void adoptNext(WizardPage* page);

    WizardWindow* wizard_;
    QPointer<WizardPage> owner_;
    QPointer<WizardPage> next_;
};

}  // namespace salvage::app
