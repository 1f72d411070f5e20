#include "program_icons.h"

#include <QPainter>
#include <QPixmap>

namespace plinket {

namespace {

// The note on a 16-unit grid, in the rectangle `r` (13 x 11 units at full size).
void drawNote(QPainter& p, const QRectF& r, qreal u) {
    p.setPen(QPen(QColor(150, 110, 0), u));
    p.setBrush(QColor(255, 214, 64));
    p.drawRoundedRect(r, 1.5 * u, 1.5 * u);
    p.setPen(QPen(QColor(90, 70, 20), u));
    const qreal step = r.height() / 4.4;
    for (int line = 0; line < 3; ++line) {
        const qreal y = r.top() + step * (1.2 + line);
        const qreal right = line == 2 ? r.left() + r.width() * 0.58 : r.right() - 2.5 * u;
        p.drawLine(QPointF(r.left() + 2.5 * u, y), QPointF(right, y));
    }
}

void drawConsole(QPainter& p, qreal u) {
    // Stand and foot, then the screen's frame and glass, then the note popping up on it.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 82, 98));
    p.drawRect(QRectF(6.5 * u, 11 * u, 3 * u, 2.5 * u));
    p.drawRoundedRect(QRectF(4 * u, 13 * u, 8 * u, 1.5 * u), 0.5 * u, 0.5 * u);
    p.setPen(QPen(QColor(40, 48, 60), u));
    p.setBrush(QColor(70, 82, 98));
    p.drawRoundedRect(QRectF(0.5 * u, 1.5 * u, 15 * u, 10 * u), 1.2 * u, 1.2 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 170, 220));
    p.drawRect(QRectF(1.5 * u, 2.5 * u, 13 * u, 8 * u));
    drawNote(p, QRectF(4 * u, 4 * u, 9 * u, 6 * u), u * 0.8);
}

} // namespace

QImage drawProgramIcon(ProgramIcon which, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    if (which == ProgramIcon::Client)
        drawNote(p, QRectF(1.5 * u, 2.5 * u, 13 * u, 11 * u), u);
    else
        drawConsole(p, u);
    return image;
}

QIcon programIcon(ProgramIcon which) {
    QIcon icon;
    for (int size : PROGRAM_ICON_SIZES)
        icon.addPixmap(QPixmap::fromImage(drawProgramIcon(which, size)));
    return icon;
}

} // namespace plinket
