// Byte strings for tests: the byte vector type, reproducible random bytes and text as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using TBytes = std::vector<std::uint8_t>;

// Reproducible bytes for a test: the same seed gives the same bytes on every run.
inline std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(rng());
    }
    return out;
}

// The next bytes of a test's own generator, for tests that draw keys and blocks in turn.
inline TBytes RandomBytes(std::mt19937& rng, std::size_t n)
{
    TBytes out(n);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(rng());
    }
    return out;
}

inline std::vector<std::uint8_t> Text(const std::string& s)
{
    return std::vector<std::uint8_t>(s.begin(), s.end());
}
