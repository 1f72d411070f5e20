#pragma once

// The message pop-up: a caption without a close box, always on top, the text in the pop-up font centred
// line by line, and one OK button. Only OK ends it; close requests (Alt+F4, the window manager) are
// ignored. The text is shown as plain text: markup and "&" appear as typed.
//
// It waits for a person: it never takes the keyboard when it appears, and only a deliberate act presses
// OK. A click counts when its button went down on the pop-up after the pop-up had been seen for a
// moment, so a click already on its way to whatever was there before does not. Enter and Space count
// once the user has turned to it (a click on it), or once it has had the keyboard for a quiet second with
// no other key typed into it, so keystrokes meant for another window (typing on after that window
// closed and the keyboard fell to the pop-up) never press OK. While it waits it cannot stay minimised
// or unmapped: it comes back on its own.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;
class QTextEdit;

namespace plinket {

// How long the pop-up must have been seen, and the keyboard quiet, before an act counts as deliberate.
struct DeliberateAct {
    int clickAfterSeenMs = 500; // a press on the pop-up counts once it has been seen this long
    int keyboardQuietMs = 1000; // Enter and Space count after this long with the keyboard and no other key
};
// How soon a minimised or unmapped pop-up is put back.
inline constexpr int COME_BACK_MS = 250;

class PopupWindow final : public QWidget {
    Q_OBJECT

public:
    // Builds the hidden window, sized to `text` (line breaks already normalised to "\n") and placed
    // centred on the primary screen, wide enough for the widest of `titles` (the title when empty). With
    // `ownTitleBar` the title is drawn inside the window, above the text, for window managers that give
    // the pop-up no title bar.
    PopupWindow(const QString& title, const QString& text, const QFont& textFont, bool ownTitleBar = false,
                const QStringList& titles = {});

    QTextEdit* textControl() const { return m_text; }
    QPushButton* okButton() const { return m_okButton; }
    QLabel* titleBar() const { return m_titleBar; } // null when the window manager draws the title

    // Shows it above the other windows without taking the keyboard from the window in use.
    void showWithoutActivating();

    void setDeliberateAct(const DeliberateAct& act) { m_act = act; }
    // Whether a person can see it now (as checked by the visibility watch); acts count only while it can.
    void setSeen(bool seen);

signals:
    void okPressed();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeControls();
    void centreOnScreen();
    void comeBack();
    // A press on the pop-up: whether it counts as a person's.
    bool pressCounts() const;

    QTextEdit* m_text;
    QPushButton* m_okButton;
    QLabel* m_titleBar = nullptr;
    DeliberateAct m_act;
    QElapsedTimer m_seen;         // since the pop-up was last found visible; invalid while it cannot be seen
    bool m_keyboardArmed = false; // the user clicked it: one Enter or Space confirms
    bool m_okPressCounts = false; // the OK button went down deliberately
    QElapsedTimer m_sinceLastKey; // since the pop-up became active, or since the last key typed into it
    bool m_unmapped = false;
    bool m_reshowing = false; // shown anew after an unmapping, and not yet mapped again
    QTimer m_comeBack;
};

// Arial 10 pt bold; created once at start-up and used for every pop-up.
QFont popupFont();

// The font of the title the pop-up draws itself.
QFont popupTitleFont();

// What the pop-up's minimum width is measured with: the title font, at least as large as the title fonts
// window managers draw with by default.
QFont windowTitleFont();

} // namespace plinket
