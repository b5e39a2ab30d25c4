// RC2: key schedule and block functions.
#include "crypto/VXrc2.h"

#include "crypto/VXcpu.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <bit>

// MinGW is left out: its 64-bit target does not realign the stack for 32-byte spills, and AVX code
// faults there. The lane templates shared by the AVX2 and AVX-512 kernels take their target only by
// being inlined into them, which GCC allows and Clang refuses: Clang builds keep the portable path.
#if defined(__x86_64__) && !defined(_WIN32) && !defined(__clang__)
#include <immintrin.h>
#define VX_RC2_VECTOR 1
#endif

namespace
{
// RFC 2268, section 2: the permutation of 0..255 derived from the digits of pi.
constexpr std::uint8_t kPiTable[256] = {
    0xd9, 0x78, 0xf9, 0xc4, 0x19, 0xdd, 0xb5, 0xed, 0x28, 0xe9, 0xfd, 0x79, 0x4a, 0xa0, 0xd8, 0x9d,
    0xc6, 0x7e, 0x37, 0x83, 0x2b, 0x76, 0x53, 0x8e, 0x62, 0x4c, 0x64, 0x88, 0x44, 0x8b, 0xfb, 0xa2,
    0x17, 0x9a, 0x59, 0xf5, 0x87, 0xb3, 0x4f, 0x13, 0x61, 0x45, 0x6d, 0x8d, 0x09, 0x81, 0x7d, 0x32,
    0xbd, 0x8f, 0x40, 0xeb, 0x86, 0xb7, 0x7b, 0x0b, 0xf0, 0x95, 0x21, 0x22, 0x5c, 0x6b, 0x4e, 0x82,
    0x54, 0xd6, 0x65, 0x93, 0xce, 0x60, 0xb2, 0x1c, 0x73, 0x56, 0xc0, 0x14, 0xa7, 0x8c, 0xf1, 0xdc,
    0x12, 0x75, 0xca, 0x1f, 0x3b, 0xbe, 0xe4, 0xd1, 0x42, 0x3d, 0xd4, 0x30, 0xa3, 0x3c, 0xb6, 0x26,
    0x6f, 0xbf, 0x0e, 0xda, 0x46, 0x69, 0x07, 0x57, 0x27, 0xf2, 0x1d, 0x9b, 0xbc, 0x94, 0x43, 0x03,
    0xf8, 0x11, 0xc7, 0xf6, 0x90, 0xef, 0x3e, 0xe7, 0x06, 0xc3, 0xd5, 0x2f, 0xc8, 0x66, 0x1e, 0xd7,
    0x08, 0xe8, 0xea, 0xde, 0x80, 0x52, 0xee, 0xf7, 0x84, 0xaa, 0x72, 0xac, 0x35, 0x4d, 0x6a, 0x2a,
    0x96, 0x1a, 0xd2, 0x71, 0x5a, 0x15, 0x49, 0x74, 0x4b, 0x9f, 0xd0, 0x5e, 0x04, 0x18, 0xa4, 0xec,
    0xc2, 0xe0, 0x41, 0x6e, 0x0f, 0x51, 0xcb, 0xcc, 0x24, 0x91, 0xaf, 0x50, 0xa1, 0xf4, 0x70, 0x39,
    0x99, 0x7c, 0x3a, 0x85, 0x23, 0xb8, 0xb4, 0x7a, 0xfc, 0x02, 0x36, 0x5b, 0x25, 0x55, 0x97, 0x31,
    0x2d, 0x5d, 0xfa, 0x98, 0xe3, 0x8a, 0x92, 0xae, 0x05, 0xdf, 0x29, 0x10, 0x67, 0x6c, 0xba, 0xc9,
    0xd3, 0x00, 0xe6, 0xcf, 0xe1, 0x9e, 0xa8, 0x2c, 0x63, 0x16, 0x01, 0x3f, 0x58, 0xe2, 0x89, 0xa9,
    0x0d, 0x38, 0x34, 0x1b, 0xab, 0x33, 0xff, 0xb0, 0xbb, 0x48, 0x0c, 0x5f, 0xb9, 0xb1, 0xcd, 0x2e,
    0xc5, 0xf3, 0xdb, 0x47, 0xe5, 0xa5, 0x9c, 0x77, 0x0a, 0xa6, 0x20, 0x68, 0xfe, 0x7f, 0xc1, 0xad,
};

inline std::uint32_t LoadLE16(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8);
}

// (x & y) + (~x & z) of RFC 2268: the two terms share no bit, so the sum is a bitwise select, which
// is one step shorter on the dependency chain.
inline std::uint32_t Select(std::uint32_t x, std::uint32_t y, std::uint32_t z)
{
    return z ^ (x & (y ^ z));
}

inline std::uint32_t UnMixWord(std::uint32_t r, std::uint16_t k, std::uint32_t s, int rotation)
{
    return static_cast<std::uint16_t>(std::rotr(static_cast<std::uint16_t>(r), rotation) - k - s);
}

// Encryption runs one block at a time (CBC chains it), so its words can live in 16-bit registers:
// the rotations and additions then need no zero extension between steps.
struct TWords16
{
    std::uint16_t r0, r1, r2, r3;
};

inline TWords16 Load16(const std::uint8_t* p)
{
    return {static_cast<std::uint16_t>(LoadLE16(p)), static_cast<std::uint16_t>(LoadLE16(p + 2)),
            static_cast<std::uint16_t>(LoadLE16(p + 4)), static_cast<std::uint16_t>(LoadLE16(p + 6))};
}

inline void Store16(std::uint8_t* p, const TWords16& w)
{
    p[0] = static_cast<std::uint8_t>(w.r0);
    p[1] = static_cast<std::uint8_t>(w.r0 >> 8);
    p[2] = static_cast<std::uint8_t>(w.r1);
    p[3] = static_cast<std::uint8_t>(w.r1 >> 8);
    p[4] = static_cast<std::uint8_t>(w.r2);
    p[5] = static_cast<std::uint8_t>(w.r2 >> 8);
    p[6] = static_cast<std::uint8_t>(w.r3);
    p[7] = static_cast<std::uint8_t>(w.r3 >> 8);
}

inline std::uint16_t Select16(std::uint16_t x, std::uint16_t y, std::uint16_t z)
{
    return static_cast<std::uint16_t>(z ^ (x & (y ^ z)));
}

// The word under update and its key are summed before the select term joins, since only that term
// waits on the word computed just before; GCC would otherwise move the key onto the select term and
// lengthen the serial chain by an addition.
[[gnu::always_inline]] inline std::uint16_t MixWord16(std::uint16_t r, std::uint16_t k, std::uint16_t s, int rotation)
{
    auto rk = static_cast<std::uint16_t>(r + k);
    KeepScalar(rk);
    return std::rotl(static_cast<std::uint16_t>(rk + s), rotation);
}

[[gnu::always_inline]] inline void Mix(TWords16& w, const std::uint16_t* k)
{
    w.r0 = MixWord16(w.r0, k[0], Select16(w.r3, w.r2, w.r1), 1);
    w.r1 = MixWord16(w.r1, k[1], Select16(w.r0, w.r3, w.r2), 2);
    w.r2 = MixWord16(w.r2, k[2], Select16(w.r1, w.r0, w.r3), 3);
    w.r3 = MixWord16(w.r3, k[3], Select16(w.r2, w.r1, w.r0), 5);
}

[[gnu::always_inline]] inline void Mash(TWords16& w, const std::uint16_t* k)
{
    w.r0 = static_cast<std::uint16_t>(w.r0 + k[w.r3 & 63]);
    w.r1 = static_cast<std::uint16_t>(w.r1 + k[w.r0 & 63]);
    w.r2 = static_cast<std::uint16_t>(w.r2 + k[w.r1 & 63]);
    w.r3 = static_cast<std::uint16_t>(w.r3 + k[w.r2 & 63]);
}

inline void UnMix(std::uint32_t& r0, std::uint32_t& r1, std::uint32_t& r2, std::uint32_t& r3, const std::uint16_t* k)
{
    r3 = UnMixWord(r3, k[3], Select(r2, r1, r0), 5);
    r2 = UnMixWord(r2, k[2], Select(r1, r0, r3), 3);
    r1 = UnMixWord(r1, k[1], Select(r0, r3, r2), 2);
    r0 = UnMixWord(r0, k[0], Select(r3, r2, r1), 1);
}

inline void UnMash(std::uint32_t& r0, std::uint32_t& r1, std::uint32_t& r2, std::uint32_t& r3, const std::uint16_t* k)
{
    r3 = static_cast<std::uint16_t>(r3 - k[r2 & 63]);
    r2 = static_cast<std::uint16_t>(r2 - k[r1 & 63]);
    r1 = static_cast<std::uint16_t>(r1 - k[r0 & 63]);
    r0 = static_cast<std::uint16_t>(r0 - k[r3 & 63]);
}

// Five mixing rounds, a mashing round, six mixing rounds, a mashing round, five mixing rounds.
// Inlined and unrolled, so that the words stay in registers: as a call on a struct in memory every
// step stored its word back (the key may alias it), and CBC chained each block through the stack.
[[gnu::always_inline]] inline void Encrypt(TWords16& w, const std::uint16_t* k)
{
#pragma GCC unroll 5
    for (int i = 0; i < 20; i += 4) {
        Mix(w, k + i);
    }
    Mash(w, k);
#pragma GCC unroll 6
    for (int i = 20; i < 44; i += 4) {
        Mix(w, k + i);
    }
    Mash(w, k);
#pragma GCC unroll 5
    for (int i = 44; i < 64; i += 4) {
        Mix(w, k + i);
    }
}

// Blocks side by side, round by round, so that their serial chains overlap; N is 1 to 3. The words
// are plain 32-bit variables with clear upper halves: the compiler turns arrays or structs of them
// into packed registers here, to no gain.
template <int N>
inline void Decrypt(std::uint32_t* w, const std::uint16_t* k)
{
    std::uint32_t a0 = w[0], a1 = w[1], a2 = w[2], a3 = w[3];
    std::uint32_t b0 = 0, b1 = 0, b2 = 0, b3 = 0;
    std::uint32_t c0 = 0, c1 = 0, c2 = 0, c3 = 0;
    if constexpr (N >= 2) {
        b0 = w[4];
        b1 = w[5];
        b2 = w[6];
        b3 = w[7];
    }
    if constexpr (N >= 3) {
        c0 = w[8];
        c1 = w[9];
        c2 = w[10];
        c3 = w[11];
    }
    auto unMix = [&](int i) {
        UnMix(a0, a1, a2, a3, k + i);
        if constexpr (N >= 2) {
            UnMix(b0, b1, b2, b3, k + i);
        }
        if constexpr (N >= 3) {
            UnMix(c0, c1, c2, c3, k + i);
        }
    };
    auto unMash = [&] {
        UnMash(a0, a1, a2, a3, k);
        if constexpr (N >= 2) {
            UnMash(b0, b1, b2, b3, k);
        }
        if constexpr (N >= 3) {
            UnMash(c0, c1, c2, c3, k);
        }
    };
    for (int i = 60; i >= 44; i -= 4) {
        unMix(i);
    }
    unMash();
    for (int i = 40; i >= 20; i -= 4) {
        unMix(i);
    }
    unMash();
    for (int i = 16; i >= 0; i -= 4) {
        unMix(i);
    }
    w[0] = a0;
    w[1] = a1;
    w[2] = a2;
    w[3] = a3;
    if constexpr (N >= 2) {
        w[4] = b0;
        w[5] = b1;
        w[6] = b2;
        w[7] = b3;
    }
    if constexpr (N >= 3) {
        w[8] = c0;
        w[9] = c1;
        w[10] = c2;
        w[11] = c3;
    }
}

#ifdef VX_RC2_VECTOR
// CBC decryption with one block per 16-bit lane: four registers hold word 0, 1, 2 and 3 of every
// block, and G such sets run side by side, since each word's update waits on the one before.
#define VX_TARGET_AVX2 __attribute__((target("avx2")))
#define VX_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512vl,avx512bw")))

// Within each 128-bit lane, two blocks' words interleaved pairwise (word j of both blocks in 32-bit
// element j), which a 4x4 transpose of 32-bit elements then gathers into one register per word;
// kUnpair undoes kPair.
constexpr std::int8_t kPair[16] = {0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15};
constexpr std::int8_t kUnpair[16] = {0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15};

// GCC 12's AVX-512 intrinsics fill their "undefined" operands by self-initialisation, which its own
// uninitialised-use analysis then reports once they are inlined here. The lane templates below carry
// no target of their own and warn of the vector ABI, but are always inlined into the targeted
// kernels at the end, so no vector crosses a call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wpsabi"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
template <class V, class Unpack>
[[gnu::always_inline]] inline void Transpose4(V& m0, V& m1, V& m2, V& m3, Unpack u)
{
    const V t0 = u.lo32(m0, m1);
    const V t1 = u.hi32(m0, m1);
    const V t2 = u.lo32(m2, m3);
    const V t3 = u.hi32(m2, m3);
    m0 = u.lo64(t0, t2);
    m1 = u.hi64(t0, t2);
    m2 = u.lo64(t1, t3);
    m3 = u.hi64(t1, t3);
}

struct TAvx2
{
    using V = __m256i;
    static constexpr std::size_t kLanes = 16;
    VX_TARGET_AVX2 static V Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    VX_TARGET_AVX2 static void Store(std::uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    VX_TARGET_AVX2 static V Table(const std::int8_t (&t)[16])
    {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
    }
    VX_TARGET_AVX2 static V Shuffle(V v, V t) { return _mm256_shuffle_epi8(v, t); }
    VX_TARGET_AVX2 static V lo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    VX_TARGET_AVX2 static V hi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    VX_TARGET_AVX2 static V lo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    VX_TARGET_AVX2 static V hi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
    VX_TARGET_AVX2 static V Set(std::uint16_t k) { return _mm256_set1_epi16(static_cast<short>(k)); }
    VX_TARGET_AVX2 static V Sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    template <int N>
    VX_TARGET_AVX2 static V Rotr(V x)
    {
        return _mm256_or_si256(_mm256_srli_epi16(x, N), _mm256_slli_epi16(x, 16 - N));
    }
    VX_TARGET_AVX2 static V Select(V x, V y, V z)
    {
        return _mm256_xor_si256(z, _mm256_and_si256(x, _mm256_xor_si256(y, z)));
    }

    // The key table split into its low and high bytes, sixteen entries to a byte shuffle. Each shuffle
    // after the first holds its entries xor those of the one before, and its index is the data minus
    // 16 per step: shuffles past the entry's own see a negative index and give zero, the ones
    // before cancel out, so the xor of all four leaves exactly the entry.
    struct TKeys
    {
        V low[4], high[4];
    };
    VX_TARGET_AVX2 static V Lookup(const TKeys& keys, V x)
    {
        const V index = _mm256_and_si256(x, _mm256_set1_epi16(63));
        V i = _mm256_or_si256(index, _mm256_slli_epi16(index, 8));
        V low = _mm256_shuffle_epi8(keys.low[0], i);
        V high = _mm256_shuffle_epi8(keys.high[0], i);
#pragma GCC unroll 3
        for (int t = 1; t < 4; ++t) {
            i = _mm256_sub_epi8(i, _mm256_set1_epi8(16));
            low = _mm256_xor_si256(low, _mm256_shuffle_epi8(keys.low[t], i));
            high = _mm256_xor_si256(high, _mm256_shuffle_epi8(keys.high[t], i));
        }
        return _mm256_blendv_epi8(low, high, _mm256_set1_epi16(static_cast<short>(0xFF00)));
    }
};

struct TAvx512
{
    using V = __m512i;
    static constexpr std::size_t kLanes = 32;
    VX_TARGET_AVX512 static V Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    VX_TARGET_AVX512 static void Store(std::uint8_t* p, V v) { _mm512_storeu_si512(p, v); }
    VX_TARGET_AVX512 static V Table(const std::int8_t (&t)[16])
    {
        return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
    }
    VX_TARGET_AVX512 static V Shuffle(V v, V t) { return _mm512_shuffle_epi8(v, t); }
    VX_TARGET_AVX512 static V lo32(V a, V b) { return _mm512_unpacklo_epi32(a, b); }
    VX_TARGET_AVX512 static V hi32(V a, V b) { return _mm512_unpackhi_epi32(a, b); }
    VX_TARGET_AVX512 static V lo64(V a, V b) { return _mm512_unpacklo_epi64(a, b); }
    VX_TARGET_AVX512 static V hi64(V a, V b) { return _mm512_unpackhi_epi64(a, b); }
    VX_TARGET_AVX512 static V Set(std::uint16_t k) { return _mm512_set1_epi16(static_cast<short>(k)); }
    VX_TARGET_AVX512 static V Sub(V a, V b) { return _mm512_sub_epi16(a, b); }
    template <int N>
    VX_TARGET_AVX512 static V Rotr(V x)
    {
        return _mm512_or_si512(_mm512_srli_epi16(x, N), _mm512_slli_epi16(x, 16 - N));
    }
    VX_TARGET_AVX512 static V Select(V x, V y, V z) { return _mm512_ternarylogic_epi32(x, y, z, 0xCA); }

    // The whole key table fits two registers: a two-table permute looks up 32 lanes at once, and
    // ignores the index bits above the sixth as the mask of 63 would clear them.
    struct TKeys
    {
        V low, high;
    };
    VX_TARGET_AVX512 static V Lookup(const TKeys& keys, V x)
    {
        return _mm512_permutex2var_epi16(keys.low, x, keys.high);
    }
};

template <class S, int G>
[[gnu::always_inline]] inline void UnMixLanes(typename S::V (&r)[G][4], const std::uint16_t* k)
{
    using V = typename S::V;
    const V k3 = S::Set(k[3]), k2 = S::Set(k[2]), k1 = S::Set(k[1]), k0 = S::Set(k[0]);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        r[g][3] = S::Sub(S::Sub(S::template Rotr<5>(r[g][3]), k3), S::Select(r[g][2], r[g][1], r[g][0]));
    }
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        r[g][2] = S::Sub(S::Sub(S::template Rotr<3>(r[g][2]), k2), S::Select(r[g][1], r[g][0], r[g][3]));
    }
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        r[g][1] = S::Sub(S::Sub(S::template Rotr<2>(r[g][1]), k1), S::Select(r[g][0], r[g][3], r[g][2]));
    }
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        r[g][0] = S::Sub(S::Sub(S::template Rotr<1>(r[g][0]), k0), S::Select(r[g][3], r[g][2], r[g][1]));
    }
}

template <class S, int G>
[[gnu::always_inline]] inline void UnMashLanes(typename S::V (&r)[G][4], const typename S::TKeys& keys)
{
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        r[g][3] = S::Sub(r[g][3], S::Lookup(keys, r[g][2]));
        r[g][2] = S::Sub(r[g][2], S::Lookup(keys, r[g][1]));
        r[g][1] = S::Sub(r[g][1], S::Lookup(keys, r[g][0]));
        r[g][0] = S::Sub(r[g][0], S::Lookup(keys, r[g][3]));
    }
}

// Decrypts S::kLanes * G blocks at a time; returns how many blocks it did.
template <class S, int G>
[[gnu::always_inline]] inline std::size_t DecryptLanes(const std::uint16_t* k, const typename S::TKeys& keys,
                                                       const std::uint8_t* in, std::uint8_t* out, std::size_t blocks)
{
    using V = typename S::V;
    constexpr std::size_t step = S::kLanes * G;
    constexpr std::size_t bytes = sizeof(V);
    const V pair = S::Table(kPair);
    const V unpair = S::Table(kUnpair);
    std::size_t done = 0;
    for (; blocks - done >= step; done += step, in += 8 * step, out += 8 * step) {
        V r[G][4];
#pragma GCC unroll 4
        for (int g = 0; g < G; ++g) {
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) {
                r[g][j] = S::Shuffle(S::Load(in + (4 * g + j) * bytes), pair);
            }
            Transpose4(r[g][0], r[g][1], r[g][2], r[g][3], S{});
        }
#pragma GCC unroll 5
        for (int i = 60; i >= 44; i -= 4) {
            UnMixLanes<S, G>(r, k + i);
        }
        UnMashLanes<S, G>(r, keys);
#pragma GCC unroll 6
        for (int i = 40; i >= 20; i -= 4) {
            UnMixLanes<S, G>(r, k + i);
        }
        UnMashLanes<S, G>(r, keys);
#pragma GCC unroll 5
        for (int i = 16; i >= 0; i -= 4) {
            UnMixLanes<S, G>(r, k + i);
        }
#pragma GCC unroll 4
        for (int g = 0; g < G; ++g) {
            Transpose4(r[g][0], r[g][1], r[g][2], r[g][3], S{});
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) {
                S::Store(out + (4 * g + j) * bytes, S::Shuffle(r[g][j], unpair));
            }
        }
    }
    return done;
}

VX_TARGET_AVX2 std::size_t DecryptAvx2(const std::uint16_t* k, const std::uint8_t* in, std::uint8_t* out,
                                       std::size_t blocks)
{
    std::array<std::uint8_t, 128> bytes; // the 64 low bytes, then the 64 high bytes
    for (std::size_t j = 0; j < 64; ++j) {
        bytes[j] = static_cast<std::uint8_t>(k[j]);
        bytes[64 + j] = static_cast<std::uint8_t>(k[j] >> 8);
    }
    for (std::size_t half : {0, 64}) {
        for (std::size_t j = 63; j >= 16; --j) {
            bytes[half + j] ^= bytes[half + j - 16];
        }
    }
    TAvx2::TKeys keys;
    for (int t = 0; t < 4; ++t) {
        keys.low[t] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&bytes[16 * t])));
        keys.high[t] =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&bytes[64 + 16 * t])));
    }
    // The copy is wiped; the tables built from it live in registers and the compiler's spills, like
    // the key words of every path. Wiping those too cost a fifth of the speed, batches being short.
    SecureFill(bytes, 0);
    std::size_t done = DecryptLanes<TAvx2, 2>(k, keys, in, out, blocks);
    done += DecryptLanes<TAvx2, 1>(k, keys, in + 8 * done, out + 8 * done, blocks - done);
    return done;
}

VX_TARGET_AVX512 std::size_t DecryptAvx512(const std::uint16_t* k, const std::uint8_t* in, std::uint8_t* out,
                                           std::size_t blocks)
{
    const TAvx512::TKeys keys{_mm512_loadu_si512(k), _mm512_loadu_si512(k + 32)};
    std::size_t done = DecryptLanes<TAvx512, 2>(k, keys, in, out, blocks);
    done += DecryptLanes<TAvx512, 1>(k, keys, in + 8 * done, out + 8 * done, blocks - done);
    return done;
}
#pragma GCC diagnostic pop
#endif

enum class TPath
{
    Portable,
    Avx2,
    Avx512,
};

// Asked at every call, not cached: tests and benchmarks switch features between runs. Neither path
// gathers (byte shuffles or a two-table permute look up the key table), so neither waits for
// FastGather.
TPath ChoosePath()
{
#ifdef VX_RC2_VECTOR
    if (VXCpuHas(TVXCpuFeature::Avx512)) {
        return TPath::Avx512;
    }
    if (VXCpuHas(TVXCpuFeature::Avx2)) {
        return TPath::Avx2;
    }
#endif
    return TPath::Portable;
}
} // namespace

TVX_rc2::TVX_rc2()
{
    TVX_rc2::Wipe();
}

TVX_rc2::~TVX_rc2()
{
    TVX_rc2::Wipe();
}

void TVX_rc2::Wipe()
{
    SecureFill(m_k, 0);
    TVX_blockcipher64::Wipe();
}

void TVX_rc2::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    const std::size_t n = sizeBits / 8;
    // A key of 4 bits passes the common size check but leaves no byte to expand from.
    if (n == 0) {
        throw EVX_cipher(kInvalidKeySize);
    }
    std::array<std::uint8_t, 128> l{};
    std::copy_n(key.begin(), n, l.begin());
    for (std::size_t i = n; i < 128; ++i) {
        l[i] = kPiTable[static_cast<std::uint8_t>(l[i - 1] + l[i - n])];
    }
    // With the effective length at 1024 bits the reduction step of the expansion touches L[0] only.
    l[0] = kPiTable[l[0]];
    for (std::size_t i = 0; i < 64; ++i) {
        m_k[i] = static_cast<std::uint16_t>(l[2 * i] | (l[2 * i + 1] << 8));
    }
    SecureFill(l, 0);
}

void TVX_rc2::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    TWords16 w = Load16(in);
    Encrypt(w, m_k.data());
    Store16(out, w);
}

void TVX_rc2::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t w[4];
    for (std::size_t i = 0; i < 4; ++i) {
        w[i] = LoadLE16(in + 2 * i);
    }
    Decrypt<1>(w, m_k.data());
    for (std::size_t i = 0; i < 4; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(w[i]);
        out[2 * i + 1] = static_cast<std::uint8_t>(w[i] >> 8);
    }
}

void TVX_rc2::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
#ifdef VX_RC2_VECTOR
    if (blocks >= 16) {
        std::size_t done = 0;
        switch (ChoosePath()) {
        case TPath::Avx512:
            done = DecryptAvx512(m_k.data(), in, out, blocks);
            break;
        case TPath::Avx2:
            done = DecryptAvx2(m_k.data(), in, out, blocks);
            break;
        case TPath::Portable:
            break;
        }
        in += 8 * done;
        out += 8 * done;
        blocks -= done;
    }
#endif
    for (; blocks >= 3; blocks -= 3, in += 24, out += 24) {
        std::uint32_t w[12];
        for (std::size_t i = 0; i < 12; ++i) {
            w[i] = LoadLE16(in + 2 * i);
        }
        Decrypt<3>(w, m_k.data());
        for (std::size_t i = 0; i < 12; ++i) {
            out[2 * i] = static_cast<std::uint8_t>(w[i]);
            out[2 * i + 1] = static_cast<std::uint8_t>(w[i] >> 8);
        }
    }
    for (; blocks > 0; --blocks, in += 8, out += 8) {
        DoDecryptBlock(in, out);
    }
}

std::string_view TVX_rc2::ActivePathName()
{
    switch (ChoosePath()) {
    case TPath::Avx512:
        return "avx512";
    case TPath::Avx2:
        return "avx2";
    case TPath::Portable:
        break;
    }
    return "portable";
}

void TVX_rc2::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                 std::uint8_t* chain) const
{
    TWords16 w = Load16(chain);
    for (std::size_t b = 0; b < blocks; ++b, in += 8, out += 8) {
        const TWords16 p = Load16(in);
        w.r0 ^= p.r0;
        w.r1 ^= p.r1;
        w.r2 ^= p.r2;
        w.r3 ^= p.r3;
        Encrypt(w, m_k.data());
        Store16(out, w);
    }
    Store16(chain, w);
}

bool TVX_rc2::CheckVectors()
{
    // 128-bit keys under the 1024-bit effective length (RFC 2268's own vectors use other lengths).
    static constexpr TKnownAnswer<16, 8> kVectors[] = {
        {128,
         {0x88, 0xbc, 0xa9, 0x0e, 0x90, 0x87, 0x5a, 0x7f, 0x0f, 0x79, 0xc3, 0x84, 0x62, 0x7b, 0xaf, 0xb2},
         {0, 0, 0, 0, 0, 0, 0, 0},
         {0xdb, 0x66, 0x01, 0x5b, 0x97, 0x95, 0x4a, 0x43}},
        {128,
         {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f},
         {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef},
         {0x19, 0x41, 0xc8, 0x40, 0x8f, 0x6c, 0xef, 0x7a}},
    };
    return CheckKnownAnswers<TVX_rc2>(kVectors);
}
