#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <optional>

namespace EscPos {

// A reply to DLE EOT n is one byte 0xx1xx10.
constexpr bool isStatusByte(quint8 b)
{
    return (b & 0x93) == 0x12;
}
// The first byte of an automatic-status-back block is 0xx1xx00.
constexpr bool isAutomaticStatusByte(quint8 b)
{
    return (b & 0x93) == 0x10;
}

enum class Paper { Ok, NearEnd, End };
enum class PrinterError { None, Mechanical, Autocutter, Unrecoverable, AutoRecoverable, Unknown };

// What the answers to DLE EOT 1..4 say together. The fields are worked out from the last
// byte of each n, so the answers may come in any order.
struct PrinterStatus
{
    bool online = false;
    bool coverOpen = false;
    bool paperFeedButton = false;
    bool waitingForRecovery = false;
    Paper paper = Paper::Ok;
    PrinterError error = PrinterError::None;
    bool answered[5] = {}; // which of DLE EOT 1..4 answered
    quint8 reply[5] = {};  // the last byte each of them answered

    // Online, cover closed, paper not at its end, no error.
    bool ready() const;
};

// Folds the reply byte of DLE EOT n (1..4) into status; false, and status unchanged, when the
// byte is no status byte or n is no status request.
bool applyStatusReply(int n, quint8 byte, PrinterStatus &status);
QString paperName(Paper paper);        // "ok", "near-end", "end"
QString errorName(PrinterError error); // "mechanical", ..., "unknown"; "" for None

struct Reply
{
    enum class Kind { Status, Block, Text, IdByte };
    Kind kind = Kind::Status;
    quint8 byte = 0; // Status / IdByte: the byte
    QByteArray body; // Block: the bytes after 0x37 up to (not incl.) the 00; Text: after 0x5F
};

// Takes the bytes a printer sends, in any pieces, and hands out complete replies. It skips
// automatic-status-back blocks (4 bytes, first byte (b & 0x93) == 0x10) and bytes that start
// no reply, bounds what it buffers (a block longer than MaxBlock is dropped, and so is the
// oldest reply when more than MaxPending wait), and never throws.
class ReplyReader
{
public:
    static constexpr int MaxBlock = 1024;
    static constexpr int MaxPending = 64;

    void feed(const char *data, qsizetype size);
    void feed(const QByteArray &bytes) { feed(bytes.constData(), bytes.size()); }
    // The next complete reply, or nothing yet.
    std::optional<Reply> take();
    // Forgets what is buffered, half-read and pending; keeps the skipped count and the mode.
    void clear();
    qint64 skipped() const { return m_skipped; }
    // Single-byte GS I 1..3 replies (0xx0xxxx) cannot be told from noise without context:
    // while on, a byte with (b & 0x90) == 0 is an IdByte reply.
    void expectIdByte(bool on) { m_expectIdByte = on; }

private:
    enum class State { Idle, AutomaticStatus, Block, Text, Discard };

    void push(Reply reply);

    State m_state = State::Idle;
    int m_automaticLeft = 0;
    QByteArray m_body;
    std::deque<Reply> m_pending;
    qint64 m_skipped = 0;
    bool m_expectIdByte = false;
};

std::optional<qint64> decodeGraphicsCapacity(const Reply &reply);  // 37 30 digits 00
std::optional<qint64> decodeGraphicsRemaining(const Reply &reply); // 37 31 digits 00
struct KeyBlock
{
    QList<QByteArray> keys;
    bool more = false;
};
std::optional<KeyBlock> decodeKeyBlock(const Reply &reply); // 37 72 40|41 k.. 00
// Whether the reply is a block of the key list (37 72 ...), well formed or not: what answers
// nvGraphicsKeyList, so a damaged one can be asked for again (NAK) before decodeKeyBlock
// reads it.
bool isKeyBlock(const Reply &reply);
std::optional<QByteArray> decodeProcessedId(const Reply &reply); // 37 22 d1..d4 00
std::optional<QString> decodeText(const Reply &reply);           // 5F ascii 00 (printable only)

// The host's answers to a key-list block.
constexpr char Ack = 0x06;
constexpr char Nak = 0x15;
constexpr char Can = 0x18;

} // namespace EscPos
