#include "widget_popup.h"

#include "display_wake.h"
#include "popup_native.h"
#include "popup_window.h"

#include <QDateTime>
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

WidgetPopup::WidgetPopup(const QFont& textFont, bool fadeEffects, DeliberateAct act, QObject* parent)
    : QObject(parent), m_font(textFont), m_fadeEffects(fadeEffects), m_act(act) {
    m_ageTimer.setInterval(AGE_INTERVAL_MS);
    connect(&m_ageTimer, &QTimer::timeout, this, &WidgetPopup::advanceAge);
    m_waitingTimer.setSingleShot(true);
    m_waitingTimer.setInterval(WAITING_TOLD_AFTER_MS);
    connect(&m_waitingTimer, &QTimer::timeout, this, [this] {
        if (!m_hindrance)
            return;
        if (auto waitingNow = std::exchange(m_callbacks.waiting, nullptr))
            waitingNow(hindranceText(*m_hindrance));
    });
}

WidgetPopup::~WidgetPopup() {
    m_watch.reset();
    delete m_window;
}

void WidgetPopup::open(const IncomingMessage& message, PopupCallbacks callbacks) {
    close();
    selectWords(m_texts, message.fields.lang);
    m_lang = message.fields.lang;
    m_signer = message.signer;
    m_callbacks = std::move(callbacks);

    // The age counts from the message's arrival: one that waited (behind another pop-up, or for the
    // screen to be unlocked) tells its real age at once. One shown at once starts its first minute now.
    const qint64 waitedMs =
        message.arrivedAtMs > 0 ? std::max<qint64>(0, QDateTime::currentMSecsSinceEpoch() - message.arrivedAtMs) : 0;
    const int minutes = waitedMs < 1000 ? 0 : int(waitedMs / AGE_INTERVAL_MS);
    const QString title = minutes > 0 ? ageTitle(m_texts, m_lang, minutes) : m_texts.titleWord;
    // The window is made wide enough for the longest title it may carry, signer included.
    QStringList titles = possibleTitles(m_texts, m_lang);
    for (QString& t : titles)
        t = titleWithSigner(m_texts, t, m_signer);

    m_window = new PopupWindow(titleWithSigner(m_texts, title, m_signer),
                               withoutDirectionControls(normalizeLineBreaks(message.fields.text)), m_font,
                               !popupDesktop().drawsTitleBar, titles);
    m_window->setDeliberateAct(m_act);
    connect(m_window, &PopupWindow::okPressed, this, [this] {
        if (auto confirmedNow = std::exchange(m_callbacks.confirmed, nullptr))
            confirmedNow();
    });
    if (m_fadeEffects)
        m_window->setWindowOpacity(0.0);
    m_window->showWithoutActivating();
    m_watch = VisibilityWatch::create(m_window);
    connect(m_watch.get(), &VisibilityWatch::changed, this, &WidgetPopup::checkVisibility);
    if (m_fadeEffects)
        fade(m_window, 0.0, 1.0, false);
    wakeDisplay(m_window);

    m_minutesElapsed = minutes + 1;
    m_ageTimer.start(waitedMs < 1000 ? AGE_INTERVAL_MS : int(AGE_INTERVAL_MS - waitedMs % AGE_INTERVAL_MS));
    m_hindrance = Hindrance::NotShown;
    m_waitingTimer.start();
    QMetaObject::invokeMethod(this, &WidgetPopup::checkVisibility, Qt::QueuedConnection);
}

void WidgetPopup::checkVisibility() {
    if (!m_window || !m_watch)
        return;
    m_hindrance = m_watch->check();
    m_window->setSeen(!m_hindrance);
    if (m_hindrance)
        return;
    m_waitingTimer.stop();
    if (auto visibleNow = std::exchange(m_callbacks.visible, nullptr))
        visibleNow();
}

void WidgetPopup::advanceAge() {
    if (!m_window)
        return;
    m_ageTimer.setInterval(AGE_INTERVAL_MS); // after a first tick that completed a minute begun before opening
    m_window->setWindowTitle(titleWithSigner(m_texts, ageTitle(m_texts, m_lang, m_minutesElapsed), m_signer));
    ++m_minutesElapsed;
}

void WidgetPopup::close() {
    m_ageTimer.stop();
    m_waitingTimer.stop();
    m_watch.reset();
    m_hindrance.reset();
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
