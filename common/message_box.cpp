#include "message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace plinket {

namespace {

constinit MessageBoxSink g_sink = nullptr;

} // namespace

void setMessageBoxSink(MessageBoxSink sink) {
    g_sink = sink;
}

void showMessageBox(BoxIcon icon, const QString& title, const QString& text) {
    if (g_sink) {
        g_sink(ShownMessageBox{icon, title, text});
        return;
    }
    QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
    if (icon == BoxIcon::Warning)
        qtIcon = QMessageBox::Warning;
    else if (icon == BoxIcon::Error)
        qtIcon = QMessageBox::Critical;
    // A lone CR is a line break in these texts; Qt's plain-text label breaks only at LF.
    QString shown = text;
    shown.replace(u"\r\n"_qs, u"\n"_qs).replace(u'\r', u'\n');
    QMessageBox messageBox(qtIcon, title, shown, QMessageBox::Ok, QApplication::activeWindow());
    messageBox.setTextFormat(Qt::PlainText);
    messageBox.exec();
}

} // namespace plinket
