#pragma once

// What the client asks of the operating system at start-up; one implementation per platform.

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

} // namespace plinket
