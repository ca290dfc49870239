#pragma once

#include "nvbitimage.h"
#include "nvgraphic.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

namespace VirtualPrinter {

// The largest NV memory the printer may be given, for FS q images and NV graphics alike.
constexpr qint64 MaxNvMemory = 64 * 1024 * 1024;
// The largest state file there can be: FS q n and its records fill at most the largest memory
// plus 3 bytes, and a graphic's record (6 bytes and its data) is smaller than what it takes of
// the memory, so the graphics file stays below the memory plus its own header.
constexpr qint64 MaxStateFileSize = MaxNvMemory + 64;

// The printer's NV memory for FS q images. It can be kept in a state folder, so that the
// images survive a restart as they survive power-off on a printer. The state file holds the
// FS q command that defined the images, byte for byte.
class NvStore
{
public:
    static QString stateFileName() { return QStringLiteral("nv-images.bin"); }
    // nv-1.png for image 1, and so on.
    static QString exportFileName(int number);

    int count() const { return m_images.size(); }
    const QVector<NvBitImage> &images() const { return m_images; }
    // Image 1 is the first; nullptr when the number is not defined.
    const NvBitImage *image(int number) const;

    // A definition replaces every stored image, as on a printer.
    void replaceAll(const QVector<NvBitImage> &images) { m_images = images; }

    // NV graphics, by their two-byte key, in key order.
    static QString graphicsFileName() { return QStringLiteral("nv-graphics.bin"); }
    static QString graphicExportName(const QByteArray &key);
    const QMap<QByteArray, NvGraphic> &graphics() const { return m_graphics; }
    const NvGraphic *graphic(const QByteArray &key) const;
    // The NV memory the graphics take, overhead included.
    qint64 graphicsUsed() const;
    void setGraphic(const QByteArray &key, const NvGraphic &graphic) { m_graphics[key] = graphic; }
    bool removeGraphic(const QByteArray &key) { return m_graphics.remove(key) > 0; }
    void removeAllGraphics() { m_graphics.clear(); }
    static QByteArray serializeGraphics(const QMap<QByteArray, NvGraphic> &graphics);
    static bool deserializeGraphics(const QByteArray &bytes,
                                    QMap<QByteArray, NvGraphic> *graphics,
                                    QString *error);

    static QByteArray serialize(const QVector<NvBitImage> &images);
    static bool deserialize(const QByteArray &bytes, QVector<NvBitImage> *images, QString *error);

    // Reads the state folder; a folder without a state file holds no images. A state file that
    // is not a regular file, or is larger than any NV memory, is refused before it is read.
    bool load(const QString &folder, QString *error);
    // Writes the state file atomically: either the old or the new file is there, never half.
    bool save(const QString &folder, QString *error) const;
    // Writes nv-1.png to nv-N.png, removing nv-K.png files for numbers no longer defined, and
    // graphic-KEY.png for each graphic, removing those of keys no longer stored.
    bool exportPngs(const QString &folder, QStringList *written, QString *error) const;

private:
    QVector<NvBitImage> m_images;
    QMap<QByteArray, NvGraphic> m_graphics;
};

// Creates the folder when needed and checks that files can be written in it.
bool prepareWritableFolder(const QString &folder, QString *error);

// Writes a PNG atomically (temporary file, then rename).
bool savePng(const QImage &image, const QString &path, QString *error);

} // namespace VirtualPrinter
