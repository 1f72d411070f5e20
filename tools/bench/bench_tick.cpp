// Measures how long ticking (and unticking) "All clients" holds the console's window with a large
// directory: the main window with the recipient tree on screen (offscreen platform), the click
// handed to the model as the tree view hands it, then the events that follow and the repaint of the
// tree, until the window would take the next input.
//
//   QT_QPA_PLATFORM=offscreen plinket_bench_tick [clients ...]      default: 10000 100000 1500000
//
// Both shapes of generated_clients.h (grouped, flat) per size. Each tick is repeated (tick, untick,
// ...) and the median is printed: the recipient list's own work alone ("list"), then the whole click
// as the view hands it to the model (check states, the model's change notifications and the view's
// handling of them), and what follows (events, repaint).

#include "client_directory.h"
#include "console_icons.h"
#include "generated_clients.h"
#include "language.h"
#include "main_window.h"
#include "recipient_tree_model.h"
#include "status_images.h"
#include "templates.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace plinket;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QList<int> sizes;
    for (const QString& a : app.arguments().mid(1))
        sizes.append(std::clamp(a.toInt(), 1, 3000000));
    if (sizes.isEmpty())
        sizes = {10000, 100000, 1500000};

    std::printf("%-8s %9s %10s %10s %12s %14s %12s\n", "shape", "clients", "file MB", "list ms", "click ms",
                "events+paint", "total ms");
    for (const bool grouped : {true, false}) {
        for (const int n : sizes) {
            QTemporaryDir work;
            const QString path = work.filePath(u"clients.ini"_qs);
            const QByteArray ini = generatedClientsIni(n, grouped);
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(ini) != ini.size())
                qFatal("cannot write clients.ini");
            file.close();

            TemplateCatalog templates;
            QMutex lock;
            BroadcastSetting broadcast;
            const QList<QIcon> images = drawStatusImages(QApplication::palette().color(QPalette::Base));
            MainWindow window(MainWindowTexts::inLanguage(text(TextId::languageCode)), drawConsoleIcons(), templates,
                              work.filePath(u"templates.ini"_qs), broadcast, 5, 1);
            window.applyGeometry(WindowGeometry{});
            RecipientList recipients = loadRecipients(path);
            RecipientTreeModel model(recipients, lock, text(TextId::allClientsLabel), images);
            window.setRecipientModel(&model);
            window.show();
            while (!window.windowHandle() || !window.windowHandle()->isExposed())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            auto* tree = window.findChild<QTreeView*>(u"recipientTree"_qs);
            tree->viewport()->repaint();
            QCoreApplication::processEvents();

            std::vector<double> listOnly;
            std::vector<double> click;
            std::vector<double> after;
            for (int run = 0; run < 4; ++run) {
                QElapsedTimer t;
                t.start();
                {
                    QMutexLocker locker(&lock);
                    recipients.toggleCheck(0);
                }
                listOnly.push_back(double(t.nsecsElapsed()) / 1e6);
            }
            for (int run = 0; run < 3; ++run) {
                QElapsedTimer t;
                t.start();
                // What the view does for a click on the root's box.
                model.setData(model.index(0, 0), Qt::Checked, Qt::CheckStateRole);
                click.push_back(double(t.nsecsElapsed()) / 1e6);
                t.restart();
                QCoreApplication::processEvents();
                tree->viewport()->repaint();
                after.push_back(double(t.nsecsElapsed()) / 1e6);
            }
            std::printf("%-8s %9d %10.1f %10.1f %12.1f %14.1f %12.1f\n", grouped ? "grouped" : "flat", n,
                        double(ini.size()) / 1e6, median(listOnly), median(click), median(after),
                        median(click) + median(after));
            std::fflush(stdout);
        }
    }
    return 0;
}
