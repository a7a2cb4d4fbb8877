#pragma once
// The "Help" menu button of every page: the user manual, the About box and
// the program's home page.
#include <QPushButton>

namespace salvage::app {

class HelpButton : public QPushButton {
    Q_OBJECT
public:
    explicit HelpButton(QWidget* parent = nullptr);

    static void openManual(QWidget* parent);
};

}  // namespace salvage::app
