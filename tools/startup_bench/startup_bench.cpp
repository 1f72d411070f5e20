// Times the console's start-up from the settings to the main window on screen, step by step, for
// generated client directories of growing size:
//
//   QT_QPA_PLATFORM=offscreen plinket_startup_bench [entries ...]     (default 0 1000 10000 20000)
//
// Two shapes per size: "grouped" (groups of 50 clients, two levels deep, the way offices are
// usually written) and "flat" (every client directly under the root, so all of them are visible
// rows of the expanded root). Each case runs in a fresh temporary working folder and is repeated
// three times; the best run is printed step by step, and the very first run of the program (fonts,
// styles and caches still cold) after the total. The last two columns are not start-up: a report
// from every client at once, as records updated and announced from the caller's side, and as the
// one tree refresh that follows; then the root's tooltip (counting every client by state) asked
// once, and a second burst with that tooltip on screen, which follows the reports. Nothing is sent
// anywhere.

#include "client_directory.h"
#include "console_icons.h"
#include "generated_clients.h"
#include "language.h"
#include "main_window.h"
#include "recipient_tree_model.h"
#include "settings.h"
#include "status_images.h"
#include "templates.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWindow>

#include <cstdio>

using namespace plinket;

namespace {

struct Timing {
    double settings = 0;
    double window = 0;
    double recipients = 0;
    double shown = 0;
    double burstRecords = 0; // a report from every client, records updated and announced
    double burstShown = 0;   // the tree refreshed after that burst
    double rootTip = 0;      // the root's tooltip asked for and shown
    double burstWithTip = 0; // a second burst, announced and shown, with the root's tooltip following it
    double total() const { return settings + window + recipients + shown; }
};

// The console's start-up order from loadSettings to the window on screen.
Timing runOnce(const QByteArray& clientsIni) {
    QTemporaryDir work;
    const QString dir = work.path() + u'/';
    QFile file(dir + u"clients.ini"_qs);
    if (!file.open(QIODevice::WriteOnly) || file.write(clientsIni) != clientsIni.size())
        qFatal("cannot write clients.ini");
    file.close();

    Timing t;
    QElapsedTimer clock;
    clock.start();
    ServerSettings settings = loadSettings(settingsFilePath(dir), QGuiApplication::primaryScreen()->size(),
                                           [](const QString& code) { return applyLanguage(code).code; });
    const QString clientsPath = localFilePath(settings.clientsPath, dir);
    if (!ensureClientsFile(clientsPath))
        qFatal("clients.ini cannot be opened");
    const ConsoleIcons icons = drawConsoleIcons();
    TemplateCatalog templates;
    QMutex lock;
    BroadcastSetting broadcast;
    const QList<QIcon> images = drawStatusImages(QApplication::palette().color(QPalette::Base));
    t.settings = clock.nsecsElapsed() / 1e6;

    clock.restart();
    MainWindow window(MainWindowTexts::inLanguage(text(TextId::languageCode)), icons, templates,
                      localFilePath(settings.templatesPath, dir), broadcast, settings.waitCount, settings.waitUnit);
    window.applyGeometry(WindowGeometry{});
    t.window = clock.nsecsElapsed() / 1e6;

    clock.restart();
    (void)migrateClientsFile(clientsPath);
    RecipientList recipients = loadRecipients(clientsPath);
    RecipientTreeModel model(recipients, lock, text(TextId::allClientsLabel), images);
    window.setRecipientModel(&model);
    t.recipients = clock.nsecsElapsed() / 1e6;

    clock.restart();
    window.show();
    // On screen: exposed, and the first paint of the tree done.
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    window.repaint();
    window.findChild<QTreeView*>(u"recipientTree"_qs)->viewport()->repaint();
    QCoreApplication::processEvents();
    t.shown = clock.nsecsElapsed() / 1e6;

    // Every client reports at once: the records change under the lock (as the report listener
    // does), each report is announced separately, and the UI refreshes the tree once.
    auto* tree = window.findChild<QTreeView*>(u"recipientTree"_qs);
    const auto burst = [&](quint8 status) {
        for (int i = 1; i < recipients.size(); ++i) {
            if (recipients.at(i).isGroup)
                continue;
            ChangedRecords changed;
            {
                QMutexLocker locker(&lock);
                changed = recipients.recordReport(i, status, u"12:00:00"_qs);
            }
            model.notifyRecordsChanged(changed);
        }
    };
    clock.restart();
    burst(STATUS_DELIVERED);
    t.burstRecords = clock.nsecsElapsed() / 1e6;
    clock.restart();
    QCoreApplication::processEvents();
    tree->viewport()->repaint();
    t.burstShown = clock.nsecsElapsed() / 1e6;

    const QPoint root = tree->visualRect(model.indexOfRecord(0)).center();
    QCursor::setPos(tree->viewport()->mapToGlobal(root));
    clock.restart();
    QHelpEvent hover(QEvent::ToolTip, root, tree->viewport()->mapToGlobal(root));
    QCoreApplication::sendEvent(tree->viewport(), &hover);
    t.rootTip = clock.nsecsElapsed() / 1e6;
    clock.restart();
    burst(STATUS_CONFIRMED);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents(); // the tooltip's refresh, queued by the tree's
    tree->viewport()->repaint();
    t.burstWithTip = clock.nsecsElapsed() / 1e6;
    return t;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QList<int> sizes;
    for (const QString& a : app.arguments().mid(1))
        sizes.append(a.toInt());
    if (sizes.isEmpty())
        sizes = {0, 1000, 10000, 20000};

    std::printf("%-8s %8s %10s %10s %12s %10s %10s %10s %12s %12s %9s %12s\n", "shape", "entries", "settings", "window",
                "recipients", "shown", "total ms", "first run", "burst upd.", "burst shown", "root tip", "burst w/tip");
    for (const bool grouped : {true, false}) {
        for (const int n : sizes) {
            const QByteArray ini = generatedClientsIni(n, grouped);
            Timing best;
            Timing first;
            for (int run = 0; run < 3; ++run) {
                const Timing t = runOnce(ini);
                if (run == 0)
                    first = t;
                if (run == 0 || t.total() < best.total())
                    best = t;
            }
            std::printf("%-8s %8d %10.1f %10.1f %12.1f %10.1f %10.1f %10.1f %12.1f %12.1f %9.2f %12.1f\n",
                        grouped ? "grouped" : "flat", n, best.settings, best.window, best.recipients, best.shown,
                        best.total(), first.total(), best.burstRecords, best.burstShown, best.rootTip,
                        best.burstWithTip);
        }
    }
    return 0;
}
