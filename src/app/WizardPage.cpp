#include "app/WizardPage.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "app/HelpButton.h"
#include "app/WizardWindow.h"

namespace salvage::app {

WizardPage::WizardPage(WizardWindow* wizard, WizardPage* owner) : QWidget(nullptr), wizard_(wizard), owner_(owner) {
    setWindowTitle(wizard ? wizard->windowTitle() : QString());
    if (wizard) wizard->addPage(this);
}

WizardPage::~WizardPage() {
    if (next_) delete next_.data();
}

void WizardPage::adoptNext(WizardPage* page) {
    if (next_) delete next_.data();
    next_ = page;
    wizard_->showPage(page);
    hide();
}

void WizardPage::goBack() {
    if (!owner_) return;
    WizardPage* owner = owner_;
    owner->next_ = nullptr;
    wizard_->showPage(owner);
    wizard_->removePage(this);
    hide();
    // Deferred: goBack runs inside one of this page's own button handlers.
    deleteLater();
}

QPushButton* WizardPage::makeHelpButton() { return new HelpButton(this); }

QHBoxLayout* WizardPage::makeButtonRow(std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout;
    row->addWidget(makeHelpButton());
    row->addStretch(1);
    for (QPushButton* b : buttons) row->addWidget(b);
    return row;
}

}  // namespace salvage::app
