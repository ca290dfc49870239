#pragma once

// Byte streams built by hand for the virtual printer's tests, following the command manuals'
// layouts directly.

#include <QByteArray>

#include <functional>
#include <initializer_list>

namespace HandMade {

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (const int value : values)
        result.append(char(value));
    return result;
}

using DotFunction = std::function<bool(int column, int row)>;

// The data of an FS q record: 8*x columns, leftmost first, each y bytes from the top, bit 7
// the top dot.
inline QByteArray columns(int x, int y, const DotFunction &black)
{
    QByteArray data;
    for (int column = 0; column < 8 * x; ++column) {
        for (int band = 0; band < y; ++band) {
            int byte = 0;
            for (int bit = 0; bit < 8; ++bit) {
                if (black(column, band * 8 + bit))
                    byte |= 0x80 >> bit;
            }
            data.append(char(byte));
        }
    }
    return data;
}

inline QByteArray record(int x, int y, const QByteArray &data)
{
    return bytes({x % 256, x / 256, y % 256, y / 256}) + data;
}

inline QByteArray record(int x, int y, const DotFunction &black)
{
    return record(x, y, columns(x, y, black));
}

inline QByteArray defineImages(std::initializer_list<QByteArray> records)
{
    QByteArray stream = bytes({0x1C, 'q', int(records.size())});
    for (const QByteArray &r : records)
        stream += r;
    return stream;
}

// An irregular pattern, so that a mirrored, shifted or transposed image shows.
inline bool pattern(int column, int row)
{
    return (column * 7 + row * 3) % 5 == 0 || column == row || (row == 0 && column % 3 == 0);
}

inline QByteArray initialize()
{
    return bytes({0x1B, '@'});
}

inline QByteArray printImage(int n, int m)
{
    return bytes({0x1C, 'p', n, m});
}

inline QByteArray cutB(int feed = 0)
{
    return bytes({0x1D, 'V', 66, feed});
}

// GS ( L pL pH m fn ... with m = 48: an NV graphics function and its parameters.
inline QByteArray graphics(int function, const QByteArray &parameters = QByteArray())
{
    const int size = 2 + int(parameters.size());
    return bytes({0x1D, '(', 'L', size % 256, size / 256, '0', function}) + parameters;
}

// The rows of a raster graphic: ceil(width / 8) bytes each, the leftmost dot in bit 7.
inline QByteArray rows(int width, int height, const DotFunction &black)
{
    QByteArray data;
    for (int y = 0; y < height; ++y) {
        for (int x0 = 0; x0 < width; x0 += 8) {
            int byte = 0;
            for (int bit = 0; bit < 8 && x0 + bit < width; ++bit) {
                if (black(x0 + bit, y))
                    byte |= 0x80 >> bit;
            }
            data.append(char(byte));
        }
    }
    return data;
}

// fn 67: define a one-colour raster graphic, in the short form or the long GS 8 L form.
inline QByteArray defineGraphic(const QByteArray &key,
                                int width,
                                int height,
                                const DotFunction &black,
                                bool longForm = false)
{
    const QByteArray body = bytes({'0', 'C', '0'}) + key
                            + bytes({1, width % 256, width / 256, height % 256, height / 256, 0x31})
                            + rows(width, height, black);
    const qint64 size = body.size();
    if (longForm) {
        return bytes({0x1D,
                      '8',
                      'L',
                      int(size & 0xFF),
                      int((size >> 8) & 0xFF),
                      int((size >> 16) & 0xFF),
                      int(size >> 24)})
               + body;
    }
    return bytes({0x1D, '(', 'L', int(size % 256), int(size / 256)}) + body;
}

} // namespace HandMade
