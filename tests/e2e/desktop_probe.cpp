// The window a user works in while a message arrives: fullscreen, one flat colour that tells it apart
// from the pop-up on a screenshot, and every character typed into it written to standard output at once.
// Runs on whichever platform QT_QPA_PLATFORM names (X11 or Wayland).

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QRasterWindow>

#include <cstdio>

namespace {

class ProbeWindow final : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(0, 0), size()), Qt::magenta); }
    void keyPressEvent(QKeyEvent* event) override {
        const QByteArray text = event->text().toUtf8();
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    ProbeWindow window;
    window.setTitle(QStringLiteral("desktop probe"));
    window.showFullScreen();
    return QGuiApplication::exec();
}
