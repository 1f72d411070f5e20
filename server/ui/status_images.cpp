#include "status_images.h"

#include <QPixmap>

namespace plinket {

namespace {

struct ColourPair {
    QColor outer;
    QColor inner;
};

const ColourPair GREY{QColor(192, 192, 192), QColor(220, 220, 220)};
const ColourPair ORANGE{QColor(255, 165, 0), QColor(255, 255, 0)};
const ColourPair GREEN{QColor(34, 139, 34), QColor(0, 255, 0)};
const ColourPair RED{QColor(178, 34, 34), QColor(255, 0, 0)};

// One segment: an outer rectangle and the inner one drawn over it.
struct Segment {
    const ColourPair* colours;
    QRect outer;
    QRect inner;
};

QList<Segment> segmentsOf(int number) {
    switch (number) {
    case 0:
        return {{&GREY, {2, 2, 6, 6}, {3, 3, 4, 4}}};
    case 1:
        return {{&ORANGE, {2, 2, 6, 6}, {3, 3, 4, 4}}};
    case 2:
        return {{&GREEN, {2, 2, 6, 6}, {3, 3, 4, 4}}};
    case 4:
        return {{&RED, {2, 2, 6, 6}, {3, 3, 4, 4}}};
    case 3:
        return {{&ORANGE, {2, 2, 3, 6}, {3, 3, 2, 4}}, {&GREEN, {5, 2, 3, 6}, {5, 3, 2, 4}}};
    case 5:
        return {{&RED, {2, 2, 3, 6}, {3, 3, 2, 4}}, {&ORANGE, {5, 2, 3, 6}, {5, 3, 2, 4}}};
    case 6:
        return {{&RED, {2, 2, 3, 6}, {3, 3, 2, 4}}, {&GREEN, {5, 2, 3, 6}, {5, 3, 2, 4}}};
    default: // 7
        return {{&RED, {2, 2, 2, 6}, {2, 3, 2, 4}},
                {&ORANGE, {4, 2, 2, 6}, {4, 3, 2, 4}},
                {&GREEN, {6, 2, 2, 6}, {6, 3, 2, 4}}};
    }
}

} // namespace

QImage drawStatusImage(int number, const QColor& background) {
    QImage image(STATUS_IMAGE_SIZE, STATUS_IMAGE_SIZE, QImage::Format_RGB888);
    image.fill(background);
    // Each rectangle is filled pixel by pixel: no painter, so no anti-aliasing or device scaling.
    auto fill = [&image](const QRect& r, const QColor& c) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                image.setPixelColor(x, y, c);
    };
    for (const Segment& s : segmentsOf(number & 7)) {
        fill(s.outer, s.colours->outer);
        fill(s.inner, s.colours->inner);
    }
    return image;
}

QList<QIcon> drawStatusImages(const QColor& background) {
    QList<QIcon> icons;
    for (int n = 0; n < STATUS_IMAGE_COUNT; ++n)
        icons.append(QIcon(QPixmap::fromImage(drawStatusImage(n, background))));
    return icons;
}

} // namespace plinket
