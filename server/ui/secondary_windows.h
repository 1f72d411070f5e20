#pragma once

// The three small windows opened from the main menu: Settings, Changelog and About. Each is created
// anew when its menu item is chosen and deleted when it is closed. While one is open the main window
// takes no input, drops its own timer events and turns its close request into closing the secondary
// window (MainWindow does all of that). They are deliberately not modal in the toolkit's sense: a
// window blocked by a modal one never hears of a close request from the window manager, so closing
// the main window would do nothing at all.

#include "broadcast_setting.h"

#include <QUrl>
#include <QWidget>

class QCheckBox;
class QTextBrowser;

namespace plinket {

class Ipv4AddressEdit;

// The two web pages of the About window.
inline const QUrl FORUM_URL{QStringLiteral("https://forum.plinket.example.org/t/plinket-server")};
inline const QUrl DONATE_URL{QStringLiteral("https://plinket.example.org/donate")};
// Shown after FORUM_CAPTION_PREFIX in the forum link, in both languages.
inline constexpr auto FORUM_NAME = u"Plinket";

// Base of the three: a fixed-size top-level window owned by the main window, with a title and a
// close box only, centred on the screen, deleted when closed.
class SecondaryWindow : public QWidget {
    Q_OBJECT

public:
    SecondaryWindow(QWidget* owner, const QString& title, QSize clientSize, bool alwaysOnTop);

    // Shows the window and returns at once; the window deletes itself when closed.
    void open();
};

class SettingsWindow final : public SecondaryWindow {
    Q_OBJECT

public:
    // Reads the broadcast setting now and writes every change back to it at once.
    SettingsWindow(QWidget* owner, const QString& title, const QString& broadcastLabel, BroadcastSetting& setting);

private:
    void updateEnabled();

    BroadcastSetting& m_setting;
    QCheckBox* m_checkBox = nullptr;
    Ipv4AddressEdit* m_addressField = nullptr;
};

class ChangelogWindow final : public SecondaryWindow {
    Q_OBJECT

public:
    ChangelogWindow(QWidget* owner, const QString& title);
};

class AboutWindow final : public SecondaryWindow {
    Q_OBJECT

public:
    AboutWindow(QWidget* owner, const QString& title, const QString& donateLabel);
};

// The two Russian documents, from the program's resources.
QString changelogDocument();
QString aboutDocument();

} // namespace plinket
