#pragma once
// The program's own pictures, drawn rather than loaded: the banner across
// the top of every page and the window icon.
#include <QFont>
#include <QPixmap>
#include <QSize>

namespace salvage::app {

QPixmap bannerPixmap(const QSize& size, qreal devicePixelRatio, const QFont& font);
QPixmap appIconPixmap(int side);

}  // namespace salvage::app
