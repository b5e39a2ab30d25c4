// DES and triple DES: key schedules and block functions.
#include "crypto/VXdes.h"

#include "crypto/VXcpu.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <bit>
#include <utility>

// The byte-sliced decryption needs GCC or Clang on x86-64. MinGW is left out: its 64-bit target does
// not realign the stack for the 64-byte spills of AVX-512 code, which faults there.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && !defined(_WIN32)
#define VX_DES_VECTOR 1
#include <immintrin.h>
#endif

namespace
{
// FIPS 46-3: S-boxes S1..S8 (row-major, 4 rows of 16), the P permutation, PC-1, PC-2 and the
// left shifts of the key schedule. Bit numbers are the standard's: 1 is the most significant.
constexpr std::uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0,  5,  10, 3,  13, 4,  7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4,  13, 1,  5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6,  3,  15, 5, 1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0,  9,  3,  4,
     6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1,  2,  12,
     5,  10, 14, 7,  1,  10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3,  0,  6,  9,  10, 1,  2, 8,  5,  11, 12, 4,  15, 13, 8,  11, 5,  6, 15,
     0,  3,  4,  7,  2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1,  3, 14,
     5,  2,  8,  4,  3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5,  0,  15, 10, 3,  9,  8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3,  7,  0,  4,  10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9,  7,  5,  10, 6,  1,  13, 0,  11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  1,  15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2,  0,  6,  10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11},
};

constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                   10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                   63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                   14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// The rounds keep both halves rotated left by one bit (the bit-swap initial permutation leaves them
// so). Then the eight 6-bit S-box inputs of the expansion E sit, four by four, in the bytes of R
// itself (S2, S4, S6, S8) and of R rotated right by four (S1, S3, S5, S7), and a round needs no
// expansion step. Each half is carried as one 64-bit word, R rotated right by four above R, so that
// one XOR with a 64-bit round key yields all eight inputs; each table below is one S-box followed by
// P in the same doubled shape (rotated right by four above, pre-rotated by one below), and XOR keeps
// the two copies consistent. The tables are indexed by the whole byte (the two bits above the six
// are repeated entries), which spares a mask per look-up; table i serves byte i of the word.
constexpr std::size_t kWide = 4;

using TSpTables = std::array<std::array<std::uint64_t, 256>, 8>;

constexpr TSpTables MakeSpTables()
{
    // The S-box read by each byte of the doubled word, from the bottom byte up.
    constexpr int kBoxOfByte[8] = {7, 5, 3, 1, 6, 4, 2, 0};
    TSpTables sp{};
    for (std::size_t byte = 0; byte < 8; ++byte) {
        const int box = kBoxOfByte[byte];
        for (int v = 0; v < 256; ++v) {
            const int row = ((v >> 4) & 2) | (v & 1);
            const int column = (v >> 1) & 15;
            const std::uint32_t s = std::uint32_t{kSBox[box][row * 16 + column]} << (28 - 4 * box);
            std::uint32_t p = 0;
            for (int i = 0; i < 32; ++i) {
                p |= ((s >> (32 - kP[i])) & 1u) << (31 - i);
            }
            p = std::rotl(p, 1);
            sp[byte][static_cast<std::size_t>(v)] = (std::uint64_t{std::rotr(p, 4)} << 32) | p;
        }
    }
    return sp;
}

alignas(64) constexpr TSpTables kSp = MakeSpTables();

inline std::uint64_t Widen(std::uint32_t h)
{
    return (std::uint64_t{std::rotr(h, 4)} << 32) | h;
}

// early ^ F(x), where x is a half XORed with its round key and `early` is known well before x. The
// bottom and top bytes need one instruction fewer to reach than the others, so their look-ups go
// with `early`; the other six pair up, and the tree is three XORs deep after the last look-up
// instead of the chain of eight the compiler would otherwise build.
inline std::uint64_t Round(std::uint64_t early, std::uint64_t x)
{
    std::uint64_t a = early ^ kSp[0][x & 255];
    KeepScalar(a);
    a ^= kSp[7][x >> 56];
    std::uint64_t b = kSp[1][(x >> 8) & 255] ^ kSp[2][(x >> 16) & 255];
    std::uint64_t c = kSp[3][(x >> 24) & 255] ^ kSp[4][(x >> 32) & 255];
    std::uint64_t d = kSp[5][(x >> 40) & 255] ^ kSp[6][(x >> 48) & 255];
    KeepScalar(a);
    KeepScalar(b);
    KeepScalar(c);
    KeepScalar(d);
    a ^= b;
    c ^= d;
    KeepScalar(a);
    KeepScalar(c);
    return a ^ c;
}

// The same where `late` may come after the look-ups, as at the start of a pass: then the eight
// look-ups combine first and `late` joins last.
inline std::uint64_t RoundLate(std::uint64_t late, std::uint64_t x)
{
    std::uint64_t a = kSp[0][x & 255] ^ kSp[7][x >> 56];
    std::uint64_t b = kSp[1][(x >> 8) & 255] ^ kSp[2][(x >> 16) & 255];
    std::uint64_t c = kSp[3][(x >> 24) & 255] ^ kSp[4][(x >> 32) & 255];
    std::uint64_t d = kSp[5][(x >> 40) & 255] ^ kSp[6][(x >> 48) & 255];
    KeepScalar(a);
    KeepScalar(b);
    KeepScalar(c);
    KeepScalar(d);
    a ^= b;
    c ^= d;
    KeepScalar(a);
    KeepScalar(c);
    a ^= c;
    KeepScalar(a);
    return late ^ a;
}

// The initial permutation as five exchanges of bit groups between the halves; the result is rotated
// left by one bit as the rounds expect.
inline void InitialPermutation(std::uint32_t& l, std::uint32_t& r)
{
    std::uint32_t w = ((l >> 4) ^ r) & 0x0f0f0f0fu;
    r ^= w;
    l ^= w << 4;
    w = ((l >> 16) ^ r) & 0x0000ffffu;
    r ^= w;
    l ^= w << 16;
    w = ((r >> 2) ^ l) & 0x33333333u;
    l ^= w;
    r ^= w << 2;
    w = ((r >> 8) ^ l) & 0x00ff00ffu;
    l ^= w;
    r ^= w << 8;
    r = std::rotl(r, 1);
    w = (l ^ r) & 0xaaaaaaaau;
    l ^= w;
    r ^= w;
    l = std::rotl(l, 1);
}

// The exact inverse of InitialPermutation.
inline void FinalPermutation(std::uint32_t& l, std::uint32_t& r)
{
    l = std::rotr(l, 1);
    std::uint32_t w = (l ^ r) & 0xaaaaaaaau;
    l ^= w;
    r ^= w;
    r = std::rotr(r, 1);
    w = ((r >> 8) ^ l) & 0x00ff00ffu;
    l ^= w;
    r ^= w << 8;
    w = ((r >> 2) ^ l) & 0x33333333u;
    l ^= w;
    r ^= w << 2;
    w = ((l >> 16) ^ r) & 0x0000ffffu;
    r ^= w;
    l ^= w << 16;
    w = ((l >> 4) ^ r) & 0x0f0f0f0fu;
    r ^= w;
    l ^= w << 4;
}

// A block in its doubled, permuted form, and back.
struct THalves
{
    std::uint64_t l;
    std::uint64_t r;
};

inline THalves Enter(const std::uint8_t* in)
{
    std::uint32_t l = LoadBE32(in);
    std::uint32_t r = LoadBE32(in + 4);
    InitialPermutation(l, r);
    return {Widen(l), Widen(r)};
}

inline void Leave(const THalves& h, std::uint8_t* out)
{
    auto l = static_cast<std::uint32_t>(h.l);
    auto r = static_cast<std::uint32_t>(h.r);
    FinalPermutation(l, r);
    StoreBE32(out, l);
    StoreBE32(out + 4, r);
}

// The round key K(n) of a pass run forwards or backwards through a schedule, and the difference
// D(n) = K(n-1) ^ K(n+1), which the schedule keeps ready: reversing the order maps D onto itself.
template <bool Forward> inline std::uint64_t Key(const std::uint64_t* s, int n)
{
    return s[Forward ? n : 15 - n];
}

template <bool Forward> inline std::uint64_t Difference(const std::uint64_t* s, int n)
{
    return s[16 + (Forward ? n : 15 - n)];
}

// Sixteen rounds ending with the exchange of halves, so that the output feeds the next DES of a
// triple directly: its final and initial permutations cancel out. The rounds carry x(n), the input
// of round n's F (a half XORed with its key), rather than the halves: x(n+1) = x(n-1) ^ D(n) ^
// F(x(n)), where x(n-1) ^ D(n) is ready early, so the key costs the chain of rounds nothing.
template <bool Forward> inline void Pass(THalves& h, const std::uint64_t* s)
{
    // h.l is the last round's output of the DES before, finished well after h.r.
    std::uint64_t before = h.r ^ Key<Forward>(s, 0);
    std::uint64_t x = RoundLate(h.l ^ Key<Forward>(s, 1), before);
#pragma GCC unroll 16
    for (int n = 1; n < 15; ++n) {
        const std::uint64_t next = Round(before ^ Difference<Forward>(s, n), x);
        before = x;
        x = next;
    }
    h.r = x ^ Key<Forward>(s, 15);
    h.l = Round(before ^ Key<Forward>(s, 14), x);
}

// The same for kWide independent blocks side by side, so that their table look-ups overlap
// instead of waiting on one another. Named scalars, not arrays: they must stay in registers.
template <bool Forward> inline void PassWide(THalves& h0, THalves& h1, THalves& h2, THalves& h3, const std::uint64_t* s)
{
    const std::uint64_t k0 = Key<Forward>(s, 0);
    const std::uint64_t k1 = Key<Forward>(s, 1);
    std::uint64_t b0 = h0.r ^ k0, b1 = h1.r ^ k0, b2 = h2.r ^ k0, b3 = h3.r ^ k0;
    std::uint64_t x0 = Round(h0.l ^ k1, b0);
    std::uint64_t x1 = Round(h1.l ^ k1, b1);
    std::uint64_t x2 = Round(h2.l ^ k1, b2);
    std::uint64_t x3 = Round(h3.l ^ k1, b3);
#pragma GCC unroll 2
    for (int n = 1; n < 15; ++n) {
        const std::uint64_t d = Difference<Forward>(s, n);
        b0 = Round(b0 ^ d, x0);
        b1 = Round(b1 ^ d, x1);
        b2 = Round(b2 ^ d, x2);
        b3 = Round(b3 ^ d, x3);
        std::swap(b0, x0);
        std::swap(b1, x1);
        std::swap(b2, x2);
        std::swap(b3, x3);
    }
    const std::uint64_t k14 = Key<Forward>(s, 14);
    const std::uint64_t k15 = Key<Forward>(s, 15);
    h0 = {Round(b0 ^ k14, x0), x0 ^ k15};
    h1 = {Round(b1 ^ k14, x1), x1 ^ k15};
    h2 = {Round(b2 ^ k14, x2), x2 ^ k15};
    h3 = {Round(b3 ^ k14, x3), x3 ^ k15};
}

template <bool Encrypt> inline void Triple(THalves& h, const std::array<TVX_customdes::TSchedule, 3>& s)
{
    if constexpr (Encrypt) {
        Pass<true>(h, s[0].data());
        Pass<false>(h, s[1].data());
        Pass<true>(h, s[2].data());
    } else {
        Pass<false>(h, s[2].data());
        Pass<true>(h, s[1].data());
        Pass<false>(h, s[0].data());
    }
}

template <bool Encrypt>
void TripleBlocks(const std::array<TVX_customdes::TSchedule, 3>& s, const std::uint8_t* in, std::uint8_t* out,
                  std::size_t& blocks)
{
    for (; blocks >= kWide; blocks -= kWide, in += 8 * kWide, out += 8 * kWide) {
        THalves h0 = Enter(in), h1 = Enter(in + 8), h2 = Enter(in + 16), h3 = Enter(in + 24);
        PassWide<Encrypt>(h0, h1, h2, h3, s[Encrypt ? 0 : 2].data());
        PassWide<!Encrypt>(h0, h1, h2, h3, s[1].data());
        PassWide<Encrypt>(h0, h1, h2, h3, s[Encrypt ? 2 : 0].data());
        Leave(h0, out);
        Leave(h1, out + 8);
        Leave(h2, out + 16);
        Leave(h3, out + 24);
    }
}

#if defined(VX_DES_VECTOR)
// Triple DES of 64 independent blocks at once with AVX-512 byte permutes. Each half is held in its
// expanded form E(H): eight vectors, vector t holding S-box input group t of all 64 blocks, one
// block per byte. A 64-entry byte permute (VPERMB ignores the two top bits of each index) is then
// one S-box for 64 blocks, and since E is linear the whole round stays in that form:
// E(L ^ F(R)) = E(L) ^ E(P(S(E(R) ^ K))). Every bit of a target group comes from a different
// S-box, so each of the 48 (S-box, target group) pairs gets its own table giving S, P and E at once.
constexpr std::size_t kVectorBlocks = 64;

using TGroupTables = std::array<std::array<std::array<std::uint8_t, 64>, 8>, 8>; // [target][box][input]

constexpr TGroupTables MakeGroupTables()
{
    TGroupTables tables{};
    for (int t = 0; t < 8; ++t) {
        for (int position = 0; position < 6; ++position) {
            // Bit `position` of group t is R bit 4t + position (1 is the most significant, 0 and 33
            // wrap to 32 and 1); F's bit e is bit kP[e-1] of the concatenated S-box outputs.
            int e = 4 * t + position;
            e = e == 0 ? 32 : e == 33 ? 1 : e;
            const int m = kP[e - 1] - 1;
            const int box = m / 4;
            for (int v = 0; v < 64; ++v) {
                const int row = ((v >> 4) & 2) | (v & 1);
                const int column = (v >> 1) & 15;
                const int bit = (kSBox[box][row * 16 + column] >> (3 - m % 4)) & 1;
                tables[static_cast<std::size_t>(t)][static_cast<std::size_t>(box)][static_cast<std::size_t>(v)] |=
                    static_cast<std::uint8_t>(bit << (5 - position));
            }
        }
    }
    return tables;
}

alignas(64) constexpr TGroupTables kGroupTables = MakeGroupTables();

// The S-boxes feeding each target group, derived from the tables so the rounds cannot disagree
// with them.
constexpr std::array<std::array<bool, 8>, 8> MakeFeeds()
{
    std::array<std::array<bool, 8>, 8> feeds{};
    for (std::size_t t = 0; t < 8; ++t) {
        for (std::size_t box = 0; box < 8; ++box) {
            for (std::size_t v = 0; v < 64; ++v) {
                feeds[t][box] = feeds[t][box] || kGroupTables[t][box][v] != 0;
            }
        }
    }
    return feeds;
}

constexpr auto kFeeds = MakeFeeds();

// GCC 12's AVX-512 intrinsics fill their "undefined" operands by self-initialisation, which its own
// uninitialised-use analysis then reports once they are inlined here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

bool VectorPathRuns()
{
    return VXCpuHas(TVXCpuFeature::Avx512) && VXCpuHas(TVXCpuFeature::Vbmi);
}

#define VX_VBMI __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))

// A plain array: std::array<__m512i> would drop the type's alignment attribute.
struct TGroups
{
    __m512i v[8];
    __m512i& operator[](std::size_t i) { return v[i]; }
    const __m512i& operator[](std::size_t i) const { return v[i]; }
};

// Eight rows of eight 64-bit words, transposed; its own inverse.
VX_VBMI inline void Transpose8x8(TGroups& r)
{
    TGroups t;
    for (std::size_t i = 0; i < 8; i += 2) {
        t[i] = _mm512_unpacklo_epi64(r[i], r[i + 1]);
        t[i + 1] = _mm512_unpackhi_epi64(r[i], r[i + 1]);
    }
    const __m512i evenLanes = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
    const __m512i oddLanes = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
    TGroups u;
    for (std::size_t i = 0; i < 8; i += 4) {
        u[i] = _mm512_permutex2var_epi64(t[i], evenLanes, t[i + 2]);
        u[i + 1] = _mm512_permutex2var_epi64(t[i + 1], evenLanes, t[i + 3]);
        u[i + 2] = _mm512_permutex2var_epi64(t[i], oddLanes, t[i + 2]);
        u[i + 3] = _mm512_permutex2var_epi64(t[i + 1], oddLanes, t[i + 3]);
    }
    const __m512i lowHalves = _mm512_setr_epi64(0, 1, 2, 3, 8, 9, 10, 11);
    const __m512i highHalves = _mm512_setr_epi64(4, 5, 6, 7, 12, 13, 14, 15);
    for (std::size_t i = 0; i < 4; ++i) {
        r[i] = _mm512_permutex2var_epi64(u[i], lowHalves, u[i + 4]);
        r[i + 4] = _mm512_permutex2var_epi64(u[i], highHalves, u[i + 4]);
    }
}

// Byte 8k + j of each vector to byte 8j + k and back: with Transpose8x8 after it, the words of
// eight blocks per vector become eight vectors of one byte column each.
VX_VBMI inline __m512i ByteTranspose()
{
    alignas(64) std::uint8_t index[64];
    for (int i = 0; i < 64; ++i) {
        index[i] = static_cast<std::uint8_t>((i % 8) * 8 + i / 8);
    }
    return _mm512_load_si512(index);
}

// One exchange of bit groups between the halves of each 64-bit word (L above R); self-inverse.
template <unsigned ShiftL, unsigned ShiftR, std::uint32_t Mask> VX_VBMI inline __m512i SwapLR(__m512i x)
{
    // (L >> ShiftL) ^ (R >> ShiftR) masked, moved back into L by ShiftL and into R by ShiftR.
    const __m512i l = _mm512_srli_epi64(x, 32 + ShiftL);
    const __m512i r = _mm512_srli_epi64(x, ShiftR);
    const __m512i w = _mm512_and_si512(_mm512_xor_si512(l, r), _mm512_set1_epi64(Mask));
    return _mm512_ternarylogic_epi64(x, _mm512_slli_epi64(w, 32 + ShiftL), _mm512_slli_epi64(w, ShiftR), 0x96);
}

// The initial permutation on words with L above R, in its plain (not rotated) form; the final
// permutation is the same exchanges in reverse order.
VX_VBMI inline __m512i InitialPermutation64(__m512i x)
{
    x = SwapLR<4, 0, 0x0f0f0f0fu>(x);
    x = SwapLR<16, 0, 0x0000ffffu>(x);
    x = SwapLR<0, 2, 0x33333333u>(x);
    x = SwapLR<0, 8, 0x00ff00ffu>(x);
    return SwapLR<1, 0, 0x55555555u>(x);
}

VX_VBMI inline __m512i FinalPermutation64(__m512i x)
{
    x = SwapLR<1, 0, 0x55555555u>(x);
    x = SwapLR<0, 8, 0x00ff00ffu>(x);
    x = SwapLR<0, 2, 0x33333333u>(x);
    x = SwapLR<16, 0, 0x0000ffffu>(x);
    return SwapLR<4, 0, 0x0f0f0f0fu>(x);
}

// Eight vectors of L-above-R words (eight blocks each) into the expanded groups of L and R.
VX_VBMI inline void Expand(const TGroups& words, TGroups& l, TGroups& r)
{
    // Group t of a half H is H's bits 4t .. 4t+5 (with wrap-around): the byte at bit offset
    // 27 - 4t (mod 32) of H repeated in both halves of a 64-bit word.
    const __m512i offsets = _mm512_set1_epi64(0x1f03070b0f13171bLL);
    const __m512i byteTranspose = ByteTranspose();
    for (std::size_t i = 0; i < 8; ++i) {
        const __m512i doubledR = _mm512_shuffle_epi32(words[i], _MM_PERM_CCAA);
        const __m512i doubledL = _mm512_shuffle_epi32(words[i], _MM_PERM_DDBB);
        r[i] = _mm512_permutexvar_epi8(byteTranspose, _mm512_multishift_epi64_epi8(offsets, doubledR));
        l[i] = _mm512_permutexvar_epi8(byteTranspose, _mm512_multishift_epi64_epi8(offsets, doubledL));
    }
    Transpose8x8(l);
    Transpose8x8(r);
}

// The inverse of Expand: bits 1-4 of group t are the half's bits 4t+1 .. 4t+4.
VX_VBMI inline void Contract(TGroups& l, TGroups& r, TGroups& words)
{
    Transpose8x8(l);
    Transpose8x8(r);
    const __m512i byteTranspose = ByteTranspose();
    const __m512i nibbles = _mm512_set1_epi8(0x0f);
    const __m512i weights = _mm512_set1_epi16(0x0110); // bytes 16, 1: high nibble first
    // Word k of a half's four 16-bit lanes holds its byte k (most significant first); these put
    // the bytes of R, then of L, into a 64-bit word's little-endian order.
    alignas(64) std::uint8_t pick[64];
    for (int i = 0; i < 64; ++i) {
        const int lane = i / 8 * 8;
        const int b = i % 8;
        pick[i] = static_cast<std::uint8_t>(b < 4 ? lane + 2 * (3 - b) : 64 + lane + 2 * (7 - b));
    }
    const __m512i pickIndex = _mm512_load_si512(pick);
    for (std::size_t i = 0; i < 8; ++i) {
        const __m512i gr = _mm512_permutexvar_epi8(byteTranspose, r[i]);
        const __m512i gl = _mm512_permutexvar_epi8(byteTranspose, l[i]);
        const __m512i br = _mm512_maddubs_epi16(_mm512_and_si512(_mm512_srli_epi16(gr, 1), nibbles), weights);
        const __m512i bl = _mm512_maddubs_epi16(_mm512_and_si512(_mm512_srli_epi16(gl, 1), nibbles), weights);
        words[i] = _mm512_permutex2var_epi8(br, pickIndex, bl);
    }
}

// One round on 64 blocks: target ^= E(P(S(source ^ k))), k a round's eight 6-bit key groups,
// each repeated in the four bytes of a word.
VX_VBMI inline void VectorRound(TGroups& target, const TGroups& source, const std::uint32_t* k)
{
    TGroups in;
#pragma GCC unroll 8
    for (std::size_t box = 0; box < 8; ++box) {
        in[box] = _mm512_xor_si512(source[box], _mm512_set1_epi32(static_cast<int>(k[box])));
    }
#pragma GCC unroll 8
    for (std::size_t t = 0; t < 8; ++t) {
        __m512i acc = target[t];
        __m512i pending = acc;
        bool hasPending = false;
#pragma GCC unroll 8
        for (std::size_t box = 0; box < 8; ++box) {
            if (!kFeeds[t][box]) {
                continue;
            }
            const __m512i part = _mm512_permutexvar_epi8(in[box], _mm512_load_si512(kGroupTables[t][box].data()));
            if (hasPending) {
                acc = _mm512_ternarylogic_epi64(acc, pending, part, 0x96);
            } else {
                pending = part;
            }
            hasPending = !hasPending;
        }
        if (hasPending) {
            acc = _mm512_xor_si512(acc, pending);
        }
        target[t] = acc;
    }
}

// Sixteen rounds, the keys in the order the rounds use them; x takes the first round's output.
VX_VBMI inline void VectorPass(TGroups& x, TGroups& y, const std::uint32_t* keys)
{
    for (std::size_t n = 0; n < 16; n += 2) {
        VectorRound(x, y, keys + 8 * n);
        VectorRound(y, x, keys + 8 * (n + 1));
    }
}

// Encryption and decryption differ only in the order of the 48 round keys.
VX_VBMI void TripleVector(const std::uint32_t* keys, const std::uint8_t* in, std::uint8_t* out)
{
    const __m512i byteSwap =
        _mm512_set_epi64(0x08090a0b0c0d0e0fLL, 0x0001020304050607LL, 0x08090a0b0c0d0e0fLL, 0x0001020304050607LL,
                         0x08090a0b0c0d0e0fLL, 0x0001020304050607LL, 0x08090a0b0c0d0e0fLL, 0x0001020304050607LL);
    TGroups words;
    for (std::size_t i = 0; i < 8; ++i) {
        const __m512i x = _mm512_shuffle_epi8(_mm512_loadu_si512(in + 64 * i), byteSwap);
        words[i] = InitialPermutation64(x);
    }
    TGroups a;
    TGroups b;
    Expand(words, a, b);
    // Each DES ends by exchanging its halves, so the next one starts on the half the last round
    // did not change: the roles of a and b swap from pass to pass.
    VectorPass(a, b, keys);
    VectorPass(b, a, keys + 128);
    VectorPass(a, b, keys + 256);
    Contract(b, a, words);
    for (std::size_t i = 0; i < 8; ++i) {
        _mm512_storeu_si512(out + 64 * i, _mm512_shuffle_epi8(FinalPermutation64(words[i]), byteSwap));
    }
}
#pragma GCC diagnostic pop
#endif
} // namespace

void TVX_customdes::DesSchedule(const std::uint8_t* key, TSchedule& schedule)
{
    auto keyBit = [key](int b) { return (key[(b - 1) / 8] >> (7 - (b - 1) % 8)) & 1; };
    std::array<std::uint32_t, 2> halves{};
    std::uint32_t& c = halves[0];
    std::uint32_t& d = halves[1];
    for (int i = 0; i < 28; ++i) {
        c = (c << 1) | static_cast<std::uint32_t>(keyBit(kPC1[i]));
        d = (d << 1) | static_cast<std::uint32_t>(keyBit(kPC1[i + 28]));
    }
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < kShifts[round]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0fffffffu;
            d = ((d << 1) | (d >> 27)) & 0x0fffffffu;
        }
        const std::uint64_t cd = (std::uint64_t{c} << 28) | d; // bit 1 of C-D is bit 55 here
        std::uint32_t chunk[8] = {};
        for (int i = 0; i < 48; ++i) {
            const auto bit = static_cast<std::uint32_t>((cd >> (56 - kPC2[i])) & 1);
            chunk[i / 6] |= bit << (5 - i % 6);
        }
        // Fields in the order the rounds read them: S1, S3, S5, S7 XOR the half rotated right by
        // four (the upper word), S2, S4, S6, S8 XOR the half itself (the lower word).
        const std::uint32_t odd = (chunk[0] << 24) | (chunk[2] << 16) | (chunk[4] << 8) | chunk[6];
        const std::uint32_t even = (chunk[1] << 24) | (chunk[3] << 16) | (chunk[5] << 8) | chunk[7];
        schedule[static_cast<std::size_t>(round)] = (std::uint64_t{odd} << 32) | even;
        SecureFill(std::as_writable_bytes(std::span(chunk)), 0);
    }
    for (std::size_t n = 1; n < 15; ++n) {
        schedule[16 + n] = schedule[n - 1] ^ schedule[n + 1];
    }
    SecureFill(halves, 0);
}

void TVX_customdes::DesEncrypt(const TSchedule& schedule, const std::uint8_t* in, std::uint8_t* out)
{
    THalves h = Enter(in);
    Pass<true>(h, schedule.data());
    Leave(h, out);
}

void TVX_customdes::DesDecrypt(const TSchedule& schedule, const std::uint8_t* in, std::uint8_t* out)
{
    THalves h = Enter(in);
    Pass<false>(h, schedule.data());
    Leave(h, out);
}

TVX_3des::TVX_3des()
{
    TVX_3des::Wipe();
}

TVX_3des::~TVX_3des()
{
    TVX_3des::Wipe();
}

void TVX_3des::Wipe()
{
    SecureFill(m_schedules, 0);
    SecureFill(m_laneKeys, 0);
    TVX_customdes::Wipe();
}

void TVX_3des::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    std::array<std::uint8_t, 24> buffer{};
    std::copy_n(key.begin(), sizeBits / 8, buffer.begin());
    DesSchedule(buffer.data(), m_schedules[0]);
    DesSchedule(buffer.data() + 8, m_schedules[1]);
    if (sizeBits <= 128) {
        m_schedules[2] = m_schedules[0];
    } else {
        DesSchedule(buffer.data() + 16, m_schedules[2]);
    }
    SecureFill(buffer, 0);
    // The byte-sliced rounds take each round key as eight 6-bit groups, each repeated in the four
    // bytes of a word, in the order the 48 rounds use them: for decryption K3 backwards, K2, K1
    // backwards, then for encryption K1, K2 backwards, K3.
    for (std::size_t pass = 0; pass < 6; ++pass) {
        const bool decrypt = pass < 3;
        const TSchedule& schedule = m_schedules[decrypt ? 2 - pass : pass - 3];
        const bool backwards = (pass % 3 == 1) != decrypt;
        for (std::size_t n = 0; n < 16; ++n) {
            const std::uint64_t key = schedule[backwards ? 15 - n : n];
            for (std::size_t box = 0; box < 8; ++box) {
                // The groups of odd S-boxes sit in the upper word (S1 on top), of even ones below.
                const auto shift = static_cast<unsigned>(box % 2 == 0 ? 56 - 4 * box : 28 - 4 * box);
                const auto group = static_cast<std::uint32_t>((key >> shift) & 63);
                m_laneKeys[128 * pass + 8 * n + box] = group * 0x01010101u;
            }
        }
    }
}

void TVX_3des::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    THalves h = Enter(in);
    Triple<true>(h, m_schedules);
    Leave(h, out);
}

void TVX_3des::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    THalves h = Enter(in);
    Triple<false>(h, m_schedules);
    Leave(h, out);
}

void TVX_3des::DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
#if defined(VX_DES_VECTOR)
    if (blocks >= kVectorBlocks && VectorPathRuns()) {
        for (; blocks >= kVectorBlocks; blocks -= kVectorBlocks, in += 8 * kVectorBlocks, out += 8 * kVectorBlocks) {
            TripleVector(m_laneKeys.data() + kLaneKeysPerDirection, in, out);
        }
    }
#endif
    const std::size_t done = blocks - blocks % kWide;
    TripleBlocks<true>(m_schedules, in, out, blocks);
    for (std::size_t b = done; blocks > 0; --blocks, ++b) {
        DoEncryptBlock(in + 8 * b, out + 8 * b);
    }
}

void TVX_3des::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
#if defined(VX_DES_VECTOR)
    if (blocks >= kVectorBlocks && VectorPathRuns()) {
        for (; blocks >= kVectorBlocks; blocks -= kVectorBlocks, in += 8 * kVectorBlocks, out += 8 * kVectorBlocks) {
            TripleVector(m_laneKeys.data(), in, out);
        }
    }
#endif
    const std::size_t done = blocks - blocks % kWide;
    TripleBlocks<false>(m_schedules, in, out, blocks);
    for (std::size_t b = done; blocks > 0; --blocks, ++b) {
        DoDecryptBlock(in + 8 * b, out + 8 * b);
    }
}

void TVX_3des::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                  std::uint8_t* chain) const
{
    // The permutations are bit moves, so they commute with XOR: IP(P ^ C) = IP(P) ^ IP(C), and
    // IP(C) is the rounds' output before FP. The chain therefore stays in permuted form and only the
    // plain text's IP and the cipher text's FP remain, both off the serial path.
    THalves h = Enter(chain);
    for (std::size_t b = 0; b < blocks; ++b, in += 8, out += 8) {
        const THalves p = Enter(in);
        h.l ^= p.l;
        h.r ^= p.r;
        Triple<true>(h, m_schedules);
        Leave(h, out);
    }
    Leave(h, chain);
}

std::string_view TVX_3des::ActivePathName()
{
#if defined(VX_DES_VECTOR)
    if (VectorPathRuns()) {
        return "avx512-vbmi";
    }
#endif
    return "portable";
}

bool TVX_3des::CheckVectors()
{
    // NIST SP 800-67, appendix B: three distinct keys, first block.
    static constexpr TKnownAnswer<24, 8> kVectors[] = {
        {192,
         {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x23, 0x45, 0x67, 0x89,
          0xab, 0xcd, 0xef, 0x01, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x23},
         {0x54, 0x68, 0x65, 0x20, 0x71, 0x75, 0x66, 0x63},
         {0xa8, 0x26, 0xfd, 0x8c, 0xe5, 0x3b, 0x85, 0x5f}},
    };
    return CheckKnownAnswers<TVX_3des>(kVectors);
}
