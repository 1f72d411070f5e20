#include "popup_window.h"

#include "popup_layout.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextEdit>

namespace plinket {

QFont popupFont() { return QFont(QStringLiteral("Arial"), 10, QFont::Bold); }

PopupWindow::PopupWindow(const QString& title, const QString& text, const QFont& textFont)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      m_text(new QTextEdit(this)), m_okButton(new QPushButton(QStringLiteral("OK"), this)) {
    setObjectName(QStringLiteral("popupWindow"));
    setWindowTitle(title);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    resize(POPUP_START_SIZE);

    // A read-only text view rather than a label: it never reads markup or mnemonics, and it can wrap
    // inside a word and scroll when the text does not fit on the screen.
    m_text->setObjectName(QStringLiteral("messageText"));
    m_text->setReadOnly(true);
    m_text->setFrameShape(QFrame::NoFrame);
    m_text->setFocusPolicy(Qt::NoFocus);
    m_text->setTextInteractionFlags(Qt::NoTextInteraction);
    m_text->setContextMenuPolicy(Qt::NoContextMenu);
    m_text->viewport()->setAutoFillBackground(false);
    m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_text->setLineWrapMode(QTextEdit::WidgetWidth);
    m_text->setFont(textFont);
    m_text->document()->setDocumentMargin(0);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_text->document()->setDefaultTextOption(option);
    m_text->setPlainText(text);

    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setFixedSize(OK_BUTTON_SIZE);
    connect(m_okButton, &QPushButton::clicked, this, &PopupWindow::okPressed);

    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(QPoint(0, 0), POPUP_START_SIZE);
    const QRect available = screen ? screen->availableGeometry() : screenRect;
    const TextControlSize textSize =
        textControlSize(text, textFont, available, style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    m_text->setVerticalScrollBarPolicy(textSize.scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    m_text->resize(textSize.size);

    // Not resizable; the size actually obtained is read back in placeControls().
    setFixedSize(windowSizeFor(textSize.size));
    placeControls();
    move(windowPositionFor(size(), screenRect, available));
}

void PopupWindow::placeControls() {
    m_text->move(textPositionIn(size(), m_text->size()));
    m_okButton->setGeometry(okButtonRectIn(size()));
}

void PopupWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeControls(); // the system may impose a size of its own; keep everything centred on it
}

void PopupWindow::closeEvent(QCloseEvent* event) { event->ignore(); }

} // namespace plinket
