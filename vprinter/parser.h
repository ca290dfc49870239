#pragma once

#include "nvbitimage.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>

namespace VirtualPrinter {

// One command the parser recognised, other than printable text and FS q.
struct Command
{
    // What each kind holds in parameter and secondParameter, when it uses them.
    enum class Kind {
        Initialize,         // ESC @
        LineFeed,           // LF
        CarriageReturn,     // CR
        HorizontalTab,      // HT
        PrintNvImage,       // FS p n m: n, m
        Cut,                // GS V m [n]: m, n or -1; ESC i and ESC m: 1 (as GS V 1)
        FeedLines,          // ESC d n: n
        FeedDots,           // ESC J n: n
        LineSpacing,        // ESC 3 n: n; ESC 2: -1 (the default spacing)
        Justification,      // ESC a n: n
        CharacterSize,      // GS ! n: n
        PrintModes,         // ESC ! n: n
        Emphasis,           // ESC E n: n
        Underline,          // ESC - n: n
        StatusRequest,      // DLE EOT n: n
        TransmitId,         // GS I n: n
        ResponseRequest,    // GS ( H: payload holds fn m and the rest
        Graphics,           // GS ( L and GS 8 L: payload holds m fn and the rest
        AutoStatusBack,     // GS a n: n
        TransmitStatus,     // GS r n: n
        CodeTable,          // ESC t n: n
        BarCodeHeight,      // GS h n: n
        BarCodeWidth,       // GS w n: n
        RasterImage,        // GS v 0: payload holds m xL xH yL yH and the rows
        BitImage,           // ESC *: payload holds m nL nH and the columns
        BarCode,            // GS k: payload holds m and the data (without a closing NUL)
        Symbol,             // GS ( k: payload holds cn fn and the rest
        Skipped,            // a command the printer knows and passes over; text says what it was
        Stray,              // bytes the printer cannot read as a command; text says what they were
        Truncated,          // cut short by the end of the stream; text says what it was
        DefinitionRejected, // an FS q refused as a whole; text says why
    };

    Kind kind = Kind::Skipped;
    int parameter = 0;
    int secondParameter = -1;
    QString text; // the command's name ("GS V", "ESC i"), or the description of what was skipped
    QByteArray payload; // the parameter bytes of a counted block, after its length
};

// The longest counted block kept as a payload: a raster graphic of 8192 x 2304 dots with its
// 11 bytes of parameters. Longer blocks are passed over.
constexpr qint64 MaxPayloadSize = 11 + qint64(8192 / 8) * 2304;

// Receives what the parser recognises, in stream order.
class ParserHandler
{
public:
    virtual ~ParserHandler() = default;

    // A run of printable bytes (0x20 to 0xFF except 0x7F), in the printer's code page.
    virtual void text(const QByteArray &bytes) = 0;
    virtual void command(const Command &command) = 0;
    // A valid FS q: the records taken, in order (NV images 1 to images.size()). When a later
    // record was out of range, declaredCount is larger and problem says which and why.
    virtual void
    defineNvImages(const QVector<NvBitImage> &images, int declaredCount, const QString &problem)
            = 0;
};

// Splits an ESC/POS byte stream into commands. Incremental: bytes may arrive in any chunks,
// and the handler sees the same calls whatever the chunking. It never waits for more than
// the command in hand declares, and it buffers only command headers, text runs and FS q data
// that fits the NV capacity.
class Parser
{
public:
    explicit Parser(ParserHandler *handler);

    // The NV memory that FS q records may fill, header bytes included.
    void setNvCapacity(qint64 bytes) { m_capacity = bytes; }
    qint64 nvCapacity() const { return m_capacity; }

    // Returns the bytes taken: all of them, unless the handler called interrupt().
    qsizetype feed(const char *data, qsizetype size);
    qsizetype feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }

    // Called by the handler: feed() returns after the command in hand, so that the caller can
    // decide what becomes of the bytes after it (a printer resetting, a printer waiting for
    // the host's answer).
    void interrupt() { m_interrupted = true; }

    // The end of a connection or file: a command still in progress is reported as truncated
    // and the parser starts afresh.
    void finish();

    // True when no command is in progress and nothing is held back.
    bool isIdle() const;

private:
    enum class State {
        Ground,
        Head,
        Skip,
        Payload,
        UntilNul,
        UserCharWidth,
        FsqRecordHead,
        FsqData
    };

    // A command whose length its parameters give: once the header holds `length` bytes,
    // `decode` takes it (and may wait for more bytes). It returns true when the last byte does
    // not belong to the command and is read again.
    struct Decoder
    {
        uchar prefix;
        uchar code;
        uchar length;
        bool (Parser::*decode)();
    };
    static const Decoder decoders[];

    qsizetype consumeGround(const uchar *data, qsizetype size);
    bool acceptHeadByte(uchar byte);
    bool decodeHead();
    bool decodeCountedBlock();
    bool decodeBitImage();
    bool decodeUserCharacters();
    bool decodeTabPositions();
    bool decodeCut();
    bool decodeGraphics();
    bool decodeDownloadedImage();
    bool decodeRasterImage();
    bool decodeBarCode();
    bool decodeMaintenanceCounter();
    bool decodeCounterPrinting();
    bool decodeNvDefinition();
    bool decodeUserKanji();
    bool decodeNvUserMemory();
    bool decodeStatusRequest();
    bool unknownFunction();
    bool acceptUntilNulByte(uchar byte);
    void acceptUserCharWidth(uchar byte);
    void acceptFsqRecordHead();
    QString fsqRecordProblem(int width, int height, qint64 size) const;
    void finishFsqRecord();

    void emitCommand(Command::Kind kind,
                     const QString &text,
                     int parameter = 0,
                     int secondParameter = -1);
    void skipped(const QString &what) { emitCommand(Command::Kind::Skipped, what); }
    void stray(const QString &what) { emitCommand(Command::Kind::Stray, what); }
    void flushPending();
    void startSkip(qint64 count, const QString &what);
    // `head` starts the payload; `count` bytes more follow in the stream.
    void startPayload(qint64 count,
                      Command::Kind kind,
                      const QString &name,
                      const QByteArray &head = QByteArray());
    void emitPayload();
    void endSkip();
    // Bytes up to a NUL; with `collect`, they come as a payload of that kind after `head`.
    void startUntilNul(int limit,
                       const QString &what,
                       Command::Kind collect = Command::Kind::Skipped,
                       const QByteArray &head = QByteArray());
    void reset();

    QString headText(int count) const;
    int headByte(int index) const { return m_head[std::size_t(index)]; }
    int headWord(int index) const { return headByte(index) + 256 * headByte(index + 1); }

    ParserHandler *m_handler;
    qint64 m_capacity = DefaultNvCapacity;
    State m_state = State::Ground;

    std::array<uchar, 16> m_head{};
    int m_headSize = 0;

    QByteArray m_text;     // printable bytes not yet handed on
    QByteArray m_controls; // stray control bytes not yet reported

    // Skip and UntilNul: what the command is, how far it has come.
    QString m_what;
    qint64 m_remaining = 0;
    qint64 m_total = 0;
    int m_limit = 0;
    bool m_resumeUserChars = false;
    bool m_interrupted = false;

    // Payload and UntilNul: the block being collected, and for UntilNul whether it is.
    bool m_collectUntilNul = false;
    Command::Kind m_payloadKind = Command::Kind::Skipped;
    QByteArray m_payload;

    // ESC &: characters still to come and the height of each in bytes.
    int m_userCharsLeft = 0;
    int m_userCharHeight = 0;

    // FS q in progress.
    int m_fsqCount = 0;
    qint64 m_fsqUsed = 0;
    QVector<NvBitImage> m_fsqImages;
    NvBitImage m_fsqCurrent;
};

// The readable name of a command prefix byte ("ESC", "GS", "FS", "DLE").
QString prefixName(int byte);
// A command's code byte as it reads best: the character, or 0xNN when it is not printable.
QString codeName(int byte);

} // namespace VirtualPrinter
