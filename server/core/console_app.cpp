#include "console_app.h"

#include "client_directory.h"
#include "console_icons.h"
#include "crash_handler.h"
#include "end_program.h"
#include "eventlog.h"
#include "language.h"
#include "main_window.h"
#include "message_box.h"
#include "messaging_seam.h"
#include "messaging_texts.h"
#include "network_init.h"
#include "program_icons.h"
#include "recipient_tree_model.h"
#include "settings.h"
#include "signal_watcher.h"
#include "signing_key_file.h"
#include "startup_checks.h"
#include "status_images.h"
#include "templates.h"
#include "workstation_keys.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QPalette>
#include <QScreen>
#include <QSysInfo>

namespace plinket {

namespace {

// The crash report box: beside the console in the build tree, in libexec once installed.
QString crashBoxPath() {
    const QString dir = QCoreApplication::applicationDirPath();
    const QString beside = dir + u"/plinket_crash_box"_qs;
    return QFileInfo::exists(beside) ? beside
                                     : QDir::cleanPath(dir + u"/" PLINKET_CRASH_BOX_DIR "/plinket_crash_box"_qs);
}

QSize primaryDisplaySize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize();
}

QString selectLanguage(const QString& code) {
    const LanguageChoice choice = applyLanguage(code);
    if (choice.warningDue)
        showMessageBox(BoxIcon::Warning, WARNING_TITLE.toString(), LANGUAGE_WARNING.toString());
    return choice.code;
}

// The box for a signing key the console refuses to use, if any.
std::optional<QString> signingKeyProblem(const SigningKeyFile& signing) {
    const QString language = text(TextId::languageCode);
    const QString path = QDir::toNativeSeparators(signing.path);
    switch (signing.state) {
    case SigningKeyFile::State::Refused:
        return messagingText(language, MessagingTextId::keyRefused).arg(path, signing.problem);
    case SigningKeyFile::State::Damaged:
        return messagingText(language, MessagingTextId::keyDamaged).arg(path);
    case SigningKeyFile::State::Absent:
    case SigningKeyFile::State::Ready:
        break;
    }
    return std::nullopt;
}

[[noreturn]] void failStartup(const QString& message) {
    showMessageBox(BoxIcon::Error, text(TextId::errorTitle), message);
    endProgram();
}

} // namespace

void runConsole(int argc, char** argv) {
    // The working directory before anything can change it; every relative path is taken from it.
    const QString workingDirectory = QDir::currentPath() + u'/';

    QApplication app(argc, argv);
    // The window's icon, and the desktop entry the window belongs to (Wayland matches on it; X11 on
    // the window class "plinket_server", the program file's name).
    QApplication::setWindowIcon(programIcon(ProgramIcon::Console));
    QGuiApplication::setDesktopFileName(u"plinket-server"_qs);
    // The controls have fixed pixel sizes (a 160x40 button, a 45-pixel unit box, a 230-pixel donate
    // button); a narrow 8-point face keeps every caption inside them.
    QFont font(u"Liberation Sans"_qs, 8);
    font.setStyleHint(QFont::SansSerif);
    QApplication::setFont(font);
    // The program ends when the main window accepts its close, not when some window disappears.
    QApplication::setQuitOnLastWindowClosed(false);

    // Everything below lives until endProgram; worker threads may keep references to it.
    static RecipientList recipients;

    installCrashHandler(crashBoxPath());

    const QString settingsPath = settingsFilePath(workingDirectory);
    static ServerSettings settings = loadSettings(settingsPath, primaryDisplaySize(), selectLanguage);

    // Start-up checks: networking and the client directory report together, in one box.
    const bool networkReady = initNetworking();
    const QString clientsPath = localFilePath(settings.clientsPath, workingDirectory);
    const QString errorText = startupErrorText(networkReady, ensureClientsFile(clientsPath));
    if (!errorText.isEmpty())
        failStartup(errorText);

    // The signing key beside config.ini: none means unsigned messages; one that others could read or change,
    // or that cannot be read, is never used, and the console ends rather than send what workstations refuse.
    const SigningKeyFile signing = loadSigningKey(workingDirectory);
    if (const std::optional<QString> problem = signingKeyProblem(signing))
        failStartup(*problem);

    const ConsoleIcons icons = drawConsoleIcons();
    static TemplateCatalog templates;
    static QMutex recipientsLock;
    if (!registerEventSource(EventSource::Server))
        failStartup(text(TextId::errRegistryKey));

    // The images sit on the tree's background, the colour of text areas in the palette.
    const QList<QIcon> statusImages = drawStatusImages(QApplication::palette().color(QPalette::Base));

    static BroadcastSetting broadcast(BroadcastSnapshot{settings.broadcastEnabled, settings.broadcastAddress});
    static MainWindow window(MainWindowTexts::inLanguage(text(TextId::languageCode)), icons, templates,
                             localFilePath(settings.templatesPath, workingDirectory), broadcast, settings.waitCount,
                             settings.waitUnit);
    window.applyGeometry(WindowGeometry{settings.windowPosX, settings.windowPosY, settings.windowWidth,
                                        settings.windowHeight, settings.splitterHoriz, settings.splitterVertc});

    const MigrationResult migration = migrateClientsFile(clientsPath);
    if (migration.needsNotice())
        showMessageBox(migration.isProblem() ? BoxIcon::Warning : BoxIcon::None,
                       migration.isProblem() ? text(TextId::errorTitle) : MAIN_WINDOW_TITLE.toString(),
                       migrationNotice(migration, text(TextId::languageCode)));
    recipients = loadRecipients(clientsPath);
    static RecipientTreeModel treeModel(recipients, recipientsLock, text(TextId::allClientsLabel), statusImages);
    window.setRecipientModel(&treeModel);

    window.show();

    static ConsoleContext context{recipients, recipientsLock, broadcast, window, treeModel, text(TextId::languageCode),
                                  QString()};
    context.signingKey = signing.key;
    context.knownWorkstationsPath =
        QFileInfo(clientsPath).absoluteDir().filePath(QString::fromUtf16(KNOWN_WORKSTATIONS_FILE_NAME));
    startReportListener(context);
    context.senderName = QSysInfo::machineHostName().toUpper();
    static std::unique_ptr<DeliveryController> controller = createDeliveryController(context);
    window.setDeliveryController(controller.get());

    QObject::connect(&window, &MainWindow::closeAccepted, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // Ctrl+C in the terminal, a polite stop and a lost terminal close the console as its close box
    // does: a running waiting period is recorded and the settings are saved.
    static SignalWatcher stopSignals({StopSignal::Interrupt, StopSignal::Terminate, StopSignal::HangUp});
    QObject::connect(&stopSignals, &SignalWatcher::arrived, &window, &QWidget::close);
    app.exec();

    // Normal close: the window has let the messaging code close a running waiting period.
    storeWindowState(window, broadcast, settings);
    (void)saveSettings(settingsPath, settings, primaryDisplaySize());
    endProgram();
}

} // namespace plinket
