#pragma once

// The one way both programs show a message box. Tests answer boxes in advance: in-process with a
// MessageBoxLog, and for a child process through PLINKET_TEST_MESSAGE_BOXES (a file to which each
// box is appended as one JSON line instead of being shown). Nothing else reads that variable.

#include <QList>
#include <QString>

class QWidget;

namespace plinket {

enum class BoxIcon { None, Warning, Error };

struct ShownMessageBox {
    BoxIcon icon = BoxIcon::None;
    QString title;
    QString text;
};

// A modal box with one OK button; returns when it is closed. The owner is the application's
// active window when it has one.
void showMessageBox(BoxIcon icon, const QString& title, const QString& text);

// While an instance exists, boxes are recorded here and not shown.
class MessageBoxLog {
public:
    MessageBoxLog();
    ~MessageBoxLog();
    MessageBoxLog(const MessageBoxLog&) = delete;
    MessageBoxLog& operator=(const MessageBoxLog&) = delete;

    QList<ShownMessageBox> boxes;
};

// Reads the boxes a child process wrote to its PLINKET_TEST_MESSAGE_BOXES file.
QList<ShownMessageBox> readMessageBoxFile(const QString& path);

} // namespace plinket
