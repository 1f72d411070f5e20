#pragma once

// config.ini: the console's settings, read once at start-up and written once at a normal exit.
//
// Groups and keys: [Common] Language, ScreenRes, WindowPosX, WindowPosY, WindowWidth, WindowHeight,
// SplitterHoriz, SplitterVertc; [Paths] Clients, Templates; [Messages] Timer, Measure, Broadcast,
// Broadcast_IP. Written with one empty line before each header but the first, and with the
// byte-order mark directly followed by the first entry. The stored geometry is used only on a
// display of the size it was saved on.
//
// Widget-free: the display size and the window geometry come in as plain values.

#include <QSize>
#include <QString>

#include <functional>

namespace plinket {

// As windowPosX or windowPosY: the window keeps the centred place it was opened at.
inline constexpr qint32 NO_POSITION = -65535;

struct ServerSettings {
    QString language = QStringLiteral("RU"); // the code in effect, as written back at exit
    qint32 windowPosX = NO_POSITION;
    qint32 windowPosY = NO_POSITION;
    qint32 windowWidth = 455;
    qint32 windowHeight = 200;
    qint32 splitterHoriz = 80;
    qint32 splitterVertc = 260;
    QString clientsPath = QStringLiteral(".\\clients.ini");     // as stored; see localFilePath
    QString templatesPath = QStringLiteral(".\\templates.ini"); // as stored; see localFilePath
    qint32 waitCount = 5;
    qint32 waitUnit = 1; // 0 seconds, 1 minutes, 2 hours
    qint32 broadcastEnabled = 0;
    QString broadcastAddress;
};

// "config.ini" in the working directory.
QString settingsFilePath(const QString& workingDirectory);

// A stored path (Windows style, ".\clients.ini") as a path on this system: backslashes are folder
// separators, and a relative path is taken from the working directory. The stored text itself is
// kept as it is and written back unchanged.
QString localFilePath(const QString& storedPath, const QString& workingDirectory);

// The display size as stored under ScreenRes: width "*" height.
QString screenResText(QSize displaySize);

// Applies a language code and returns the code in effect. The console passes a function that
// calls applyLanguage and shows the warning box when it is due; it is called with the stored
// Language, and again with "RU" whenever the defaults take over (no file, or another display
// size), so the last call decides.
using LanguageSelector = std::function<QString(const QString& code)>;

// Reads config.ini. Missing or unreadable: every default, language "RU". Saved on a display of
// another size: geometry, waiting period and language back to their defaults, while the paths and
// the broadcast settings keep their stored values. Without a selector only "RU" and "EN" are taken.
ServerSettings loadSettings(const QString& settingsPath, QSize displaySize,
                            const LanguageSelector& selectLanguage = {});

// Writes every setting into config.ini (the caller has copied the window's current geometry into
// `settings`), keeping comments, unknown keys and the order of what is already there. A file that
// can be opened only for reading, or that exists but cannot be read at all (permissions, not a
// regular file), keeps its content. False when nothing could be written.
bool saveSettings(const QString& settingsPath, const ServerSettings& settings, QSize displaySize);

} // namespace plinket
