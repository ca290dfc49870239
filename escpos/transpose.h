#pragma once

#include <QtGlobal>

namespace EscPos {

// The transpose of an 8 x 8 bit matrix held in a 64-bit word, row k in byte 7 - k and the
// leftmost bit of a row in bit 7. Eight rows of eight dots become eight columns of eight
// dots, the top dot in bit 7: FS q's column layout from a dot image's rows. It is its own
// inverse, so it turns columns back into rows too.
constexpr quint64 transpose8x8(quint64 x)
{
    quint64 t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    return x ^ t ^ (t << 28);
}

} // namespace EscPos
