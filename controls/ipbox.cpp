#include "ipbox.h"

#include "defaultaddress.h"

#include <QFontDatabase>
#include <QStringEncoder>
#include <QtEndian>

#include <array>
#include <cstring>

namespace Controls {

namespace {

// The packed address travels through four bytes in little-endian order, so that byte 0 holds
// the fourth field and byte 3 the first on every host.
using AddressBytes = std::array<quint8, 4>;

AddressBytes toBytes(quint32 packed)
{
    const quint32 littleEndian = qToLittleEndian(packed);
    AddressBytes bytes{};
    std::memcpy(bytes.data(), &littleEndian, bytes.size());
    return bytes;
}

quint32 fromBytes(const AddressBytes &bytes)
{
    quint32 littleEndian = 0;
    std::memcpy(&littleEndian, bytes.data(), bytes.size());
    return qFromLittleEndian(littleEndian);
}

// The 8-bit code of a character in the local 8-bit encoding, or -1 when it has no single-byte
// code there.
int eightBitCode(QChar c)
{
    QStringEncoder encoder(QStringEncoder::System, QStringConverter::Flag::Stateless);
    const QByteArray encoded = encoder.encode(QStringView(&c, 1));
    if (encoder.hasError() || encoded.size() != 1)
        return -1;
    return static_cast<unsigned char>(encoded.at(0));
}

// What may stand around a part of an address typed into the box.
bool isSpaceOrTab(QChar c)
{
    return c == u' ' || c == u'\t';
}

// One part of a dotted address as a byte: decimal digits with an optional sign, blanks around
// them allowed. "-0" is 0; any other negative number, like any number above 255, overflows.
quint8 toAddressByte(QStringView part)
{
    qsizetype begin = 0;
    qsizetype end = part.size();
    while (begin < end && isSpaceOrTab(part.at(begin)))
        ++begin;
    while (end > begin && isSpaceOrTab(part.at(end - 1)))
        --end;
    bool negative = false;
    if (begin < end && (part.at(begin) == u'+' || part.at(begin) == u'-')) {
        negative = part.at(begin) == u'-';
        ++begin;
    }
    if (begin == end)
        throw IpBoxError::fromNumber(IpBoxError::TypeMismatch);

    int value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const QChar c = part.at(i);
        if (c < u'0' || c > u'9')
            throw IpBoxError::fromNumber(IpBoxError::TypeMismatch);
        // Saturate above the limit, so that a long run of digits cannot wrap around.
        value = qMin(value * 10 + (c.unicode() - u'0'), 256);
    }
    if (value > 255 || (negative && value != 0))
        throw IpBoxError::fromNumber(IpBoxError::Overflow);
    return static_cast<quint8>(value);
}

} // namespace

ipBox::ipBox(QWidget *parent)
    : QWidget(parent)
{
    resize(DesignWidth, DesignHeight);
    UserControl_Initialize();
}

ipBox::~ipBox() = default;

qint16 ipBox::CountIF(const QString &lzExpr, const QString &nChar)
{
    // The count runs over the text's bytes with a 16-bit index: two bytes a character.
    constexpr qsizetype MaxBytes = 32767;
    if (lzExpr.size() > MaxBytes / 2)
        throw IpBoxError::fromNumber(IpBoxError::Overflow);
    if (lzExpr.isEmpty())
        return 0;
    if (nChar.isEmpty())
        throw IpBoxError::fromNumber(IpBoxError::InvalidArgument);

    // nChar does not change during the count, so its code is taken once.
    const int code = eightBitCode(nChar.at(0));
    const qint16 byteCount = static_cast<qint16>(lzExpr.size() * 2);
    qint16 count = 0;
    for (qint16 i = 0; i < byteCount; ++i) {
        // UTF-16LE: the low byte of each code unit comes first.
        const char16_t unit = lzExpr.at(i / 2).unicode();
        const int byte = i % 2 == 0 ? (unit & 0xFF) : (unit >> 8);
        if (byte == code)
            ++count;
    }
    return count;
}

void ipBox::CreateTextBox()
{
    hIpWnd = createInnerControl(QRect(0, 0, width(), height()));
    if (hIpWnd)
        hIpWnd->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
}

QString ipBox::Address() const
{
    return ReadAddressText();
}

void ipBox::setAddress(const QString &NewIP)
{
    if (CountIF(NewIP, QStringLiteral(".")) < 3)
        throw IpBoxError::fromNumber(IpBoxError::BadAddressFormat);

    const QList<QStringView> parts = QStringView(NewIP).split(u'.');
    // From the fourth part to the first, so the error of a later part is the one reported.
    AddressBytes bytes{};
    for (int part = 3; part >= 0; --part) {
        if (part >= parts.size())
            throw IpBoxError::fromNumber(IpBoxError::SubscriptOutOfRange);
        bytes[3 - part] = toAddressByte(parts.at(part));
    }
    if (hIpWnd)
        hIpWnd->setAddress(fromBytes(bytes));
}

QSize ipBox::sizeHint() const
{
    return {DesignWidth, DesignHeight};
}

void ipBox::resizeEvent(QResizeEvent *)
{
    UserControl_Resize();
}

IpAddressEdit *ipBox::createInnerControl(const QRect &geometry)
{
    auto *edit = new IpAddressEdit(this);
    edit->setGeometry(geometry);
    edit->show();
    return edit;
}

QString ipBox::ReadAddressText() const
{
    const quint32 packed = hIpWnd ? hIpWnd->address().packed : 0;
    const AddressBytes bytes = toBytes(packed);
    QStringList fields;
    for (int i = 3; i >= 0; --i)
        fields.append(QString::number(uint(bytes[i])));
    return fields.join(u'.');
}

void ipBox::UserControl_Initialize()
{
    CreateTextBox();
    setAddress(defaultIpBoxAddress());
}

void ipBox::UserControl_Resize()
{
    if (hIpWnd)
        hIpWnd->setGeometry(0, 0, width(), height());
}

} // namespace Controls
