#include "popup_window.h"

#include "popup_layout.h"
#include "popup_native.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextEdit>
#include <QWindow>

namespace plinket {

namespace {

constexpr int TITLE_BAR_PADDING = 6; // above and below the title text it draws itself

bool pressesOk(const QKeyEvent* event) {
    const int key = event->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

} // namespace

QFont popupFont() {
    return QFont(QStringLiteral("Arial"), 10, QFont::Bold);
}

QFont popupTitleFont() {
    QFont font = QApplication::font();
    font.setBold(true);
    return font;
}

QFont windowTitleFont() {
    // Window managers draw their titles at 10 to 11 points, bold, by default.
    constexpr qreal WINDOW_MANAGER_TITLE_POINTS = 11;
    QFont font = popupTitleFont();
    if (font.pointSizeF() < WINDOW_MANAGER_TITLE_POINTS)
        font.setPointSizeF(WINDOW_MANAGER_TITLE_POINTS);
    return font;
}

PopupWindow::PopupWindow(const QString& title, const QString& text, const QFont& textFont, bool ownTitleBar,
                         const QStringList& titles)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      m_text(new QTextEdit(this)), m_okButton(new QPushButton(QStringLiteral("OK"), this)) {
    setObjectName(QStringLiteral("popupWindow"));
    setWindowTitle(title);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    // Mapped without the input focus: the window manager leaves the keyboard where the user is typing.
    setAttribute(Qt::WA_ShowWithoutActivating);
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

    // OK is the default button, but it never holds the focus itself: Enter and Space reach the window,
    // which decides whether they came from a person looking at the pop-up.
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setFixedSize(OK_BUTTON_SIZE);
    m_okButton->setDefault(true);
    m_okButton->setFocusPolicy(Qt::NoFocus);
    connect(m_okButton, &QPushButton::clicked, this, [this] {
        if (std::exchange(m_okPressCounts, false))
            emit okPressed();
    });

    const QFontMetrics titleMetrics(popupTitleFont());
    int titleHeight = 0;
    if (ownTitleBar) {
        m_titleBar = new QLabel(title, this);
        m_titleBar->setObjectName(QStringLiteral("popupTitle"));
        m_titleBar->setFont(popupTitleFont());
        m_titleBar->setAlignment(Qt::AlignCenter);
        m_titleBar->setAutoFillBackground(true);
        m_titleBar->setBackgroundRole(QPalette::Highlight);
        m_titleBar->setForegroundRole(QPalette::HighlightedText);
        titleHeight = titleMetrics.height() + 2 * TITLE_BAR_PADDING;
        m_titleBar->setFixedHeight(titleHeight);
    }
    // A press anywhere on the pop-up is a person turning to it.
    for (QWidget* child : {static_cast<QWidget*>(m_text->viewport()), static_cast<QWidget*>(m_okButton),
                           static_cast<QWidget*>(m_titleBar)})
        if (child)
            child->installEventFilter(this);

    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), POPUP_START_SIZE);
    const TextControlSize textSize =
        textControlSize(text, textFont, available, style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    m_text->setVerticalScrollBarPolicy(textSize.scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    m_text->resize(textSize.size);

    // Not resizable; the size actually obtained is read back in placeControls(). Wide enough that no
    // window manager cuts the title, the age line included.
    const QFontMetrics windowTitleMetrics(windowTitleFont());
    int widestTitle = 0;
    for (const QString& t : titles.isEmpty() ? QStringList{title} : titles)
        widestTitle = std::max(widestTitle, windowTitleMetrics.horizontalAdvance(t));
    const int minimumWidth = minimumClientWidth(widestTitle);
    setFixedSize(windowSizeFor(textSize.size, minimumWidth) + QSize(0, titleHeight));
    placeControls();
    centreOnScreen();

    m_comeBack.setSingleShot(true);
    m_comeBack.setInterval(COME_BACK_MS);
    connect(&m_comeBack, &QTimer::timeout, this, &PopupWindow::comeBack);
    // A screen unplugged or resized must not leave the pop-up where nobody can see it.
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, &PopupWindow::centreOnScreen);
    if (screen)
        connect(screen, &QScreen::availableGeometryChanged, this, &PopupWindow::centreOnScreen);
}

void PopupWindow::showWithoutActivating() {
    preparePopupWindow(this);
    setExactWindowTitle(this, windowTitle());
    show();
    windowHandle()->installEventFilter(this); // for its exposure: see eventFilter()
    raise();
}

void PopupWindow::centreOnScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(windowPositionFor(size(), screen->geometry(), screen->availableGeometry()));
}

void PopupWindow::placeControls() {
    const int top = m_titleBar ? m_titleBar->height() : 0;
    if (m_titleBar)
        m_titleBar->setGeometry(0, 0, width(), top);
    const QSize body = size() - QSize(0, top);
    m_text->move(textPositionIn(body, m_text->size()) + QPoint(0, top));
    m_okButton->setGeometry(okButtonRectIn(body).translated(0, top));
}

void PopupWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeControls(); // the system may impose a size of its own; keep everything centred on it
}

void PopupWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void PopupWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::WindowTitleChange:
        if (m_titleBar)
            m_titleBar->setText(windowTitle());
        if (testAttribute(Qt::WA_WState_Created))
            setExactWindowTitle(this, windowTitle());
        break;
    case QEvent::ActivationChange:
        // Each time it comes back to the pop-up, the keyboard has to earn its way again, unless the user
        // clicked it (the press may reach us before the activation does).
        if (!isActiveWindow())
            m_keyboardArmed = false;
        m_sinceLastKey.start();
        break;
    case QEvent::WindowStateChange:
        if (windowState() & Qt::WindowMinimized)
            m_comeBack.start();
        break;
    default:
        break;
    }
}

bool PopupWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MapChange change = mapChange(eventType, message);
    if (change == MapChange::Mapped) {
        m_reshowing = false;
    } else if (change == MapChange::Unmapped && isVisible() && !m_reshowing) {
        // (Not the unmapping of our own hide() in comeBack(), which arrives after the window is shown again.)
        m_unmapped = true;
        m_comeBack.start();
    }
    return QWidget::nativeEvent(eventType, message, result);
}

void PopupWindow::comeBack() {
    if (!isVisible())
        return; // OK was pressed meanwhile
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (std::exchange(m_unmapped, false)) {
        // Shown anew, so the window manager learns again everything it forgot when the window went.
        m_reshowing = true;
        hide();
        showWithoutActivating();
    }
    raise();
}

void PopupWindow::setSeen(bool seen) {
    if (!seen)
        m_seen.invalidate();
    else if (!m_seen.isValid())
        m_seen.start();
}

bool PopupWindow::pressCounts() const {
    return m_seen.isValid() && m_seen.elapsed() >= m_act.clickAfterSeenMs;
}

void PopupWindow::keyPressEvent(QKeyEvent* event) {
    // Enter and Space count from a person looking at the pop-up: it can be seen, and either they clicked
    // it, or it has had the keyboard for a quiet moment just before this key. Every key typed into it
    // starts that moment again, so someone typing on into the pop-up never confirms.
    const bool quiet = m_sinceLastKey.isValid() && m_sinceLastKey.elapsed() >= m_act.keyboardQuietMs;
    const bool counts = pressesOk(event) && !event->isAutoRepeat() && m_seen.isValid() && (m_keyboardArmed || quiet);
    m_sinceLastKey.start();
    if (counts)
        emit okPressed();
}

void PopupWindow::mousePressEvent(QMouseEvent* event) {
    if (pressCounts())
        m_keyboardArmed = true;
    QWidget::mousePressEvent(event);
}

bool PopupWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
        // The window manager has put it on the screen (shown, or back). Once the toolkit has drawn it for
        // this exposure, and so told the window manager it is ready, the compositor is asked to draw.
        QTimer::singleShot(0, this, [this] { redrawScreen(this); });
    } else if (event->type() == QEvent::MouseButtonPress) {
        // A press counts only when the pop-up had been seen for a moment: a click already on its way to
        // what was there before it appeared neither presses OK nor turns the user to it.
        const bool counts = pressCounts();
        if (watched == m_okButton)
            m_okPressCounts = counts;
        if (counts)
            m_keyboardArmed = true;
        // The title it draws itself moves the window, as a title bar does.
        if (watched == m_titleBar && windowHandle())
            windowHandle()->startSystemMove();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace plinket
