#pragma once

// The message editor: plain text, at most MAX_MESSAGE_LENGTH characters from typing or pasting
// (a paste that does not fit is cut to the room left). Text set by the program (a template body)
// is not cut.

#include <QPlainTextEdit>

namespace plinket {

inline constexpr int MAX_MESSAGE_LENGTH = 1000;

class MessageEditor final : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit MessageEditor(QWidget* parent = nullptr);

    // Line breaks as CR LF, the form messages and templates carry.
    QString messageText() const;
    // Accepts CR LF, CR or LF line breaks.
    void setMessageText(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // Characters that may still be inserted in place of the current selection.
    int room() const;
};

} // namespace plinket
