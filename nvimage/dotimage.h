#pragma once

#include <escpos/dotimage.h>

// The dot image moved to the ESC/POS layer; this name stays until every caller says EscPos.
namespace NvImage {
using DotImage = EscPos::DotImage;
}
