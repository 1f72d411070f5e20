#include "layout_rules.h"

#include <QStringList>

#include <algorithm>

namespace plinket {

MainLayout anchoredLayout(QSize clientSize) {
    const int w = clientSize.width();
    const int h = clientSize.height();
    const int rowY = h - 50;
    return MainLayout{
        QRect(10, 10, std::max(0, w - 20), std::max(0, h - 70)),
        QRect(10, rowY, 45, 40),
        QRect(65, rowY, 160, 40),
        QRect(235, rowY, 160, 40),
        QRect(405, rowY, 40, 40),
    };
}

SplitterShare shareForPosition(int length, int position, SplitterShare previous) {
    const int parts = length - SPLITTER_HANDLE;
    if (parts <= 0)
        return previous;
    const int first = std::clamp(position, 0, parts);
    return SplitterShare{parts - first, parts};
}

int secondPartLength(int length, SplitterShare share) {
    const qint64 parts = length - SPLITTER_HANDLE;
    if (parts <= 0 || share.denominator <= 0)
        return 0;
    // Integer floor of parts * numerator / denominator; all terms are non-negative.
    return static_cast<int>(std::clamp<qint64>(parts * share.numerator / share.denominator, 0, parts));
}

int positionForLength(int length, SplitterShare share) {
    const int parts = length - SPLITTER_HANDLE;
    if (parts <= 0)
        return 0;
    return parts - secondPartLength(length, share);
}

std::array<int, 4> parseDottedQuad(const QString& text) {
    std::array<int, 4> numbers{0, 0, 0, 0};
    const QStringList fields = text.split(u'.');
    for (int i = 0; i < 4 && i < fields.size(); ++i) {
        int value = 0;
        for (const QChar c : fields[i]) {
            if (c < u'0' || c > u'9')
                break;
            value = std::min(value * 10 + (c.unicode() - u'0'), 256);
        }
        numbers[static_cast<size_t>(i)] = std::min(value, 255);
    }
    return numbers;
}

QString formatDottedQuad(const std::array<int, 4>& numbers) {
    QStringList parts;
    for (const int n : numbers)
        parts.append(QString::number(std::clamp(n, 0, 255)));
    return parts.join(u'.');
}

RightClickAction rightClickAction(PointerArea pressedIn, PointerArea releasedIn) {
    if (pressedIn == PointerArea::Editor && releasedIn == PointerArea::Editor)
        return RightClickAction::EditorMenu;
    if ((pressedIn == PointerArea::Editor || pressedIn == PointerArea::TemplateList) &&
        releasedIn == PointerArea::TemplateList)
        return RightClickAction::TemplateMenu;
    return RightClickAction::None;
}

bool selectsTemplateOnPress(PointerArea pressedIn) {
    return pressedIn == PointerArea::TemplateList;
}

bool selectsTemplateOnRelease(PointerArea pressedIn, PointerArea releasedIn) {
    return pressedIn == PointerArea::Editor && releasedIn == PointerArea::TemplateList;
}

} // namespace plinket
