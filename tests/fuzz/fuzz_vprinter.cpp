// Fuzz target for the virtual printer: the parser, fed whole, in three chunks and byte by byte,
// must report the same commands, and the printer must take whatever the parser hands on.
#include <vprinter/parser.h>
#include <vprinter/receiptprinter.h>

#include <QCryptographicHash>
#include <QGuiApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace VirtualPrinter;

namespace {

// A small NV memory keeps each run short; the code paths are the same. The strip limit is just
// above the tallest band there is (a double-height image of 288 units), so that every strip
// must keep to it.
constexpr qint64 FuzzNvCapacity = 8192;
constexpr int FuzzMaxStripLength = 2 * 8 * MaxImageHeightUnits + 100;
constexpr size_t ByteByByteLimit = 4096;

class EventLog : public ParserHandler
{
public:
    explicit EventLog(qint64 capacity)
        : m_capacity(capacity)
    {}

    void text(const QByteArray &bytes) override
    {
        check(!bytes.isEmpty(), "empty text run");
        add("T", bytes);
    }
    void command(const Command &command) override
    {
        add("C",
            QByteArray::number(int(command.kind)) + ' ' + QByteArray::number(command.parameter)
                    + ' ' + QByteArray::number(command.secondParameter) + ' '
                    + command.text.toUtf8() + ' ' + command.payload);
    }
    void defineNvImages(const QVector<NvBitImage> &images,
                        int declaredCount,
                        const QString &problem) override
    {
        check(!images.isEmpty() && images.size() <= declaredCount && declaredCount <= 255,
              "image count");
        check((images.size() == declaredCount) == problem.isEmpty(), "problem without a cause");
        qint64 used = 0;
        QByteArray summary = QByteArray::number(declaredCount) + problem.toUtf8();
        for (const NvBitImage &image : images) {
            check(image.isComplete(), "incomplete image");
            check(image.widthUnits >= 1 && image.widthUnits <= MaxImageWidthUnits
                          && image.heightUnits >= 1 && image.heightUnits <= MaxImageHeightUnits,
                  "image size out of range");
            used += NvImageHeaderSize + image.dataSize();
            summary += image.data;
        }
        check(used <= m_capacity, "NV capacity exceeded");
        add("D", summary);
    }

    QByteArray digest() { return m_hash.result(); }

    static void check(bool condition, const char *what)
    {
        if (!condition) {
            std::fprintf(stderr, "invariant broken: %s\n", what);
            std::abort();
        }
    }

private:
    void add(const char *tag, const QByteArray &bytes)
    {
        m_hash.addData(QByteArrayView(tag));
        m_hash.addData(QByteArray::number(bytes.size()));
        m_hash.addData(bytes);
    }

    QCryptographicHash m_hash{QCryptographicHash::Sha1};
    qint64 m_capacity;
};

QByteArray parseInChunks(const char *data, size_t size, size_t first, size_t second)
{
    EventLog log(FuzzNvCapacity);
    Parser parser(&log);
    parser.setNvCapacity(FuzzNvCapacity);
    parser.feed(data, qsizetype(first));
    parser.feed(data + first, qsizetype(second - first));
    parser.feed(data + second, qsizetype(size - second));
    parser.finish();
    EventLog::check(parser.isIdle(), "parser busy after finish");
    return log.digest();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Text is drawn with the system font, which needs a GUI application (never a display).
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const auto *data = reinterpret_cast<const char *>(bytes);
    const QByteArray whole = parseInChunks(data, size, 0, 0);
    const size_t first = size ? bytes[0] % size : 0;
    const size_t second = size ? first + (bytes[size - 1] * 131u) % (size - first + 1) : 0;
    EventLog::check(parseInChunks(data, size, first, second) == whole,
                    "chunking changed the result");
    if (size <= ByteByByteLimit) {
        EventLog log(FuzzNvCapacity);
        Parser parser(&log);
        parser.setNvCapacity(FuzzNvCapacity);
        for (size_t i = 0; i < size; ++i)
            parser.feed(data + i, 1);
        parser.finish();
        EventLog::check(log.digest() == whole, "byte by byte changed the result");
    }

    PrinterSettings settings;
    settings.paperWidth = size && bytes[0] & 1 ? 384 : DefaultPaperWidth;
    settings.nvCapacity = FuzzNvCapacity;
    settings.graphicsCapacity = FuzzNvCapacity;
    settings.maxStripLength = FuzzMaxStripLength;
    settings.asbOnConnect = size && bytes[0] & 2;
    ReceiptPrinter printer(settings);
    printer.onStrip = [&settings](const QImage &strip, const QString &) {
        EventLog::check(strip.width() == settings.paperWidth, "strip width");
        EventLog::check(strip.height() > 0 && strip.height() <= FuzzMaxStripLength, "strip length");
    };
    printer.clock = [] {
        return qint64(0);
    }; // no reset and no wait ends by itself
    printer.connectionOpened();
    printer.receive(data, qsizetype(size));
    // The sensors change under whatever GS a the stream left on.
    printer.setCondition(PaperState::End, true, PrinterError::Mechanical);
    printer.endOfStream();
    printer.tearOff();
    return 0;
}
