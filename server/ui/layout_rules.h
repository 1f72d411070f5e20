#pragma once

// Widget-free rules of the console's main window and its small windows: where the anchored controls
// go when the window is resized, how a splitter keeps the proportion of its two parts, how the
// broadcast address entry reads and writes its four numbers, and what a right-button click opens.
// Kept apart from the widgets so that they are tested without a screen.

#include <QRect>
#include <QSize>
#include <QString>

#include <array>

namespace plinket {

// The client size the window is created with and never shrinks below.
inline constexpr QSize MAIN_CLIENT_SIZE{455, 200};

// Positions of the controls that follow the window's size. At 455x200 they are the creation layout.
struct MainLayout {
    QRect paneSplitter;
    QRect timeoutPanel;
    QRect sendButton;
    QRect saveTemplateButton;
    QRect menuButton;
};

// The pane splitter has all four edges locked to the client area, so it grows with the window;
// the bottom row keeps its x and size and stays 50 pixels above the bottom edge.
MainLayout anchoredLayout(QSize clientSize);

// Splitter arithmetic. The separator is SPLITTER_HANDLE pixels thick; the position is the length
// of the first part. The share of the second part is kept as an exact fraction so that a resize
// back to the same length gives back the same position (a float would floor 171/431*431 to 170).
inline constexpr int SPLITTER_HANDLE = 4;

struct SplitterShare {
    qint64 numerator = 1;   // length of the second part when the share was recorded
    qint64 denominator = 2; // length of both parts then; a new splitter starts at one half
};

// The share after the position was set (by the program or by a drag) on a splitter of length
// `length`. The position is first clamped to 0..length-4. A splitter too short to have parts
// keeps `previous`, since no proportion can be read from it.
SplitterShare shareForPosition(int length, int position, SplitterShare previous);

// Length of the second part after a resize to `length`: floor((length - 4) * share), never below 0.
int secondPartLength(int length, SplitterShare share);

// Position (first part) after a resize to `length`.
int positionForLength(int length, SplitterShare share);

// The broadcast address entry: text to four numbers. Fields are the pieces between dots; each
// takes its leading decimal digits (none gives 0), a missing field gives 0; every number is kept
// within 0..255 since the entry cannot show more.
std::array<int, 4> parseDottedQuad(const QString& text);

// Four numbers as canonical dotted text: decimal without leading zeros, joined by ".".
QString formatDottedQuad(const std::array<int, 4>& numbers);

// Where a right button was pressed and released.
enum class PointerArea { Editor, TemplateList, Elsewhere };

// What the right-click of the main window does once the button is up.
enum class RightClickAction {
    None,
    EditorMenu,   // Cut / Copy / Paste at the pointer
    TemplateMenu, // Remove at the pointer, for the item under the pointer (already selected)
};

// Pressed and released in the editor: the editor menu. Pressed in the editor and released over the
// template list, or pressed and released in the template list: the template menu. Anything else,
// including a press in the template list released elsewhere, opens nothing.
RightClickAction rightClickAction(PointerArea pressedIn, PointerArea releasedIn);

// Whether the item under the pointer is selected for a right-click, and at which moment: a press
// in the template list selects at once; a press in the editor selects at release over the list.
bool selectsTemplateOnPress(PointerArea pressedIn);
bool selectsTemplateOnRelease(PointerArea pressedIn, PointerArea releasedIn);

} // namespace plinket
