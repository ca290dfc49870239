#include <controls/defaultaddress.h>
#include <controls/ipbox.h>

#include <QtTest>

#include <optional>

using Controls::IpAddressEdit;
using Controls::ipBox;
using Controls::IpBoxError;

namespace {

const QString FormatDescription
        = QStringLiteral("Ip 地址格式错误\r\n正确的格式应该为: 255.255.255.255");

// A box whose inner control cannot be made once failNextCreation is set.
class FailingBox : public ipBox
{
public:
    bool failNextCreation = false;

protected:
    IpAddressEdit *createInnerControl(const QRect &geometry) override
    {
        if (failNextCreation)
            return nullptr;
        return ipBox::createInnerControl(geometry);
    }
};

// The error a call throws, or nothing.
template<typename Call>
std::optional<IpBoxError> errorOf(Call call)
{
    try {
        call();
    } catch (const IpBoxError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class tst_IpBox : public QObject
{
    Q_OBJECT

private slots:
    void startsAtDesignSizeAndDefaultAddress();

    void assign_data();
    void assign();
    void emptyInnerControlReadsZeros();
    void partlyFilledInnerControl();

    void resize_data();
    void resize();

    void withoutInnerControl();

    void countIF_data();
    void countIF();
    void countIFLimits_data();
    void countIFLimits();
};

void tst_IpBox::startsAtDesignSizeAndDefaultAddress()
{
    ipBox box;
    QCOMPARE(box.size(), QSize(132, 19));
    QCOMPARE(box.Address(), Controls::defaultIpBoxAddress());
    QVERIFY(box.innerControl());
    QCOMPARE(box.innerControl()->geometry(), QRect(0, 0, 132, 19));
}

void tst_IpBox::assign_data()
{
    QTest::addColumn<QString>("newIP");
    QTest::addColumn<int>("error"); // 0: accepted
    QTest::addColumn<QString>("address");

    const QString unchanged = QStringLiteral("10.20.30.40");
    const int format = IpBoxError::BadAddressFormat;
    const int overflow = IpBoxError::Overflow;
    const int mismatch = IpBoxError::TypeMismatch;
    const int index = IpBoxError::SubscriptOutOfRange;
    // clang-format off
    QTest::newRow("empty text") << "" << format << unchanged;
    QTest::newRow("two dots") << "1.2.3" << format << unchanged;
    QTest::newRow("ideographic full stops are no dots") << QStringLiteral("1。2。3。4") << format
            << unchanged;
    QTest::newRow("plain") << "192.168.1.7" << 0 << "192.168.1.7";
    QTest::newRow("bounds") << "0.255.0.255" << 0 << "0.255.0.255";
    QTest::newRow("five parts set the first four") << "1.2.3.4.5" << 0 << "1.2.3.4";
    QTest::newRow("trailing dot") << "1.2.3.4." << 0 << "1.2.3.4";
    QTest::newRow("five parts, the fifth not a number") << "1.2.3.4.x" << 0 << "1.2.3.4";
    QTest::newRow("leading zeros read back without them") << "010.001.000.099" << 0 << "10.1.0.99";
    QTest::newRow("blanks around a part") << " 1. 2 .3\t.4 " << 0 << "1.2.3.4";
    QTest::newRow("signs") << "+1.-0.2.3" << 0 << "1.0.2.3";
    QTest::newRow("256 in the last part") << "1.2.3.256" << overflow << unchanged;
    QTest::newRow("256 in the first part") << "256.1.1.1" << overflow << unchanged;
    QTest::newRow("negative part") << "-1.2.3.4" << overflow << unchanged;
    QTest::newRow("long run of digits") << "1.2.3.99999999999999999999" << overflow << unchanged;
    QTest::newRow("empty part") << "1..3.4" << mismatch << unchanged;
    QTest::newRow("empty last part") << "1.2.3." << mismatch << unchanged;
    QTest::newRow("letters") << "a.b.c.d" << mismatch << unchanged;
    QTest::newRow("blank inside a part") << "1 2.3.4.5" << mismatch << unchanged;
    QTest::newRow("sign alone") << "1.2.3.-" << mismatch << unchanged;
    QTest::newRow("non-ASCII digits") << QStringLiteral("1.2.3.\u0664") << mismatch << unchanged;
    QTest::newRow("overflow first, empty part later: later wins") << "256.1..4"
            << mismatch << unchanged;
    QTest::newRow("empty part first, overflow later: later wins") << "1..1.256"
            << overflow << unchanged;
    // U+2E2E has 0x2E in both bytes, so it counts as two dots but splits nothing.
    QTest::newRow("dots counted from one character") << QStringLiteral("1.2\u2E2E3")
            << index << unchanged;
    // clang-format on
}

void tst_IpBox::assign()
{
    QFETCH(QString, newIP);
    QFETCH(int, error);
    QFETCH(QString, address);

    ipBox box;
    box.setAddress(QStringLiteral("10.20.30.40"));
    const std::optional<IpBoxError> thrown = errorOf([&] { box.setAddress(newIP); });
    if (error == 0) {
        QVERIFY2(!thrown, thrown ? qPrintable(thrown->description()) : "");
    } else {
        QVERIFY(thrown);
        QCOMPARE(thrown->number(), error);
        QCOMPARE(thrown->description(), IpBoxError::standardDescription(error));
        QVERIFY(!thrown->description().isEmpty());
    }
    if (error == IpBoxError::BadAddressFormat)
        QCOMPARE(thrown->description(), FormatDescription);
    QCOMPARE(box.Address(), address);
}

void tst_IpBox::emptyInnerControlReadsZeros()
{
    ipBox box;
    box.innerControl()->clear();
    QCOMPARE(box.Address(), QStringLiteral("0.0.0.0"));
}

void tst_IpBox::partlyFilledInnerControl()
{
    // An empty field reads as 0 between filled ones.
    ipBox box;
    box.show();
    box.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    box.innerControl()->clear();
    box.innerControl()->setFieldFocus(2);
    QVERIFY(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), '7');
    QCOMPARE(box.innerControl()->fieldText(2), QStringLiteral("7"));
    QCOMPARE(box.Address(), QStringLiteral("0.0.7.0"));
}

void tst_IpBox::resize_data()
{
    QTest::addColumn<QSize>("size");

    QTest::newRow("design size") << QSize(132, 19);
    QTest::newRow("larger") << QSize(300, 40);
    QTest::newRow("narrower and lower") << QSize(60, 12);
    QTest::newRow("one pixel") << QSize(1, 1);
}

void tst_IpBox::resize()
{
    QFETCH(QSize, size);

    QWidget host;
    host.resize(400, 100);
    auto *box = new ipBox(&host);
    box->move(25, 30);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));

    box->resize(QSize(200, 25));
    box->resize(size);
    QCOMPARE(box->innerControl()->geometry(), QRect(QPoint(0, 0), size));
    // The address is untouched by resizing.
    QCOMPARE(box->Address(), Controls::defaultIpBoxAddress());
}

void tst_IpBox::withoutInnerControl()
{
    QWidget host;
    host.resize(400, 100);
    auto *box = new FailingBox;
    box->setParent(&host);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    IpAddressEdit *first = box->innerControl();
    QVERIFY(first);

    box->failNextCreation = true;
    box->CreateTextBox();
    QCOMPARE(box->innerControl(), nullptr);

    // Reading gives zeros; assigning validates but changes nothing; resizing does nothing.
    QCOMPARE(box->Address(), QStringLiteral("0.0.0.0"));
    QVERIFY(!errorOf([&] { box->setAddress(QStringLiteral("1.2.3.4")); }));
    QCOMPARE(box->Address(), QStringLiteral("0.0.0.0"));
    const std::optional<IpBoxError> error
            = errorOf([&] { box->setAddress(QStringLiteral("1.2")); });
    QVERIFY(error);
    QCOMPARE(error->number(), 102);
    QVERIFY(!errorOf([&] { box->resize(300, 30); }));
    QCOMPARE(first->geometry(), QRect(0, 0, 132, 19));
    QCOMPARE(first->address().packed, 0xC0A87B64u);

    // A later creation gives the box a new, blank inner control at its current size.
    box->failNextCreation = false;
    box->CreateTextBox();
    QVERIFY(box->innerControl());
    QVERIFY(box->innerControl() != first);
    QCOMPARE(box->innerControl()->geometry(), QRect(0, 0, 300, 30));
    QCOMPARE(box->Address(), QStringLiteral("0.0.0.0"));
    box->setAddress(QStringLiteral("1.2.3.4"));
    QCOMPARE(box->Address(), QStringLiteral("1.2.3.4"));
}

void tst_IpBox::countIF_data()
{
    QTest::addColumn<QString>("lzExpr");
    QTest::addColumn<QString>("nChar");
    QTest::addColumn<int>("count");

    // clang-format off
    QTest::newRow("empty text, empty character") << "" << "" << 0;
    QTest::newRow("empty text") << "" << "." << 0;
    QTest::newRow("empty text, long character") << "" << "ab" << 0;
    QTest::newRow("ASCII dots") << "192.168.1.7" << "." << 3;
    QTest::newRow("only the first character counts") << "a.b.c" << ".a" << 2;
    QTest::newRow("none") << "abc" << "." << 0;
    // U+2E2E: both bytes are 0x2E.
    QTest::newRow("U+2E2E counts twice") << QStringLiteral("1\u2E2E2") << "." << 2;
    // U+4E00 U+002E U+4E8C: 00 4E 2E 00 8C 4E.
    QTest::newRow("dot inside CJK text") << QStringLiteral("一.二") << "." << 1;
    QTest::newRow("high bytes of CJK text") << QStringLiteral("一.二") << "N" << 2;
    // U+3002: 02 30, no 0x2E but a 0x30.
    QTest::newRow("ideographic full stop is no dot") << QStringLiteral("1。2。3。4") << "." << 0;
    QTest::newRow("ideographic full stop has a '0' byte") << QStringLiteral("。") << "0" << 1;
    // U+202E: 2E 20.
    QTest::newRow("U+202E low byte") << QStringLiteral("\u202E") << "." << 1;
    QTest::newRow("U+202E high byte") << QStringLiteral("\u202E") << " " << 1;
    QTest::newRow("NUL matches the high byte of ASCII") << "abc" << QString(QChar(0)) << 3;
    // A character with no single-byte code matches no byte, not even its own low byte.
    QTest::newRow("CJK character to count") << QStringLiteral("\u4E2E\u4E2E")
            << QStringLiteral("\u4E2E") << 0;
    QTest::newRow("Latin-1 character to count") << QStringLiteral("\u00E9")
            << QStringLiteral("\u00E9") << 0;
    // clang-format on
}

void tst_IpBox::countIF()
{
    QFETCH(QString, lzExpr);
    QFETCH(QString, nChar);
    QFETCH(int, count);

    qint16 result = -1;
    const std::optional<IpBoxError> error
            = errorOf([&] { result = ipBox::CountIF(lzExpr, nChar); });
    QVERIFY2(!error, error ? qPrintable(error->description()) : "");
    QCOMPARE(int(result), count);
}

void tst_IpBox::countIFLimits_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("nChar");
    QTest::addColumn<int>("error"); // 0: counted
    QTest::addColumn<int>("count");

    // The texts are all dots: every low byte is 0x2E.
    QTest::newRow("16,383 characters") << 16383 << "." << 0 << 16383;
    QTest::newRow("16,384 characters") << 16384 << "." << int(IpBoxError::Overflow) << 0;
    QTest::newRow("much longer") << 100000 << "." << int(IpBoxError::Overflow) << 0;
    QTest::newRow("empty character") << 1 << "" << int(IpBoxError::InvalidArgument) << 0;
    QTest::newRow("too long and empty character") << 16384 << "" << int(IpBoxError::Overflow) << 0;
}

void tst_IpBox::countIFLimits()
{
    QFETCH(int, length);
    QFETCH(QString, nChar);
    QFETCH(int, error);
    QFETCH(int, count);

    const QString text(length, u'.');
    qint16 result = -1;
    const std::optional<IpBoxError> thrown = errorOf([&] { result = ipBox::CountIF(text, nChar); });
    if (error == 0) {
        QVERIFY(!thrown);
        QCOMPARE(int(result), count);
    } else {
        QVERIFY(thrown);
        QCOMPARE(thrown->number(), error);
    }

    // An address text that long fails the same way when assigned.
    if (error == IpBoxError::Overflow && !nChar.isEmpty()) {
        ipBox box;
        const std::optional<IpBoxError> assigned = errorOf([&] { box.setAddress(text); });
        QVERIFY(assigned);
        QCOMPARE(assigned->number(), int(IpBoxError::Overflow));
        QCOMPARE(box.Address(), Controls::defaultIpBoxAddress());
    }
}

QTEST_MAIN(tst_IpBox)
#include "tst_ipbox.moc"
