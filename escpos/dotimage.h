#pragma once

#include <QByteArray>

namespace EscPos {

// A picture as the printer's dots: black or white, nothing else. The encoders take it; the
// picture code below them makes it. Header only and Qt Core only.
//
// The dots are packed in rows, top to bottom, bytesPerRow(width) bytes a row; in each byte
// the leftmost dot is the most significant bit and a set bit is black. The bits past the
// width at the end of each row are always clear (white), so two images with the same dots
// have the same bytes.
struct DotImage
{
    int width = 0;
    int height = 0;
    QByteArray rows;

    static constexpr int bytesPerRow(int width) { return width > 0 ? (width + 7) / 8 : 0; }

    // An all-white image of the size, or an empty one for a size that is not positive.
    static DotImage blank(int width, int height)
    {
        DotImage image;
        if (width <= 0 || height <= 0)
            return image;
        image.width = width;
        image.height = height;
        image.rows = QByteArray(qsizetype(bytesPerRow(width)) * height, '\0');
        return image;
    }

    int rowBytes() const { return bytesPerRow(width); }
    bool isNull() const { return width <= 0 || height <= 0; }
    // Whether rows holds exactly the bytes the size needs.
    bool isValid() const
    {
        return width >= 0 && height >= 0 && rows.size() == qsizetype(rowBytes()) * height;
    }

    const uchar *row(int y) const
    {
        return reinterpret_cast<const uchar *>(rows.constData()) + qsizetype(y) * rowBytes();
    }
    uchar *row(int y) { return reinterpret_cast<uchar *>(rows.data()) + qsizetype(y) * rowBytes(); }

    // Whether the dot is black; every dot outside the image is white.
    bool dot(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= width || y >= height || !isValid())
            return false;
        return (row(y)[x / 8] >> (7 - x % 8)) & 1;
    }

    void setDot(int x, int y, bool black)
    {
        if (x < 0 || y < 0 || x >= width || y >= height || !isValid())
            return;
        uchar &byte = row(y)[x / 8];
        const uchar bit = uchar(0x80u >> (x % 8));
        byte = black ? uchar(byte | bit) : uchar(byte & ~bit);
    }

    friend bool operator==(const DotImage &a, const DotImage &b)
    {
        return a.width == b.width && a.height == b.height && a.rows == b.rows;
    }
    friend bool operator!=(const DotImage &a, const DotImage &b) { return !(a == b); }
};

} // namespace EscPos
