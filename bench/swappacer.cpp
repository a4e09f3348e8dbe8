// Preloaded into a benchmark's GL clients (LD_PRELOAD): each glXSwapBuffers returns on the next
// tick of a 60 Hz clock, as it does on a display that waits for its refresh. Without it a
// private X server takes every frame at once, and any visible animation renders hundreds of
// frames a second, which says nothing about the CPU it costs on a validator.
// TESSIVO_SWAP_HZ sets the rate (0 turns the pacing off; the shim then only counts).

#include <dlfcn.h>
#include <time.h>

#include <cstdint>
#include <cstdlib>

namespace {

using SwapBuffers = void (*)(void *display, unsigned long drawable);

SwapBuffers realSwapBuffers()
{
    static SwapBuffers real = reinterpret_cast<SwapBuffers>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
    return real;
}

int64_t periodNs()
{
    static const int64_t period = [] {
        const char *text = std::getenv("TESSIVO_SWAP_HZ");
        const long hz = text ? std::strtol(text, nullptr, 10) : 60;
        return hz > 0 ? int64_t(1000000000) / hz : int64_t(0);
    }();
    return period;
}

int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void glXSwapBuffers(void *display, unsigned long drawable)
{
    if (SwapBuffers real = realSwapBuffers())
        real(display, drawable);
    const int64_t period = periodNs();
    if (period <= 0)
        return;
    // The refresh ticks are those of the monotonic clock, the same for every client.
    const int64_t next = (monotonicNs() / period + 1) * period;
    timespec until{time_t(next / 1000000000), long(next % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
    }
}
