#pragma once

#include <QtGlobal>

#include <time.h>

// One clock for every process of a run: the driver stamps a child's start with it and the child
// stamps its frames, so the two can be subtracted.
inline qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}
