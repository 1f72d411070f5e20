#pragma once

// The message pop-up: a caption without a close box, always on top, the text in the pop-up font centred
// line by line, and one OK button. Only OK ends it; close requests (Alt+F4, the window manager) are
// ignored. The text is shown as plain text: markup and "&" appear as typed.
//
// It waits for a person: it never takes the keyboard when it appears, and keys count only once the user
// has turned to it (a click on it, or a moment without typing after it became the active window), so
// keystrokes meant for another window never press OK. While it waits it cannot stay minimised or
// unmapped: it comes back on its own.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;
class QTextEdit;

namespace plinket {

// After the pop-up becomes the active window, Enter and Space count once this long has passed without a
// key press; a key pressed sooner was meant for the window the user was typing in.
inline constexpr int KEYBOARD_QUIET_MS = 1000;
// How soon a minimised or unmapped pop-up is put back.
inline constexpr int COME_BACK_MS = 250;

class PopupWindow final : public QWidget {
    Q_OBJECT

public:
    // Builds the hidden window, sized to `text` (line breaks already normalised to "\n") and placed
    // centred on the primary screen. With `ownTitleBar` the title is drawn inside the window, above the
    // text, for window managers that give the pop-up no title bar.
    PopupWindow(const QString& title, const QString& text, const QFont& textFont, bool ownTitleBar = false);

    QTextEdit* textControl() const { return m_text; }
    QPushButton* okButton() const { return m_okButton; }
    QLabel* titleBar() const { return m_titleBar; } // null when the window manager draws the title

    // Shows it above the other windows without taking the keyboard from the window in use.
    void showWithoutActivating();

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

    QTextEdit* m_text;
    QPushButton* m_okButton;
    QLabel* m_titleBar = nullptr;
    bool m_keyboardArmed = false;
    QElapsedTimer m_sinceLastKey; // since the pop-up became active, or since the last key that did not count
    bool m_unmapped = false;
    QTimer m_comeBack;
};

// Arial 10 pt bold; created once at start-up and used for every pop-up.
QFont popupFont();

// The font of the title the pop-up draws itself; also what its minimum width is measured with.
QFont popupTitleFont();

} // namespace plinket
