#include "replies.h"

#include <algorithm>

namespace EscPos {

namespace {

constexpr quint8 BlockStart = 0x37;
constexpr quint8 TextStart = 0x5f;
constexpr quint8 End = 0x00;
// The first body byte of the block replies to GS ( L.
constexpr char CapacityTag = 0x30;
constexpr char RemainingTag = 0x31;
constexpr char KeyListTag = 0x72;
constexpr char KeyListLast = 0x40;
constexpr char KeyListMore = 0x41;
constexpr char ProcessedIdTag = 0x22;

// Capacity replies carry 1 to 8 digits: some manuals say up to 6, the current ones up to 8.
constexpr int MaxDigits = 8;

bool printable(char c)
{
    return quint8(c) >= 32 && quint8(c) <= 126;
}

std::optional<qint64> decodeNumber(const Reply &reply, char tag)
{
    if (reply.kind != Reply::Kind::Block || reply.body.size() < 2 || reply.body.at(0) != tag)
        return std::nullopt;
    const QByteArray digits = reply.body.mid(1);
    if (digits.size() > MaxDigits)
        return std::nullopt;
    qint64 value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

void recompute(PrinterStatus &s)
{
    const auto bit = [&s](int n, quint8 mask) {
        return s.answered[n] && (s.reply[n] & mask) != 0;
    };
    s.online = s.answered[1] && !bit(1, 0x08);
    s.waitingForRecovery = bit(1, 0x20);
    s.paperFeedButton = bit(1, 0x40);
    s.coverOpen = bit(2, 0x04);
    // Either sensor bit of a pair counts: some printers set only one of them.
    if (bit(2, 0x20) || bit(4, 0x60))
        s.paper = Paper::End;
    else if (bit(4, 0x0c))
        s.paper = Paper::NearEnd;
    else
        s.paper = Paper::Ok;
    // The cause (n = 3) names the error; an error flag (n = 2) without a known cause is
    // Unknown. The worst cause wins.
    if (bit(3, 0x20))
        s.error = PrinterError::Unrecoverable;
    else if (bit(3, 0x04))
        s.error = PrinterError::Mechanical;
    else if (bit(3, 0x08))
        s.error = PrinterError::Autocutter;
    else if (bit(3, 0x40))
        s.error = PrinterError::AutoRecoverable;
    else if (bit(2, 0x40))
        s.error = PrinterError::Unknown;
    else
        s.error = PrinterError::None;
}

} // namespace

bool PrinterStatus::ready() const
{
    return online && !coverOpen && paper != Paper::End && error == PrinterError::None;
}

bool applyStatusReply(int n, quint8 byte, PrinterStatus &status)
{
    if (n < 1 || n > 4 || !isStatusByte(byte))
        return false;
    status.answered[n] = true;
    status.reply[n] = byte;
    recompute(status);
    return true;
}

QString paperName(Paper paper)
{
    switch (paper) {
    case Paper::Ok:
        return QStringLiteral("ok");
    case Paper::NearEnd:
        return QStringLiteral("near-end");
    case Paper::End:
        return QStringLiteral("end");
    }
    return QString();
}

QString errorName(PrinterError error)
{
    switch (error) {
    case PrinterError::None:
        return QString();
    case PrinterError::Mechanical:
        return QStringLiteral("mechanical");
    case PrinterError::Autocutter:
        return QStringLiteral("autocutter");
    case PrinterError::Unrecoverable:
        return QStringLiteral("unrecoverable");
    case PrinterError::AutoRecoverable:
        return QStringLiteral("auto-recoverable");
    case PrinterError::Unknown:
        return QStringLiteral("unknown");
    }
    return QString();
}

void ReplyReader::push(Reply reply)
{
    if (m_pending.size() >= std::size_t(MaxPending)) {
        const Reply &oldest = m_pending.front();
        m_skipped += oldest.kind == Reply::Kind::Block || oldest.kind == Reply::Kind::Text
                             ? oldest.body.size() + 2
                             : 1;
        m_pending.pop_front();
    }
    m_pending.push_back(std::move(reply));
}

void ReplyReader::feed(const char *data, qsizetype size)
{
    if (!data || size <= 0)
        return;
    for (qsizetype i = 0; i < size; ++i) {
        const quint8 b = quint8(data[i]);
        switch (m_state) {
        case State::Idle:
            if (m_expectIdByte && (b & 0x90) == 0) {
                push({Reply::Kind::IdByte, b, {}});
            } else if (isStatusByte(b)) {
                push({Reply::Kind::Status, b, {}});
            } else if (isAutomaticStatusByte(b)) {
                m_state = State::AutomaticStatus;
                m_automaticLeft = 3;
                ++m_skipped;
            } else if (b == BlockStart || b == TextStart) {
                m_state = b == BlockStart ? State::Block : State::Text;
                m_body.clear();
            } else {
                ++m_skipped;
            }
            break;
        case State::AutomaticStatus:
            ++m_skipped;
            if (--m_automaticLeft == 0)
                m_state = State::Idle;
            break;
        case State::Block:
        case State::Text:
            if (b == End) {
                push({m_state == State::Block ? Reply::Kind::Block : Reply::Kind::Text, 0, m_body});
                m_body.clear();
                m_state = State::Idle;
            } else if (m_body.size() >= MaxBlock) {
                // Too long for any reply: drop it, and what follows up to its end, whose
                // bytes could pass for status bytes.
                m_skipped += 1 + m_body.size() + 1;
                m_body.clear();
                m_state = State::Discard;
            } else {
                m_body.append(char(b));
            }
            break;
        case State::Discard:
            ++m_skipped;
            if (b == End)
                m_state = State::Idle;
            break;
        }
    }
}

std::optional<Reply> ReplyReader::take()
{
    if (m_pending.empty())
        return std::nullopt;
    Reply reply = std::move(m_pending.front());
    m_pending.pop_front();
    return reply;
}

void ReplyReader::clear()
{
    m_state = State::Idle;
    m_automaticLeft = 0;
    m_body.clear();
    m_pending.clear();
}

std::optional<qint64> decodeGraphicsCapacity(const Reply &reply)
{
    return decodeNumber(reply, CapacityTag);
}

std::optional<qint64> decodeGraphicsRemaining(const Reply &reply)
{
    return decodeNumber(reply, RemainingTag);
}

bool isKeyBlock(const Reply &reply)
{
    return reply.kind == Reply::Kind::Block && !reply.body.isEmpty()
           && reply.body.at(0) == KeyListTag;
}

std::optional<KeyBlock> decodeKeyBlock(const Reply &reply)
{
    const QByteArray &body = reply.body;
    if (!isKeyBlock(reply) || body.size() < 2
        || (body.at(1) != KeyListLast && body.at(1) != KeyListMore) || body.size() % 2 != 0)
        return std::nullopt;
    KeyBlock block;
    block.more = body.at(1) == KeyListMore;
    for (qsizetype i = 2; i < body.size(); i += 2) {
        const QByteArray key = body.mid(i, 2);
        if (!printable(key.at(0)) || !printable(key.at(1)))
            return std::nullopt;
        block.keys.append(key);
    }
    return block;
}

std::optional<QByteArray> decodeProcessedId(const Reply &reply)
{
    const QByteArray &body = reply.body;
    if (reply.kind != Reply::Kind::Block || body.size() != 5 || body.at(0) != ProcessedIdTag)
        return std::nullopt;
    const QByteArray id = body.mid(1);
    if (!std::all_of(id.begin(), id.end(), printable))
        return std::nullopt;
    return id;
}

std::optional<QString> decodeText(const Reply &reply)
{
    if (reply.kind != Reply::Kind::Text
        || !std::all_of(reply.body.begin(), reply.body.end(), printable))
        return std::nullopt;
    return QString::fromLatin1(reply.body);
}

} // namespace EscPos
