#include "proportional_splitter.h"

#include <QResizeEvent>

namespace plinket {

ProportionalSplitter::ProportionalSplitter(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent) {
    setHandleWidth(SPLITTER_HANDLE);
    setOpaqueResize(true);
    connect(this, &QSplitter::splitterMoved, this,
            [this](int pos, int) { m_share = shareForPosition(length(), pos, m_share); });
}

void ProportionalSplitter::addPart(QWidget* widget) {
    // QSplitter keeps each part at least at its minimum size hint; an Ignored policy makes that 0,
    // so the positions stored in the settings are honoured exactly, however small.
    widget->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    addWidget(widget);
}

int ProportionalSplitter::length() const {
    return orientation() == Qt::Horizontal ? width() : height();
}

int ProportionalSplitter::position() const {
    const QList<int> s = sizes();
    return s.isEmpty() ? 0 : s.first();
}

void ProportionalSplitter::setPosition(int position) {
    m_share = shareForPosition(length(), position, m_share);
    applySizes(positionForLength(length(), m_share));
}

void ProportionalSplitter::resizeEvent(QResizeEvent* event) {
    QSplitter::resizeEvent(event);
    applySizes(positionForLength(length(), m_share));
}

void ProportionalSplitter::applySizes(int position) {
    if (count() != 2)
        return;
    const int parts = std::max(0, length() - SPLITTER_HANDLE);
    setSizes({position, parts - position});
}

} // namespace plinket
