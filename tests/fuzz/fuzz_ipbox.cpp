// Fuzz target for the IP address box: any text assigned as the address, and any text and
// character counted by CountIF. The first byte chooses the call and how the rest reads.
#include <controls/ipbox.h>
#include <controls/ipboxerror.h>

#include <QApplication>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using Controls::ipBox;
using Controls::IpBoxError;

namespace {

ipBox *box = nullptr;

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Dotted decimal as the box shows it: four numbers 0 to 255, no blanks, no leading zeros.
bool isShownAddress(const QString &text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok);
        if (!ok || value > 255 || part != QString::number(value))
            return false;
    }
    return true;
}

void assign(const QString &text)
{
    const QString before = box->Address();
    try {
        box->setAddress(text);
    } catch (const IpBoxError &error) {
        const int n = error.number();
        check(n == IpBoxError::Overflow || n == IpBoxError::SubscriptOutOfRange
                      || n == IpBoxError::TypeMismatch || n == IpBoxError::BadAddressFormat,
              "unexpected error number from setAddress");
        check(!error.description().isEmpty(), "error without a description");
        check(box->Address() == before, "a refused address changed the box");
        return;
    }
    check(text.count(u'.') >= 3, "an address with fewer than three dots was taken");
    const QString shown = box->Address();
    check(isShownAddress(shown), "the box shows no dotted address");
    // What the box shows, assigned again, leaves it as it is.
    box->setAddress(shown);
    check(box->Address() == shown, "the shown address does not read back");
}

void count(const QString &text, const QString &character)
{
    qint16 result = 0;
    try {
        result = ipBox::CountIF(text, character);
    } catch (const IpBoxError &error) {
        if (error.number() == IpBoxError::Overflow)
            check(text.size() >= 16384, "overflow for a short text");
        else
            check(error.number() == IpBoxError::InvalidArgument && character.isEmpty()
                          && !text.isEmpty(),
                  "unexpected error from CountIF");
        return;
    }
    check(text.size() < 16384, "no overflow for a long text");
    check(result >= 0 && result <= 2 * text.size(), "count out of range");
    check(!text.isEmpty() || result == 0, "an empty text counts something");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);
    static ipBox theBox;
    box = &theBox;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = bytes[0];
    const auto *rest = reinterpret_cast<const char *>(bytes + 1);
    const auto restSize = qsizetype(size - 1);
    // UTF-8 for typed text; raw UTF-16 reaches every code unit, lone surrogates included.
    QString text;
    if (mode & 1) {
        std::vector<char16_t> units(std::size_t(restSize / 2));
        if (!units.empty())
            std::memcpy(units.data(), rest, units.size() * sizeof(char16_t));
        text = QString::fromUtf16(units.data(), qsizetype(units.size()));
    } else {
        text = QString::fromUtf8(rest, restSize);
    }
    if (!(mode & 2)) {
        assign(text);
        return 0;
    }
    // The character to count comes first, or none; the text is repeated to reach the limit.
    const QString character = mode & 4 ? QString() : text.left(1);
    const QString counted = text.mid(1).repeated(1 + (mode >> 3) * 8);
    count(counted, character);
    return 0;
}
