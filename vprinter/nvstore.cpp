#include "nvstore.h"

#include "parser.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>

namespace VirtualPrinter {

namespace {

// Collects the one definition a state file must hold, and anything else it holds.
class StateFileReader : public ParserHandler
{
public:
    void text(const QByteArray &) override { m_unexpected = true; }
    void command(const Command &command) override
    {
        m_unexpected = true;
        if (m_problem.isEmpty())
            m_problem = command.text;
    }
    void defineNvImages(const QVector<NvBitImage> &images,
                        int declaredCount,
                        const QString &problem) override
    {
        if (m_definitions++ == 0 && images.size() == declaredCount)
            m_images = images;
        if (!problem.isEmpty())
            m_problem = problem;
    }

    bool ok() const { return m_definitions == 1 && !m_unexpected && m_problem.isEmpty(); }
    QString problem() const { return m_problem; }
    QVector<NvBitImage> images() const { return m_images; }

private:
    QVector<NvBitImage> m_images;
    QString m_problem;
    int m_definitions = 0;
    bool m_unexpected = false;
};

QString damaged(const QString &path, const QString &problem)
{
    return QStringLiteral("%1 is damaged (%2); move it away or choose another state folder")
            .arg(path, problem);
}

// Writes a file atomically (temporary file, then rename). QSaveFile's commit() misses a
// failure of its last flush, as on a full disk, and would put a truncated file in place: the
// flush is checked first.
bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    // A write cut short carries no reason; the next one fails with the system's.
    for (qint64 done = 0; written && done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        written = n > 0;
        done += std::max<qint64>(n, 0);
    }
    if (written && !file.flush()) {
        file.flush(); // as above: the second attempt gets the system's reason
        written = false;
    }
    if (written && file.commit())
        return true;
    if (error)
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

// Puts the bytes in the file, or removes the file for no bytes.
bool replaceFile(const QString &path, const QByteArray &bytes, QString *error)
{
    if (!bytes.isEmpty())
        return writeAtomically(path, bytes, error);
    if (QFile::exists(path) && !QFile::remove(path)) {
        if (error)
            *error = QStringLiteral("cannot remove %1").arg(path);
        return false;
    }
    return true;
}

enum class StateFile { Missing, Read, Refused };

// Reads a state file, whatever lies at its path: only a regular file is opened (a FIFO would
// block start-up, a device never ends), and only up to the largest size a state can have.
StateFile readStateFile(const QString &path, QByteArray *bytes, QString *error)
{
    const QFileInfo info(path);
    const auto refuse = [&path, error](const QString &why) {
        *error = QStringLiteral("%1 %2; move it away or choose another state folder")
                         .arg(path, why);
        return StateFile::Refused;
    };
    if (!info.exists()) {
        if (!info.isSymLink())
            return StateFile::Missing;
        return refuse(
                QStringLiteral("is a link to %1, which does not exist").arg(info.symLinkTarget()));
    }
    if (!info.isFile()) {
        const QString kind = info.isDir() ? QStringLiteral("a folder")
                                          : QStringLiteral("a device, FIFO or socket");
        return refuse(info.isSymLink() ? QStringLiteral("is a link to %1, %2, not a regular file")
                                                 .arg(info.symLinkTarget(), kind)
                                       : QStringLiteral("is %1, not a regular file").arg(kind));
    }
    if (info.size() > MaxStateFileSize) {
        return refuse(QStringLiteral("holds %1 bytes, more than any NV memory of this printer "
                                     "(at most %2 bytes)")
                              .arg(info.size())
                              .arg(MaxStateFileSize));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return StateFile::Refused;
    }
    *bytes = file.read(MaxStateFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return StateFile::Refused;
    }
    if (bytes->size() > MaxStateFileSize) {
        bytes->clear();
        return refuse(
                QStringLiteral("grew beyond %1 bytes while it was read").arg(MaxStateFileSize));
    }
    return StateFile::Read;
}

} // namespace

// The graphics file: a magic, a version, the number of graphics, then for each its key (2
// bytes), width and height (2 bytes each, little-endian), and its data (the rows).
constexpr char GraphicsMagic[] = "NVLOGO-PRINTER-GRAPHICS";
constexpr int GraphicsVersion = 1;

void appendWord(QByteArray *bytes, int value)
{
    bytes->append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
}

QString NvStore::exportFileName(int number)
{
    return QStringLiteral("nv-%1.png").arg(number);
}

const NvBitImage *NvStore::image(int number) const
{
    if (number < 1 || number > m_images.size())
        return nullptr;
    return &m_images.at(number - 1);
}

QByteArray NvStore::serialize(const QVector<NvBitImage> &images)
{
    QByteArray bytes;
    bytes.append(char(0x1C)).append('q').append(char(images.size()));
    for (const NvBitImage &image : images) {
        bytes.append(char(image.widthUnits % 256)).append(char(image.widthUnits / 256));
        bytes.append(char(image.heightUnits % 256)).append(char(image.heightUnits / 256));
        bytes.append(image.data);
    }
    return bytes;
}

bool NvStore::deserialize(const QByteArray &bytes, QVector<NvBitImage> *images, QString *error)
{
    StateFileReader reader;
    Parser parser(&reader);
    parser.setNvCapacity(bytes.size());
    parser.feed(bytes);
    parser.finish();
    if (!bytes.startsWith("\x1c"
                          "q")
        || !reader.ok()) {
        if (error) {
            *error = reader.problem().isEmpty()
                             ? QStringLiteral("it does not hold one FS q definition")
                             : reader.problem();
        }
        return false;
    }
    *images = reader.images();
    return true;
}

QString NvStore::graphicExportName(const QByteArray &key)
{
    return QStringLiteral("graphic-%1.png").arg(keyFileName(key));
}

const NvGraphic *NvStore::graphic(const QByteArray &key) const
{
    const auto found = m_graphics.constFind(key);
    return found == m_graphics.cend() ? nullptr : &found.value();
}

qint64 NvStore::graphicsUsed() const
{
    qint64 used = 0;
    for (const NvGraphic &graphic : m_graphics)
        used += graphic.storedSize();
    return used;
}

QByteArray NvStore::serializeGraphics(const QMap<QByteArray, NvGraphic> &graphics)
{
    QByteArray bytes(GraphicsMagic);
    bytes.append('\n').append(char(GraphicsVersion));
    appendWord(&bytes, int(graphics.size()));
    for (auto it = graphics.cbegin(); it != graphics.cend(); ++it) {
        bytes.append(it.key());
        appendWord(&bytes, it->width);
        appendWord(&bytes, it->height);
        bytes.append(it->data);
    }
    return bytes;
}

bool NvStore::deserializeGraphics(const QByteArray &bytes,
                                  QMap<QByteArray, NvGraphic> *graphics,
                                  QString *error)
{
    const QByteArray magic = QByteArray(GraphicsMagic) + '\n';
    const auto fail = [error](const QString &why) {
        *error = why;
        return false;
    };
    if (!bytes.startsWith(magic))
        return fail(QStringLiteral("it is not a graphics file"));
    qsizetype at = magic.size();
    const auto byteAt = [&bytes](qsizetype i) {
        return int(uchar(bytes.at(i)));
    };
    if (bytes.size() < at + 3)
        return fail(QStringLiteral("it is cut short"));
    if (byteAt(at) != GraphicsVersion)
        return fail(QStringLiteral("its version %1 is not known").arg(byteAt(at)));
    const int count = byteAt(at + 1) + 256 * byteAt(at + 2);
    at += 3;
    QMap<QByteArray, NvGraphic> read;
    for (int i = 0; i < count; ++i) {
        if (bytes.size() < at + 6)
            return fail(QStringLiteral("it is cut short"));
        const QByteArray key = bytes.mid(at, 2);
        NvGraphic graphic;
        graphic.width = byteAt(at + 2) + 256 * byteAt(at + 3);
        graphic.height = byteAt(at + 4) + 256 * byteAt(at + 5);
        at += 6;
        if (uchar(key.at(0)) < 32 || uchar(key.at(0)) > 126 || uchar(key.at(1)) < 32
            || uchar(key.at(1)) > 126 || graphic.width < 1 || graphic.width > MaxGraphicWidth
            || graphic.height < 1 || graphic.height > MaxGraphicHeight || read.contains(key)) {
            return fail(QStringLiteral("graphic %1 of %2 is out of range").arg(i + 1).arg(count));
        }
        if (bytes.size() < at + graphic.dataSize())
            return fail(QStringLiteral("it is cut short"));
        graphic.data = bytes.mid(at, qsizetype(graphic.dataSize()));
        at += graphic.dataSize();
        read.insert(key, graphic);
    }
    if (at != bytes.size())
        return fail(QStringLiteral("it holds more than its graphics"));
    *graphics = read;
    return true;
}

bool NvStore::load(const QString &folder, QString *error)
{
    QString problem;
    QByteArray bytes;
    const QString graphicsPath = QDir(folder).filePath(graphicsFileName());
    const StateFile graphicsFile = readStateFile(graphicsPath, &bytes, &problem);
    QMap<QByteArray, NvGraphic> graphics;
    if (graphicsFile == StateFile::Refused
        || (graphicsFile == StateFile::Read && !deserializeGraphics(bytes, &graphics, &problem))) {
        if (error)
            *error = graphicsFile == StateFile::Refused ? problem : damaged(graphicsPath, problem);
        return false;
    }
    const QString path = QDir(folder).filePath(stateFileName());
    bytes.clear();
    const StateFile imagesFile = readStateFile(path, &bytes, &problem);
    QVector<NvBitImage> images;
    if (imagesFile == StateFile::Refused
        || (imagesFile == StateFile::Read && !deserialize(bytes, &images, &problem))) {
        if (error)
            *error = imagesFile == StateFile::Refused ? problem : damaged(path, problem);
        return false;
    }
    m_graphics = graphics;
    m_images = images;
    return true;
}

bool NvStore::save(const QString &folder, QString *error) const
{
    // The graphics first: a graphic defined erases the images, and a failure in between then
    // leaves images that should have gone, never a graphic lost.
    const QDir dir(folder);
    return replaceFile(dir.filePath(graphicsFileName()),
                       m_graphics.isEmpty() ? QByteArray() : serializeGraphics(m_graphics),
                       error)
           && replaceFile(dir.filePath(stateFileName()),
                          m_images.isEmpty() ? QByteArray() : serialize(m_images),
                          error);
}

bool NvStore::exportPngs(const QString &folder, QStringList *written, QString *error) const
{
    if (!prepareWritableFolder(folder, error))
        return false;
    QDir dir(folder);
    for (int number = 1; number <= m_images.size(); ++number) {
        const QString path = dir.filePath(exportFileName(number));
        if (!savePng(m_images.at(number - 1).toImage(), path, error))
            return false;
        if (written)
            *written << path;
    }
    static const QRegularExpression exported(QStringLiteral("^nv-([0-9]+)\\.png$"));
    const QStringList existing = dir.entryList({QStringLiteral("nv-*.png")}, QDir::Files);
    for (const QString &name : existing) {
        const QRegularExpressionMatch match = exported.match(name);
        if (match.hasMatch() && match.captured(1).toLongLong() > m_images.size())
            dir.remove(name);
    }
    QStringList kept;
    for (auto it = m_graphics.cbegin(); it != m_graphics.cend(); ++it) {
        const QString name = graphicExportName(it.key());
        if (!savePng(it->toImage(), dir.filePath(name), error))
            return false;
        kept << name;
        if (written)
            *written << dir.filePath(name);
    }
    for (const QString &name : dir.entryList({QStringLiteral("graphic-*.png")}, QDir::Files)) {
        if (!kept.contains(name))
            dir.remove(name);
    }
    return true;
}

bool prepareWritableFolder(const QString &folder, QString *error)
{
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".write-test-XXXXXX")));
    if (!probe.open()) {
        if (error) {
            *error = QStringLiteral("cannot write into the folder %1: %2")
                             .arg(folder, probe.errorString());
        }
        return false;
    }
    return true;
}

bool savePng(const QImage &image, const QString &path, QString *error)
{
    // The picture is encoded in memory first: Qt's PNG writer leaks its buffers when the device
    // fails under it (a full disk), and a printer left running there would grow without bound.
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        if (error)
            *error = QStringLiteral("cannot encode %1 as PNG").arg(path);
        return false;
    }
    return writeAtomically(path, png, error);
}

} // namespace VirtualPrinter
