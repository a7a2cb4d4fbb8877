#pragma once
// A number box with spin arrows that holds any text the user types: the up
// arrow adds 1, the down arrow subtracts 1 but never goes below 0, and text
// that is not a number reads as 0.
#include <QAbstractSpinBox>

namespace salvage::app {

class SectorBox : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit SectorBox(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
};

}  // namespace salvage::app
