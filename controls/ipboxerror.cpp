#include "ipboxerror.h"

namespace Controls {

IpBoxError::IpBoxError(int number, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_number(number)
    , m_description(description)
{}

QString IpBoxError::standardDescription(int number)
{
    switch (number) {
    case InvalidArgument:
        return QStringLiteral("Invalid procedure call or argument");
    case Overflow:
        return QStringLiteral("Overflow");
    case SubscriptOutOfRange:
        return QStringLiteral("Subscript out of range");
    case TypeMismatch:
        return QStringLiteral("Type mismatch");
    case BadAddressFormat:
        return QStringLiteral("Ip 地址格式错误\r\n正确的格式应该为: 255.255.255.255");
    default:
        return QStringLiteral("Error %1").arg(number);
    }
}

IpBoxError IpBoxError::fromNumber(int number)
{
    return IpBoxError(number, standardDescription(number));
}

} // namespace Controls
