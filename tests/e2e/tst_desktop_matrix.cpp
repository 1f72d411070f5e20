// The real client on the desktops people run: Debian's mutter (GNOME) and KWin (KDE), each as an X11
// session, a Wayland session with XWayland, and a Wayland session without it, on a virtual screen
// (desktop_session.sh). A fullscreen window (plinket_desktop_probe) has the keyboard when each message
// arrives; input goes in as a person's would (xdotool on the virtual screen), and what a person would see
// is read from the screen itself. Each observation is printed as "cell: session | promise | outcome";
// where the session can keep the promise (X11 and XWayland) it is also required.

#include "client_test_support.h"
#include "journal_capture.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <csignal>
#include <memory>
#include <unistd.h>

using namespace plinket;
using plinket::test::FakeConsole;
using plinket::test::JournalCapture;

namespace {

constexpr QPoint SCREEN_CENTRE{640, 400};
constexpr QPoint AWAY{1240, 760}; // a point of the fullscreen window far from the pop-up
const QString TYPED = u"the quick brown fox jumps over the lazy dog"_qs;

// Runs a tool of the X11 tool box on `display` of `session` (an XWayland display needs the session's key).
QString run(const QString& program, const QStringList& args, const QString& display,
            QProcessEnvironment session = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    session.insert(u"DISPLAY"_qs, display);
    process.setProcessEnvironment(session);
    process.start(program, args);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Input as a person gives it: on the virtual screen, where the compositor reads it.
void xdotool(const QStringList& args) {
    run(u"xdotool"_qs, args, u":80"_qs);
}
void click(QPoint at) {
    xdotool({u"mousemove"_qs, QString::number(at.x()), QString::number(at.y()), u"click"_qs, u"1"_qs});
}

// What the virtual screen shows.
QImage screenshot() {
    xcb_connection_t* connection = xcb_connect(":80", nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    QImage image;
    if (xcb_get_image_reply_t* reply =
            xcb_get_image_reply(connection,
                                xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0,
                                              screen->width_in_pixels, screen->height_in_pixels, ~0u),
                                nullptr)) {
        image =
            QImage(xcb_get_image_data(reply), screen->width_in_pixels, screen->height_in_pixels, QImage::Format_RGB32)
                .copy();
        std::free(reply);
    }
    xcb_disconnect(connection);
    return image;
}

// The pop-up on the screen: the rows and columns where at least 30 pixels are not the probe's magenta
// (or its shadowed magenta). A mouse pointer is too small to count.
QRect popupOnScreen() {
    const QImage image = screenshot();
    QList<int> rows(image.height()), columns(image.width());
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qGreen(line[x]) > 60 || qAbs(qRed(line[x]) - qBlue(line[x])) > 60)
                ++rows[y], ++columns[x];
    }
    const auto first = [](const QList<int>& c) {
        return int(std::find_if(c.begin(), c.end(), [](int n) { return n >= 30; }) - c.begin());
    };
    const auto last = [](const QList<int>& c) {
        return int(c.rend() - std::find_if(c.rbegin(), c.rend(), [](int n) { return n >= 30; })) - 1;
    };
    if (first(rows) >= rows.size())
        return {};
    return QRect(QPoint(first(columns), first(rows)), QPoint(last(columns), last(rows)));
}

// The pop-up once the compositor has finished drawing it: the same place on two screenshots in a row.
QRect settledPopup(int timeoutMs = 15000) {
    QElapsedTimer clock;
    clock.start();
    QRect last;
    while (clock.elapsed() < timeoutMs) {
        const QRect now = popupOnScreen();
        if (!now.isEmpty() && now == last) {
            return now;
        }
        last = now;
        QTest::qWait(200);
    }
    return {};
}

void cell(const char* session, const char* promise, const QString& outcome) {
    qInfo("cell: %s | %s | %s", session, promise, qPrintable(outcome));
}

// One desktop session from desktop_session.sh, which takes its processes down in order when terminated.
struct Session {
    QProcess script;
    QProcessEnvironment env;

    ~Session() {
        const auto group = static_cast<pid_t>(script.processId());
        if (group <= 0)
            return;
        ::kill(group, SIGTERM);
        if (!script.waitForFinished(10000))
            ::kill(-group, SIGKILL);
        script.waitForFinished(5000);
    }
    // Empty once the session takes programs; otherwise what the script said ("UNAVAILABLE: ..." where a
    // program it needs is not installed).
    QString start(const QString& kind, const QString& folder) {
        script.setChildProcessModifier([] { ::setsid(); });
        script.start(QStringLiteral(PLINKET_DESKTOP_SESSION), {kind, folder});
        env = QProcessEnvironment::systemEnvironment();
        env.remove(u"QT_QPA_PLATFORM"_qs); // the client chooses its platform as on a user's desktop
        QString said;
        while (script.waitForReadyRead(240000) || script.canReadLine()) {
            while (script.canReadLine()) {
                const QString line = QString::fromUtf8(script.readLine()).trimmed();
                if (line == u"READY")
                    return {};
                said += line + u'\n';
                const qsizetype eq = line.indexOf(u'=');
                if (eq > 0)
                    env.insert(line.left(eq), line.mid(eq + 1));
            }
        }
        said += QString::fromUtf8(script.readAll());
        return said.isEmpty() ? u"the session did not start"_qs : said;
    }
    void startProgram(QProcess& process, const QString& program, const QString& platform = {}) {
        QProcessEnvironment programEnv = env;
        if (!platform.isEmpty())
            programEnv.insert(u"QT_QPA_PLATFORM"_qs, platform);
        process.setProcessEnvironment(programEnv);
        process.start(program, {});
    }
};

} // namespace

class TestDesktopMatrix final : public QObject {
    Q_OBJECT

    FakeConsole m_console;

private slots:
    void initTestCase() {
        if (!qEnvironmentVariableIsSet("PLINKET_PRIVATE_DESKTOP"))
            QSKIP("needs root: runs under with_private_desktop.sh (own network, /tmp and /run)");
        QVERIFY(m_console.listen());
    }

    void promises_data() {
        QTest::addColumn<QString>("session");
        QTest::addColumn<bool>("keepsOnTop"); // X11 or XWayland: every promise is required
        for (const char* compositor : {"mutter", "kwin"}) {
            QTest::newRow(qPrintable(QString::fromLatin1(compositor) + u"-x11"))
                << QString::fromLatin1(compositor) + u"-x11" << true;
            QTest::newRow(qPrintable(QString::fromLatin1(compositor) + u"-xwayland"))
                << QString::fromLatin1(compositor) + u"-xwayland" << true;
            QTest::newRow(qPrintable(QString::fromLatin1(compositor) + u"-wayland"))
                << QString::fromLatin1(compositor) + u"-wayland" << false;
        }
    }
    void promises() {
        QFETCH(QString, session);
        QFETCH(bool, keepsOnTop);
        const QByteArray name = session.toUtf8();
        QTemporaryDir folder;
        Session desktop;
        const QString failure = desktop.start(session, folder.path());
        if (failure.startsWith(u"UNAVAILABLE"))
            QSKIP(qPrintable(session + u" cannot run here: "_qs + failure));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        const QString x11 = desktop.env.value(u"DISPLAY"_qs);
        const auto onX11 = [&](const QString& tool, const QStringList& args) {
            return run(tool, args, x11, desktop.env);
        };
        JournalCapture journal;
        QVERIFY(journal.start());

        // The user works in a fullscreen window, which has the keyboard.
        QProcess probe;
        desktop.startProgram(probe, QStringLiteral(PLINKET_DESKTOP_PROBE), x11.isEmpty() ? u"wayland"_qs : u"xcb"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(
            screenshot().pixel(SCREEN_CENTRE) == QColor(Qt::magenta).rgb() && popupOnScreen().isEmpty(), 30000);
        click(AWAY);
        QProcess client;
        desktop.startProgram(client, QStringLiteral(PLINKET_CLIENT_PATH));
        QVERIFY(m_console.waitUntilClientListens(20000));

        // A first message, in an unknown language, arrives while the user types.
        QProcess typing;
        typing.start(u"env"_qs, {u"DISPLAY=:80"_qs, u"xdotool"_qs, u"type"_qs, u"--delay"_qs, u"120"_qs, TYPED});
        QTest::qWait(1500);
        FakeConsole::sendMessage(u"XX"_qs, u"1"_qs, u"Hi"_qs, u"ADMIN-PC"_qs);
        const auto received = m_console.nextReport(10000);
        cell(name.constData(), "report 1", received ? u"status "_qs + received->status : u"none in 10 s"_qs);
        QCOMPARE(received.value_or(test::Report{}).status, u"1"_qs);
        QVERIFY(typing.waitForFinished(20000));
        const bool early2 = m_console.reportArrivesWithin(1000);
        QTRY_VERIFY_WITH_TIMEOUT(probe.bytesAvailable() >= TYPED.size() || !keepsOnTop, 3000);
        const QString kept = QString::fromUtf8(probe.readAllStandardOutput());
        cell(name.constData(), "no keyboard taken",
             u"the fullscreen window got \"%1\"%2"_qs.arg(kept, early2 ? u", and a report 2 came"_qs : QString()));
        QVERIFY(!early2);
        if (keepsOnTop)
            QCOMPARE(kept, TYPED);

        QRect popup = settledPopup(5000);
        cell(name.constData(), "in front on arrival",
             popup.isEmpty() ? u"hidden behind the focused fullscreen window"_qs : u"yes"_qs);
        QVERIFY(!popup.isEmpty());
        const QPoint offCentre = popup.center() - SCREEN_CENTRE;
        cell(name.constData(), "centred",
             u"outer frame %1,%2 %3x%4, centre off by %5,%6"_qs.arg(popup.x())
                 .arg(popup.y())
                 .arg(popup.width())
                 .arg(popup.height())
                 .arg(offCentre.x())
                 .arg(offCentre.y()));
        if (keepsOnTop)
            QVERIFY(qAbs(offCentre.x()) <= 40 && qAbs(offCentre.y()) <= 40);

        if (!x11.isEmpty()) {
            // Its title is empty, not the program's name.
            const QString id =
                onX11(u"xdotool"_qs, {u"search"_qs, u"--onlyvisible"_qs, u"--classname"_qs, u"plinket_client"_qs});
            QCOMPARE(onX11(u"xprop"_qs, {u"-id"_qs, id, u"-notype"_qs, u"_NET_WM_NAME"_qs}), u"_NET_WM_NAME ="_qs);
            // Asked to minimise, or unmapped behind its back, it is on screen and on top again within a second.
            for (const QString& request : {u"windowminimize"_qs, u"windowunmap"_qs}) {
                onX11(u"xdotool"_qs, {request, id});
                QTest::qWait(1000);
                const QString state = onX11(u"xprop"_qs, {u"-id"_qs, id, u"WM_STATE"_qs});
                click(AWAY);
                QTest::qWait(500);
                const bool back = state.contains(u"Normal"_qs) && popupOnScreen() == popup;
                cell(name.constData(), "not minimisable",
                     u"%1: %2"_qs.arg(request, back ? u"on top 1 s later"_qs : u"not back"_qs));
                QVERIFY(back);
            }
        }

        // A report from the console's side, and the next message on the screen.
        const auto confirmation = [&](const char* promise) {
            const auto report = m_console.nextReport(5000);
            cell(name.constData(), promise, report ? u"report "_qs + report->status : u"no report"_qs);
            return report.value_or(test::Report{}).status;
        };
        const auto arrive = [&](const QString& id, const QString& text) {
            FakeConsole::sendMessage(u"EN"_qs, id, text, u"ADMIN-PC"_qs);
            const bool shown = m_console.nextReport(10000).value_or(test::Report{}).status == u"1";
            return shown ? settledPopup() : QRect();
        };

        // OK by click gives "2".
        click(QPoint(popup.center().x(), popup.bottom() - 22));
        QCOMPARE(confirmation("OK by click"), u"2"_qs);

        // Clicked on, the pop-up takes Enter as OK.
        popup = arrive(u"2"_qs, u"Lunch"_qs);
        QVERIFY(!popup.isEmpty());
        click(QPoint(popup.left() + 8, popup.bottom() - 6));
        QTest::qWait(300);
        xdotool({u"key"_qs, u"Return"_qs});
        QCOMPARE(confirmation("Enter"), u"2"_qs);

        // The user clicks the fullscreen window again: the pop-up stays in front of it.
        popup = arrive(u"3"_qs, u"Meeting at 3"_qs);
        QVERIFY(!popup.isEmpty());
        click(AWAY);
        QTest::qWait(700);
        const bool stays = popupOnScreen() == popup;
        cell(name.constData(), "above fullscreen",
             stays ? u"still in front after a click on the fullscreen window"_qs : u"gone behind it"_qs);
        if (keepsOnTop)
            QVERIFY(stays);

        // Where pop-ups cannot be kept on top, the client says so once at start-up.
        int notOnTop = 0;
        for (const test::JournalRecord& r : journal.waitForRecords(1000, 500))
            notOnTop += r.value("SYSLOG_IDENTIFIER") == "Plinket Client" && r.value("PLINKET_EVENT_ID") == "105";
        cell(name.constData(), "event 105", QString::number(notOnTop));
        QCOMPARE(notOnTop, keepsOnTop ? 0 : 1);

        client.kill();
        probe.kill();
        client.waitForFinished();
        probe.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestDesktopMatrix)
#include "tst_desktop_matrix.moc"
