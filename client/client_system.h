#pragma once

// What the client asks of the operating system at start-up; one implementation per platform.

#include <QByteArray>
#include <QString>

#include <optional>

namespace plinket {

struct HostNames {
    QString hostName; // upper-cased
    QString fqdn;     // upper-cased
};

// This computer's host name and full DNS name. Empty when the system's name functions cannot be reached
// at all (Windows: Ws2_32.dll or its GetNameInfoW); the caller then shows its box and ends.
std::optional<HostNames> localHostNames();

// Whether pop-ups fade in and out: only on systems older than Windows Vista, so never on a system
// that can run this program today.
bool systemWantsFadeEffects();

// False when the program has no screen to show pop-ups on (Linux: no X11 or Wayland display named
// and no other platform chosen). The program then ends quietly instead of letting the toolkit abort.
bool displayAvailable();

// The toolkit platform the client asks for, given the user's QT_QPA_PLATFORM (empty when unset). On Linux:
// X11 first, through XWayland on a Wayland session, where a window can be placed and kept above the
// others, and Wayland only where there is no X11; a platform the user chose stays. Elsewhere: the user's.
QByteArray preferredPlatform(const QByteArray& userChoice);

// Applies preferredPlatform() to this process; must run before the application object exists.
void choosePlatform();

} // namespace plinket
