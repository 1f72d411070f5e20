#pragma once

// Sizes and places the pop-up: the text measured in the pop-up font plus the control's edges, the window
// 20 wider and 55 taller, the text centred, the OK button centred near the bottom, the window centred
// on the primary screen by its client size. Beyond that, the pop-up never grows past the screen: a line
// too long wraps at the widest text that fits, and a text too tall scrolls, so OK stays reachable.

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <algorithm>

namespace plinket {

inline constexpr QSize POPUP_START_SIZE{250, 100};
inline constexpr int TEXT_EDGE = 2; // the edge of the text control on each side (SM_CXEDGE / SM_CYEDGE)
inline constexpr QPoint TEXT_POSITION{10, 10};
inline constexpr QSize TEXT_MARGINS{20, 55}; // window client size minus text control size
inline constexpr QSize OK_BUTTON_SIZE{90, 25};
// Room kept free around the client area for the window's frame and title bar.
inline constexpr QSize FRAME_ALLOWANCE{16, 48};
// Room on each side of the title for the title bar's icon and buttons (openbox shows three buttons even
// for a window that asks for none).
inline constexpr int TITLE_SIDE_ROOM = 60;

// The text with its lines unwrapped: width of the widest line, height of all lines (Qt::PlainText rules,
// centred lines, no mnemonics). Wraps at word boundaries, or anywhere in a word too long, when wider
// than maxWidth.
QSize measureText(const QString& text, const QFont& font, int maxWidth);

struct TextControlSize {
    QSize size;           // the text control, edges included
    bool scrolls = false; // the text is taller than the screen allows and scrolls vertically
};

// The text control's size for `text` on a screen whose usable area is `available`; when the text must
// scroll, `scrollBarWidth` is added so that the lines keep the width they were measured with.
TextControlSize textControlSize(const QString& text, const QFont& font, const QRect& available, int scrollBarWidth);

// The narrowest client area that shows the whole OK button with its margins and the title word, whose
// width in the title font is `titleWidth`, readably between the title bar's icon and buttons. Window
// managers on Linux impose no minimum width of their own.
inline int minimumClientWidth(int titleWidth) {
    return std::max(OK_BUTTON_SIZE.width() + 2 * TEXT_POSITION.x(), titleWidth + 2 * TITLE_SIDE_ROOM);
}

// The client area: 20 wider and 55 taller than the text control, and never narrower than `minimumWidth`
// (the text is then centred on the wider area).
inline QSize windowSizeFor(QSize textControl, int minimumWidth) {
    const QSize size = textControl + TEXT_MARGINS;
    return {std::max(size.width(), minimumWidth), size.height()};
}

// On the client size actually obtained: the text centred horizontally (integer halves), 10 from the top.
inline QPoint textPositionIn(QSize client, QSize textControl) {
    return {client.width() / 2 - textControl.width() / 2, TEXT_POSITION.y()};
}

inline QRect okButtonRectIn(QSize client) {
    return {client.width() / 2 - OK_BUTTON_SIZE.width() / 2, client.height() - 35, OK_BUTTON_SIZE.width(),
            OK_BUTTON_SIZE.height()};
}

// The outer top-left corner: the screen's centre minus half the client size, so the window sits slightly
// right of and below the exact centre. Moved back inside `available` only when it would leave it.
QPoint windowPositionFor(QSize client, const QRect& screen, const QRect& available);

} // namespace plinket
