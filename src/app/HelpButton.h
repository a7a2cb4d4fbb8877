#pragma once
// The "Help" menu button of every page: the user manual, the About box and
// the program's home page. The manual (MANUAL.md installed beside the
// program) is shown rendered, in a window of its own.
#include <QPushButton>

namespace salvage::app {

class HelpButton : public QPushButton {
    Q_OBJECT
public:
    explicit HelpButton(QWidget* parent = nullptr);

    // Shows the manual's window (made once, raised when open already).
    static void openManual(QWidget* parent);
};

}  // namespace salvage::app
