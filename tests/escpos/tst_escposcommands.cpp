#include <escpos/commands.h>

#include <QTest>

#include <functional>

using EscPos::DotImage;
using Action = std::function<void()>;
Q_DECLARE_METATYPE(Action)

namespace {

// An image of the size with the listed dots black.
DotImage image(int width, int height, const QList<QPoint> &black = {})
{
    DotImage dots = DotImage::blank(width, height);
    for (const QPoint &p : black)
        dots.setDot(p.x(), p.y(), true);
    return dots;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class tst_EscPosCommands : public QObject
{
    Q_OBJECT

private slots:
    void encodes_data();
    void encodes();
    void defineForm_data();
    void defineForm();
    void keys_data();
    void keys();
    void limits_data();
    void limits();
};

void tst_EscPosCommands::encodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");
    using namespace EscPos;
    QTest::newRow("ESC @") << initialize() << hex("1B40");
    QTest::newRow("FS p") << printNvBitImage(255, 3) << hex("1C70FF03");
    QTest::newRow("GS V") << cutPaper() << hex("1D564200");
    QTest::newRow("DLE EOT 1") << realtimeStatus(1) << hex("100401");
    QTest::newRow("DLE EOT 4") << realtimeStatus(4) << hex("100404");
    QTest::newRow("GS I 1") << transmitPrinterId(1) << hex("1D4901");
    QTest::newRow("GS I 3") << transmitPrinterId(3) << hex("1D4903");
    QTest::newRow("GS I 65") << transmitPrinterId(65) << hex("1D4941");
    QTest::newRow("GS I 69") << transmitPrinterId(69) << hex("1D4945");
    QTest::newRow("GS I firmware") << transmitPrinterId(PrinterIdFirmware) << hex("1D4941");
    QTest::newRow("GS I model") << transmitPrinterId(PrinterIdModel) << hex("1D4943");
    QTest::newRow("GS ( H") << transmitWhenProcessed(" a~Z") << hex("1D28480600303020617E5A");
    QTest::newRow("capacity") << nvGraphicsCapacity() << hex("1D284C02003030");
    QTest::newRow("remaining") << nvGraphicsRemaining() << hex("1D284C02003033");
    QTest::newRow("key list") << nvGraphicsKeyList() << hex("1D284C040030404B43");
    QTest::newRow("delete all") << nvGraphicsDeleteAll() << hex("1D284C05003041434C52");
    QTest::newRow("delete one") << nvGraphicsDelete("A1") << hex("1D284C0400304241 31");
    QTest::newRow("print 1x1") << nvGraphicsPrint("A1", 1, 1) << hex("1D284C06003045413101 01");
    QTest::newRow("print 2x1") << nvGraphicsPrint("~ ", 2, 1) << hex("1D284C060030457E200201");
    QTest::newRow("print 1x2") << nvGraphicsPrint("A1", 1, 2) << hex("1D284C06003045413101 02");

    // FS q: x and y count 8 dots; the columns run top band first, the top dot in bit 7.
    QTest::newRow("FS q diagonal 8x8") << defineNvBitImages(
            {image(8, 8, {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}})})
                                       << hex("1C7101 01000100 8040201008040201");
    QTest::newRow("FS q 16x16, two images")
            << defineNvBitImages({image(16, 16, {{1, 9}, {15, 0}}), image(8, 8, {{0, 7}})})
            << hex("1C7102 02000200 0000 0040") + QByteArray(26, '\0') + hex("8000")
                       + hex("01000100 0100000000000000");
    QTest::newRow("FS q record alone") << nvBitImageRecord(image(8, 16, {{7, 15}}))
                                       << hex("01000200 00000000000000000000000000000001");

    // GS ( L fn 67: rows top to bottom, ceil(x / 8) bytes each, the left dot in bit 7.
    QTest::newRow("define 1x2") << nvGraphicsDefine("A1", image(1, 2, {{0, 0}}))
                                << hex("1D284C0D00 3043 30 4131 01 0100 0200 31 8000");
    QTest::newRow("define 7x1 all black") << nvGraphicsDefine(
            "  ", image(7, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}}))
                                          << hex("1D284C0C00 3043 30 2020 01 0700 0100 31 FE");
    QTest::newRow("define 9x2") << nvGraphicsDefine("~~", image(9, 2, {{8, 0}, {0, 1}}))
                                << hex("1D284C0F00 3043 30 7E7E 01 0900 0200 31 0080 8000");
    // Bits past the width are sent white whatever the image's bytes held there.
    DotImage dirty{7, 1, hex("FF")};
    QTest::newRow("define 7x1, padding cleared")
            << nvGraphicsDefine("A1", dirty) << hex("1D284C0C00 3043 30 4131 01 0700 0100 31 FE");
    QTest::newRow("raster rows 9x1") << packRasterRows(DotImage{9, 1, hex("FFFF")}) << hex("FF80");
}

void tst_EscPosCommands::encodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    QCOMPARE(bytes.toHex(' '), expected.toHex(' '));
}

void tst_EscPosCommands::defineForm_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QByteArray>("head");
    // 11 parameter bytes and the dots: up to 65535 counted in pL pH, beyond in p1..p4.
    QTest::newRow("short, 5760 x 91 (65531)") << 5760 << 91 << hex("1D284CFBFF304330");
    QTest::newRow("long, 8192 x 64 (65547)") << 8192 << 64 << hex("1D384C0B000100304330");
    QTest::newRow("long, largest") << 8192 << 2304 << hex("1D384C0B002400304330");
}

void tst_EscPosCommands::defineForm()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QByteArray, head);
    DotImage dots = image(width, height, {{width - 1, height - 1}});
    const QByteArray bytes = EscPos::nvGraphicsDefine("G1", dots);
    const qint64 data = EscPos::nvGraphicsDataSize(width, height);
    QCOMPARE(data, qint64((width + 7) / 8) * height);
    QCOMPARE(bytes.left(head.size()).toHex(' '), head.toHex(' '));
    QCOMPARE(qint64(bytes.size()), EscPos::nvGraphicsDefineSize(width, height));
    // The key, one colour, the size low byte first and the colour, then the rows.
    const QByteArray body = QByteArray("G1\x01") + char(width & 0xff) + char(width >> 8)
                            + char(height & 0xff) + char(height >> 8) + '1';
    QCOMPARE(bytes.mid(head.size(), body.size()).toHex(' '), body.toHex(' '));
    QCOMPARE(qint64(bytes.size()), head.size() + body.size() + data);
    // The last dot is the last row's last bit in use.
    QCOMPARE(quint8(bytes.back()), quint8(0x80u >> ((width - 1) % 8)));
}

void tst_EscPosCommands::keys_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("valid");
    QTest::newRow("lowest") << QByteArray("  ") << true;
    QTest::newRow("highest") << QByteArray("~~") << true;
    QTest::newRow("first below") << QByteArray("\x1F"
                                               "A")
                                 << false;
    QTest::newRow("second above") << QByteArray("A\x7F") << false;
    QTest::newRow("high byte") << QByteArray("A\xA0") << false;
    QTest::newRow("one") << QByteArray("A") << false;
    QTest::newRow("three") << QByteArray("ABC") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void tst_EscPosCommands::keys()
{
    QFETCH(QByteArray, key);
    QFETCH(bool, valid);
    QCOMPARE(EscPos::isGraphicsKey(key), valid);
    const DotImage dot = image(1, 1, {{0, 0}});
    if (valid) {
        QCOMPARE(EscPos::nvGraphicsDelete(key).mid(7), key);
        QCOMPARE(EscPos::nvGraphicsPrint(key, 1, 1).mid(7, 2), key);
        QCOMPARE(EscPos::nvGraphicsDefine(key, dot).mid(8, 2), key);
    } else {
        QVERIFY_THROWS_EXCEPTION(EscPos::LimitError, EscPos::nvGraphicsDelete(key));
        QVERIFY_THROWS_EXCEPTION(EscPos::LimitError, EscPos::nvGraphicsPrint(key, 1, 1));
        QVERIFY_THROWS_EXCEPTION(EscPos::LimitError, EscPos::nvGraphicsDefine(key, dot));
    }
}

void tst_EscPosCommands::limits_data()
{
    QTest::addColumn<Action>("action");
    using namespace EscPos;
    const DotImage eight = image(8, 8);
    QTest::newRow("FS q, no image") << Action([] { defineNvBitImages({}); });
    QTest::newRow("FS q, 256 images")
            << Action([eight] { defineNvBitImages(QList<DotImage>(256, eight)); });
    QTest::newRow("FS q, width not x 8") << Action([] { defineNvBitImages({image(12, 8)}); });
    QTest::newRow("FS q, height not x 8") << Action([] { nvBitImageRecord(image(8, 12)); });
    QTest::newRow("FS q, 8192 wide") << Action([] { nvBitImageRecord(image(8192, 8)); });
    QTest::newRow("FS q, 2312 high") << Action([] { nvBitImageRecordSize(8, 2312); });
    QTest::newRow("FS q, bytes short") << Action([] { nvBitImageRecord(DotImage{8, 8, "1"}); });
    QTest::newRow("FS q, one bad among good") << Action([eight] {
        defineNvBitImages({eight, image(8, 4), eight});
    });
    QTest::newRow("DLE EOT 0") << Action([] { realtimeStatus(0); });
    QTest::newRow("DLE EOT 5") << Action([] { realtimeStatus(5); });
    QTest::newRow("GS I 0") << Action([] { transmitPrinterId(0); });
    QTest::newRow("GS I 4") << Action([] { transmitPrinterId(4); });
    QTest::newRow("GS I 64") << Action([] { transmitPrinterId(64); });
    QTest::newRow("GS I 70") << Action([] { transmitPrinterId(70); });
    QTest::newRow("GS ( H, three") << Action([] { transmitWhenProcessed("abc"); });
    QTest::newRow("GS ( H, 1F") << Action([] { transmitWhenProcessed("abc\x1F"); });
    QTest::newRow("GS ( H, 7F") << Action([] {
        transmitWhenProcessed("\x7F"
                              "abc");
    });
    QTest::newRow("define, empty") << Action([] { nvGraphicsDefine("A1", DotImage()); });
    QTest::newRow("define, 8193 wide") << Action([] { nvGraphicsDefine("A1", image(8193, 1)); });
    QTest::newRow("define, 2305 high") << Action([] { nvGraphicsDataSize(1, 2305); });
    QTest::newRow("define, bytes short") << Action([] {
        nvGraphicsDefine("A1", DotImage{9, 1, "1"});
    });
    QTest::newRow("print, scale 0") << Action([] { nvGraphicsPrint("A1", 0, 1); });
    QTest::newRow("print, scale 3") << Action([] { nvGraphicsPrint("A1", 1, 3); });
    QTest::newRow("columns, height 9") << Action([] { packVerticalColumns(image(8, 9)); });
}

void tst_EscPosCommands::limits()
{
    QFETCH(Action, action);
    QVERIFY_THROWS_EXCEPTION(EscPos::LimitError, action());
}

QTEST_APPLESS_MAIN(tst_EscPosCommands)

#include "tst_escposcommands.moc"
