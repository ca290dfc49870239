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

} // namespace HandMade
