// Several 128-bit blocks side by side as 32-bit word lanes, for round functions written once.
#pragma once

#include "crypto/VXblockciphers.h"

#include <cstddef>
#include <cstdint>

// W independent 128-bit blocks as four 32-bit words each, for ciphers whose round functions are
// written once over W lanes: W = 1 is the plain block function, W > 1 keeps several blocks of a
// CBC decryption in flight.
template <std::size_t W>
using TLanes = std::uint32_t[W][4];

template <std::size_t W, bool BigEndian>
[[gnu::always_inline]] inline void LoadLanes(TLanes<W>& x, const std::uint8_t* in)
{
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
#pragma GCC unroll 4
        for (std::size_t w = 0; w < 4; ++w) {
            x[l][w] = BigEndian ? LoadBE32(in + 16 * l + 4 * w) : LoadLE32(in + 16 * l + 4 * w);
        }
    }
}

template <std::size_t W, bool BigEndian>
[[gnu::always_inline]] inline void StoreLanes(const TLanes<W>& x, std::uint8_t* out)
{
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
#pragma GCC unroll 4
        for (std::size_t w = 0; w < 4; ++w) {
            if (BigEndian) {
                StoreBE32(out + 16 * l + 4 * w, x[l][w]);
            } else {
                StoreLE32(out + 16 * l + 4 * w, x[l][w]);
            }
        }
    }
}
