#pragma once

// The eight status images shown beside the recipients. Image n is a set of delivery bits
// (1 delivered, 2 confirmed, 4 not delivered) and shows one segment per set bit, red, orange and
// green from left to right, on the window background colour.

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>

namespace plinket {

inline constexpr int STATUS_IMAGE_COUNT = 8;
inline constexpr int STATUS_IMAGE_SIZE = 10;

// One 10x10 image, 24-bit colour; numbers outside 0..7 use their low three bits.
QImage drawStatusImage(int number, const QColor& background);

// All eight, as icons indexed by image number. Needs a GUI application.
QList<QIcon> drawStatusImages(const QColor& background);

} // namespace plinket
