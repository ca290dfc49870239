#pragma once

#include <QString>

#include <stdexcept>

namespace Controls {

// The error an IP address box reports to its host: a number and a description. Hosts catch
// it where they assign an address or count characters; it never leaves a slot.
class IpBoxError : public std::runtime_error
{
public:
    // The numbers follow the classic Basic run-time errors, plus the box's own format error.
    enum Number : int {
        InvalidArgument = 5,     // CountIF with an empty character to count
        Overflow = 6,            // an address part outside 0 to 255, or a text too long to count
        SubscriptOutOfRange = 9, // fewer than four parts although three dots were counted
        TypeMismatch = 13,       // an address part that is not a number, or is empty
        BadAddressFormat = 102,  // fewer than three dots
    };

    IpBoxError(int number, const QString &description);

    int number() const noexcept { return m_number; }
    QString description() const { return m_description; }

    // The description the box gives with each of its error numbers.
    static QString standardDescription(int number);
    static IpBoxError fromNumber(int number);

private:
    int m_number;
    QString m_description;
};

} // namespace Controls
