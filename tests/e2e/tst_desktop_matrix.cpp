// The real client on the desktops people run: Debian's mutter (GNOME) and KWin (KDE), each as an X11
// session, a Wayland session with XWayland, and a Wayland session without it, and xfwm4 (Xfce) and
// openbox (LXDE, LXQt) as X11 sessions, on a virtual screen (desktop_session.sh). A fullscreen window
// (plinket_desktop_probe) has the keyboard when each message arrives; input goes in as a person's would
// (xdotool on the virtual screen), and what a person would see is read from the screen itself. Each
// observation is printed as "cell: session | promise | outcome"; where the session can keep the promise
// (X11 and XWayland) it is also required.
//
// Run without arguments, the program runs every session side by side, each in a private namespace of its
// own (with_private_desktop.sh), at most MATRIX_JOBS at a time, and prints the failed sessions' output
// first; a session runs as "tst_desktop_matrix promises:SESSION".

#include "client_test_support.h"
#include "journal_capture.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
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

// Whether `area` shows the pop-up: most of its pixels are neither the probes' magenta nor the black of
// an empty screen, a locker or a blanked screen.
bool showsNow(const QRect& area) {
    const QImage image = screenshot();
    int seen = 0;
    for (int y = area.top(); y <= area.bottom() && y < image.height(); ++y)
        for (int x = area.left(); x <= area.right() && x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            seen += qGreen(p) > 60 || qAbs(qRed(p) - qBlue(p)) > 60;
        }
    return !area.isEmpty() && seen * 10 >= area.width() * area.height() * 6;
}

// Whether `area` shows the pop-up within `ms` (a compositor on a loaded machine draws a little late).
bool shows(const QRect& area, int ms = 1500) {
    return QTest::qWaitFor([&] { return showsNow(area); }, ms);
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
    void startProgram(QProcess& process, const QString& program, const QString& platform = {},
                      const QStringList& args = {}) {
        QProcessEnvironment programEnv = env;
        if (!platform.isEmpty())
            programEnv.insert(u"QT_QPA_PLATFORM"_qs, platform);
        process.setProcessEnvironment(programEnv);
        process.start(program, args);
    }
};

// The sessions, in the order they are started; the heavier compositors first, so that their start-up
// overlaps the lighter sessions' waiting.
const QStringList SESSIONS = {u"kwin-x11"_qs,      u"mutter-x11"_qs,      u"openbox-x11"_qs,  u"xfwm4-x11"_qs,
                              u"kwin-xwayland"_qs, u"mutter-xwayland"_qs, u"kwin-wayland"_qs, u"mutter-wayland"_qs};
constexpr int MATRIX_JOBS = 4;

// Runs every session in a namespace of its own, MATRIX_JOBS at a time; returns how many failed. A failed
// session's output is printed when it ends, a passed one's only at the end (a line says it passed), so
// that the first lines of a failing run, which is what CI shows, are the failure.
int runSessionsSideBySide(const QString& self) {
    QList<QProcess*> running;
    QByteArray passedOutput;
    int next = 0, failed = 0;
    const auto finish = [&](QProcess* p) {
        const QByteArray output = p->readAll();
        const QByteArray session = p->arguments().value(1).toUtf8();
        if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0) {
            ++failed;
            std::printf("session %s FAILED:\n%s", session.constData(), output.constData());
        } else {
            std::printf("session %s passed\n", session.constData());
            passedOutput += output;
        }
        std::fflush(stdout);
        running.removeOne(p);
        delete p;
    };
    while (next < SESSIONS.size() || !running.isEmpty()) {
        while (next < SESSIONS.size() && running.size() < MATRIX_JOBS) {
            auto* p = new QProcess;
            p->setProcessChannelMode(QProcess::MergedChannels);
            p->start(QStringLiteral(PLINKET_PRIVATE_DESKTOP_WRAPPER),
                     {self, u"promises:"_qs + SESSIONS[next++], u"-maxwarnings"_qs, u"0"_qs});
            p->waitForStarted();
            running.append(p);
            QThread::msleep(1500); // compositors starting at the same instant slow each other down most
        }
        for (QProcess* p : QList<QProcess*>(running))
            if (p->waitForFinished(100))
                finish(p);
    }
    std::fputs(passedOutput.constData(), stdout);
    std::fflush(stdout);
    return failed;
}

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
        for (const QString& session : SESSIONS)
            QTest::newRow(qPrintable(session)) << session;
    }
    void promises() {
        QFETCH(QString, session);
        const bool keepsOnTop = !session.endsWith(u"-wayland"); // X11 or XWayland: every promise is required
        const bool plainX11 = session.endsWith(u"-x11");        // X11 screen lockers apply
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
        journal.readWhileEventLoopRuns();

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
        QElapsedTimer sent;
        sent.start();
        FakeConsole::sendMessage(u"XX"_qs, u"1"_qs, u"Hi"_qs, u"ADMIN-PC"_qs);
        const auto received = m_console.nextReport(10000);
        cell(name.constData(), "report 1",
             received ? u"status %1 after %2 ms"_qs.arg(received->status).arg(sent.elapsed()) : u"none in 10 s"_qs);
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

        QString id;
        if (!x11.isEmpty()) {
            // Its title is empty, not the program's name.
            id = onX11(u"xdotool"_qs, {u"search"_qs, u"--onlyvisible"_qs, u"--classname"_qs, u"plinket_client"_qs});
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
        const auto arrive = [&](const QString& messageId, const QString& text) {
            FakeConsole::sendMessage(u"EN"_qs, messageId, text, u"ADMIN-PC"_qs);
            const bool shown = m_console.nextReport(10000).value_or(test::Report{}).status == u"1";
            return shown ? settledPopup() : QRect();
        };
        const QPoint okAt(popup.center().x(), popup.bottom() - 22);

        // OK by click gives "2".
        click(okAt);
        QCOMPARE(confirmation("OK by click"), u"2"_qs);

        // Clicked on (once it has been seen for half a second), the pop-up takes Enter as OK.
        popup = arrive(u"2"_qs, u"Lunch"_qs);
        QVERIFY(!popup.isEmpty());
        QTest::qWait(500);
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

        if (keepsOnTop) {
            // A click already on its way to where OK appears does not confirm; one pressed half a second
            // after the pop-up could be seen does.
            click(okAt);
            QCOMPARE(confirmation("OK by click"), u"2"_qs);
            FakeConsole::sendMessage(u"EN"_qs, u"4"_qs, u"Meeting at 3"_qs, u"ADMIN-PC"_qs);
            QCOMPARE(m_console.nextReport(10000).value_or(test::Report{}).status, u"1"_qs);
            click(okAt);
            const bool hasty = m_console.reportArrivesWithin(1000);
            cell(name.constData(), "click already on its way",
                 hasty ? u"confirmed"_qs : u"not confirmed; a click 1 s later confirms"_qs);
            QVERIFY(!hasty);
            click(okAt);
            QCOMPARE(confirmation("OK by click"), u"2"_qs);

            const auto waitingEvents = [&] {
                QStringList reasons;
                for (const test::JournalRecord& r : journal.waitForRecords(1000, 300))
                    if (r.value("SYSLOG_IDENTIFIER") == "Plinket Client" && r.value("PLINKET_EVENT_ID") == "107")
                        reasons << QString::fromUtf8(test::insertionStrings(r).value(2));
                return reasons;
            };
            // Shown and confirmed while the session looks as `setUp` left it; `what` names the cell.
            const auto shownAndConfirmed = [&](const char* what, const QString& messageId, const QString& detail) {
                FakeConsole::sendMessage(u"EN"_qs, messageId, u"Meeting at 3"_qs, u"ADMIN-PC"_qs);
                const auto report = m_console.nextReport(10000);
                QElapsedTimer sinceReport;
                sinceReport.start();
                // On the screen once what hid it has gone (a screen saver may still be fading out).
                bool seen = false;
                for (QDeadlineTimer deadline(5000); !seen && !deadline.hasExpired(); QTest::qWait(100))
                    seen = shows(popup);
                // A click counts half a second after the pop-up became visible, as a person's would.
                QTest::qWait(int(std::max<qint64>(0, 300 - sinceReport.elapsed())));
                cell(name.constData(), what,
                     u"%1, %2%3"_qs.arg(report ? u"report "_qs + report->status : u"no report in 10 s"_qs,
                                        seen ? u"on the screen"_qs : u"not on the screen"_qs, detail));
                QTest::qWait(300);
                click(okAt);
                auto second = m_console.nextReport(2500);
                if (!second) { // a screen saver fading out may still hold the pointer: a person clicks again
                    click(okAt);
                    second = m_console.nextReport(5000);
                }
                return report.value_or(test::Report{}).status == u"1" && seen &&
                       second.value_or(test::Report{}).status == u"2";
            };

            // Another workspace in use when the message arrives.
            xdotool({u"set_desktop"_qs, u"1"_qs});
            QTest::qWait(500);
            if (onX11(u"xprop"_qs, {u"-root"_qs, u"_NET_CURRENT_DESKTOP"_qs}).endsWith(u"= 1"))
                QVERIFY(shownAndConfirmed("workspace in use", u"5"_qs, u" on workspace 2"_qs));
            else
                cell(name.constData(), "workspace in use", u"the session has one workspace"_qs);
            xdotool({u"set_desktop"_qs, u"0"_qs});

            // A focused "always on top" window over the centre, clicked again while the pop-up is open.
            QProcess rival;
            desktop.startProgram(rival, QStringLiteral(PLINKET_DESKTOP_PROBE), u"xcb"_qs, {u"above"_qs});
            QTRY_VERIFY_WITH_TIMEOUT(!showsNow(QRect(SCREEN_CENTRE, QSize(40, 40))), 20000);
            click(SCREEN_CENTRE + QPoint(300, 150));
            FakeConsole::sendMessage(u"EN"_qs, u"6"_qs, u"Meeting at 3"_qs, u"ADMIN-PC"_qs);
            const auto aboveReport = m_console.nextReport(10000);
            QTest::qWait(300);
            const bool aboveAtOnce = shows(popup);
            click(SCREEN_CENTRE + QPoint(300, 150));
            QTest::qWait(1000);
            const bool aboveAfterClick = shows(popup);
            cell(name.constData(), "focused always-on-top",
                 u"%1, %2, after a click on it %3"_qs.arg(
                     aboveReport ? u"report "_qs + aboveReport->status : u"no report"_qs,
                     aboveAtOnce ? u"in front"_qs : u"behind it"_qs, aboveAfterClick ? u"in front"_qs : u"behind"_qs));
            QVERIFY(aboveReport && aboveReport->status == u"1" && aboveAtOnce && aboveAfterClick);
            click(okAt);
            QCOMPARE(confirmation("OK by click"), u"2"_qs);
            rival.kill();
            rival.waitForFinished();

            // "Show desktop" on when the message arrives.
            onX11(u"wmctrl"_qs, {u"-k"_qs, u"on"_qs});
            QTest::qWait(500);
            QVERIFY(shownAndConfirmed("show desktop", u"7"_qs, QString()));
            onX11(u"wmctrl"_qs, {u"-k"_qs, u"off"_qs});

            // Rolled up while open.
            FakeConsole::sendMessage(u"EN"_qs, u"8"_qs, u"Meeting at 3"_qs, u"ADMIN-PC"_qs);
            QCOMPARE(m_console.nextReport(10000).value_or(test::Report{}).status, u"1"_qs);
            id = onX11(u"xdotool"_qs, {u"search"_qs, u"--onlyvisible"_qs, u"--classname"_qs, u"plinket_client"_qs});
            onX11(u"wmctrl"_qs, {u"-i"_qs, u"-r"_qs, id, u"-b"_qs, u"add,shaded"_qs});
            QTest::qWait(1000);
            const bool unrolled = shows(popup);
            cell(name.constData(), "shading", unrolled ? u"unrolled at once"_qs : u"stays rolled up"_qs);
            QVERIFY(unrolled);
            click(okAt);
            QCOMPARE(confirmation("OK by click"), u"2"_qs);

            // The window the user types in closes; they keep typing 1.5 s later.
            QProcess note;
            desktop.startProgram(note, QStringLiteral(PLINKET_DESKTOP_PROBE), u"xcb"_qs, {u"typing"_qs});
            QTRY_VERIFY_WITH_TIMEOUT(!showsNow(QRect(SCREEN_CENTRE, QSize(40, 40))), 10000);
            click(SCREEN_CENTRE + QPoint(300, 150));
            FakeConsole::sendMessage(u"EN"_qs, u"9"_qs, u"Meeting at 3"_qs, u"ADMIN-PC"_qs);
            QCOMPARE(m_console.nextReport(10000).value_or(test::Report{}).status, u"1"_qs);
            id = onX11(u"xdotool"_qs, {u"search"_qs, u"--onlyvisible"_qs, u"--classname"_qs, u"plinket_client"_qs});
            note.kill();
            note.waitForFinished();
            // Where the window manager gives the keyboard to another window, it is handed to the pop-up as
            // some window managers do when the focused window closes.
            if (onX11(u"xdotool"_qs, {u"getwindowfocus"_qs}) != id)
                onX11(u"xdotool"_qs, {u"windowfocus"_qs, id});
            QTest::qWait(1500);
            const QString active = onX11(u"xdotool"_qs, {u"getwindowfocus"_qs});
            xdotool({u"type"_qs, u"--delay"_qs, u"120"_qs, u"ok next"_qs});
            xdotool({u"key"_qs, u"Return"_qs});
            const bool typedOk = m_console.reportArrivesWithin(1000);
            cell(name.constData(), "typing on after the window closed",
                 u"the keyboard went to %1; %2"_qs.arg(active == id ? u"the pop-up"_qs : u"another window"_qs,
                                                       typedOk ? u"confirmed"_qs : u"not confirmed"_qs));
            QVERIFY(!typedOk);
            click(okAt);
            QCOMPARE(confirmation("OK by click"), u"2"_qs);

            if (plainX11) {
                // Screen lockers: "1" waits until the person unlocks, then goes out.
                const QStringList user = desktop.env.value(u"LOCK_USER"_qs).split(u':');
                QCOMPARE(user.size(), 3);
                const QStringList asUser = {u"--reuid="_qs + user[1],
                                            u"--regid="_qs + user[1],
                                            u"--clear-groups"_qs,
                                            u"env"_qs,
                                            u"-u"_qs,
                                            u"WAYLAND_DISPLAY"_qs,
                                            u"HOME="_qs + folder.path() + u"/accounts/home"_qs};
                const auto heldUntilUnlocked = [&](const char* what, const QString& messageId, auto unlock) {
                    FakeConsole::sendMessage(u"EN"_qs, messageId, u"Meeting at 3"_qs, u"ADMIN-PC"_qs);
                    const bool early = m_console.reportArrivesWithin(2000);
                    unlock();
                    QElapsedTimer sinceUnlock;
                    sinceUnlock.start();
                    const auto report = m_console.nextReport(10000);
                    const bool seen = report && shows(popup);
                    cell(name.constData(), what,
                         u"%1; %2"_qs.arg(early ? u"report before unlocking"_qs : u"nothing while locked"_qs,
                                          report ? u"report %1 %2 ms after unlocking%3"_qs.arg(report->status)
                                                       .arg(sinceUnlock.elapsed())
                                                       .arg(seen ? QString() : u" but not on the screen"_qs)
                                                 : u"no report after unlocking"_qs));
                    QVERIFY(!early && report && report->status == u"1" && seen);
                    QTest::qWait(600);
                    click(okAt);
                    QCOMPARE(confirmation("OK by click"), u"2"_qs);
                };
                const auto typePassword = [&] {
                    xdotool({u"type"_qs, u"--delay"_qs, u"60"_qs, user[2]});
                    xdotool({u"key"_qs, u"Return"_qs});
                };

                QProcess locker;
                locker.setProcessEnvironment(desktop.env);
                locker.start(u"setpriv"_qs, asUser + QStringList{u"i3lock"_qs, u"-n"_qs, u"-c"_qs, u"000000"_qs});
                QTRY_VERIFY_WITH_TIMEOUT(!showsNow(QRect(SCREEN_CENTRE, QSize(40, 40))), 10000);
                heldUntilUnlocked("i3lock", u"10"_qs, [&] {
                    typePassword();
                    locker.waitForFinished(5000);
                });

                QProcess saver;
                saver.setProcessEnvironment(desktop.env);
                saver.start(u"setpriv"_qs, asUser + QStringList{u"xscreensaver"_qs, u"-no-splash"_qs});
                const auto saverStatus = [&] { return onX11(u"xprop"_qs, {u"-root"_qs, u"_SCREENSAVER_STATUS"_qs}); };
                QTRY_VERIFY_WITH_TIMEOUT(saverStatus().contains(u'='), 10000);
                onX11(u"xscreensaver-command"_qs, {u"-lock"_qs});
                QTRY_VERIFY_WITH_TIMEOUT(!showsNow(popup), 10000);
                heldUntilUnlocked("xscreensaver lock", u"11"_qs, [&] {
                    xdotool({u"key"_qs, u"shift"_qs}); // brings up its password dialog
                    QTest::qWait(1500);
                    typePassword();
                });

                // A screen saver that blanks without a lock is ended when a message arrives.
                onX11(u"xscreensaver-command"_qs, {u"-activate"_qs});
                QTRY_VERIFY_WITH_TIMEOUT(!showsNow(popup) && saverStatus().contains(u"= 0,"_qs) == false, 10000);
                QVERIFY(shownAndConfirmed("screen saver blanking", u"12"_qs, u", xscreensaver ended"_qs));
                onX11(u"xscreensaver-command"_qs, {u"-exit"_qs});
                saver.waitForFinished(5000);
                onX11(u"xset"_qs, {u"s"_qs, u"activate"_qs});
                QVERIFY(shownAndConfirmed("screen saver blanking", u"13"_qs, u", the X server's saver ended"_qs));

                const QStringList reasons = waitingEvents();
                cell(name.constData(), "event 107", reasons.join(u", "_qs));
                QVERIFY(reasons.count(u"screen locked"_qs) >= 2);
            }
        }

        // Where pop-ups cannot be kept on top, the client says so once at start-up; what a window
        // manager does not allow is told once (event 108).
        int notOnTop = 0;
        QStringList limits;
        for (const test::JournalRecord& r : journal.waitForRecords(1000, 500)) {
            if (r.value("SYSLOG_IDENTIFIER") != "Plinket Client")
                continue;
            notOnTop += r.value("PLINKET_EVENT_ID") == "105";
            if (r.value("PLINKET_EVENT_ID") == "108")
                limits << QString::fromUtf8(test::insertionStrings(r).value(0));
        }
        cell(name.constData(), "event 105", QString::number(notOnTop));
        cell(name.constData(), "event 108", limits.isEmpty() ? u"none"_qs : limits.join(u"; "_qs));
        QCOMPARE(notOnTop, keepsOnTop ? 0 : 1);

        client.kill();
        probe.kill();
        client.waitForFinished();
        probe.waitForFinished();
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 1 && qEnvironmentVariableIsEmpty("PLINKET_PRIVATE_DESKTOP"))
        return runSessionsSideBySide(QCoreApplication::applicationFilePath());
    TestDesktopMatrix test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop_matrix.moc"
