#include "parser.h"

#include <QStringList>

#include <algorithm>

namespace VirtualPrinter {

namespace {

constexpr uchar NUL = 0x00;
constexpr uchar EOT = 0x04;
constexpr uchar ENQ = 0x05;
constexpr uchar HT = 0x09;
constexpr uchar LF = 0x0A;
constexpr uchar CR = 0x0D;
constexpr uchar DLE = 0x10;
constexpr uchar DC4 = 0x14;
constexpr uchar ESC = 0x1B;
constexpr uchar FS = 0x1C;
constexpr uchar GS = 0x1D;

// Text and stray control bytes are handed on in runs; the runs are cut at fixed lengths so
// that the calls do not depend on how the stream was chunked.
constexpr int MaxTextRun = 4096;
constexpr int MaxControlRun = 64;
constexpr int MaxListedControls = 8;

// ESC D takes at most 32 tab positions; bar code data ends with NUL within 255 bytes.
constexpr int MaxTabPositions = 32;
constexpr int MaxBarCodeData = 255;

bool isPrintable(uchar byte)
{
    return byte >= 0x20 && byte != 0x7F;
}

bool isPrefix(uchar byte)
{
    return byte == ESC || byte == GS || byte == FS || byte == DLE;
}

// Commands of a fixed length that the virtual printer passes over, with what they do.
struct FixedCommand
{
    uchar prefix;
    uchar code;
    uchar length;
    const char *name;
};

constexpr FixedCommand fixedCommands[] = {
        {ESC, 0x0C, 2, "print data in page mode"},
        {ESC, ' ', 3, "character right spacing"},
        {ESC, '$', 4, "absolute print position"},
        {ESC, '%', 3, "user-defined character set"},
        {ESC, '<', 2, "return home"},
        {ESC, '=', 3, "select peripheral device"},
        {ESC, '?', 3, "cancel user-defined character"},
        {ESC, 'G', 3, "double-strike"},
        {ESC, 'L', 2, "select page mode"},
        {ESC, 'M', 3, "character font"},
        {ESC, 'R', 3, "international character set"},
        {ESC, 'S', 2, "select standard mode"},
        {ESC, 'T', 3, "print direction in page mode"},
        {ESC, 'V', 3, "90-degree rotation"},
        {ESC, 'W', 10, "print area in page mode"},
        {ESC, '\\', 4, "relative print position"},
        {ESC, 'c', 4, "paper sensor and panel settings"},
        {ESC, 'e', 3, "print and reverse feed"},
        {ESC, 'p', 5, "drawer kick-out pulse"},
        {ESC, 'r', 3, "print colour"},
        {ESC, 'u', 3, "peripheral device status"},
        {ESC, 'v', 2, "paper sensor status"},
        {ESC, '{', 3, "upside-down printing"},
        {GS, '$', 4, "absolute vertical position in page mode"},
        {GS, '/', 3, "print downloaded bit image"},
        {GS, ':', 2, "start or end of macro definition"},
        {GS, 'B', 3, "white/black reverse printing"},
        {GS, 'E', 3, "head control"},
        {GS, 'H', 3, "HRI character position"},
        {GS, 'L', 4, "left margin"},
        {GS, 'P', 4, "motion units"},
        {GS, 'T', 3, "print position to start of line"},
        {GS, 'W', 4, "print area width"},
        {GS, '\\', 4, "relative vertical position in page mode"},
        {GS, '^', 5, "execute macro"},
        {GS, 'b', 3, "smoothing"},
        {GS, 'c', 2, "print counter"},
        {GS, 'f', 3, "HRI font"},
        {FS, '!', 3, "Kanji print modes"},
        {FS, '&', 2, "Kanji character mode"},
        {FS, '-', 3, "Kanji underline"},
        {FS, '.', 2, "cancel Kanji character mode"},
        {FS, 'C', 3, "Kanji code system"},
        {FS, 'S', 4, "Kanji character spacing"},
        {FS, 'W', 3, "quadruple-size Kanji"},
        {DLE, ENQ, 3, "real-time request"},
        {DLE, DC4, 5, "real-time command"},
};

// Commands the printer acts on, handed on once the header holds `length` bytes. Their
// parameter is byte 2 and their second parameter byte 3, where the length includes them.
struct HandedOnCommand
{
    uchar prefix;
    uchar code;
    uchar length;
    Command::Kind kind;
    int parameter; // without a parameter byte: -1 for ESC 2 (default spacing), 1 for ESC i/m
};

constexpr HandedOnCommand handedOnCommands[] = {
        {ESC, '!', 3, Command::Kind::PrintModes, 0},
        {ESC, '-', 3, Command::Kind::Underline, 0},
        {ESC, '2', 2, Command::Kind::LineSpacing, -1},
        {ESC, '3', 3, Command::Kind::LineSpacing, 0},
        {ESC, '@', 2, Command::Kind::Initialize, 0},
        {ESC, 'E', 3, Command::Kind::Emphasis, 0},
        {ESC, 'J', 3, Command::Kind::FeedDots, 0},
        {ESC, 'a', 3, Command::Kind::Justification, 0},
        {ESC, 'd', 3, Command::Kind::FeedLines, 0},
        {ESC, 'i', 2, Command::Kind::Cut, 1},
        {ESC, 'm', 2, Command::Kind::Cut, 1},
        {ESC, 't', 3, Command::Kind::CodeTable, 0},
        {GS, '!', 3, Command::Kind::CharacterSize, 0},
        {GS, 'I', 3, Command::Kind::TransmitId, 0},
        {GS, 'a', 3, Command::Kind::AutoStatusBack, 0},
        {GS, 'h', 3, Command::Kind::BarCodeHeight, 0},
        {GS, 'r', 3, Command::Kind::TransmitStatus, 0},
        {GS, 'w', 3, Command::Kind::BarCodeWidth, 0},
        {FS, 'p', 4, Command::Kind::PrintNvImage, 0},
};

template<typename Entry, std::size_t Size>
const Entry *findCommand(const Entry (&table)[Size], int prefix, int code)
{
    for (const Entry &entry : table) {
        if (entry.prefix == prefix && entry.code == code)
            return &entry;
    }
    return nullptr;
}

} // namespace

QString prefixName(int byte)
{
    switch (byte) {
    case ESC:
        return QStringLiteral("ESC");
    case GS:
        return QStringLiteral("GS");
    case FS:
        return QStringLiteral("FS");
    case DLE:
        return QStringLiteral("DLE");
    default:
        return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
}

QString codeName(int byte)
{
    if (byte > 0x20 && byte < 0x7F)
        return QString(QLatin1Char(char(byte)));
    if (byte == EOT)
        return QStringLiteral("EOT");
    if (byte == ENQ)
        return QStringLiteral("ENQ");
    if (byte == DC4)
        return QStringLiteral("DC4");
    return QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

Parser::Parser(ParserHandler *handler)
    : m_handler(handler)
{}

bool Parser::isIdle() const
{
    return m_state == State::Ground && m_text.isEmpty() && m_controls.isEmpty();
}

qsizetype Parser::feed(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data);
    qsizetype i = 0;
    m_interrupted = false;
    while (i < size && !m_interrupted) {
        switch (m_state) {
        case State::Ground:
            i += consumeGround(bytes + i, size - i);
            break;
        case State::Head:
            // A byte the command turns out not to include is read again from the ground.
            if (acceptHeadByte(bytes[i]))
                ++i;
            break;
        case State::Skip: {
            const qint64 n = std::min<qint64>(m_remaining, size - i);
            i += n;
            m_remaining -= n;
            if (m_remaining == 0)
                endSkip();
            break;
        }
        case State::Payload: {
            const qint64 n = std::min<qint64>(m_remaining, size - i);
            m_payload.append(data + i, qsizetype(n));
            i += n;
            m_remaining -= n;
            if (m_remaining == 0) {
                m_state = State::Ground;
                emitPayload();
            }
            break;
        }
        case State::UntilNul:
            if (acceptUntilNulByte(bytes[i]))
                ++i;
            break;
        case State::UserCharWidth:
            acceptUserCharWidth(bytes[i++]);
            break;
        case State::FsqRecordHead:
            m_head[std::size_t(m_headSize++)] = bytes[i++];
            if (m_headSize == NvImageHeaderSize)
                acceptFsqRecordHead();
            break;
        case State::FsqData: {
            const qint64 n = std::min<qint64>(m_remaining, size - i);
            m_fsqCurrent.data.append(data + i, qsizetype(n));
            i += n;
            m_remaining -= n;
            if (m_remaining == 0)
                finishFsqRecord();
            break;
        }
        }
    }
    m_interrupted = false;
    return i;
}

qsizetype Parser::consumeGround(const uchar *data, qsizetype size)
{
    const uchar byte = data[0];
    if (isPrintable(byte)) {
        if (!m_controls.isEmpty())
            flushPending();
        qsizetype n = 1;
        while (n < size && isPrintable(data[n]) && m_text.size() + n < MaxTextRun)
            ++n;
        m_text.append(reinterpret_cast<const char *>(data), n);
        if (m_text.size() >= MaxTextRun)
            flushPending();
        return n;
    }
    switch (byte) {
    case LF:
        emitCommand(Command::Kind::LineFeed, QStringLiteral("LF"));
        return 1;
    case CR:
        emitCommand(Command::Kind::CarriageReturn, QStringLiteral("CR"));
        return 1;
    case HT:
        emitCommand(Command::Kind::HorizontalTab, QStringLiteral("HT"));
        return 1;
    case ESC:
    case GS:
    case FS:
    case DLE:
        flushPending();
        m_head[0] = byte;
        m_headSize = 1;
        m_state = State::Head;
        return 1;
    default:
        if (!m_text.isEmpty())
            flushPending();
        m_controls.append(char(byte));
        if (m_controls.size() >= MaxControlRun)
            flushPending();
        return 1;
    }
}

bool Parser::acceptHeadByte(uchar byte)
{
    if (m_headSize == 1) {
        // DLE starts a command only before EOT, ENQ or DC4; otherwise it is a stray byte.
        if (m_head[0] == DLE && byte != EOT && byte != ENQ && byte != DC4) {
            m_state = State::Ground;
            m_controls.append(char(DLE));
            return false;
        }
        // A prefix followed by another prefix: the first lost its command, the second
        // starts one.
        if (isPrefix(byte)) {
            m_state = State::Ground;
            stray(QStringLiteral("lone %1").arg(prefixName(m_head[0])));
            return false;
        }
    }
    m_head[std::size_t(m_headSize++)] = byte;
    const bool reread = decodeHead();
    if (m_state == State::Head && m_headSize >= int(m_head.size())) {
        // Cannot happen with the commands in the tables; a guard against an endless header.
        m_state = State::Ground;
        stray(QStringLiteral("overlong %1 command").arg(prefixName(m_head[0])));
    }
    return !reread;
}

const Parser::Decoder Parser::decoders[] = {
        {ESC, '&', 5, &Parser::decodeUserCharacters},
        {ESC, '(', 5, &Parser::decodeCountedBlock},
        {ESC, '*', 5, &Parser::decodeBitImage},
        {ESC, 'D', 2, &Parser::decodeTabPositions},
        {GS, '(', 5, &Parser::decodeCountedBlock},
        {GS, '*', 4, &Parser::decodeDownloadedImage},
        {GS, '8', 3, &Parser::decodeGraphics},
        {GS, 'C', 3, &Parser::decodeCounterPrinting},
        {GS, 'V', 3, &Parser::decodeCut},
        {GS, 'g', 3, &Parser::decodeMaintenanceCounter},
        {GS, 'k', 3, &Parser::decodeBarCode},
        {GS, 'v', 3, &Parser::decodeRasterImage},
        {FS, '(', 5, &Parser::decodeCountedBlock},
        {FS, '2', 4, &Parser::decodeUserKanji},
        {FS, 'g', 3, &Parser::decodeNvUserMemory},
        {FS, 'q', 3, &Parser::decodeNvDefinition},
        {DLE, EOT, 3, &Parser::decodeStatusRequest},
};

// Returns true when the last byte of the header does not belong to the command and has to
// be read again; the state says whether the command is complete.
bool Parser::decodeHead()
{
    const int prefix = m_head[0];
    const int code = m_head[1];
    if (const HandedOnCommand *command = findCommand(handedOnCommands, prefix, code)) {
        if (m_headSize >= command->length) {
            emitCommand(command->kind,
                        headText(2),
                        command->length > 2 ? headByte(2) : command->parameter,
                        command->length > 3 ? headByte(3) : -1);
        }
        return false;
    }
    if (const Decoder *decoder = findCommand(decoders, prefix, code))
        return m_headSize >= decoder->length && (this->*decoder->decode)();
    if (const FixedCommand *fixed = findCommand(fixedCommands, prefix, code)) {
        if (m_headSize >= fixed->length)
            skipped(QStringLiteral("%1 (%2)").arg(headText(fixed->length),
                                                  QLatin1String(fixed->name)));
        return false;
    }
    stray(QStringLiteral("unknown %1 0x%2")
                  .arg(prefixName(prefix))
                  .arg(code, 2, 16, QLatin1Char('0')));
    return false;
}

void Parser::emitCommand(Command::Kind kind,
                         const QString &text,
                         int parameter,
                         int secondParameter)
{
    flushPending();
    // A command taken from the header ends it.
    if (m_state == State::Head)
        m_state = State::Ground;
    Command command;
    command.kind = kind;
    command.text = text;
    command.parameter = parameter;
    command.secondParameter = secondParameter;
    m_handler->command(command);
}

// A function byte that the command does not have: the command is passed over and the byte is
// read again, as new data.
bool Parser::unknownFunction()
{
    stray(QStringLiteral("unknown %1").arg(headText(2)));
    return true;
}

// ESC ( fn pL pH, GS ( fn pL pH, FS ( fn pL pH: pL + 256 pH parameter bytes follow. The
// printer acts on GS ( H (response requests), GS ( L (graphics) and GS ( k (2D symbols); the
// others are passed over.
bool Parser::decodeCountedBlock()
{
    const int function = headByte(2);
    if (m_head[0] == GS && (function == 'H' || function == 'L' || function == 'k')) {
        const Command::Kind kind = function == 'H'   ? Command::Kind::ResponseRequest
                                   : function == 'L' ? Command::Kind::Graphics
                                                     : Command::Kind::Symbol;
        startPayload(headWord(3), kind, QStringLiteral("GS ( %1").arg(codeName(function)));
        return false;
    }
    startSkip(headWord(3),
              QStringLiteral("%1 ( %2 (%3 parameter bytes)")
                      .arg(prefixName(m_head[0]), codeName(headByte(2)))
                      .arg(headWord(3)));
    return false;
}

// ESC * m nL nH: nL + 256 nH columns of one byte (m = 0, 1) or three bytes (m = 32, 33).
bool Parser::decodeBitImage()
{
    const int mode = headByte(2);
    if (mode != 0 && mode != 1 && mode != 32 && mode != 33) {
        stray(QStringLiteral("ESC * %1 (bit image in an undefined mode)").arg(mode));
        return false;
    }
    const int columns = headWord(3);
    const int bytesPerColumn = mode < 32 ? 1 : 3;
    startPayload(qint64(columns) * bytesPerColumn,
                 Command::Kind::BitImage,
                 QStringLiteral("ESC *"),
                 QByteArray(reinterpret_cast<const char *>(m_head.data()) + 2, 3));
    return false;
}

// ESC & y c1 c2: for each character from c1 to c2 a width byte, then y bytes a column.
bool Parser::decodeUserCharacters()
{
    const int height = headByte(2);
    const int first = headByte(3);
    const int last = headByte(4);
    m_what = QStringLiteral("ESC & (user-defined characters %1 to %2)").arg(first).arg(last);
    if (height == 0 || last < first) {
        skipped(m_what);
        return false;
    }
    m_userCharHeight = height;
    m_userCharsLeft = last - first + 1;
    m_state = State::UserCharWidth;
    return false;
}

// ESC D n1 ... NUL
bool Parser::decodeTabPositions()
{
    startUntilNul(MaxTabPositions, QStringLiteral("ESC D (horizontal tab positions)"));
    return false;
}

// GS V m [n]: functions 0, 1, 48 and 49 cut at once; 65, 66, 97, 98, 103 and 104 first feed
// by n.
bool Parser::decodeCut()
{
    const int function = headByte(2);
    switch (function) {
    case 0:
    case 48:
    case 1:
    case 49:
        emitCommand(Command::Kind::Cut, QStringLiteral("GS V"), function);
        return false;
    case 65:
    case 66:
    case 97:
    case 98:
    case 103:
    case 104:
        if (m_headSize >= 4)
            emitCommand(Command::Kind::Cut, QStringLiteral("GS V"), function, headByte(3));
        return false;
    default:
        stray(QStringLiteral("GS V %1 (undefined cut function)").arg(function));
        return false;
    }
}

// GS 8 L p1 p2 p3 p4: a four-byte count of parameter bytes.
bool Parser::decodeGraphics()
{
    if (headByte(2) != 'L')
        return unknownFunction();
    if (m_headSize < 7)
        return false;
    const qint64 length = qint64(headByte(3)) | qint64(headByte(4)) << 8 | qint64(headByte(5)) << 16
                          | qint64(headByte(6)) << 24;
    if (length > MaxPayloadSize) {
        startSkip(length,
                  QStringLiteral("GS 8 L (graphics, %1 parameter bytes, more than any graphic "
                                 "takes)")
                          .arg(length));
        return false;
    }
    startPayload(length, Command::Kind::Graphics, QStringLiteral("GS 8 L"));
    return false;
}

// GS * x y: x * 8 columns of y bytes.
bool Parser::decodeDownloadedImage()
{
    const int x = headByte(2);
    const int y = headByte(3);
    startSkip(qint64(x) * y * 8,
              QStringLiteral("GS * (downloaded bit image %1x%2 dots)").arg(x * 8).arg(y * 8));
    return false;
}

// GS v 0 m xL xH yL yH: yL + 256 yH rows of xL + 256 xH bytes.
bool Parser::decodeRasterImage()
{
    if (headByte(2) != '0')
        return unknownFunction();
    if (m_headSize < 8)
        return false;
    const int widthBytes = headWord(4);
    const int height = headWord(6);
    const qint64 size = qint64(widthBytes) * height;
    if (size > MaxPayloadSize) {
        startSkip(size,
                  QStringLiteral("GS v 0 (raster bit image %1x%2 dots, larger than the printer "
                                 "keeps)")
                          .arg(qint64(widthBytes) * 8)
                          .arg(height));
        return false;
    }
    startPayload(size,
                 Command::Kind::RasterImage,
                 QStringLiteral("GS v 0"),
                 QByteArray(reinterpret_cast<const char *>(m_head.data()) + 3, 5));
    return false;
}

// GS k m: the data of systems 0 to 6 ends with NUL; systems 65 to 79 count it in a byte.
bool Parser::decodeBarCode()
{
    const int system = headByte(2);
    const QByteArray head(1, char(system));
    if (system <= 6) {
        startUntilNul(MaxBarCodeData,
                      QStringLiteral("GS k %1 (bar code)").arg(system),
                      Command::Kind::BarCode,
                      head);
    } else if (system >= 65 && system <= 79) {
        if (m_headSize >= 4)
            startPayload(headByte(3), Command::Kind::BarCode, QStringLiteral("GS k"), head);
    } else {
        stray(QStringLiteral("GS k %1 (undefined bar code system)").arg(system));
    }
    return false;
}

// GS g 0 m nL nH, GS g 2 m nL nH
bool Parser::decodeMaintenanceCounter()
{
    const int function = headByte(2);
    if (function != '0' && function != '2')
        return unknownFunction();
    if (m_headSize >= 6)
        skipped(QStringLiteral("GS g %1 (maintenance counter)").arg(codeName(function)));
    return false;
}

// GS C 0 n m, GS C 1 aL aH bL bH n r, GS C 2 nL nH
bool Parser::decodeCounterPrinting()
{
    const int function = headByte(2);
    const int length = function == '0' ? 5 : function == '1' ? 9 : function == '2' ? 5 : 0;
    if (length == 0)
        return unknownFunction();
    if (m_headSize >= length)
        skipped(QStringLiteral("GS C %1 (counter printing)").arg(codeName(function)));
    return false;
}

// FS q n: n records follow, each a four-byte header and its data.
bool Parser::decodeNvDefinition()
{
    const int count = headByte(2);
    if (count == 0) {
        emitCommand(Command::Kind::DefinitionRejected,
                    QStringLiteral("FS q 0: the number of images must be 1 to %1; "
                                   "definition ignored, stored images kept")
                            .arg(MaxImageCount));
        return false;
    }
    m_fsqCount = count;
    m_fsqUsed = 0;
    m_fsqImages.clear();
    m_headSize = 0;
    m_state = State::FsqRecordHead;
    return false;
}

// FS 2 c1 c2: the 72 bytes of a 24 x 24 character follow.
bool Parser::decodeUserKanji()
{
    startSkip(72, QStringLiteral("FS 2 (user-defined Kanji character)"));
    return false;
}

// FS g 1 m a1 a2 a3 a4 nL nH: nL + 256 nH bytes to write follow; FS g 2 has none.
bool Parser::decodeNvUserMemory()
{
    const int function = headByte(2);
    if (function != '1' && function != '2')
        return unknownFunction();
    if (m_headSize < 10)
        return false;
    if (function == '1')
        startSkip(headWord(8), QStringLiteral("FS g 1 (write NV user memory)"));
    else
        skipped(QStringLiteral("FS g 2 (read NV user memory)"));
    return false;
}

// DLE EOT n; DLE EOT 7 a and DLE EOT 8 a take a byte more.
bool Parser::decodeStatusRequest()
{
    const int request = headByte(2);
    if (request != 7 && request != 8) {
        emitCommand(Command::Kind::StatusRequest, QStringLiteral("DLE EOT"), request);
        return false;
    }
    if (m_headSize >= 4)
        skipped(QStringLiteral("DLE EOT %1 %2 (real-time status)").arg(request).arg(headByte(3)));
    return false;
}

QString Parser::headText(int count) const
{
    QString text = prefixName(m_head[0]) + QLatin1Char(' ') + codeName(m_head[1]);
    for (int i = 2; i < count; ++i)
        text += QLatin1Char(' ') + QString::number(headByte(i));
    return text;
}

void Parser::startSkip(qint64 count, const QString &what)
{
    m_what = what;
    if (count <= 0) {
        m_state = State::Ground;
        skipped(what);
        return;
    }
    m_total = count;
    m_remaining = count;
    m_state = State::Skip;
}

void Parser::startPayload(qint64 count,
                          Command::Kind kind,
                          const QString &name,
                          const QByteArray &head)
{
    m_what = name;
    m_payloadKind = kind;
    m_payload = head;
    if (count <= 0) {
        m_state = State::Ground;
        emitPayload();
        return;
    }
    m_payload.reserve(qsizetype(std::min<qint64>(count, 65536)));
    m_total = count;
    m_remaining = count;
    m_state = State::Payload;
}

void Parser::emitPayload()
{
    Command command;
    command.kind = m_payloadKind;
    command.text = m_what;
    command.payload.swap(m_payload);
    m_handler->command(command);
}

void Parser::endSkip()
{
    if (m_resumeUserChars && m_userCharsLeft > 0) {
        m_state = State::UserCharWidth;
        return;
    }
    m_resumeUserChars = false;
    m_state = State::Ground;
    skipped(m_what);
}

void Parser::startUntilNul(int limit,
                           const QString &what,
                           Command::Kind collect,
                           const QByteArray &head)
{
    m_what = what;
    m_limit = limit;
    m_total = 0;
    m_collectUntilNul = collect != Command::Kind::Skipped;
    m_payloadKind = collect;
    m_payload = head;
    m_state = State::UntilNul;
}

bool Parser::acceptUntilNulByte(uchar byte)
{
    if (byte == NUL) {
        m_state = State::Ground;
        if (m_collectUntilNul)
            emitPayload();
        else
            skipped(m_what);
        return true;
    }
    if (m_total >= m_limit) {
        // The printer gives up on the command here and reads this byte as new data.
        m_state = State::Ground;
        m_payload.clear();
        stray(QStringLiteral("%1: no closing NUL within %2 bytes").arg(m_what).arg(m_limit));
        return false;
    }
    ++m_total;
    if (m_collectUntilNul)
        m_payload.append(char(byte));
    return true;
}

void Parser::acceptUserCharWidth(uchar width)
{
    --m_userCharsLeft;
    const qint64 size = qint64(m_userCharHeight) * width;
    if (size > 0) {
        m_resumeUserChars = true;
        m_total = size;
        m_remaining = size;
        m_state = State::Skip;
        return;
    }
    if (m_userCharsLeft == 0) {
        m_resumeUserChars = false;
        m_state = State::Ground;
        skipped(m_what);
    }
}

void Parser::acceptFsqRecordHead()
{
    const int index = m_fsqImages.size();
    const int width = headWord(0);
    const int height = headWord(2);
    const qint64 size = qint64(width) * height * 8;
    const QString problem = fsqRecordProblem(width, height, size);
    m_headSize = 0;
    if (!problem.isEmpty()) {
        // As on a printer: a bad first record voids the command; a bad later one ends it and
        // keeps the records before it. Either way the bytes after this header are new data.
        const QString where = QStringLiteral("image %1 of %2 (%3x%4 units)")
                                      .arg(index + 1)
                                      .arg(m_fsqCount)
                                      .arg(width)
                                      .arg(height);
        m_state = State::Ground;
        if (index == 0) {
            emitCommand(Command::Kind::DefinitionRejected,
                        QStringLiteral("%1: %2; definition ignored, stored images kept")
                                .arg(where, problem));
        } else {
            QVector<NvBitImage> images;
            images.swap(m_fsqImages);
            m_handler->defineNvImages(images,
                                      m_fsqCount,
                                      QStringLiteral("%1: %2; images %3 to %4 are undefined")
                                              .arg(where, problem)
                                              .arg(index + 1)
                                              .arg(m_fsqCount));
        }
        return;
    }
    m_fsqUsed += NvImageHeaderSize + size;
    m_fsqCurrent = NvBitImage();
    m_fsqCurrent.widthUnits = width;
    m_fsqCurrent.heightUnits = height;
    m_fsqCurrent.data.reserve(qsizetype(size));
    m_total = size;
    m_remaining = size;
    m_state = State::FsqData;
}

// Why a record of this size cannot be taken; empty when it can.
QString Parser::fsqRecordProblem(int width, int height, qint64 size) const
{
    if (width < 1 || width > MaxImageWidthUnits) {
        return QStringLiteral("its width of %1 units is outside 1 to %2")
                .arg(width)
                .arg(MaxImageWidthUnits);
    }
    if (height < 1 || height > MaxImageHeightUnits) {
        return QStringLiteral("its height of %1 units is outside 1 to %2")
                .arg(height)
                .arg(MaxImageHeightUnits);
    }
    if (m_fsqUsed + NvImageHeaderSize + size > m_capacity) {
        return QStringLiteral("its %1 bytes do not fit in the %2 bytes of NV memory left")
                .arg(NvImageHeaderSize + size)
                .arg(std::max<qint64>(0, m_capacity - m_fsqUsed));
    }
    return QString();
}

void Parser::finishFsqRecord()
{
    m_fsqImages.append(std::move(m_fsqCurrent));
    m_fsqCurrent = NvBitImage();
    if (m_fsqImages.size() < m_fsqCount) {
        m_headSize = 0;
        m_state = State::FsqRecordHead;
        return;
    }
    m_state = State::Ground;
    QVector<NvBitImage> images;
    images.swap(m_fsqImages);
    m_handler->defineNvImages(images, m_fsqCount, QString());
}

void Parser::flushPending()
{
    if (!m_text.isEmpty()) {
        QByteArray text;
        text.swap(m_text);
        m_handler->text(text);
    }
    if (!m_controls.isEmpty()) {
        QByteArray controls;
        controls.swap(m_controls);
        QStringList listed;
        for (int i = 0; i < controls.size() && i < MaxListedControls; ++i)
            listed << QStringLiteral("0x%1").arg(uchar(controls.at(i)), 2, 16, QLatin1Char('0'));
        if (controls.size() > MaxListedControls)
            listed << QStringLiteral("...");
        Command command;
        command.kind = Command::Kind::Stray;
        command.text = controls.size() == 1 ? QStringLiteral("control byte %1").arg(listed.first())
                                            : QStringLiteral("%1 control bytes %2")
                                                      .arg(controls.size())
                                                      .arg(listed.join(QLatin1Char(' ')));
        m_handler->command(command);
    }
}

void Parser::finish()
{
    QString what;
    switch (m_state) {
    case State::Ground:
        break;
    case State::Head:
        what = m_headSize == 1
                       ? QStringLiteral("%1 at the end of the data").arg(prefixName(m_head[0]))
                       : QStringLiteral("%1 after %2 of its bytes")
                                 .arg(headText(2))
                                 .arg(m_headSize);
        break;
    case State::Skip:
    case State::UserCharWidth:
        what = m_resumeUserChars || m_state == State::UserCharWidth
                       ? QStringLiteral("%1, cut short in its character data").arg(m_what)
                       : QStringLiteral("%1, %2 of %3 data bytes")
                                 .arg(m_what)
                                 .arg(m_total - m_remaining)
                                 .arg(m_total);
        break;
    case State::Payload:
        what = QStringLiteral("%1, %2 of %3 parameter bytes")
                       .arg(m_what)
                       .arg(m_total - m_remaining)
                       .arg(m_total);
        break;
    case State::UntilNul:
        what = QStringLiteral("%1, no closing NUL").arg(m_what);
        break;
    case State::FsqRecordHead:
        what = QStringLiteral("FS q: header of image %1 of %2, %3 of 4 bytes; nothing stored, "
                              "stored images kept")
                       .arg(m_fsqImages.size() + 1)
                       .arg(m_fsqCount)
                       .arg(m_headSize);
        break;
    case State::FsqData:
        what = QStringLiteral("FS q: image %1 of %2 (%3x%4 dots), %5 of %6 data bytes; nothing "
                              "stored, stored images kept")
                       .arg(m_fsqImages.size() + 1)
                       .arg(m_fsqCount)
                       .arg(m_fsqCurrent.widthDots())
                       .arg(m_fsqCurrent.heightDots())
                       .arg(m_total - m_remaining)
                       .arg(m_total);
        break;
    }
    reset();
    if (!what.isEmpty())
        emitCommand(Command::Kind::Truncated, what);
    flushPending();
}

void Parser::reset()
{
    m_state = State::Ground;
    m_headSize = 0;
    m_remaining = 0;
    m_total = 0;
    m_resumeUserChars = false;
    m_userCharsLeft = 0;
    m_fsqImages.clear();
    m_fsqCurrent = NvBitImage();
    m_payload.clear();
}

} // namespace VirtualPrinter
