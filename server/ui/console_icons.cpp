#include "console_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace plinket {

namespace {

QIcon paintIcon(int size, const std::function<void(QPainter&)>& draw) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    return QIcon(pixmap);
}

const QColor INK(60, 60, 70);
const QColor PAPER(250, 250, 250);

void drawMenuButton(QPainter& p) {
    // Three bars: the usual sign for "more".
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 110, 170));
    for (int i = 0; i < 3; ++i)
        p.drawRoundedRect(QRectF(4, 6 + i * 7, 20, 3.5), 1.5, 1.5);
}

void drawCut(QPainter& p) {
    p.setPen(QPen(INK, 1.4));
    p.drawLine(QPointF(4, 1), QPointF(11, 11));
    p.drawLine(QPointF(12, 1), QPointF(5, 11));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(180, 40, 40), 1.6));
    p.drawEllipse(QPointF(4, 12.5), 2.5, 2.5);
    p.drawEllipse(QPointF(12, 12.5), 2.5, 2.5);
}

void drawPage(QPainter& p, const QRectF& r) {
    p.setPen(QPen(INK, 1));
    p.setBrush(PAPER);
    p.drawRect(r);
    p.setPen(QPen(QColor(120, 140, 170), 1));
    for (qreal y = r.top() + 3; y < r.bottom() - 1; y += 2.5)
        p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
}

void drawCopy(QPainter& p) {
    drawPage(p, QRectF(1.5, 1.5, 8, 10));
    drawPage(p, QRectF(6.5, 4.5, 8, 10));
}

void drawPaste(QPainter& p) {
    p.setPen(QPen(QColor(110, 70, 30), 1));
    p.setBrush(QColor(190, 140, 80));
    p.drawRoundedRect(QRectF(1.5, 2.5, 10, 12), 1, 1);
    p.setBrush(QColor(150, 150, 150));
    p.drawRect(QRectF(4, 1, 5, 3));
    drawPage(p, QRectF(6.5, 6.5, 8, 8));
}

void drawRemove(QPainter& p) {
    p.setPen(QPen(QColor(200, 30, 30), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
}

} // namespace

ConsoleIcons drawConsoleIcons() {
    return ConsoleIcons{paintIcon(28, drawMenuButton), paintIcon(16, drawCut), paintIcon(16, drawCopy),
                        paintIcon(16, drawPaste), paintIcon(16, drawRemove)};
}

} // namespace plinket
