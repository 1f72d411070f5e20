#pragma once

// The pop-up as the receive loop sees it: one PopupWindow at a time, the words of the message's language,
// and the age line in the title once a minute.

#include "popup.h"
#include "popup_texts.h"

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace plinket {

class PopupWindow;

inline constexpr int AGE_INTERVAL_MS = 60000;

class WidgetPopup final : public QObject, public Popup {
    Q_OBJECT

public:
    // `fadeEffects`: fade in and out over 200 ms (only on systems that want it, see systemWantsFadeEffects).
    WidgetPopup(const QFont& textFont, bool fadeEffects, QObject* parent = nullptr);
    ~WidgetPopup() override;

    void open(const IncomingMessage& message, PopupCallbacks callbacks) override;
    void close() override;

    PopupWindow* window() const { return m_window; }
    const QTimer& ageTimer() const { return m_ageTimer; }
    const PopupTexts& texts() const { return m_texts; }

    // One tick of the age timer: the title reads how many minutes ago the message arrived.
    void advanceAge();

private:
    QFont m_font;
    bool m_fadeEffects;
    PopupTexts m_texts;
    QString m_lang;
    QString m_signer;
    int m_minutesElapsed = 1;
    QTimer m_ageTimer;
    QPointer<PopupWindow> m_window;
    PopupCallbacks m_callbacks;
};

} // namespace plinket
