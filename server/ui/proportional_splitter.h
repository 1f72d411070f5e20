#pragma once

// A splitter whose two parts keep their proportion when it is resized. The position (length of
// the first part) set by the program or by dragging the separator records the share of the second
// part; a resize gives the second part floor((length - 4) * share) pixels and the first the rest.
// The separator is 4 pixels thick and neither part has a minimum size.

#include "layout_rules.h"

#include <QSplitter>

namespace plinket {

class ProportionalSplitter : public QSplitter {
    Q_OBJECT

public:
    // Qt::Vertical stacks the parts (a horizontal separator), Qt::Horizontal puts them side by side.
    explicit ProportionalSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);

    // Adds a part; its size policy is set so that it can shrink to nothing.
    void addPart(QWidget* widget);

    int position() const;
    void setPosition(int position);
    SplitterShare share() const { return m_share; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int length() const;
    void applySizes(int position);

    SplitterShare m_share;
};

} // namespace plinket
