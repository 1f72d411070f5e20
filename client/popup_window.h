#pragma once

// The message pop-up: a caption without a close box, always on top, the text in the pop-up font centred
// line by line, and one OK button. Only OK ends it; close requests (Alt+F4, the window manager) are
// ignored. The text is shown as plain text: markup and "&" appear as typed.

#include <QWidget>

class QPushButton;
class QTextEdit;

namespace plinket {

class PopupWindow final : public QWidget {
    Q_OBJECT

public:
    // Builds the hidden window, sized to `text` (line breaks already normalised to "\n") and placed
    // centred on the primary screen.
    PopupWindow(const QString& title, const QString& text, const QFont& textFont);

    QTextEdit* textControl() const { return m_text; }
    QPushButton* okButton() const { return m_okButton; }

signals:
    void okPressed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeControls();

    QTextEdit* m_text;
    QPushButton* m_okButton;
};

// Arial 10 pt bold; created once at start-up and used for every pop-up.
QFont popupFont();

} // namespace plinket
