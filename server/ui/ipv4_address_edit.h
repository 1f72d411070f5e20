#pragma once

// An IPv4 address entry: four number fields of 0..255 separated by dots, shown as one framed
// field. An empty number field counts as 0.
//
// It takes a whole address typed from any starting state the way the usual address entries do:
// three digits complete a number and move on to the next one, and the "." typed right after that
// is taken as the separator already passed; a "." after a shorter number moves on too. A number
// entered by a click, by "." or by moving on is selected whole, so what is typed replaces it, and a
// lone 0 shown before is replaced by the first digit typed. Backspace and the arrow keys cross into the
// neighbouring number at its edge. A whole dotted address pasted or dropped into any number fills
// all four.

#include <QFrame>

#include <array>

class QKeyEvent;
class QLineEdit;

namespace plinket {

class Ipv4AddressEdit : public QFrame {
    Q_OBJECT

public:
    explicit Ipv4AddressEdit(QWidget* parent = nullptr);

    std::array<int, 4> address() const;
    // Shows the numbers without emitting addressEdited.
    void setAddress(const std::array<int, 4>& numbers);
    QLineEdit* field(int i) const { return m_fields[static_cast<size_t>(i)]; }

signals:
    // The user changed one or more of the numbers.
    void addressEdited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class Entry { SelectAll, AtStart, AtEnd };
    void onTextEdited(int i, const QString& text);
    bool handleKey(int i, QKeyEvent* event);
    void enter(int i, Entry how);

    std::array<QLineEdit*, 4> m_fields{};
    // The number that three digits just moved on to, until the next key: a "." there is the
    // separator the user typed after those digits.
    int m_movedOnTo = -1;
    // The number that a click is giving the focus to; it is selected whole once the button is up.
    int m_clickedInto = -1;
    // The number typed into since it last got the focus.
    int m_typedInto = -1;
};

} // namespace plinket
