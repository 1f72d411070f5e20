#include "client_icon.h"

#include <QPainter>
#include <QPixmap>

namespace plinket {

namespace {

QPixmap drawNote(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    p.setPen(QPen(QColor(150, 110, 0), u));
    p.setBrush(QColor(255, 214, 64));
    p.drawRoundedRect(QRectF(1.5 * u, 2.5 * u, 13 * u, 11 * u), 1.5 * u, 1.5 * u);
    p.setPen(QPen(QColor(90, 70, 20), u));
    for (int line = 0; line < 3; ++line) {
        const qreal y = (5.5 + 2.5 * line) * u;
        p.drawLine(QPointF(4 * u, y), QPointF((line == 2 ? 9 : 12) * u, y));
    }
    return pixmap;
}

} // namespace

QIcon clientIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(drawNote(size));
    return icon;
}

} // namespace plinket
