#pragma once

#include "ipaddressedit.h"
#include "ipboxerror.h"

#include <QWidget>

namespace Controls {

// A box for an IPv4 address that any window can place. It holds an IpAddressEdit at its
// top-left corner, as large as the box, and offers the address as dotted text. It starts at
// the printer's default address, raises no signals and shows no messages: Address assignment
// and CountIF report failures by throwing IpBoxError.
class ipBox : public QWidget
{
    Q_OBJECT

public:
    static constexpr int DesignWidth = 132;
    static constexpr int DesignHeight = 19;

    explicit ipBox(QWidget *parent = nullptr);
    ~ipBox() override;

    // How many bytes of lzExpr's UTF-16LE form equal the 8-bit code of nChar's first character.
    // Throws IpBoxError: Overflow for a text of 16,384 characters or more, InvalidArgument when
    // nChar is empty and lzExpr is not.
    static qint16 CountIF(const QString &lzExpr, const QString &nChar);

    // Creates a new inner control at the box's size and sets its font; the box keeps only the
    // newest one.
    void CreateTextBox();

    // The address as dotted decimal text; "0.0.0.0" when there is no inner control.
    QString Address() const;
    // Sets the address from dotted decimal text, or throws IpBoxError and changes nothing.
    void setAddress(const QString &NewIP);

    // The inner control, or nullptr when it could not be created.
    IpAddressEdit *innerControl() const { return hIpWnd; }

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

    // Makes the inner control, a visible child of the box; returns nullptr when it cannot be
    // made. The box's constructor always uses this base version; an override applies to later
    // CreateTextBox() calls.
    virtual IpAddressEdit *createInnerControl(const QRect &geometry);

private:
    QString ReadAddressText() const;
    void UserControl_Initialize();
    void UserControl_Resize();

    IpAddressEdit *hIpWnd = nullptr;
};

} // namespace Controls
