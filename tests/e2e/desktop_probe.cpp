// The windows a user works in while a message arrives, in one flat colour that tells them apart from the
// pop-up on a screenshot, every character typed into them written to standard output at once:
//   plinket_desktop_probe            fullscreen
//   plinket_desktop_probe above      an "always on top" window over the centre of the screen (a video
//                                    call, a sticky note), which takes the keyboard
//   plinket_desktop_probe typing     a normal window over the centre, which takes the keyboard
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
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    ProbeWindow window;
    window.setTitle(QStringLiteral("desktop probe ") + mode);
    if (mode.isEmpty()) {
        window.showFullScreen();
        return QGuiApplication::exec();
    }
    if (mode == u"above")
        window.setFlag(Qt::WindowStaysOnTopHint);
    window.setGeometry(QRect(QPoint(0, 0), QSize(800, 500)));
    window.setPosition(window.screen()->geometry().center() - QPoint(400, 250));
    window.show();
    window.requestActivate();
    return QGuiApplication::exec();
}
