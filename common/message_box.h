#pragma once

// The one way both programs show a message box. Tests answer boxes in advance by setting a sink:
// in-process, and in the test builds of the programs, which link a sink that writes each box to a
// file (tests/support/recorded_boxes.h). The shipped programs never set one and read nothing from
// their environment for it.

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

// While a sink is set, boxes go to it instead of the screen; nullptr restores the screen.
using MessageBoxSink = void (*)(const ShownMessageBox& box);
void setMessageBoxSink(MessageBoxSink sink);

} // namespace plinket
