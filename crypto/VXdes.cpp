// DES and triple DES: key schedules and block functions.
#include "crypto/VXdes.h"

#include "crypto/VXsecmem.h"

#include <algorithm>
#include <bit>

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
// expansion step: each table below is one S-box followed by P, its output pre-rotated too. The
// tables are indexed by the whole byte (the two bits above the six are repeated entries), which
// spares a mask per look-up.
constexpr std::size_t kWide = 4;

using TSpTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr TSpTables MakeSpTables()
{
    TSpTables sp{};
    for (int box = 0; box < 8; ++box) {
        for (int v = 0; v < 256; ++v) {
            const int row = ((v >> 4) & 2) | (v & 1);
            const int column = (v >> 1) & 15;
            const std::uint32_t s = std::uint32_t{kSBox[box][row * 16 + column]} << (28 - 4 * box);
            std::uint32_t p = 0;
            for (int i = 0; i < 32; ++i) {
                p |= ((s >> (32 - kP[i])) & 1u) << (31 - i);
            }
            sp[static_cast<std::size_t>(box)][static_cast<std::size_t>(v)] = std::rotl(p, 1);
        }
    }
    return sp;
}

constexpr TSpTables kSp = MakeSpTables();

inline std::uint32_t F(std::uint32_t r, const std::uint32_t* k)
{
    // Bytes taken from the bottom and the word shifted down by 16 in between: x86 reaches bits 8-15
    // directly, so this costs fewer instructions than four independent shifts.
    std::uint32_t u = r ^ k[1];
    std::uint32_t t = std::rotr(r, 4) ^ k[0];
    std::uint32_t f = kSp[7][u & 255] ^ kSp[5][(u >> 8) & 255];
    std::uint32_t g = kSp[6][t & 255] ^ kSp[4][(t >> 8) & 255];
    u >>= 16;
    t >>= 16;
    f ^= kSp[3][u & 255] ^ kSp[1][u >> 8];
    g ^= kSp[2][t & 255] ^ kSp[0][t >> 8];
    return f ^ g;
}

// The initial permutation as five exchanges of bit groups between the halves; the result is rotated
// left by one bit as F expects.
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

// Sixteen rounds on permuted halves, ending with the exchange of halves, so that the output feeds
// the next DES of a triple directly: its final and initial permutations cancel out.
template <bool Forward>
inline void Rounds(std::uint32_t& l, std::uint32_t& r, const std::uint32_t* ks)
{
    if constexpr (Forward) {
#pragma GCC unroll 8
        for (int i = 0; i < 32; i += 4) {
            l ^= F(r, ks + i);
            r ^= F(l, ks + i + 2);
        }
    } else {
#pragma GCC unroll 8
        for (int i = 30; i > 0; i -= 4) {
            l ^= F(r, ks + i);
            r ^= F(l, ks + i - 2);
        }
    }
    std::swap(l, r);
}

// The compiler packs the blocks of RoundsWide into vector lanes and then spends more on moving
// table indices between vector and general registers than it saves; holding each half in a general
// register keeps the look-ups scalar.
inline void KeepScalar(std::uint32_t& x)
{
#if defined(__GNUC__)
    asm("" : "+r"(x));
#else
    (void)x;
#endif
}

// Several independent blocks side by side through the same rounds, so that their table look-ups
// overlap instead of waiting on one another. Named scalars, not arrays: the halves must stay in
// registers.
template <bool Forward>
inline void RoundsWide(std::uint32_t& l0, std::uint32_t& r0, std::uint32_t& l1, std::uint32_t& r1,
                       std::uint32_t& l2, std::uint32_t& r2, std::uint32_t& l3, std::uint32_t& r3,
                       const std::uint32_t* ks)
{
    const int step = Forward ? 4 : -4;
    const std::uint32_t* k = Forward ? ks : ks + 30;
    const std::ptrdiff_t second = Forward ? 2 : -2;
#pragma GCC unroll 2
    for (int i = 0; i < 8; ++i, k += step) {
        l0 ^= F(r0, k);
        l1 ^= F(r1, k);
        l2 ^= F(r2, k);
        l3 ^= F(r3, k);
        KeepScalar(l0);
        KeepScalar(l1);
        KeepScalar(l2);
        KeepScalar(l3);
        r0 ^= F(l0, k + second);
        r1 ^= F(l1, k + second);
        r2 ^= F(l2, k + second);
        r3 ^= F(l3, k + second);
        KeepScalar(r0);
        KeepScalar(r1);
        KeepScalar(r2);
        KeepScalar(r3);
    }
    std::swap(l0, r0);
    std::swap(l1, r1);
    std::swap(l2, r2);
    std::swap(l3, r3);
}

template <bool Encrypt>
inline void Triple(std::uint32_t& l, std::uint32_t& r, const std::array<TVX_customdes::TSchedule, 3>& s)
{
    if constexpr (Encrypt) {
        Rounds<true>(l, r, s[0].data());
        Rounds<false>(l, r, s[1].data());
        Rounds<true>(l, r, s[2].data());
    } else {
        Rounds<false>(l, r, s[2].data());
        Rounds<true>(l, r, s[1].data());
        Rounds<false>(l, r, s[0].data());
    }
}

template <bool Encrypt>
void TripleBlocks(const std::array<TVX_customdes::TSchedule, 3>& s, const std::uint8_t* in, std::uint8_t* out,
                  std::size_t& blocks)
{
    for (; blocks >= kWide; blocks -= kWide, in += 8 * kWide, out += 8 * kWide) {
        std::uint32_t l0 = LoadBE32(in), r0 = LoadBE32(in + 4);
        std::uint32_t l1 = LoadBE32(in + 8), r1 = LoadBE32(in + 12);
        std::uint32_t l2 = LoadBE32(in + 16), r2 = LoadBE32(in + 20);
        std::uint32_t l3 = LoadBE32(in + 24), r3 = LoadBE32(in + 28);
        InitialPermutation(l0, r0);
        InitialPermutation(l1, r1);
        InitialPermutation(l2, r2);
        InitialPermutation(l3, r3);
        RoundsWide<Encrypt>(l0, r0, l1, r1, l2, r2, l3, r3, s[Encrypt ? 0 : 2].data());
        RoundsWide<!Encrypt>(l0, r0, l1, r1, l2, r2, l3, r3, s[1].data());
        RoundsWide<Encrypt>(l0, r0, l1, r1, l2, r2, l3, r3, s[Encrypt ? 2 : 0].data());
        FinalPermutation(l0, r0);
        FinalPermutation(l1, r1);
        FinalPermutation(l2, r2);
        FinalPermutation(l3, r3);
        StoreBE32(out, l0);
        StoreBE32(out + 4, r0);
        StoreBE32(out + 8, l1);
        StoreBE32(out + 12, r1);
        StoreBE32(out + 16, l2);
        StoreBE32(out + 20, r2);
        StoreBE32(out + 24, l3);
        StoreBE32(out + 28, r3);
    }
}
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
        // Fields in the order F reads them: S1, S3, S5, S7 from word 0 and S2, S4, S6, S8 from word 1.
        const auto at = 2 * static_cast<std::size_t>(round);
        schedule[at] = (chunk[0] << 24) | (chunk[2] << 16) | (chunk[4] << 8) | chunk[6];
        schedule[at + 1] = (chunk[1] << 24) | (chunk[3] << 16) | (chunk[5] << 8) | chunk[7];
        SecureFill(std::as_writable_bytes(std::span(chunk)), 0);
    }
    SecureFill(halves, 0);
}

void TVX_customdes::DesEncrypt(const TSchedule& schedule, const std::uint8_t* in, std::uint8_t* out)
{
    std::uint32_t l = LoadBE32(in);
    std::uint32_t r = LoadBE32(in + 4);
    InitialPermutation(l, r);
    Rounds<true>(l, r, schedule.data());
    FinalPermutation(l, r);
    StoreBE32(out, l);
    StoreBE32(out + 4, r);
}

void TVX_customdes::DesDecrypt(const TSchedule& schedule, const std::uint8_t* in, std::uint8_t* out)
{
    std::uint32_t l = LoadBE32(in);
    std::uint32_t r = LoadBE32(in + 4);
    InitialPermutation(l, r);
    Rounds<false>(l, r, schedule.data());
    FinalPermutation(l, r);
    StoreBE32(out, l);
    StoreBE32(out + 4, r);
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
}

void TVX_3des::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t l = LoadBE32(in);
    std::uint32_t r = LoadBE32(in + 4);
    InitialPermutation(l, r);
    Triple<true>(l, r, m_schedules);
    FinalPermutation(l, r);
    StoreBE32(out, l);
    StoreBE32(out + 4, r);
}

void TVX_3des::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t l = LoadBE32(in);
    std::uint32_t r = LoadBE32(in + 4);
    InitialPermutation(l, r);
    Triple<false>(l, r, m_schedules);
    FinalPermutation(l, r);
    StoreBE32(out, l);
    StoreBE32(out + 4, r);
}

void TVX_3des::DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    const std::size_t done = blocks - blocks % kWide;
    TripleBlocks<true>(m_schedules, in, out, blocks);
    for (std::size_t b = done; blocks > 0; --blocks, ++b) {
        DoEncryptBlock(in + 8 * b, out + 8 * b);
    }
}

void TVX_3des::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
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
    std::uint32_t l = LoadBE32(chain);
    std::uint32_t r = LoadBE32(chain + 4);
    InitialPermutation(l, r);
    for (std::size_t b = 0; b < blocks; ++b, in += 8, out += 8) {
        std::uint32_t pl = LoadBE32(in);
        std::uint32_t pr = LoadBE32(in + 4);
        InitialPermutation(pl, pr);
        l ^= pl;
        r ^= pr;
        Triple<true>(l, r, m_schedules);
        std::uint32_t cl = l;
        std::uint32_t cr = r;
        FinalPermutation(cl, cr);
        StoreBE32(out, cl);
        StoreBE32(out + 4, cr);
    }
    FinalPermutation(l, r);
    StoreBE32(chain, l);
    StoreBE32(chain + 4, r);
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
