#include "ipaddressedit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>

namespace Controls {

namespace {

constexpr int MaxFieldValue = 255;
constexpr int MaxFieldDigits = 3;

// A field is complete when it has all its digits or when one more digit would take it past
// the maximum (26 cannot become 260), so the next digit belongs to the next field.
bool isComplete(const QString &text)
{
    return text.size() >= MaxFieldDigits || text.toInt() * 10 > MaxFieldValue;
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

class IpAddressField : public QLineEdit
{
public:
    IpAddressField(IpAddressEdit *owner, int index)
        : QLineEdit(owner)
        , m_owner(owner)
        , m_index(index)
    {
        setFrame(false);
        // The entry draws one panel behind all four fields.
        QPalette transparentBase = palette();
        transparentBase.setBrush(QPalette::Base, Qt::transparent);
        setPalette(transparentBase);
        setAlignment(Qt::AlignCenter);
        setMaxLength(MaxFieldDigits);
        // Pasted text obeys the same rule as typed text.
        setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[0-9]{0,3}")), this));
        // The fields are reached by click or by the entry's own navigation; Tab leaves the
        // entry as a whole.
        setFocusPolicy(Qt::ClickFocus);
        // Pasted text is corrected at once; typed digits are corrected in typeDigit().
        connect(this, &QLineEdit::textEdited, this, [this] {
            if (!m_typing)
                clampToMaximum();
        });
    }

    bool isFilled() const { return !text().isEmpty(); }
    int value() const { return text().toInt(); }

    void typeDigit(QChar digit)
    {
        if (atEnd() && isComplete(text())) {
            if (m_index + 1 < IpAddressEdit::FieldCount) {
                m_owner->enterField(m_index + 1, IpAddressEdit::Entry::SelectAll);
                m_owner->m_fields[m_index + 1]->typeDigit(digit);
            }
            return;
        }
        m_typing = true;
        insert(QString(digit));
        m_typing = false;
        // A corrected field keeps the focus, so that the user sees the change.
        if (clampToMaximum())
            return;
        if (atEnd() && isComplete(text()) && m_index + 1 < IpAddressEdit::FieldCount)
            m_owner->enterField(m_index + 1, IpAddressEdit::Entry::SelectAll);
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // Control and Alt combinations (copy, paste, undo) keep their line-edit meaning.
        const Qt::KeyboardModifiers modifiers
                = event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
        if (modifiers != Qt::NoModifier) {
            QLineEdit::keyPressEvent(event);
            return;
        }
        const bool nothingSelected = !hasSelectedText();
        switch (event->key()) {
        case Qt::Key_Backspace:
        case Qt::Key_Left:
            if (nothingSelected && cursorPosition() == 0 && m_index > 0) {
                m_owner->enterField(m_index - 1, IpAddressEdit::Entry::AtEnd);
                return;
            }
            break;
        case Qt::Key_Right:
            if (atEnd() && m_index + 1 < IpAddressEdit::FieldCount) {
                m_owner->enterField(m_index + 1, IpAddressEdit::Entry::AtStart);
                return;
            }
            break;
        default:
            break;
        }

        const QString typed = event->text();
        if (typed.size() != 1 || !typed.at(0).isPrint()) {
            QLineEdit::keyPressEvent(event);
            return;
        }
        const QChar c = typed.at(0);
        if (isAsciiDigit(c)) {
            typeDigit(c);
        } else if (c == u'.' || c == u' ') {
            // Only a field with a number, and the caret after it, moves on: after a full field
            // has already moved on, the dot the user types next must not skip a field.
            if (isFilled() && nothingSelected && cursorPosition() > 0
                && m_index + 1 < IpAddressEdit::FieldCount)
                m_owner->enterField(m_index + 1, IpAddressEdit::Entry::SelectAll);
        }
        // Any other character is not part of an address and is dropped.
        event->accept();
    }

    void focusInEvent(QFocusEvent *event) override
    {
        m_owner->m_leavingBackward = false;
        QLineEdit::focusInEvent(event);
        m_owner->update();
    }

    void focusOutEvent(QFocusEvent *event) override
    {
        if (event->reason() == Qt::BacktabFocusReason)
            m_owner->m_leavingBackward = true;
        QLineEdit::focusOutEvent(event);
        m_owner->update();
    }

private:
    bool atEnd() const { return !hasSelectedText() && cursorPosition() == text().size(); }

    bool clampToMaximum()
    {
        if (value() <= MaxFieldValue)
            return false;
        setText(QString::number(MaxFieldValue));
        return true;
    }

    IpAddressEdit *m_owner;
    int m_index;
    bool m_typing = false;
};

IpAddressEdit::IpAddressEdit(QWidget *parent)
    : QWidget(parent)
{
    setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);
    for (int i = 0; i < FieldCount; ++i)
        m_fields[i] = new IpAddressField(this, i);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    layoutFields();
}

IpAddressEdit::~IpAddressEdit() = default;

IpAddressEdit::Reading IpAddressEdit::address() const
{
    Reading reading;
    for (const IpAddressField *field : m_fields) {
        reading.packed = (reading.packed << 8) | quint32(field->value() & 0xFF);
        if (field->isFilled())
            ++reading.filledFields;
    }
    return reading;
}

void IpAddressEdit::setAddress(quint32 packed)
{
    for (int i = 0; i < FieldCount; ++i) {
        const int shift = 8 * (FieldCount - 1 - i);
        m_fields[i]->setText(QString::number((packed >> shift) & 0xFF));
    }
}

void IpAddressEdit::clear()
{
    for (IpAddressField *field : m_fields)
        field->clear();
}

bool IpAddressEdit::isBlank() const
{
    return address().filledFields == 0;
}

void IpAddressEdit::setFieldFocus(int index)
{
    if (index >= 0 && index < FieldCount)
        enterField(index, Entry::SelectAll);
}

int IpAddressEdit::currentField() const
{
    for (int i = 0; i < FieldCount; ++i) {
        if (focusWidget() == m_fields[i])
            return i;
    }
    return -1;
}

QString IpAddressEdit::fieldText(int index) const
{
    if (index < 0 || index >= FieldCount)
        return {};
    return m_fields[index]->text();
}

QSize IpAddressEdit::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const int fieldWidth = fm.horizontalAdvance(QStringLiteral("000")) + 6;
    const int width
            = FieldCount * fieldWidth + (FieldCount - 1) * separatorWidth() + 2 * frameWidth();
    return {width, fm.height() + 2 + 2 * frameWidth()};
}

QSize IpAddressEdit::minimumSizeHint() const
{
    return {FieldCount + (FieldCount - 1) * separatorWidth() + 2 * frameWidth(),
            fontMetrics().height() / 2 + 2 * frameWidth()};
}

void IpAddressEdit::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.rect = rect();
    panel.lineWidth = frameWidth();
    panel.midLineWidth = 0;
    panel.state |= QStyle::State_Sunken;
    if (currentField() >= 0 && m_fields[currentField()]->hasFocus())
        panel.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);

    painter.setPen(
            palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    for (int gap = 0; gap < FieldCount - 1; ++gap)
        painter.drawText(separatorRect(gap), Qt::AlignCenter, QStringLiteral("."));
}

void IpAddressEdit::resizeEvent(QResizeEvent *)
{
    layoutFields();
}

void IpAddressEdit::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        layoutFields();
    QWidget::changeEvent(event);
}

void IpAddressEdit::mousePressEvent(QMouseEvent *event)
{
    // A click between fields goes to the field nearest to it.
    const int x = event->position().toPoint().x();
    int nearest = 0;
    for (int i = 1; i < FieldCount; ++i) {
        if (x >= m_fields[i]->geometry().left() - separatorWidth() / 2)
            nearest = i;
    }
    enterField(nearest, Entry::AtEnd, Qt::MouseFocusReason);
    event->accept();
}

void IpAddressEdit::focusInEvent(QFocusEvent *event)
{
    // Shift+Tab from a field lands here first; it is meant for the widget before the entry.
    if (event->reason() == Qt::BacktabFocusReason && m_leavingBackward) {
        m_leavingBackward = false;
        focusNextPrevChild(false);
        return;
    }
    m_leavingBackward = false;
    const bool byKeyboard
            = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    const int index = byKeyboard || currentField() < 0 ? 0 : currentField();
    enterField(index, Entry::SelectAll, event->reason());
}

void IpAddressEdit::enterField(int index, Entry entry, Qt::FocusReason reason)
{
    IpAddressField *field = m_fields[index];
    field->setFocus(reason);
    switch (entry) {
    case Entry::SelectAll:
        field->selectAll();
        break;
    case Entry::AtStart:
        field->home(false);
        break;
    case Entry::AtEnd:
        field->end(false);
        break;
    }
    update();
}

int IpAddressEdit::frameWidth() const
{
    QStyleOptionFrame panel;
    panel.initFrom(this);
    return style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
}

int IpAddressEdit::separatorWidth() const
{
    return fontMetrics().horizontalAdvance(u'.') + 2;
}

QRect IpAddressEdit::separatorRect(int gap) const
{
    const QRect field = m_fields[gap]->geometry();
    return {field.right() + 1, field.top(), separatorWidth(), field.height()};
}

void IpAddressEdit::layoutFields()
{
    const QRect inner = rect().adjusted(frameWidth(), frameWidth(), -frameWidth(), -frameWidth());
    const int fieldsWidth = qMax(0, inner.width() - (FieldCount - 1) * separatorWidth());
    int x = inner.left();
    for (int i = 0; i < FieldCount; ++i) {
        // Spread the pixels that do not divide evenly over the first fields.
        const int width = fieldsWidth / FieldCount + (i < fieldsWidth % FieldCount ? 1 : 0);
        m_fields[i]->setGeometry(x, inner.top(), width, qMax(0, inner.height()));
        x += width + separatorWidth();
    }
    update();
}

} // namespace Controls
