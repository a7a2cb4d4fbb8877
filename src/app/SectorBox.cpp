#include "app/SectorBox.h"

#include <QLineEdit>

#include "volumes/VolumeList.h"

namespace salvage::app {

SectorBox::SectorBox(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setAccelerated(true);
    lineEdit()->setText(QStringLiteral("0"));
}

QString SectorBox::text() const { return lineEdit()->text(); }

void SectorBox::setText(const QString& text) { lineEdit()->setText(text); }

void SectorBox::stepBy(int steps) {
    std::u16string t = lineEdit()->text().toStdU16String();
    const int direction = steps > 0 ? 1 : -1;
    for (int i = 0; i < (steps > 0 ? steps : -steps); ++i) t = VolumeList::stepped(t, direction);
    lineEdit()->setText(QString::fromStdU16String(t));
}

}  // namespace salvage::app
