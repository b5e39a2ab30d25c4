// The tick count and the high-resolution counter that seed the wiping methods' randomness.
#include "platform/Clock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#ifdef _WIN32
std::uint32_t TickCount()
{
    return static_cast<std::uint32_t>(GetTickCount());
}

std::optional<std::uint64_t> PerformanceCounter()
{
    LARGE_INTEGER count;
    if (!QueryPerformanceCounter(&count)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(count.QuadPart);
}
#else
namespace
{
bool MonotonicNow(timespec& now)
{
    return clock_gettime(CLOCK_MONOTONIC, &now) == 0;
}
} // namespace

std::uint32_t TickCount()
{
    timespec now{};
    if (!MonotonicNow(now)) {
        return 0;
    }
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

std::optional<std::uint64_t> PerformanceCounter()
{
    timespec now{};
    if (!MonotonicNow(now)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}
#endif
