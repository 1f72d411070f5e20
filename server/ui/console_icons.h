#pragma once

// The five small pictures of the main window: the menu button's and those of the Cut, Copy, Paste
// and Remove menu items. Drawn in code at start-up, so there is no image file that could be
// missing or unreadable.

#include <QIcon>

namespace plinket {

struct ConsoleIcons {
    QIcon menuButtonIcon; // 28x28
    QIcon cutIcon;        // 16x16
    QIcon copyIcon;
    QIcon pasteIcon;
    QIcon removeIcon;
};

// Needs a GUI application.
ConsoleIcons drawConsoleIcons();

} // namespace plinket
