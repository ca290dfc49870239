#pragma once

#include "errors.h"

#include <functional>

namespace NvImage {

// Asked every few rows while pictures are read, checked, decoded, dithered and rasterised,
// so that the work ends within a fraction of a second of a request: true stops it with
// StoppedError. An empty check never stops. It runs on the working thread and must be quick
// and must not throw (reading an atomic flag set by a signal handler, for example).
using StopCheck = std::function<bool()>;

// Throws StoppedError when stop is set and answers true.
inline void throwIfStopped(const StopCheck &stop)
{
    if (stop && stop())
        throw StoppedError();
}

} // namespace NvImage
