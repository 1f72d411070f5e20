#pragma once

// The two programs' icons, drawn in code: the same drawing gives each program its window icon and, at
// build time, the icon files installed for the desktop menu (tools/plinket_icons). No image file can be
// missing or out of step with the other.

#include <QIcon>
#include <QImage>

namespace plinket {

enum class ProgramIcon {
    Client,  // a yellow note with three lines of text
    Console, // a screen showing that note
};

// The sizes of the installed icon files and of the window icons.
inline constexpr int PROGRAM_ICON_SIZES[] = {16, 22, 24, 32, 48, 64, 128, 256};

// One picture, size x size pixels, transparent around it. Needs no application object.
QImage drawProgramIcon(ProgramIcon which, int size);

// All sizes in one icon, for a window. Needs a GUI application.
QIcon programIcon(ProgramIcon which);

} // namespace plinket
