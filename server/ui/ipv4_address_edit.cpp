#include "ipv4_address_edit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace plinket {

Ipv4AddressEdit::Ipv4AddressEdit(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 0, 1, 0);
    layout->setSpacing(0);
    for (size_t i = 0; i < m_fields.size(); ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setBackgroundRole(QPalette::Base);
            layout->addWidget(dot);
        }
        auto* f = new QLineEdit(this);
        f->setObjectName(QStringLiteral("octet%1").arg(i + 1));
        f->setFrame(false);
        f->setAlignment(Qt::AlignCenter);
        f->setMaxLength(3);
        f->setValidator(new QIntValidator(0, 255, f));
        f->setTextMargins(0, 0, 0, 0);
        f->setMinimumWidth(1);
        f->installEventFilter(this);
        layout->addWidget(f, 1);
        connect(f, &QLineEdit::textEdited, this, [this, f, i](const QString& text) {
            emit addressEdited();
            // Like the usual address entries: three digits move on to the next number.
            if (text.size() == 3 && i + 1 < m_fields.size() && f->cursorPosition() == 3) {
                m_fields[i + 1]->setFocus();
                m_fields[i + 1]->selectAll();
            }
        });
        m_fields[i] = f;
    }
}

std::array<int, 4> Ipv4AddressEdit::address() const {
    std::array<int, 4> numbers{};
    for (size_t i = 0; i < m_fields.size(); ++i)
        numbers[i] = std::clamp(m_fields[i]->text().toInt(), 0, 255);
    return numbers;
}

void Ipv4AddressEdit::setAddress(const std::array<int, 4>& numbers) {
    for (size_t i = 0; i < m_fields.size(); ++i)
        m_fields[i]->setText(QString::number(numbers[i]));
}

bool Ipv4AddressEdit::eventFilter(QObject* watched, QEvent* event) {
    // A typed dot moves on to the next number.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Period) {
        for (size_t i = 0; i + 1 < m_fields.size(); ++i) {
            if (m_fields[i] == watched) {
                m_fields[i + 1]->setFocus();
                m_fields[i + 1]->selectAll();
                return true;
            }
        }
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void Ipv4AddressEdit::changeEvent(QEvent* event) {
    // A disabled entry looks disabled as a whole, background included.
    if (event->type() == QEvent::EnabledChange)
        setBackgroundRole(isEnabled() ? QPalette::Base : QPalette::Window);
    QFrame::changeEvent(event);
}

} // namespace plinket
