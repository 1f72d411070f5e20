#pragma once

// An IPv4 address entry: four number fields of 0..255 separated by dots, shown as one framed
// field. An empty number field counts as 0.

#include <QFrame>

#include <array>

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
    // The user changed one of the numbers.
    void addressEdited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    std::array<QLineEdit*, 4> m_fields{};
};

} // namespace plinket
