#include "app/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "app/AppInfo.h"

namespace salvage::app {

namespace {

const QColor kDeepBlue(0x12, 0x2b, 0x4a);
const QColor kTeal(0x1f, 0x7a, 0x8c);
const QColor kAmber(0xf2, 0xa9, 0x3b);

// A disk platter with a recovered sector highlighted, centred on `centre`.
void drawPlatter(QPainter& p, QPointF centre, qreal radius) {
    QRadialGradient metal(centre - QPointF(radius / 3, radius / 3), radius * 1.4);
    metal.setColorAt(0, QColor(0xf4, 0xf6, 0xf8));
    metal.setColorAt(1, QColor(0x9a, 0xa8, 0xb6));
    p.setPen(QPen(QColor(0x0b, 0x1a, 0x2e), radius * 0.04));
    p.setBrush(metal);
    p.drawEllipse(centre, radius, radius);

    // The recovered sector: a wedge in amber.
    QPainterPath wedge;
    wedge.moveTo(centre);
    wedge.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), 20, 50);
    wedge.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    p.drawPath(wedge);

    p.setPen(QPen(QColor(0x5c, 0x6b, 0x7a), radius * 0.02));
    p.setBrush(Qt::NoBrush);
    for (qreal r : {0.8, 0.6, 0.4}) p.drawEllipse(centre, radius * r, radius * r);
    p.setPen(Qt::NoPen);
    p.setBrush(kDeepBlue);
    p.drawEllipse(centre, radius * 0.14, radius * 0.14);
}

}  // namespace

QPixmap bannerPixmap(const QSize& size, qreal devicePixelRatio, const QFont& font) {
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(QPointF(0, 0), QSizeF(size));

    QLinearGradient sky(area.topLeft(), area.topRight());
    sky.setColorAt(0, kDeepBlue);
    sky.setColorAt(1, kTeal);
    p.fillRect(area, sky);

    // Faint sector grid on the right, as on a disk map.
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    const qreal cell = area.height() / 6;
    for (qreal x = area.width() * 0.55; x < area.width(); x += cell) p.drawLine(QPointF(x, 0), QPointF(x, area.height()));
    for (qreal y = 0; y < area.height(); y += cell) p.drawLine(QPointF(area.width() * 0.55, y), QPointF(area.width(), y));

    const qreal radius = area.height() * 0.36;
    drawPlatter(p, QPointF(area.height() * 0.55, area.height() / 2), radius);

    const qreal textLeft = area.height() * 1.05;
    QFont title = font;
    title.setBold(true);
    title.setPixelSize(qMax(10, int(area.height() * 0.30)));
    p.setFont(title);
    p.setPen(Qt::white);
    const QRectF titleBox(textLeft, area.height() * 0.12, area.width() - textLeft - 8, area.height() * 0.45);
    p.drawText(titleBox, Qt::AlignLeft | Qt::AlignBottom, appTitle());

    QFont tag = font;
    tag.setPixelSize(qMax(8, int(area.height() * 0.17)));
    p.setFont(tag);
    p.setPen(QColor(0xd8, 0xe6, 0xee));
    const QRectF tagBox(textLeft, area.height() * 0.58, area.width() - textLeft - 8, area.height() * 0.35);
    p.drawText(tagBox, Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("Evidence images, volumes and deleted files"));

    p.fillRect(QRectF(0, area.height() - 3, area.width(), 3), kAmber);
    return pixmap;
}

QPixmap appIconPixmap(int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0, 0, side, side);
    QLinearGradient back(area.topLeft(), area.bottomRight());
    back.setColorAt(0, kDeepBlue);
    back.setColorAt(1, kTeal);
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(area.adjusted(side * 0.04, side * 0.04, -side * 0.04, -side * 0.04), side * 0.18, side * 0.18);
    drawPlatter(p, area.center(), side * 0.34);
    return pixmap;
}

}  // namespace salvage::app
