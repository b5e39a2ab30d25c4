// The tick count and the high-resolution counter that seed the wiping methods' randomness.
#pragma once

#include <cstdint>
#include <optional>

// Milliseconds since an arbitrary start (system start on Win32), as an unsigned 32-bit count that
// wraps after about 49.7 days.
std::uint32_t TickCount();

// A high-resolution counter: nanoseconds of the monotonic clock on POSIX, the performance counter's
// own units on Win32. Empty where the system has none.
std::optional<std::uint64_t> PerformanceCounter();
