#include <controls/ipaddressedit.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using Controls::IpAddressEdit;

// Keys in the typing scripts: these stand for special keys, every other character is typed.
static constexpr char16_t Backspace = u'⌫';
static constexpr char16_t Left = u'◀';
static constexpr char16_t Right = u'▶';

class tst_IpAddressEdit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void typing_data();
    void typing();
    void packedAddress_data();
    void packedAddress();
    void clearEmptiesEveryField();
    void paste_data();
    void paste();
    void tabLeavesTheEntry();

private:
    // Sends each key to whichever widget has the focus at that moment, as a keyboard would.
    static void typeKeys(const QString &keys);

    std::unique_ptr<QWidget> m_window;
    QLineEdit *m_before = nullptr;
    IpAddressEdit *m_edit = nullptr;
    QLineEdit *m_after = nullptr;
};

void tst_IpAddressEdit::init()
{
    m_window = std::make_unique<QWidget>();
    auto *layout = new QVBoxLayout(m_window.get());
    m_before = new QLineEdit;
    m_edit = new IpAddressEdit;
    m_after = new QLineEdit;
    layout->addWidget(m_before);
    layout->addWidget(m_edit);
    layout->addWidget(m_after);
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void tst_IpAddressEdit::cleanup()
{
    m_window.reset();
}

void tst_IpAddressEdit::typeKeys(const QString &keys)
{
    for (const QChar key : keys) {
        QWidget *target = QApplication::focusWidget();
        QVERIFY2(target, "no widget has the keyboard focus");
        switch (key.unicode()) {
        case Backspace:
            QTest::keyClick(target, Qt::Key_Backspace);
            break;
        case Left:
            QTest::keyClick(target, Qt::Key_Left);
            break;
        case Right:
            QTest::keyClick(target, Qt::Key_Right);
            break;
        default:
            QTest::keyClick(target, key.toLatin1());
            break;
        }
    }
}

void tst_IpAddressEdit::typing_data()
{
    QTest::addColumn<qint64>("initial"); // -1: the entry starts blank
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<quint32>("packed");
    QTest::addColumn<int>("filled");
    QTest::addColumn<int>("current");

    const qint64 blank = -1;
    // clang-format off
    QTest::newRow("dots between fields") << blank << "192.168.1.7"
            << QStringList{"192", "168", "1", "7"} << 0xC0A80107u << 4 << 3;
    QTest::newRow("three digits move on") << blank << "192168001007"
            << QStringList{"192", "168", "001", "007"} << 0xC0A80107u << 4 << 3;
    QTest::newRow("a value that cannot take a digit moves on") << blank << "2630"
            << QStringList{"26", "30", "", ""} << 0x1A1E0000u << 2 << 2;
    QTest::newRow("dot after a full field skips nothing") << blank << "255.1.2.3"
            << QStringList{"255", "1", "2", "3"} << 0xFF010203u << 4 << 3;
    QTest::newRow("dot in an empty field is ignored") << blank << ".1"
            << QStringList{"1", "", "", ""} << 0x01000000u << 1 << 0;
    QTest::newRow("blank moves on like a dot") << blank << "10 0 0 1"
            << QStringList{"10", "0", "0", "1"} << 0x0A000001u << 4 << 3;
    QTest::newRow("non-digits are ignored") << blank << "1a9b2-.x3"
            << QStringList{"192", "3", "", ""} << 0xC0030000u << 2 << 1;
    QTest::newRow("last field takes no more digits") << blank << "1.2.3.4567"
            << QStringList{"1", "2", "3", "45"} << 0x0102032Du << 4 << 3;
    QTest::newRow("256 is clamped and stays") << blank << "256"
            << QStringList{"255", "", "", ""} << 0xFF000000u << 1 << 0;
    QTest::newRow("clamped field passes the next digit on") << blank << "2567"
            << QStringList{"255", "7", "", ""} << 0xFF070000u << 2 << 1;
    QTest::newRow("digit put in front is clamped") << blank << QStringLiteral("19◀◀3")
            << QStringList{"255", "", "", ""} << 0xFF000000u << 1 << 0;
    QTest::newRow("backspace moves back at a field's start") << blank
            << QStringLiteral("192.168⌫⌫⌫⌫⌫⌫")
            << QStringList{"19", "", "", ""} << 0x13000000u << 1 << 0;
    QTest::newRow("backspace in the first field stays there") << blank << QStringLiteral("1⌫⌫")
            << QStringList{"", "", "", ""} << 0u << 0 << 0;
    QTest::newRow("left at a field's start moves back") << blank << QStringLiteral("1.2◀◀5")
            << QStringList{"15", "2", "", ""} << 0x0F020000u << 2 << 0;
    QTest::newRow("right at a field's end moves on") << blank << QStringLiteral("1.▶3")
            << QStringList{"1", "", "3", ""} << 0x01000300u << 2 << 2;
    QTest::newRow("digit at the end of a full field goes on") << blank << QStringLiteral("26◀5")
            << QStringList{"26", "5", "", ""} << 0x1A050000u << 2 << 1;
    QTest::newRow("typing over an address") << qint64(0x0A000001) << "192.168.1.7"
            << QStringList{"192", "168", "1", "7"} << 0xC0A80107u << 4 << 3;
    // clang-format on
}

void tst_IpAddressEdit::typing()
{
    QFETCH(qint64, initial);
    QFETCH(QString, keys);
    QFETCH(QStringList, fields);
    QFETCH(quint32, packed);
    QFETCH(int, filled);
    QFETCH(int, current);

    if (initial >= 0)
        m_edit->setAddress(quint32(initial));
    m_edit->setFieldFocus(0);
    typeKeys(keys);
    if (QTest::currentTestFailed())
        return;

    QStringList actual;
    for (int i = 0; i < IpAddressEdit::FieldCount; ++i)
        actual << m_edit->fieldText(i);
    QCOMPARE(actual, fields);
    const IpAddressEdit::Reading reading = m_edit->address();
    QCOMPARE(QString::number(reading.packed, 16), QString::number(packed, 16));
    QCOMPARE(reading.filledFields, filled);
    QCOMPARE(m_edit->isBlank(), filled == 0);
    QCOMPARE(m_edit->currentField(), current);
}

void tst_IpAddressEdit::packedAddress_data()
{
    QTest::addColumn<quint32>("packed");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("zero") << 0u << QStringList{"0", "0", "0", "0"};
    QTest::newRow("first field in the top byte") << 0x01020304u << QStringList{"1", "2", "3", "4"};
    QTest::newRow("private address") << 0xC0A87B64u << QStringList{"192", "168", "123", "100"};
    QTest::newRow("all ones") << 0xFFFFFFFFu << QStringList{"255", "255", "255", "255"};
}

void tst_IpAddressEdit::packedAddress()
{
    QFETCH(quint32, packed);
    QFETCH(QStringList, fields);

    m_edit->setAddress(packed);
    for (int i = 0; i < IpAddressEdit::FieldCount; ++i)
        QCOMPARE(m_edit->fieldText(i), fields.at(i));
    QCOMPARE(m_edit->address().packed, packed);
    // A field set to 0 is filled all the same.
    QCOMPARE(m_edit->address().filledFields, 4);
    QVERIFY(!m_edit->isBlank());
}

void tst_IpAddressEdit::clearEmptiesEveryField()
{
    m_edit->setAddress(0xC0A80107u);
    m_edit->clear();
    for (int i = 0; i < IpAddressEdit::FieldCount; ++i)
        QCOMPARE(m_edit->fieldText(i), QString());
    QCOMPARE(m_edit->address().packed, 0u);
    QCOMPARE(m_edit->address().filledFields, 0);
    QVERIFY(m_edit->isBlank());
}

void tst_IpAddressEdit::paste_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("field");

    // clang-format off
    QTest::newRow("digits") << "42" << "42";
    QTest::newRow("above 255") << "999" << "255";
    QTest::newRow("a whole address is refused") << "1.2.3.4" << "7";
    QTest::newRow("four digits are cut to three") << "1234" << "123";
    QTest::newRow("letters are refused") << "ab" << "7";
    // clang-format on
}

void tst_IpAddressEdit::paste()
{
    QFETCH(QString, clipboard);
    QFETCH(QString, field);

    m_edit->setAddress(0x07070707u);
    m_edit->setFieldFocus(1);
    QApplication::clipboard()->setText(clipboard);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(m_edit->fieldText(1), field);
    QCOMPARE(m_edit->fieldText(0), QStringLiteral("7"));
}

void tst_IpAddressEdit::tabLeavesTheEntry()
{
    // The entry is one tab stop: Tab from any field goes to the next widget, Shift+Tab to the
    // one before, and tabbing in lands in the first field.
    m_edit->setFieldFocus(1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_after);

    m_edit->setFieldFocus(2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), m_before);

    QTest::keyClick(m_before, Qt::Key_Tab);
    QCOMPARE(m_edit->currentField(), 0);
    QVERIFY(m_edit->isAncestorOf(QApplication::focusWidget()));
}

QTEST_MAIN(tst_IpAddressEdit)
#include "tst_ipaddressedit.moc"
