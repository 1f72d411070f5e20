#include "widget_popup.h"

#include "display_wake.h"
#include "popup_native.h"
#include "popup_window.h"

#include <QPropertyAnimation>

namespace plinket {

namespace {

constexpr int FADE_MS = 200;

void fade(QWidget* window, qreal from, qreal to, bool deleteWhenDone) {
    auto* animation = new QPropertyAnimation(window, "windowOpacity", window);
    animation->setDuration(FADE_MS);
    animation->setStartValue(from);
    animation->setEndValue(to);
    if (deleteWhenDone)
        QObject::connect(animation, &QPropertyAnimation::finished, window, &QObject::deleteLater);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace

WidgetPopup::WidgetPopup(const QFont& textFont, bool fadeEffects, QObject* parent)
    : QObject(parent), m_font(textFont), m_fadeEffects(fadeEffects) {
    m_ageTimer.setInterval(AGE_INTERVAL_MS);
    connect(&m_ageTimer, &QTimer::timeout, this, &WidgetPopup::advanceAge);
}

WidgetPopup::~WidgetPopup() {
    delete m_window;
}

void WidgetPopup::open(const IncomingMessage& message, PopupCallbacks callbacks) {
    close();
    selectWords(m_texts, message.fields.lang);
    m_lang = message.fields.lang;
    m_signer = message.signer;
    m_callbacks = std::move(callbacks);

    m_window = new PopupWindow(titleWithSigner(m_texts, m_texts.titleWord, m_signer),
                               normalizeLineBreaks(message.fields.text), m_font, !popupDesktop().drawsTitleBar);
    connect(m_window, &PopupWindow::okPressed, this, [this] {
        if (auto confirmedNow = std::exchange(m_callbacks.confirmed, nullptr))
            confirmedNow();
    });
    if (m_fadeEffects)
        m_window->setWindowOpacity(0.0);
    m_window->showWithoutActivating();
    if (m_fadeEffects)
        fade(m_window, 0.0, 1.0, false);
    wakeDisplay(m_window);

    m_minutesElapsed = 1;
    m_ageTimer.start();
    if (auto visibleNow = std::exchange(m_callbacks.visible, nullptr))
        visibleNow();
}

void WidgetPopup::advanceAge() {
    if (!m_window)
        return;
    m_window->setWindowTitle(titleWithSigner(m_texts, ageTitle(m_texts, m_lang, m_minutesElapsed), m_signer));
    ++m_minutesElapsed;
}

void WidgetPopup::close() {
    m_ageTimer.stop();
    m_callbacks = {};
    if (!m_window)
        return;
    // Called from the OK button's own signal: the window goes away once that signal has returned.
    PopupWindow* window = m_window;
    m_window = nullptr;
    if (m_fadeEffects) {
        fade(window, 1.0, 0.0, true);
    } else {
        window->hide();
        window->deleteLater();
    }
}

} // namespace plinket
