#include <escpos/replies.h>

#include <QTest>

using EscPos::Paper;
using EscPos::PrinterError;
using EscPos::PrinterStatus;
using EscPos::Reply;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A reply as the tables write it: S:12 status, I:01 ID byte, B:<hex> block, T:<hex> text.
QString describe(const Reply &reply)
{
    switch (reply.kind) {
    case Reply::Kind::Status:
        return QStringLiteral("S:") + QString::number(reply.byte, 16);
    case Reply::Kind::IdByte:
        return QStringLiteral("I:") + QString::number(reply.byte, 16);
    case Reply::Kind::Block:
        return QStringLiteral("B:") + QString::fromLatin1(reply.body.toHex());
    case Reply::Kind::Text:
        return QStringLiteral("T:") + QString::fromLatin1(reply.body.toHex());
    }
    return QString();
}

// Each decoder's result as text, or "-" when it refuses the reply.
QString decode(const QString &decoder, const Reply &reply)
{
    const auto number = [](std::optional<qint64> value) {
        return value ? QString::number(*value) : QStringLiteral("-");
    };
    if (decoder == QLatin1String("capacity"))
        return number(EscPos::decodeGraphicsCapacity(reply));
    if (decoder == QLatin1String("remaining"))
        return number(EscPos::decodeGraphicsRemaining(reply));
    if (decoder == QLatin1String("keys")) {
        const auto block = EscPos::decodeKeyBlock(reply);
        if (!block)
            return QStringLiteral("-");
        QStringList keys;
        for (const QByteArray &key : block->keys)
            keys << QString::fromLatin1(key);
        return keys.join(QLatin1Char(',')) + (block->more ? QStringLiteral(" more") : QString());
    }
    if (decoder == QLatin1String("is key block"))
        return EscPos::isKeyBlock(reply) ? QStringLiteral("yes") : QStringLiteral("no");
    if (decoder == QLatin1String("id")) {
        const auto id = EscPos::decodeProcessedId(reply);
        return id ? QString::fromLatin1(*id) : QStringLiteral("-");
    }
    const auto text = EscPos::decodeText(reply);
    return text ? *text : QStringLiteral("-");
}

} // namespace

class tst_EscPosReplies : public QObject
{
    Q_OBJECT

private slots:
    void statusBits_data();
    void statusBits();
    void statusInAnyOrder();
    void reader_data();
    void reader();
    void readerClear();
    void decoders_data();
    void decoders();
};

void tst_EscPosReplies::statusBits_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("byte");
    QTest::addColumn<bool>("accepted");
    // online, cover open, FEED button, waiting for recovery, ready
    QTest::addColumn<QString>("flags");
    QTest::addColumn<Paper>("paper");
    QTest::addColumn<PrinterError>("error");
    const Paper ok = Paper::Ok;
    const PrinterError none = PrinterError::None;
    // Every row follows an answer "online" to DLE EOT 1.
    QTest::newRow("1 online") << 1 << 0x12 << true << "o---r" << ok << none;
    QTest::newRow("1 drawer pin") << 1 << 0x16 << true << "o---r" << ok << none;
    QTest::newRow("1 offline") << 1 << 0x1A << true << "-----" << ok << none;
    QTest::newRow("1 offline, waiting") << 1 << 0x3A << true << "---w-" << ok << none;
    QTest::newRow("1 FEED") << 1 << 0x52 << true << "o-f-r" << ok << none;
    QTest::newRow("2 cover open") << 2 << 0x16 << true << "oc---" << ok << none;
    QTest::newRow("2 fed by FEED") << 2 << 0x1A << true << "o---r" << ok << none;
    QTest::newRow("2 paper end stop") << 2 << 0x32 << true << "o----" << Paper::End << none;
    QTest::newRow("2 error") << 2 << 0x52 << true << "o----" << ok << PrinterError::Unknown;
    QTest::newRow("3 mechanical") << 3 << 0x16 << true << "o----" << ok << PrinterError::Mechanical;
    QTest::newRow("3 autocutter") << 3 << 0x1A << true << "o----" << ok << PrinterError::Autocutter;
    QTest::newRow("3 unrecoverable")
            << 3 << 0x32 << true << "o----" << ok << PrinterError::Unrecoverable;
    QTest::newRow("3 auto-recoverable")
            << 3 << 0x52 << true << "o----" << ok << PrinterError::AutoRecoverable;
    QTest::newRow("3 worst cause wins")
            << 3 << 0x7E << true << "o----" << ok << PrinterError::Unrecoverable;
    QTest::newRow("4 near end") << 4 << 0x1E << true << "o---r" << Paper::NearEnd << none;
    QTest::newRow("4 near end, one bit") << 4 << 0x1A << true << "o---r" << Paper::NearEnd << none;
    QTest::newRow("4 end") << 4 << 0x72 << true << "o----" << Paper::End << none;
    QTest::newRow("4 end, one bit") << 4 << 0x32 << true << "o----" << Paper::End << none;
    QTest::newRow("4 near end and end") << 4 << 0x7E << true << "o----" << Paper::End << none;
    // Not status bytes, or no status request: refused, the status as it was.
    QTest::newRow("00") << 2 << 0x00 << false << "o---r" << ok << none;
    QTest::newRow("bit 0 set") << 2 << 0x13 << false << "o---r" << ok << none;
    QTest::newRow("bit 1 clear (ASB)") << 2 << 0x10 << false << "o---r" << ok << none;
    QTest::newRow("bit 4 clear") << 1 << 0x0A << false << "o---r" << ok << none;
    QTest::newRow("bit 7 set") << 4 << 0x92 << false << "o---r" << ok << none;
    QTest::newRow("n = 0") << 0 << 0x1A << false << "o---r" << ok << none;
    QTest::newRow("n = 5") << 5 << 0x1A << false << "o---r" << ok << none;
}

void tst_EscPosReplies::statusBits()
{
    QFETCH(int, n);
    QFETCH(int, byte);
    QFETCH(bool, accepted);
    QFETCH(QString, flags);
    QFETCH(Paper, paper);
    QFETCH(PrinterError, error);
    PrinterStatus status;
    QVERIFY(!status.ready());
    QVERIFY(EscPos::applyStatusReply(1, 0x12, status));
    QCOMPARE(EscPos::applyStatusReply(n, quint8(byte), status), accepted);
    const QString seen = QString(QLatin1Char(status.online ? 'o' : '-'))
                         + QLatin1Char(status.coverOpen ? 'c' : '-')
                         + QLatin1Char(status.paperFeedButton ? 'f' : '-')
                         + QLatin1Char(status.waitingForRecovery ? 'w' : '-')
                         + QLatin1Char(status.ready() ? 'r' : '-');
    QCOMPARE(seen, flags);
    QCOMPARE(status.paper, paper);
    QCOMPARE(status.error, error);
    for (int i = 1; i <= 4; ++i)
        QCOMPARE(status.answered[i], i == 1 || (accepted && i == n));
}

void tst_EscPosReplies::statusInAnyOrder()
{
    // The error flag (n = 2) and its cause (n = 3), and paper sensors changing: whatever the
    // order, the result follows the last answer of each n.
    PrinterStatus first, second;
    for (auto [n, byte] : {std::pair{2, 0x52}, {3, 0x1A}, {4, 0x72}, {4, 0x12}, {1, 0x12}})
        QVERIFY(EscPos::applyStatusReply(n, quint8(byte), first));
    for (auto [n, byte] : {std::pair{1, 0x12}, {4, 0x72}, {3, 0x1A}, {4, 0x12}, {2, 0x52}})
        QVERIFY(EscPos::applyStatusReply(n, quint8(byte), second));
    for (const PrinterStatus &s : {first, second}) {
        QCOMPARE(s.error, PrinterError::Autocutter);
        QCOMPARE(s.paper, Paper::Ok);
        QVERIFY(s.online);
        QVERIFY(!s.ready());
    }
}

void tst_EscPosReplies::reader_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<bool>("idBytes");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<qint64>("skipped");
    using Pieces = QList<QByteArray>;
    QTest::newRow("status byte") << Pieces{hex("12")} << false << QStringList{"S:12"} << 0ll;
    QTest::newRow("ASB block skipped")
            << Pieces{hex("14 00 00 0F 12")} << false << QStringList{"S:12"} << 4ll;
    QTest::newRow("ASB body like status bytes")
            << Pieces{hex("10 12 16"), hex("1A 16")} << false << QStringList{"S:16"} << 4ll;
    QTest::newRow("block split across feeds")
            << Pieces{hex("37 30"), hex("32 35"), hex("36"), hex("00")} << false
            << QStringList{"B:30323536"} << 0ll;
    QTest::newRow("text") << Pieces{hex("5F 41 42 00")} << false << QStringList{"T:4142"} << 0ll;
    QTest::newRow("garbage before a block") << Pieces{hex("FF 00 80 37 22 41 42 43 44 00")} << false
                                            << QStringList{"B:2241424344"} << 3ll;
    QTest::newRow("stray status between blocks")
            << Pieces{hex("37 31 35 00 12 37 31 36 00")} << false
            << QStringList{"B:3135", "S:12", "B:3136"} << 0ll;
    QTest::newRow("stray status inside a block is data")
            << Pieces{hex("37 72 40 12 16 00")} << false << QStringList{"B:72401216"} << 0ll;
    QTest::newRow("ASB then block, byte by byte") << Pieces{hex("90"),
                                                            hex("00"),
                                                            hex("00"),
                                                            hex("00"),
                                                            hex("37"),
                                                            hex("30"),
                                                            hex("39"),
                                                            hex("00"),
                                                            hex("1E")}
                                                  << false << QStringList{"B:3039", "S:1e"} << 4ll;
    QTest::newRow("block of MaxBlock bytes kept")
            << Pieces{"7" + QByteArray(1024, '2') + '\0'} << false
            << QStringList{"B:" + QString::fromLatin1(QByteArray(1024, '2').toHex())} << 0ll;
    // Dropped up to its 00: its bytes ('2' = 32) would pass for status bytes.
    QTest::newRow("overlong block dropped, next read")
            << Pieces{hex("37"), QByteArray(1030, '2'), hex("00 37 30 31 00")} << false
            << QStringList{"B:3031"} << 1032ll;
    QTest::newRow("ID byte not expected")
            << Pieces{hex("01 12")} << false << QStringList{"S:12"} << 1ll;
    QTest::newRow("ID byte expected")
            << Pieces{hex("01 12 6F")} << true << QStringList{"I:1", "S:12", "I:6f"} << 0ll;
    QTest::newRow("control noise") << Pieces{hex("00 06 15 18")} << false << QStringList{} << 4ll;
    QTest::newRow("unfinished block waits")
            << Pieces{hex("12 37 30 31")} << false << QStringList{"S:12"} << 0ll;
    QStringList many;
    for (int i = 0; i < EscPos::ReplyReader::MaxPending; ++i)
        many << QStringLiteral("S:16");
    QTest::newRow("oldest dropped beyond MaxPending")
            << Pieces{hex("12 12 12") + QByteArray(EscPos::ReplyReader::MaxPending, 0x16)} << false
            << many << 3ll;
}

void tst_EscPosReplies::reader()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(bool, idBytes);
    QFETCH(QStringList, replies);
    QFETCH(qint64, skipped);
    EscPos::ReplyReader reader;
    reader.expectIdByte(idBytes);
    for (const QByteArray &piece : pieces)
        reader.feed(piece);
    QStringList seen;
    while (const auto reply = reader.take())
        seen << describe(*reply);
    QCOMPARE(seen, replies);
    QCOMPARE(reader.skipped(), skipped);
}

void tst_EscPosReplies::readerClear()
{
    EscPos::ReplyReader reader;
    reader.feed(hex("12 37 30 31"));
    reader.clear();
    // The half block is gone: its end starts nothing, the next reply is read.
    reader.feed(hex("32 00 16"));
    QStringList seen;
    while (const auto reply = reader.take())
        seen << describe(*reply);
    QCOMPARE(seen, QStringList({"S:32", "S:16"}));
}

void tst_EscPosReplies::decoders_data()
{
    QTest::addColumn<QString>("decoder");
    QTest::addColumn<bool>("text");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");
    QTest::newRow("capacity") << "capacity" << false << QByteArray("0262144") << "262144";
    QTest::newRow("capacity, 1 digit") << "capacity" << false << QByteArray("07") << "7";
    QTest::newRow("capacity, 8 digits")
            << "capacity" << false << QByteArray("012345678") << "12345678";
    QTest::newRow("capacity, 9 digits") << "capacity" << false << QByteArray("0123456789") << "-";
    QTest::newRow("capacity, no digits") << "capacity" << false << QByteArray("0") << "-";
    QTest::newRow("capacity, letter") << "capacity" << false << QByteArray("01A") << "-";
    QTest::newRow("capacity, remaining's tag") << "capacity" << false << QByteArray("1262") << "-";
    QTest::newRow("capacity, as text") << "capacity" << true << QByteArray("0262") << "-";
    QTest::newRow("remaining") << "remaining" << false << QByteArray("1238016") << "238016";
    QTest::newRow("remaining, capacity's tag") << "remaining" << false << QByteArray("07") << "-";
    QTest::newRow("no keys") << "keys" << false << hex("72 40") << "";
    QTest::newRow("keys, more") << "keys" << false << hex("72 41 41 31 42 32") << "A1,B2 more";
    QTest::newRow("keys, range edges") << "keys" << false << hex("72 40 20 7E 7E 20") << " ~,~ ";
    QTest::newRow("keys, odd") << "keys" << false << hex("72 40 41") << "-";
    QTest::newRow("keys, 1F") << "keys" << false << hex("72 40 41 1F") << "-";
    QTest::newRow("keys, 7F") << "keys" << false << hex("72 40 7F 41") << "-";
    QTest::newRow("keys, bad flag") << "keys" << false << hex("72 42") << "-";
    QTest::newRow("keys, other block") << "keys" << false << hex("22 40 41 42") << "-";
    // A damaged key-list block is still one, to be asked for again.
    QTest::newRow("is key block") << "is key block" << false << hex("72 40 41 31") << "yes";
    QTest::newRow("is key block, bad flag") << "is key block" << false << hex("72 42") << "yes";
    QTest::newRow("is key block, odd") << "is key block" << false << hex("72 40 41") << "yes";
    QTest::newRow("is key block, empty") << "is key block" << false << QByteArray() << "no";
    QTest::newRow("is key block, other") << "is key block" << false << hex("22 72") << "no";
    QTest::newRow("is key block, as text") << "is key block" << true << hex("72 40") << "no";
    QTest::newRow("processed") << "id" << false << hex("22 41 20 7E 44") << "A ~D";
    QTest::newRow("processed, three") << "id" << false << hex("22 41 42 43") << "-";
    QTest::newRow("processed, five") << "id" << false << hex("22 41 42 43 44 45") << "-";
    QTest::newRow("processed, 19") << "id" << false << hex("22 41 42 43 19") << "-";
    QTest::newRow("text") << "text" << true << QByteArray("Model 80 v2.0") << "Model 80 v2.0";
    QTest::newRow("text, empty") << "text" << true << QByteArray() << "";
    QTest::newRow("text, 80") << "text" << true << hex("41 80") << "-";
    QTest::newRow("text, as block") << "text" << false << QByteArray("AB") << "-";
}

void tst_EscPosReplies::decoders()
{
    QFETCH(QString, decoder);
    QFETCH(bool, text);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    // Through the reader, as the printer would send it.
    EscPos::ReplyReader reader;
    reader.feed((text ? hex("5F") : hex("37")) + body + hex("00"));
    const auto reply = reader.take();
    QVERIFY(reply);
    QCOMPARE(reply->body, body);
    QCOMPARE(decode(decoder, *reply), expected);
}

QTEST_APPLESS_MAIN(tst_EscPosReplies)

#include "tst_escposreplies.moc"
