// Serpent: key schedule and block functions.
#include "crypto/VXserpent.h"

#include "crypto/VXcpu.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <bit>

// The vector path needs GCC or Clang on x86-64. MinGW is left out: its 64-bit target does not
// realign the stack for 32-byte spills, and AVX code faults there.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && !defined(_WIN32)
#define VX_SERPENT_AVX2 1
#include <immintrin.h>
#endif

#define VX_ALWAYS_INLINE inline __attribute__((always_inline))

namespace
{
// The S-boxes as Boolean circuits over whole words (bit p of x0..x3 is one nibble), written once
// for 32-bit words and for vectors of them. Each circuit reads x0..x3 and writes the S-box image
// back to them; r0..r4 are working registers.
// clang-format off
template <class T>
VX_ALWAYS_INLINE void S0(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r3 ^= r0; r4 =  r1; r1 &= r3; r4 ^= r2;
    r1 ^= r0; r0 |= r3; r0 ^= r4; r4 ^= r3;
    r3 ^= r2; r2 |= r1; r2 ^= r4; r4 = ~r4;
    r4 |= r1; r1 ^= r3; r1 ^= r4; r3 |= r0;
    r1 ^= r3; r4 ^= r3;
    x0 = r1;
    x1 = r4;
    x2 = r2;
    x3 = r0;
}

template <class T>
VX_ALWAYS_INLINE void S1(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r0 = ~r0; r2 = ~r2; r4 =  r0; r0 &= r1;
    r2 ^= r0; r0 |= r3; r3 ^= r2; r1 ^= r0;
    r0 ^= r4; r4 |= r1; r1 ^= r3; r2 |= r0;
    r2 &= r4; r0 ^= r1; r1 &= r2; r1 ^= r0;
    r0 &= r2; r0 ^= r4;
    x0 = r2;
    x1 = r0;
    x2 = r3;
    x3 = r1;
}

template <class T>
VX_ALWAYS_INLINE void S2(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r4 =  r0; r0 &= r2; r0 ^= r3; r2 ^= r1;
    r2 ^= r0; r3 |= r4; r3 ^= r1; r4 ^= r2;
    r1 =  r3; r3 |= r4; r3 ^= r0; r0 &= r1;
    r4 ^= r0; r1 ^= r3; r1 ^= r4; r4 = ~r4;
    x0 = r2;
    x1 = r3;
    x2 = r1;
    x3 = r4;
}

template <class T>
VX_ALWAYS_INLINE void S3(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r4 =  r0; r0 |= r3; r3 ^= r1; r1 &= r4;
    r4 ^= r2; r2 ^= r3; r3 &= r0; r4 |= r1;
    r3 ^= r4; r0 ^= r1; r4 &= r0; r1 ^= r3;
    r4 ^= r2; r1 |= r0; r1 ^= r2; r0 ^= r3;
    r2 =  r1; r1 |= r3; r1 ^= r0;
    x0 = r1;
    x1 = r2;
    x2 = r3;
    x3 = r4;
}

template <class T>
VX_ALWAYS_INLINE void S4(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r1 ^= r3; r3 = ~r3; r2 ^= r3; r3 ^= r0;
    r4 =  r1; r1 &= r3; r1 ^= r2; r4 ^= r3;
    r0 ^= r4; r2 &= r4; r2 ^= r0; r0 &= r1;
    r3 ^= r0; r4 |= r1; r4 ^= r0; r0 |= r3;
    r0 ^= r2; r2 &= r3; r0 = ~r0; r4 ^= r2;
    x0 = r1;
    x1 = r4;
    x2 = r0;
    x3 = r3;
}

template <class T>
VX_ALWAYS_INLINE void S5(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r0 ^= r1; r1 ^= r3; r3 = ~r3; r4 =  r1;
    r1 &= r0; r2 ^= r3; r1 ^= r2; r2 |= r4;
    r4 ^= r3; r3 &= r1; r3 ^= r0; r4 ^= r1;
    r4 ^= r2; r2 ^= r0; r0 &= r3; r2 = ~r2;
    r0 ^= r4; r4 |= r3; r2 ^= r4;
    x0 = r1;
    x1 = r3;
    x2 = r0;
    x3 = r2;
}

template <class T>
VX_ALWAYS_INLINE void S6(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r2 = ~r2; r4 =  r3; r3 &= r0; r0 ^= r4;
    r3 ^= r2; r2 |= r4; r1 ^= r3; r2 ^= r0;
    r0 |= r1; r2 ^= r1; r4 ^= r0; r0 |= r3;
    r0 ^= r2; r4 ^= r3; r4 ^= r0; r3 = ~r3;
    r2 &= r4; r2 ^= r3;
    x0 = r0;
    x1 = r1;
    x2 = r4;
    x3 = r2;
}

template <class T>
VX_ALWAYS_INLINE void S7(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r4 =  r1; r1 |= r2; r1 ^= r3; r4 ^= r2;
    r2 ^= r1; r3 |= r4; r3 &= r0; r4 ^= r2;
    r3 ^= r1; r1 |= r4; r1 ^= r0; r0 |= r4;
    r0 ^= r2; r1 ^= r4; r2 ^= r1; r1 &= r0;
    r1 ^= r4; r2 = ~r2; r2 |= r0; r4 ^= r2;
    x0 = r4;
    x1 = r3;
    x2 = r1;
    x3 = r0;
}

template <class T>
VX_ALWAYS_INLINE void InvS0(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r2 = ~r2; r4 =  r1; r1 |= r0; r4 = ~r4;
    r1 ^= r2; r2 |= r4; r1 ^= r3; r0 ^= r4;
    r2 ^= r0; r0 &= r3; r4 ^= r0; r0 |= r1;
    r0 ^= r2; r3 ^= r4; r2 ^= r1; r3 ^= r0;
    r3 ^= r1; r2 &= r3; r4 ^= r2;
    x0 = r0;
    x1 = r4;
    x2 = r1;
    x3 = r3;
}

template <class T>
VX_ALWAYS_INLINE void InvS1(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r4 =  r1; r1 ^= r3; r3 &= r1; r4 ^= r2;
    r3 ^= r0; r0 |= r1; r2 ^= r3; r0 ^= r4;
    r0 |= r2; r1 ^= r3; r0 ^= r1; r1 |= r3;
    r1 ^= r0; r4 = ~r4; r4 ^= r1; r1 |= r0;
    r1 ^= r0; r1 |= r4; r3 ^= r1;
    x0 = r4;
    x1 = r0;
    x2 = r3;
    x3 = r2;
}

template <class T>
VX_ALWAYS_INLINE void InvS2(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r2 ^= r3; r3 ^= r0; r4 =  r3; r3 &= r2;
    r3 ^= r1; r1 |= r2; r1 ^= r4; r4 &= r3;
    r2 ^= r3; r4 &= r0; r4 ^= r2; r2 &= r1;
    r2 |= r0; r3 = ~r3; r2 ^= r3; r0 ^= r3;
    r0 &= r1; r3 ^= r4; r3 ^= r0;
    x0 = r1;
    x1 = r4;
    x2 = r2;
    x3 = r3;
}

template <class T>
VX_ALWAYS_INLINE void InvS3(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r4 =  r2; r2 ^= r1; r0 ^= r2; r4 &= r2;
    r4 ^= r0; r0 &= r1; r1 ^= r3; r3 |= r4;
    r2 ^= r3; r0 ^= r3; r1 ^= r4; r3 &= r2;
    r3 ^= r1; r1 ^= r0; r1 |= r2; r0 ^= r3;
    r1 ^= r4; r0 ^= r1;
    x0 = r2;
    x1 = r1;
    x2 = r3;
    x3 = r0;
}

template <class T>
VX_ALWAYS_INLINE void InvS4(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r4 =  r2; r2 &= r3; r2 ^= r1; r1 |= r3;
    r1 &= r0; r4 ^= r2; r4 ^= r1; r1 &= r2;
    r0 = ~r0; r3 ^= r4; r1 ^= r3; r3 &= r0;
    r3 ^= r2; r0 ^= r1; r2 &= r0; r3 ^= r0;
    r2 ^= r4; r2 |= r3; r3 ^= r0; r2 ^= r1;
    x0 = r0;
    x1 = r3;
    x2 = r2;
    x3 = r4;
}

template <class T>
VX_ALWAYS_INLINE void InvS5(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r1 = ~r1; r4 =  r3; r2 ^= r1; r3 |= r0;
    r3 ^= r2; r2 |= r1; r2 &= r0; r4 ^= r3;
    r2 ^= r4; r4 |= r0; r4 ^= r1; r1 &= r2;
    r1 ^= r3; r4 ^= r2; r3 &= r4; r4 ^= r1;
    r3 ^= r4; r4 = ~r4; r3 ^= r0;
    x0 = r1;
    x1 = r4;
    x2 = r3;
    x3 = r2;
}

template <class T>
VX_ALWAYS_INLINE void InvS6(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r0 ^= r2; r4 =  r2; r2 &= r0; r4 ^= r3;
    r2 = ~r2; r3 ^= r1; r2 ^= r3; r4 |= r0;
    r0 ^= r2; r3 ^= r4; r4 ^= r1; r1 &= r3;
    r1 ^= r0; r0 ^= r3; r0 |= r2; r3 ^= r1;
    r4 ^= r0;
    x0 = r1;
    x1 = r2;
    x2 = r4;
    x3 = r3;
}

template <class T>
VX_ALWAYS_INLINE void InvS7(T& x0, T& x1, T& x2, T& x3)
{
    T r0 = x0, r1 = x1, r2 = x2, r3 = x3, r4;
    r4 =  r2; r2 ^= r0; r0 &= r3; r4 |= r3;
    r2 = ~r2; r3 ^= r1; r1 |= r0; r0 ^= r2;
    r2 &= r4; r3 &= r4; r1 ^= r2; r2 ^= r0;
    r0 |= r2; r4 ^= r1; r0 ^= r3; r3 ^= r4;
    r4 |= r0; r3 ^= r2; r4 ^= r2;
    x0 = r3;
    x1 = r0;
    x2 = r1;
    x3 = r4;
}
// clang-format on

template <int n, class T>
VX_ALWAYS_INLINE void Rol(T& x)
{
    x = (x << n) | (x >> (32 - n));
}

template <class T>
VX_ALWAYS_INLINE void Lt(T& x0, T& x1, T& x2, T& x3)
{
    Rol<13>(x0);
    Rol<3>(x2);
    x1 ^= x0 ^ x2;
    x3 ^= x2 ^ (x0 << 3);
    Rol<1>(x1);
    Rol<7>(x3);
    x0 ^= x1 ^ x3;
    x2 ^= x3 ^ (x1 << 7);
    Rol<5>(x0);
    Rol<22>(x2);
}

template <class T>
VX_ALWAYS_INLINE void InvLt(T& x0, T& x1, T& x2, T& x3)
{
    Rol<10>(x2);
    Rol<27>(x0);
    x2 ^= x3 ^ (x1 << 7);
    x0 ^= x1 ^ x3;
    Rol<25>(x3);
    Rol<31>(x1);
    x3 ^= x2 ^ (x0 << 3);
    x1 ^= x0 ^ x2;
    Rol<29>(x2);
    Rol<19>(x0);
}

template <class T>
VX_ALWAYS_INLINE void Kx(T& x0, T& x1, T& x2, T& x3, const std::uint32_t* k)
{
    x0 ^= k[0];
    x1 ^= k[1];
    x2 ^= k[2];
    x3 ^= k[3];
}

// The linear transformation and the next round's key, for a single block whose rounds form one
// serial chain. Words 1 and 3 take their key (pre-rotated, see m_kr) inside the exclusive-or before
// their rotation. Words 0 and 2 are built from the unrotated sums t1 and t3 rotated once by both
// amounts, instead of from words 1 and 3 rotated twice, which saves a level; their keys were
// built to cancel the keys that words 1 and 3 bring in.
VX_ALWAYS_INLINE void LtKx(std::uint32_t& x0, std::uint32_t& x1, std::uint32_t& x2, std::uint32_t& x3,
                           const std::uint32_t* kr)
{
    // rotl(rotl(t, 1) << 7, 22) == rotl(t, 30) & kMask2: the shift, carried past the rotations.
    constexpr std::uint32_t kMask2 = std::rotl(0xFFFFFF80u, 22);
    const std::uint32_t a0 = std::rotl(x0, 13);
    const std::uint32_t a2 = std::rotl(x2, 3);
    const std::uint32_t t1 = x1 ^ kr[1] ^ a2 ^ a0;
    const std::uint32_t t3 = x3 ^ kr[3] ^ a2 ^ (a0 << 3);
    x0 = std::rotl(x0, 18) ^ kr[0] ^ std::rotl(t1, 6) ^ std::rotl(t3, 12);
    x2 = std::rotl(x2, 25) ^ kr[2] ^ std::rotl(t3, 29) ^ (std::rotl(t1, 30) & kMask2);
    x1 = std::rotl(t1, 1);
    x3 = std::rotl(t3, 7);
}

// The linear transformation, then the next round's key: LtKx where the keys are laid out for it.
template <bool Chained, class T>
VX_ALWAYS_INLINE void MixThenKey(T& x0, T& x1, T& x2, T& x3, const std::uint32_t* k)
{
    if constexpr (Chained) {
        LtKx(x0, x1, x2, x3, k);
    } else {
        Lt(x0, x1, x2, x3);
        Kx(x0, x1, x2, x3, k);
    }
}

// The 32 rounds, eight at a time (one pass through the eight S-boxes); the last round replaces the
// linear transformation by the final key. Chained takes the keys of m_kr.
template <bool Chained = false, class T>
VX_ALWAYS_INLINE void EncryptRounds(T& x0, T& x1, T& x2, T& x3, const std::uint32_t* k)
{
    Kx(x0, x1, x2, x3, k);
#pragma GCC unroll 4
    for (int group = 0; group < 4; ++group, k += 32) {
        S0(x0, x1, x2, x3);
        MixThenKey<Chained>(x0, x1, x2, x3, k + 4);
        S1(x0, x1, x2, x3);
        MixThenKey<Chained>(x0, x1, x2, x3, k + 8);
        S2(x0, x1, x2, x3);
        MixThenKey<Chained>(x0, x1, x2, x3, k + 12);
        S3(x0, x1, x2, x3);
        MixThenKey<Chained>(x0, x1, x2, x3, k + 16);
        S4(x0, x1, x2, x3);
        MixThenKey<Chained>(x0, x1, x2, x3, k + 20);
        S5(x0, x1, x2, x3);
        MixThenKey<Chained>(x0, x1, x2, x3, k + 24);
        S6(x0, x1, x2, x3);
        MixThenKey<Chained>(x0, x1, x2, x3, k + 28);
        S7(x0, x1, x2, x3);
        if (group < 3) {
            MixThenKey<Chained>(x0, x1, x2, x3, k + 32);
        } else {
            Kx(x0, x1, x2, x3, k + 32);
        }
    }
}

template <class T>
VX_ALWAYS_INLINE void DecryptRounds(T& x0, T& x1, T& x2, T& x3, const std::uint32_t* k)
{
    Kx(x0, x1, x2, x3, k + 128);
#pragma GCC unroll 4
    for (int group = 3; group >= 0; --group) {
        const std::uint32_t* g = k + 32 * group;
        if (group < 3) {
            InvLt(x0, x1, x2, x3);
        }
        InvS7(x0, x1, x2, x3);
        Kx(x0, x1, x2, x3, g + 28);
        InvLt(x0, x1, x2, x3);
        InvS6(x0, x1, x2, x3);
        Kx(x0, x1, x2, x3, g + 24);
        InvLt(x0, x1, x2, x3);
        InvS5(x0, x1, x2, x3);
        Kx(x0, x1, x2, x3, g + 20);
        InvLt(x0, x1, x2, x3);
        InvS4(x0, x1, x2, x3);
        Kx(x0, x1, x2, x3, g + 16);
        InvLt(x0, x1, x2, x3);
        InvS3(x0, x1, x2, x3);
        Kx(x0, x1, x2, x3, g + 12);
        InvLt(x0, x1, x2, x3);
        InvS2(x0, x1, x2, x3);
        Kx(x0, x1, x2, x3, g + 8);
        InvLt(x0, x1, x2, x3);
        InvS1(x0, x1, x2, x3);
        Kx(x0, x1, x2, x3, g + 4);
        InvLt(x0, x1, x2, x3);
        InvS0(x0, x1, x2, x3);
        Kx(x0, x1, x2, x3, g);
    }
}

void ApplySbox(unsigned which, std::uint32_t* x)
{
    switch (which) {
    case 0:
        S0(x[0], x[1], x[2], x[3]);
        break;
    case 1:
        S1(x[0], x[1], x[2], x[3]);
        break;
    case 2:
        S2(x[0], x[1], x[2], x[3]);
        break;
    case 3:
        S3(x[0], x[1], x[2], x[3]);
        break;
    case 4:
        S4(x[0], x[1], x[2], x[3]);
        break;
    case 5:
        S5(x[0], x[1], x[2], x[3]);
        break;
    case 6:
        S6(x[0], x[1], x[2], x[3]);
        break;
    default:
        S7(x[0], x[1], x[2], x[3]);
        break;
    }
}

#ifdef VX_SERPENT_AVX2
typedef std::uint32_t TVec8 __attribute__((vector_size(32)));

// Eight blocks become four vectors holding word j of every block (and back: the shuffle is its
// own inverse). Which lane carries which block does not matter, as long as the way back matches.
__attribute__((target("avx2"))) VX_ALWAYS_INLINE void Transpose(__m256i& m0, __m256i& m1, __m256i& m2, __m256i& m3)
{
    const __m256i t0 = _mm256_unpacklo_epi32(m0, m1);
    const __m256i t1 = _mm256_unpackhi_epi32(m0, m1);
    const __m256i t2 = _mm256_unpacklo_epi32(m2, m3);
    const __m256i t3 = _mm256_unpackhi_epi32(m2, m3);
    m0 = _mm256_unpacklo_epi64(t0, t2);
    m1 = _mm256_unpackhi_epi64(t0, t2);
    m2 = _mm256_unpacklo_epi64(t1, t3);
    m3 = _mm256_unpackhi_epi64(t1, t3);
}

// Two sets of eight blocks side by side: one set alone leaves the vector units waiting on the
// long dependency chains of the S-box circuits.
struct TVecPair
{
    TVec8 a, b;
};

VX_ALWAYS_INLINE TVecPair& operator^=(TVecPair& x, const TVecPair& y)
{
    x.a ^= y.a;
    x.b ^= y.b;
    return x;
}

VX_ALWAYS_INLINE TVecPair& operator&=(TVecPair& x, const TVecPair& y)
{
    x.a &= y.a;
    x.b &= y.b;
    return x;
}

VX_ALWAYS_INLINE TVecPair& operator|=(TVecPair& x, const TVecPair& y)
{
    x.a |= y.a;
    x.b |= y.b;
    return x;
}

VX_ALWAYS_INLINE TVecPair& operator^=(TVecPair& x, std::uint32_t k)
{
    x.a ^= k;
    x.b ^= k;
    return x;
}

VX_ALWAYS_INLINE TVecPair operator^(const TVecPair& x, const TVecPair& y)
{
    return {x.a ^ y.a, x.b ^ y.b};
}

VX_ALWAYS_INLINE TVecPair operator|(const TVecPair& x, const TVecPair& y)
{
    return {x.a | y.a, x.b | y.b};
}

VX_ALWAYS_INLINE TVecPair operator~(const TVecPair& x)
{
    return {~x.a, ~x.b};
}

VX_ALWAYS_INLINE TVecPair operator<<(const TVecPair& x, int n)
{
    return {x.a << n, x.b << n};
}

VX_ALWAYS_INLINE TVecPair operator>>(const TVecPair& x, int n)
{
    return {x.a >> n, x.b >> n};
}

__attribute__((target("avx2"))) VX_ALWAYS_INLINE void Load8(const std::uint8_t* in, TVec8& x0, TVec8& x1, TVec8& x2,
                                                             TVec8& x3)
{
    __m256i m0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    __m256i m1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32));
    __m256i m2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 64));
    __m256i m3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 96));
    Transpose(m0, m1, m2, m3);
    x0 = reinterpret_cast<TVec8>(m0);
    x1 = reinterpret_cast<TVec8>(m1);
    x2 = reinterpret_cast<TVec8>(m2);
    x3 = reinterpret_cast<TVec8>(m3);
}

__attribute__((target("avx2"))) VX_ALWAYS_INLINE void Store8(std::uint8_t* out, const TVec8& x0, const TVec8& x1,
                                                              const TVec8& x2, const TVec8& x3)
{
    __m256i m0 = reinterpret_cast<__m256i>(x0);
    __m256i m1 = reinterpret_cast<__m256i>(x1);
    __m256i m2 = reinterpret_cast<__m256i>(x2);
    __m256i m3 = reinterpret_cast<__m256i>(x3);
    Transpose(m0, m1, m2, m3);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), m0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), m1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), m2);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 96), m3);
}

// ECB over whole groups of eight blocks; returns the number of blocks done. The body is compiled
// into each caller below under the caller's instruction set.
template <bool Encrypt>
__attribute__((target("avx2"))) VX_ALWAYS_INLINE std::size_t VectorBlocks(const std::uint32_t* k,
                                                                          const std::uint8_t* in,
                                                                          std::uint8_t* out, std::size_t blocks)
{
    std::size_t done = 0;
    for (; blocks - done >= 16; done += 16) {
        TVecPair x0, x1, x2, x3;
        Load8(in + 16 * done, x0.a, x1.a, x2.a, x3.a);
        Load8(in + 16 * done + 128, x0.b, x1.b, x2.b, x3.b);
        if (Encrypt) {
            EncryptRounds(x0, x1, x2, x3, k);
        } else {
            DecryptRounds(x0, x1, x2, x3, k);
        }
        Store8(out + 16 * done, x0.a, x1.a, x2.a, x3.a);
        Store8(out + 16 * done + 128, x0.b, x1.b, x2.b, x3.b);
    }
    if (blocks - done >= 8) {
        TVec8 x0, x1, x2, x3;
        Load8(in + 16 * done, x0, x1, x2, x3);
        if (Encrypt) {
            EncryptRounds(x0, x1, x2, x3, k);
        } else {
            DecryptRounds(x0, x1, x2, x3, k);
        }
        Store8(out + 16 * done, x0, x1, x2, x3);
        done += 8;
    }
    return done;
}

template <bool Encrypt>
__attribute__((target("avx2"))) std::size_t BlocksAvx2(const std::uint32_t* k, const std::uint8_t* in,
                                                       std::uint8_t* out, std::size_t blocks)
{
    return VectorBlocks<Encrypt>(k, in, out, blocks);
}

// The same code on 256-bit registers, where AVX-512 turns each rotation into one instruction and
// folds the S-box circuits into three-input logic operations.
template <bool Encrypt>
__attribute__((target("avx2,avx512f,avx512vl"))) std::size_t BlocksAvx512(const std::uint32_t* k,
                                                                            const std::uint8_t* in,
                                                                            std::uint8_t* out, std::size_t blocks)
{
    return VectorBlocks<Encrypt>(k, in, out, blocks);
}

#endif
} // namespace

TVX_serpent::TPath TVX_serpent::ActivePath()
{
#ifdef VX_SERPENT_AVX2
    if (VXCpuHas(TVXCpuFeature::Avx2)) {
        return VXCpuHas(TVXCpuFeature::Avx512) ? TPath::Avx512 : TPath::Avx2;
    }
#endif
    return TPath::Portable;
}

std::string_view TVX_serpent::ActivePathName()
{
    switch (ActivePath()) {
    case TPath::Avx2:
        return "avx2";
    case TPath::Avx512:
        return "avx512";
    default:
        return "portable";
    }
}

TVX_serpent::TVX_serpent()
{
    TVX_serpent::Wipe();
}

TVX_serpent::~TVX_serpent()
{
    TVX_serpent::Wipe();
}

void TVX_serpent::Wipe()
{
    SecureFill(m_k, 0);
    SecureFill(m_kr, 0);
    TVX_blockcipher128::Wipe();
}

void TVX_serpent::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    std::array<std::uint8_t, 32> buffer{};
    std::copy_n(key.begin(), sizeBits / 8, buffer.begin());
    // w[0..7] are the key words w(-8)..w(-1), then the 132 pre-keys.
    std::array<std::uint32_t, 140> w{};
    for (std::size_t i = 0; i < 8; ++i) {
        w[i] = LoadLE32(buffer.data() + 4 * i);
    }
    // A short key gets one 1 bit just past its last bit; a partial byte's bits are not copied, so
    // the padding bit sits at bit position sizeBits with zeros below it down to the whole bytes.
    if (sizeBits < 256) {
        const std::uint32_t bit = std::uint32_t{1} << (sizeBits % 32);
        std::uint32_t& word = w[sizeBits / 32];
        word = (word & (bit - 1)) | bit;
    }
    for (std::uint32_t i = 8; i < 140; ++i) {
        w[i] = std::rotl(w[i - 8] ^ w[i - 5] ^ w[i - 3] ^ w[i - 1] ^ 0x9E3779B9u ^ (i - 8), 11);
    }
    for (unsigned j = 0; j < 33; ++j) {
        std::uint32_t* rk = m_k.data() + 4 * j;
        std::copy_n(w.begin() + 8 + 4 * j, 4, rk);
        ApplySbox((35 - j) % 8, rk);
    }
    m_kr = m_k;
    // Words 1 and 3 carry their key into the mixing of words 0 and 2 (see LtKx); those keys cancel it.
    for (unsigned j = 1; j < 32; ++j) {
        std::uint32_t* rk = m_kr.data() + 4 * j;
        const std::uint32_t k1 = rk[1], k3 = rk[3];
        rk[0] ^= std::rotl(k1 ^ k3, 5);
        rk[1] = std::rotr(k1, 1);
        rk[2] ^= std::rotl(k3, 22) ^ std::rotl(k1 << 7, 22);
        rk[3] = std::rotr(k3, 7);
    }
    SecureFill(buffer, 0);
    SecureFill(w, 0);
}

void TVX_serpent::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t x0 = LoadLE32(in);
    std::uint32_t x1 = LoadLE32(in + 4);
    std::uint32_t x2 = LoadLE32(in + 8);
    std::uint32_t x3 = LoadLE32(in + 12);
    EncryptRounds(x0, x1, x2, x3, m_k.data());
    StoreLE32(out, x0);
    StoreLE32(out + 4, x1);
    StoreLE32(out + 8, x2);
    StoreLE32(out + 12, x3);
}

void TVX_serpent::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t x0 = LoadLE32(in);
    std::uint32_t x1 = LoadLE32(in + 4);
    std::uint32_t x2 = LoadLE32(in + 8);
    std::uint32_t x3 = LoadLE32(in + 12);
    DecryptRounds(x0, x1, x2, x3, m_k.data());
    StoreLE32(out, x0);
    StoreLE32(out + 4, x1);
    StoreLE32(out + 8, x2);
    StoreLE32(out + 12, x3);
}

void TVX_serpent::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                     std::uint8_t* chain) const
{
    std::uint32_t x0 = LoadLE32(chain);
    std::uint32_t x1 = LoadLE32(chain + 4);
    std::uint32_t x2 = LoadLE32(chain + 8);
    std::uint32_t x3 = LoadLE32(chain + 12);
    for (std::size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
        x0 ^= LoadLE32(in);
        x1 ^= LoadLE32(in + 4);
        x2 ^= LoadLE32(in + 8);
        x3 ^= LoadLE32(in + 12);
        EncryptRounds<true>(x0, x1, x2, x3, m_kr.data());
        StoreLE32(out, x0);
        StoreLE32(out + 4, x1);
        StoreLE32(out + 8, x2);
        StoreLE32(out + 12, x3);
    }
    StoreLE32(chain, x0);
    StoreLE32(chain + 4, x1);
    StoreLE32(chain + 8, x2);
    StoreLE32(chain + 12, x3);
}

void TVX_serpent::DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
#ifdef VX_SERPENT_AVX2
    const TPath path = ActivePath();
    if (path != TPath::Portable) {
        const std::size_t done = path == TPath::Avx512 ? BlocksAvx512<true>(m_k.data(), in, out, blocks)
                                                       : BlocksAvx2<true>(m_k.data(), in, out, blocks);
        in += 16 * done;
        out += 16 * done;
        blocks -= done;
    }
#endif
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        DoEncryptBlock(in, out);
    }
}

void TVX_serpent::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
#ifdef VX_SERPENT_AVX2
    const TPath path = ActivePath();
    if (path != TPath::Portable) {
        const std::size_t done = path == TPath::Avx512 ? BlocksAvx512<false>(m_k.data(), in, out, blocks)
                                                       : BlocksAvx2<false>(m_k.data(), in, out, blocks);
        in += 16 * done;
        out += 16 * done;
        blocks -= done;
    }
#endif
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        DoDecryptBlock(in, out);
    }
}

bool TVX_serpent::CheckVectors()
{
    // Published vectors for the three key lengths, in the byte order of the little-endian words.
    static constexpr TKnownAnswer<32, 16> kVectors[] = {
        {128,
         {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f},
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
         {0x56, 0x3e, 0x2c, 0xf8, 0x74, 0x0a, 0x27, 0xc1, 0x64, 0x80, 0x45, 0x60, 0x39, 0x1e, 0x9b, 0x27}},
        {192,
         {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b,
          0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17},
         {0x45, 0x28, 0xca, 0xcc, 0xb9, 0x54, 0xd4, 0x50, 0x65, 0x5e, 0x8c, 0xfd, 0x71, 0xcb, 0xfa, 0xc7},
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}},
        {256,
         {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
          0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f},
         {0x3d, 0xa4, 0x6f, 0xfa, 0x6f, 0x4d, 0x6f, 0x30, 0xcd, 0x25, 0x83, 0x33, 0xe5, 0xa6, 0x13, 0x69},
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}},
    };
    return CheckKnownAnswers<TVX_serpent>(kVectors);
}
