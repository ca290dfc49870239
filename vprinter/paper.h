#pragma once

#include <QImage>
#include <QVector>

namespace VirtualPrinter {

// The strip of paper between two cuts: printed bands and blank feeds, one bit per dot,
// as wide as the paper.
class Paper
{
public:
    explicit Paper(int width);

    int width() const { return m_width; }
    int length() const { return m_length; }
    // Whether anything was printed on the strip; feeds alone do not count.
    bool hasPrint() const { return m_hasPrint; }

    // A band of the paper's width made by makePaperImage().
    void print(const QImage &band);
    void feed(int dots);

    // The whole strip as one black-on-white image; the paper starts afresh.
    QImage take();
    // Throws the strip away unprinted.
    void clear();

private:
    struct Band
    {
        QImage image; // null for a blank feed
        int blank = 0;
    };

    int m_width;
    int m_length = 0;
    bool m_hasPrint = false;
    QVector<Band> m_bands;
};

} // namespace VirtualPrinter
