// plinket_crash_box: shows the console's crash report. The crashed console cannot safely run
// widgets any more, so its fault handler starts this program, writes the report (UTF-8) to our
// standard input and waits until the box is closed.

#include "message_box.h"

#include <QApplication>
#include <QFile>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return 1;
    const QString report = QString::fromUtf8(input.readAll());
    if (report.isEmpty())
        return 1;
    // English whatever the console's language; showMessageBox turns the report's CR line ends
    // into line breaks for the label.
    plinket::showMessageBox(plinket::BoxIcon::None, QStringLiteral("Error!"), report);
    return 0;
}
