#pragma once

#include <QWidget>

#include <array>

namespace Controls {

class IpAddressField;

// An IPv4 address entry of four fields, each 0 to 255, with the keyboard behaviour people
// know from desktop IP-address boxes: digits only, a dot or a full field moves on to the next
// field, backspace at the start of a field goes back to the previous one, and a value above
// 255 is corrected to 255. The whole entry is one tab stop.
//
// The font is set with QWidget::setFont(); the fields follow it.
class IpAddressEdit : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FieldCount = 4;

    // What the entry holds: the four fields packed into one value, first field in bits 24-31
    // and fourth in bits 0-7 (an empty field counts as 0), and how many fields hold a number.
    struct Reading
    {
        quint32 packed = 0;
        int filledFields = 0;
    };

    explicit IpAddressEdit(QWidget *parent = nullptr);
    ~IpAddressEdit() override;

    Reading address() const;
    // Fills all four fields from a packed value (first field in bits 24-31).
    void setAddress(quint32 packed);
    // Empties all four fields.
    void clear();
    bool isBlank() const;

    // Puts the keyboard focus into one field (0 to 3) with its text selected.
    void setFieldFocus(int index);
    // The field that has, or last had, the keyboard focus; -1 before any had it.
    int currentField() const;
    QString fieldText(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    friend class IpAddressField;

    enum class Entry { SelectAll, AtStart, AtEnd };

    void enterField(int index, Entry entry, Qt::FocusReason reason = Qt::OtherFocusReason);
    int frameWidth() const;
    int separatorWidth() const;
    QRect separatorRect(int gap) const;
    void layoutFields();

    std::array<IpAddressField *, FieldCount> m_fields{};
    bool m_leavingBackward = false;
};

} // namespace Controls
