#include "popup_visibility.h"

namespace plinket {

QString hindranceText(Hindrance hindrance) {
    switch (hindrance) {
    case Hindrance::Locked:
        return QStringLiteral("screen locked");
    case Hindrance::Blanked:
        return QStringLiteral("screen blanked");
    case Hindrance::ShowingDesktop:
        return QStringLiteral("hidden by show desktop");
    case Hindrance::OtherWorkspace:
        return QStringLiteral("on another workspace");
    case Hindrance::Minimised:
        return QStringLiteral("minimised");
    case Hindrance::Shaded:
        return QStringLiteral("rolled up");
    case Hindrance::NotShown:
        return QStringLiteral("not shown by the window manager");
    case Hindrance::Covered:
        return QStringLiteral("covered by another window");
    }
    return {};
}

std::optional<Hindrance> firstHindrance(const DesktopView& view) {
    if (view.locked)
        return Hindrance::Locked;
    if (view.blanked)
        return Hindrance::Blanked;
    if (view.showingDesktop)
        return Hindrance::ShowingDesktop;
    if (view.otherWorkspace)
        return Hindrance::OtherWorkspace;
    if (view.minimised)
        return Hindrance::Minimised;
    if (view.shaded)
        return Hindrance::Shaded;
    if (!view.viewable)
        return Hindrance::NotShown;
    if (view.covered)
        return Hindrance::Covered;
    return std::nullopt;
}

} // namespace plinket
