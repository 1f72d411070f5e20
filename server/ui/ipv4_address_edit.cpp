#include "ipv4_address_edit.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

#include <optional>

namespace plinket {

namespace {

constexpr int LAST = 3;

bool isDigits(QStringView text) {
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

// A text that is a whole dotted address: four numbers of one to three digits, each at most 255,
// blanks and line breaks around it allowed (as copied from elsewhere).
std::optional<std::array<int, 4>> wholeAddress(const QString& text) {
    const QStringList parts = text.trimmed().split(u'.');
    if (parts.size() != 4)
        return std::nullopt;
    std::array<int, 4> numbers{};
    for (size_t i = 0; i < numbers.size(); ++i) {
        const QString& part = parts[qsizetype(i)];
        if (part.isEmpty() || part.size() > 3 || !isDigits(part) || part.toInt() > 255)
            return std::nullopt;
        numbers[i] = part.toInt();
    }
    return numbers;
}

// One number: up to three digits of at most 255. A whole dotted address is let in too, on its way
// from a paste or a drop: the entry then spreads it over the four numbers.
class NumberValidator final : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override {
        if (input.contains(u'.'))
            return wholeAddress(input) ? Acceptable : Invalid;
        return input.size() <= 3 && isDigits(input) && input.toInt() <= 255 ? Acceptable : Invalid;
    }
};

bool isModifierKey(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
           key == Qt::Key_AltGr;
}

} // namespace

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
        f->setValidator(new NumberValidator(f));
        f->setTextMargins(0, 0, 0, 0);
        f->setMinimumWidth(1);
        f->installEventFilter(this);
        layout->addWidget(f, 1);
        connect(f, &QLineEdit::textEdited, this, [this, i](const QString& text) { onTextEdited(int(i), text); });
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
    m_movedOnTo = -1;
}

void Ipv4AddressEdit::enter(int i, Entry how) {
    QLineEdit* f = field(i);
    f->setFocus(Qt::OtherFocusReason);
    if (how == Entry::SelectAll)
        f->selectAll();
    else
        f->setCursorPosition(how == Entry::AtStart ? 0 : int(f->text().size()));
}

void Ipv4AddressEdit::onTextEdited(int i, const QString& text) {
    m_typedInto = i;
    if (text.contains(u'.')) {
        // A whole address pasted or dropped into one number (the validator lets nothing else in).
        if (const std::optional<std::array<int, 4>> numbers = wholeAddress(text)) {
            setAddress(*numbers);
            enter(LAST, Entry::AtEnd);
        }
        emit addressEdited();
        return;
    }
    emit addressEdited();
    if (text.size() == 3 && i < LAST && field(i)->cursorPosition() == 3) {
        enter(i + 1, Entry::SelectAll);
        m_movedOnTo = i + 1;
    }
}

bool Ipv4AddressEdit::handleKey(int i, QKeyEvent* event) {
    QLineEdit* f = field(i);
    const bool justMovedOn = m_movedOnTo == i;
    if (!isModifierKey(event->key()))
        m_movedOnTo = -1;
    const bool plain = !(event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier));
    const bool caretAlone = !f->hasSelectedText();
    switch (event->key()) {
    case Qt::Key_Period:
    case Qt::Key_Comma: // the keypad's decimal key in many locales
        if (!justMovedOn && !f->text().isEmpty() && i < LAST)
            enter(i + 1, Entry::SelectAll);
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_Left:
        if (plain && caretAlone && i > 0 && f->cursorPosition() == 0) {
            enter(i - 1, Entry::AtEnd);
            return true;
        }
        return false;
    case Qt::Key_Right:
        if (plain && caretAlone && i < LAST && f->cursorPosition() == f->text().size()) {
            enter(i + 1, Entry::AtStart);
            return true;
        }
        return false;
    default:
        // A lone 0 that was there before the focus came stands for an empty number: the first digit
        // typed replaces it (one typed here is kept, as in 007).
        if (plain && caretAlone && m_typedInto != i && f->text() == u"0" && event->text().size() == 1 &&
            isDigits(event->text()))
            f->clear();
        return false;
    }
}

bool Ipv4AddressEdit::eventFilter(QObject* watched, QEvent* event) {
    int i = 0;
    while (i <= LAST && m_fields[size_t(i)] != watched)
        ++i;
    if (i > LAST)
        return QFrame::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress:
        return handleKey(i, static_cast<QKeyEvent*>(event));
    case QEvent::FocusIn:
        m_typedInto = -1;
        m_clickedInto = static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason ? i : -1;
        break;
    case QEvent::MouseButtonRelease:
        // The click that brought the focus here selects the whole number (unless it dragged a
        // selection of its own); a further click places the caret as usual.
        if (m_clickedInto == i && !field(i)->hasSelectedText())
            field(i)->selectAll();
        m_clickedInto = -1;
        break;
    default:
        break;
    }
    return false;
}

void Ipv4AddressEdit::changeEvent(QEvent* event) {
    // A disabled entry looks disabled as a whole, background included.
    if (event->type() == QEvent::EnabledChange)
        setBackgroundRole(isEnabled() ? QPalette::Base : QPalette::Window);
    QFrame::changeEvent(event);
}

} // namespace plinket
