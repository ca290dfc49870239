// Fuzz target for the reply decoders: a printer's bytes, split into pieces as reads would
// deliver them, read into replies and each reply handed to every decoder.
#include <escpos/commands.h>
#include <escpos/replies.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool printable(char c)
{
    return quint8(c) >= 32 && quint8(c) <= 126;
}

void checkReply(const EscPos::Reply &reply, bool idBytes)
{
    using Kind = EscPos::Reply::Kind;
    switch (reply.kind) {
    case Kind::Status: {
        check(EscPos::isStatusByte(reply.byte), "a status reply that is no status byte");
        EscPos::PrinterStatus status;
        for (int n = 1; n <= 4; ++n)
            check(EscPos::applyStatusReply(n, reply.byte, status), "status byte refused");
        check(!status.ready() || (status.online && !status.coverOpen), "ready while not");
        break;
    }
    case Kind::IdByte:
        check(idBytes && (reply.byte & 0x90) == 0, "an ID byte not asked for");
        break;
    case Kind::Block:
    case Kind::Text:
        check(reply.body.size() <= EscPos::ReplyReader::MaxBlock, "an overlong block");
        check(!reply.body.contains('\0'), "a block with its end inside");
        break;
    }
    if (const auto value = EscPos::decodeGraphicsCapacity(reply))
        check(*value >= 0 && *value < 100000000, "capacity beyond eight digits");
    if (const auto value = EscPos::decodeGraphicsRemaining(reply))
        check(*value >= 0 && *value < 100000000, "remaining beyond eight digits");
    if (const auto block = EscPos::decodeKeyBlock(reply)) {
        for (const QByteArray &key : block->keys) {
            check(EscPos::isGraphicsKey(key), "a listed key that is no key");
            check(EscPos::nvGraphicsDelete(key).size() == 9, "a listed key not encodable");
        }
    }
    if (const auto id = EscPos::decodeProcessedId(reply))
        check(EscPos::transmitWhenProcessed(*id).size() == 11, "a process ID not encodable");
    if (const auto text = EscPos::decodeText(reply)) {
        check(text->size() == reply.body.size(), "text lost characters");
        for (char c : reply.body)
            check(printable(c), "text with a byte that is not printable");
    }
}

struct Reading
{
    std::vector<QByteArray> replies;
    qint64 skipped = 0;
};

// Feeds the bytes in pieces of the given size, taking what is complete after each piece.
Reading read(const char *data, qsizetype size, qsizetype piece, bool idBytes)
{
    EscPos::ReplyReader reader;
    reader.expectIdByte(idBytes);
    Reading reading;
    qsizetype replied = 0;
    for (qsizetype at = 0; at < size; at += piece) {
        reader.feed(data + at, qMin(piece, size - at));
        while (const auto reply = reader.take()) {
            checkReply(*reply, idBytes);
            const bool framed = reply->kind == EscPos::Reply::Kind::Block
                                || reply->kind == EscPos::Reply::Kind::Text;
            replied += framed ? reply->body.size() + 2 : 1;
            reading.replies.push_back(QByteArray(1, char(reply->kind)) + char(reply->byte)
                                      + reply->body);
        }
    }
    reading.skipped = reader.skipped();
    check(replied + reading.skipped <= size, "more bytes accounted for than fed");
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the mode and the piece size; the rest is what the printer sent.
    // Pieces of at most MaxPending bytes never make the reader drop a reply that is waiting.
    const bool idBytes = bytes[0] & 1;
    const qsizetype piece = 1 + ((bytes[0] >> 1) & 63);
    static_assert(EscPos::ReplyReader::MaxPending >= 64);
    const char *data = reinterpret_cast<const char *>(bytes + 1);
    const qsizetype length = qsizetype(size - 1);
    const Reading pieces = read(data, length, piece, idBytes);
    const Reading single = read(data, length, 1, idBytes);
    check(pieces.replies == single.replies, "the replies depend on how the bytes were split");
    check(pieces.skipped == single.skipped, "the skipped count depends on the split");
    return 0;
}
