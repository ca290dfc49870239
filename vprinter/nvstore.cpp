#include "nvstore.h"

#include "parser.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryFile>

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

} // namespace

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

bool NvStore::load(const QString &folder, QString *error)
{
    QFile file(QDir(folder).filePath(stateFileName()));
    if (!file.exists()) {
        m_images.clear();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    QVector<NvBitImage> images;
    QString problem;
    if (!deserialize(file.readAll(), &images, &problem)) {
        if (error) {
            *error = QStringLiteral("%1 is damaged (%2); move it away or choose another state "
                                    "folder")
                             .arg(file.fileName(), problem);
        }
        return false;
    }
    m_images = images;
    return true;
}

bool NvStore::save(const QString &folder, QString *error) const
{
    const QString path = QDir(folder).filePath(stateFileName());
    if (m_images.isEmpty()) {
        if (QFile::exists(path) && !QFile::remove(path)) {
            if (error)
                *error = QStringLiteral("cannot remove %1").arg(path);
            return false;
        }
        return true;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = serialize(m_images);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace VirtualPrinter
