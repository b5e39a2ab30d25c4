#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes that a test can tell from any wiping pattern: byte i is (i * 31 + seed) mod 256.
inline std::vector<std::uint8_t> MarkedBytes(std::size_t size, std::uint8_t seed = 7)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + seed);
    }
    return bytes;
}
