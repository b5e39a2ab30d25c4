#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// Every figure is over the same 64 MiB message in consecutive 8192-byte pieces, CBC where the
// algorithm has blocks, a 128-bit key: the way whole files go through the ciphers.
inline constexpr std::size_t kBenchBytes = std::size_t{64} << 20;
inline constexpr std::size_t kBenchPiece = 8192;

inline constexpr std::uint8_t kBenchKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                              0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

inline std::vector<std::uint8_t>& BenchMessage()
{
    static std::vector<std::uint8_t> message = [] {
        std::vector<std::uint8_t> m(kBenchBytes);
        std::uint32_t x = 12345;
        for (auto& b : m) {
            x = x * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(x >> 16);
        }
        return m;
    }();
    return message;
}

inline void SetThroughput(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBenchBytes));
}
