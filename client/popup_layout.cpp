#include "popup_layout.h"

#include <QTextDocument>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace plinket {

namespace {

// The largest text that leaves the whole window, frame included, on the usable part of the screen.
QSize maxTextSize(const QRect& available) {
    return available.size() - FRAME_ALLOWANCE - TEXT_MARGINS - QSize(2 * TEXT_EDGE, 2 * TEXT_EDGE);
}

} // namespace

QSize measureText(const QString& text, const QFont& font, int maxWidth) {
    QTextDocument document;
    document.setDocumentMargin(0);
    document.setDefaultFont(font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::NoWrap);
    document.setDefaultTextOption(option);
    document.setPlainText(text);
    int width = static_cast<int>(std::ceil(document.idealWidth()));
    if (width > maxWidth) {
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        document.setDefaultTextOption(option);
        document.setTextWidth(std::max(1, maxWidth));
        width = std::min(maxWidth, static_cast<int>(std::ceil(document.idealWidth())));
    }
    return {width, static_cast<int>(std::ceil(document.size().height()))};
}

TextControlSize textControlSize(const QString& text, const QFont& font, const QRect& available, int scrollBarWidth) {
    const QSize limit = maxTextSize(available);
    const QSize edges(2 * TEXT_EDGE, 2 * TEXT_EDGE);
    const QSize measured = measureText(text, font, limit.width());
    if (measured.height() <= limit.height())
        return {measured + edges, false};
    // Too tall: the scroll bar takes its width from the lines, so measure again without it.
    const QSize narrower = measureText(text, font, limit.width() - scrollBarWidth);
    return {QSize(narrower.width() + scrollBarWidth, limit.height()) + edges, true};
}

QPoint windowPositionFor(QSize client, const QRect& screen, const QRect& available) {
    const int x = screen.x() + screen.width() / 2 - client.width() / 2;
    const int y = screen.y() + screen.height() / 2 - client.height() / 2;
    const QSize outer = client + FRAME_ALLOWANCE;
    const int maxX = std::max(available.left(), available.left() + available.width() - outer.width());
    const int maxY = std::max(available.top(), available.top() + available.height() - outer.height());
    return {std::clamp(x, available.left(), maxX), std::clamp(y, available.top(), maxY)};
}

} // namespace plinket
