#pragma once

// The pop-up as the receive loop sees it: one PopupWindow at a time, the words of the message's language,
// and the age line in the title once a minute, counted from the message's arrival. It tells the loop the
// message is visible only once a VisibilityWatch has found that a person can see it, and meanwhile works
// at making it so; when that takes longer than a moment it says why, once.

#include "popup.h"
#include "popup_texts.h"
#include "popup_visibility.h"
#include "popup_window.h"

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

namespace plinket {

class PopupWindow;

inline constexpr int AGE_INTERVAL_MS = 60000;
// How long a pop-up may take to become visible before the loop hears why it is not.
inline constexpr int WAITING_TOLD_AFTER_MS = 1000;

class WidgetPopup final : public QObject, public Popup {
    Q_OBJECT

public:
    // `fadeEffects`: fade in and out over 200 ms (only on systems that want it, see systemWantsFadeEffects).
    // `act`: what counts as a person's deliberate act on the pop-up.
    WidgetPopup(const QFont& textFont, bool fadeEffects, DeliberateAct act = {}, QObject* parent = nullptr);
    ~WidgetPopup() override;

    void open(const IncomingMessage& message, PopupCallbacks callbacks) override;
    void close() override;

    PopupWindow* window() const { return m_window; }
    const QTimer& ageTimer() const { return m_ageTimer; }
    const PopupTexts& texts() const { return m_texts; }

    // One tick of the age timer: the title reads how many minutes ago the message arrived.
    void advanceAge();

private:
    void checkVisibility();

    QFont m_font;
    bool m_fadeEffects;
    DeliberateAct m_act;
    std::unique_ptr<VisibilityWatch> m_watch;
    std::optional<Hindrance> m_hindrance;
    QTimer m_waitingTimer;
    PopupTexts m_texts;
    QString m_lang;
    QString m_signer;
    int m_minutesElapsed = 1;
    QTimer m_ageTimer;
    QPointer<PopupWindow> m_window;
    PopupCallbacks m_callbacks;
};

} // namespace plinket
