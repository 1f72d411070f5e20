#pragma once

#include <QIcon>

namespace plinket {

// The client's program icon (taskbar and window list): a yellow note with three lines of text,
// drawn at the usual icon sizes so it needs no image files (the same drawing as the installed icon).
QIcon clientIcon();

} // namespace plinket
