#pragma once

#include "nvstore.h"
#include "paper.h"
#include "parser.h"
#include "readablelog.h"
#include "textrenderer.h"

#include <QImage>
#include <QString>

#include <functional>

namespace VirtualPrinter {

constexpr int DefaultPaperWidth = 576;
constexpr int MinPaperWidth = 48;
constexpr int MaxPaperWidth = 4096;
// About 12 m of paper at 203 dpi: a strip this long is written out even without a cut, so
// that a stream that never cuts cannot fill the memory.
constexpr int DefaultMaxStripLength = 100000;
// The longest model or firmware text GS I answers with.
constexpr int MaxIdentityText = 80;
// How long the printer waits for the host's ACK, NAK or CAN after a block of the key list.
constexpr int KeyListHandshakeMs = 5000;

// The paper roll as the sensors see it.
enum class PaperState { Ok, NearEnd, End };
// The error the printer is in, if any.
enum class PrinterError { None, Mechanical, Autocutter, Unrecoverable, AutoRecoverable };

struct PrinterSettings
{
    int paperWidth = DefaultPaperWidth;
    QString outFolder;    // strips are written here; empty: they are only handed to onStrip
    QString stateFolder;  // the NV images are kept here; empty: they live as long as the object
    QString exportFolder; // when set, refreshed with nv-N.png after every definition
    qint64 nvCapacity = DefaultNvCapacity;
    int maxStripLength = DefaultMaxStripLength;

    PaperState paper = PaperState::Ok;
    bool coverOpen = false;
    PrinterError error = PrinterError::None;
    int resetMs = 0;     // after an FS q: this long without answers or printing
    bool replies = true; // false: a printer without a back channel, it never sends a byte
    qint64 graphicsCapacity = DefaultGraphicsCapacity; // NV graphics, overhead included
    // GS I 67 and 65: printable ASCII, at most MaxIdentityText bytes each.
    QByteArray model = "nvlogo-printer";
    QByteArray firmware = "1.0";
    // Some printers send a status block as soon as a connection opens, before any GS a.
    bool asbOnConnect = false;
};

// The virtual printer: it takes ESC/POS bytes, keeps NV images, prints text and NV images on
// a strip of paper, and at each cut writes the strip as a PNG. It logs one readable line per
// command it met.
class ReceiptPrinter : public ParserHandler
{
public:
    explicit ReceiptPrinter(const PrinterSettings &settings);

    // Prepares the folders and loads the NV images from the state folder.
    bool start(QString *error);

    void receive(const QByteArray &bytes) { receive(bytes.constData(), bytes.size()); }
    void receive(const char *data, qsizetype size);
    // The end of a connection or file: reports a command cut short, gives up waiting for the
    // host.
    void endOfStream();
    // Whether the parser is between commands and the printer waits for nothing from the host.
    bool isIdle() const { return m_parser.isIdle() && !m_waitingForHandshake; }
    // Whether the printer resets now: it takes no bytes and sends none.
    bool isResetting() const;
    // Ends what is due by now (a reset, a wait for the host); the printer asks for this call
    // through onTimer.
    void poll();
    // Prints a pending text line and writes an uncut strip, as when the paper is torn off at
    // the end; returns the file name, or an empty string when nothing was printed.
    QString tearOff();
    // Writes a run of log lines held back to be grouped; the service calls it when the data
    // that came has been taken.
    void flushLog() { m_log.flush(); }

    // The paper, cover and error change, as the sensors see them: with automatic status back
    // on for what changed, the printer sends a status block.
    void setCondition(PaperState paper, bool coverOpen, PrinterError error);
    // A connection opened: with asbOnConnect, the printer sends a status block at once.
    void connectionOpened();
    // The 4-byte block of automatic status back for the printer's state now.
    QByteArray statusBlock() const;

    const NvStore &store() const { return m_store; }
    const PrinterSettings &settings() const { return m_settings; }
    static QString stripFileName(int number);

    std::function<void(const QString &line)> onLog;
    std::function<void(const QByteArray &bytes)> onReply;
    std::function<void(const QImage &strip, const QString &fileName)> onStrip;
    // The printer starts a reset of this many milliseconds (after an FS q).
    std::function<void(int ms)> onReset;
    // poll() is wanted in this many milliseconds.
    std::function<void(qint64 ms)> onTimer;
    // Milliseconds from any fixed point; steady by default, replaceable for tests.
    std::function<qint64()> clock;

    void text(const QByteArray &bytes) override;
    void command(const Command &command) override;
    void defineNvImages(const QVector<NvBitImage> &images,
                        int declaredCount,
                        const QString &problem) override;

private:
    struct Style
    {
        int widthScale = 1;
        int heightScale = 1;
        bool bold = false;
        int underline = 0;
    };
    // A character of the line buffer, or a bit image (ESC *) when image is not null.
    struct Glyph
    {
        QChar character;
        Style style;
        QImage image;
    };

    // receiptprinter.cpp: the state machine around the parser.
    void log(const QString &line);
    void initialize(const Command &command);
    void lineFeed();
    void resetModes();
    void handleSetting(const Command &command);
    QString notPrintingReason() const;
    void startReset();
    qint64 now() const;
    // Writes the NV memory to the state folder; when it cannot, puts `before` back and says why.
    bool makeDurable(const NvStore &before, QString *error);

    // printing.cpp: text, paper and cuts.
    void addGlyph(uchar byte);
    void printLine(bool wrapped = false, int minimumFeed = 0);
    void cut(const Command &command);
    void feed(int dots);
    void printBand(const QImage &band);
    bool writeUncutStrip();
    QString writeStrip();
    QString lineText() const;
    QString movePaper(const Command &command);
    QString setTextMode(const Command &command);
    QString setPrintModes(int n);
    QString selectCodeTable(int n);
    void drawLine(QImage *band, int lineHeight) const;

    // images.cpp: raster and bit images, the print buffer's graphics.
    void printPicture(const QImage &picture, const QString &what);
    void printRaster(const Command &command);
    void addBitImage(const Command &command);
    void storeBufferGraphic(const QByteArray &p);
    void printBufferGraphic();

    // symbols.cpp: bar codes and 2D symbols.
    QString setBarCodeSize(const Command &command);
    void printBarCode(const Command &command);
    void handleSymbol(const Command &command);
    void printSymbol(int kind);
    QImage labelledBox(int width, int height, const QString &label) const;

    // nvimages.cpp: FS p (FS q comes through defineNvImages).
    void printNvImage(int number, int mode);

    // replies.cpp: what goes back to the host.
    // Sends bytes to the host; false when the printer has no back channel.
    bool reply(const QByteArray &bytes);
    QString replied(const QByteArray &bytes);
    QString answerStatusRequest(int request);
    QString answerIdRequest(int request);
    void answerResponseRequest(const Command &command);
    QString setAutoStatusBack(int n);
    QString answerTransmitStatus(int n);

    // graphics.cpp: NV graphics and the key-list handshake.
    void handleGraphics(const Command &command);
    bool handleNvGraphics(int function, const QByteArray &p);
    void defineGraphic(const QByteArray &p);
    void printGraphic(const QByteArray &key, int scaleX, int scaleY);
    void startKeyList();
    void sendKeyListBlock();
    void saveNv(const NvStore &before,
                const QString &what,
                const std::function<QString(const QString &why)> &refusal);
    void acceptHandshake(uchar byte);
    void endHandshakeWait(const QString &why);

    PrinterSettings m_settings;
    Parser m_parser;
    NvStore m_store;
    Paper m_paper;
    TextRenderer m_renderer;

    QVector<Glyph> m_line;
    int m_lineWidth = 0;
    Style m_style;
    int m_lineSpacing = 0;
    int m_justification = 0;
    int m_nextStrip = 1;

    qint64 m_resetUntil = -1; // -1: no reset going on or to report
    qint64 m_droppedDuringReset = 0;

    ReadableLog m_log;
    // The command in hand did something the outside sees (a strip, a reply, the NV memory):
    // its line is always logged.
    bool m_outside = false;

    bool m_asbOn = false; // GS a n with n != 0
    int m_asbItems = 0;   // the items of GS a n whose changes send a block
    int m_codeTable = 0;  // ESC t n, one of TextRenderer's tables
    int m_barCodeHeight = 0;
    int m_barCodeModule = 0;
    // GS ( L fn 112/113: the graphics in the print buffer, not yet scaled.
    QImage m_bufferGraphic;
    int m_bufferScaleX = 1;
    int m_bufferScaleY = 1;
    // GS ( k: the data stored for each symbol (cn - 48), the QR code's module and level.
    QByteArray m_symbolData[7];
    int m_qrModule = 0;
    int m_qrLevel = 0;

    bool m_waitingForHandshake = false;
    qint64 m_handshakeDeadline = 0;
    QList<QByteArray> m_keyListBlocks;
    int m_keyListBlock = 0;
};

} // namespace VirtualPrinter
