// RC6: key schedule and block functions.
#include "crypto/VXrc6.h"

#include "crypto/VXlanes.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <bit>

namespace
{
constexpr bool kBigEndian = false;

constexpr std::size_t kRounds = 20;
constexpr std::size_t kScheduleWords = 2 * kRounds + 4;

inline int Rot(std::uint32_t r)
{
    return static_cast<int>(r & 31);
}

// W lanes of independent blocks as the words A, B, C, D; W = 1 is the plain block function. The
// words are renamed between rounds instead of moved: round r works on the positions (r - 1) mod 4
// and on, so four rounds written out bring the names back where they started.
template <std::size_t A, std::size_t B, std::size_t C, std::size_t D, std::size_t W>
[[gnu::always_inline]] inline void EncryptRound(TLanes<W>& x, const std::uint32_t* s)
{
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        const std::uint32_t t = std::rotl(x[l][B] * (2 * x[l][B] + 1), 5);
        const std::uint32_t u = std::rotl(x[l][D] * (2 * x[l][D] + 1), 5);
        x[l][A] = std::rotl(x[l][A] ^ t, Rot(u)) + s[0];
        x[l][C] = std::rotl(x[l][C] ^ u, Rot(t)) + s[1];
    }
}

template <std::size_t A, std::size_t B, std::size_t C, std::size_t D, std::size_t W>
[[gnu::always_inline]] inline void DecryptRound(TLanes<W>& x, const std::uint32_t* s)
{
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        const std::uint32_t t = std::rotl(x[l][B] * (2 * x[l][B] + 1), 5);
        const std::uint32_t u = std::rotl(x[l][D] * (2 * x[l][D] + 1), 5);
        x[l][C] = std::rotr(x[l][C] - s[1], Rot(t)) ^ u;
        x[l][A] = std::rotr(x[l][A] - s[0], Rot(u)) ^ t;
    }
}

template <std::size_t W>
[[gnu::always_inline]] inline void EncryptLanes(TLanes<W>& x, const std::uint32_t* s)
{
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][1] += s[0];
        x[l][3] += s[1];
    }
#pragma GCC unroll 16
    for (std::size_t r = 1; r <= kRounds; r += 4) {
        EncryptRound<0, 1, 2, 3, W>(x, s + 2 * r);
        EncryptRound<1, 2, 3, 0, W>(x, s + 2 * r + 2);
        EncryptRound<2, 3, 0, 1, W>(x, s + 2 * r + 4);
        EncryptRound<3, 0, 1, 2, W>(x, s + 2 * r + 6);
    }
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][0] += s[42];
        x[l][2] += s[43];
    }
}

template <std::size_t W>
[[gnu::always_inline]] inline void DecryptLanes(TLanes<W>& x, const std::uint32_t* s)
{
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][2] -= s[43];
        x[l][0] -= s[42];
    }
#pragma GCC unroll 16
    for (std::size_t r = kRounds; r >= 4; r -= 4) {
        DecryptRound<3, 0, 1, 2, W>(x, s + 2 * r);
        DecryptRound<2, 3, 0, 1, W>(x, s + 2 * r - 2);
        DecryptRound<1, 2, 3, 0, W>(x, s + 2 * r - 4);
        DecryptRound<0, 1, 2, 3, W>(x, s + 2 * r - 6);
    }
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][3] -= s[1];
        x[l][1] -= s[0];
    }
}

} // namespace

TVX_rc6::TVX_rc6()
{
    TVX_rc6::Wipe();
}

TVX_rc6::~TVX_rc6()
{
    TVX_rc6::Wipe();
}

void TVX_rc6::Wipe()
{
    SecureFill(m_s, 0xFF);
    TVX_blockcipher128::Wipe();
}

void TVX_rc6::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    // One word per started group of four whole key bytes. A 4-bit key has no whole byte and so no
    // key word to mix in: refused rather than keyed with nothing.
    const std::size_t c = sizeBits / 32 + ((sizeBits & 24) != 0 ? 1 : 0);
    if (c == 0) {
        throw EVX_cipher(kInvalidKeySize);
    }
    std::array<std::uint8_t, 256> buffer{};
    std::copy_n(key.begin(), sizeBits / 8, buffer.begin());
    std::array<std::uint32_t, 64> l;
    for (std::size_t i = 0; i < c; ++i) {
        l[i] = LoadLE32(buffer.data() + 4 * i);
    }
    SecureFill(buffer, 0);

    for (std::size_t i = 0; i < kScheduleWords; ++i) {
        m_s[i] = 0xB7E15163u + static_cast<std::uint32_t>(i) * 0x9E3779B9u;
    }
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::size_t i = 0;
    std::size_t j = 0;
    for (std::size_t k = 3 * std::max(c, kScheduleWords); k > 0; --k) {
        a = m_s[i] = std::rotl(m_s[i] + a + b, 3);
        b = l[j] = std::rotl(l[j] + a + b, Rot(a + b));
        i = (i + 1) % kScheduleWords;
        j = (j + 1) % c;
    }
    SecureFill(l, 0);
}

void TVX_rc6::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    TLanes<1> x;
    LoadLanes<1, kBigEndian>(x, in);
    EncryptLanes<1>(x, m_s.data());
    StoreLanes<1, kBigEndian>(x, out);
}

void TVX_rc6::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    TLanes<1> x;
    LoadLanes<1, kBigEndian>(x, in);
    DecryptLanes<1>(x, m_s.data());
    StoreLanes<1, kBigEndian>(x, out);
}

void TVX_rc6::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                 std::uint8_t* chain) const
{
    TLanes<1> x;
    LoadLanes<1, kBigEndian>(x, chain);
    for (std::size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
#pragma GCC unroll 16
        for (std::size_t w = 0; w < 4; ++w) {
            x[0][w] ^= LoadLE32(in + 4 * w);
        }
        EncryptLanes<1>(x, m_s.data());
        StoreLanes<1, kBigEndian>(x, out);
    }
    StoreLanes<1, kBigEndian>(x, chain);
}

// CBC decryption does not depend on the chain, so several blocks go through the rounds together
// and their multiplications overlap.
void TVX_rc6::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    constexpr std::size_t kLanes = 2;
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        TLanes<kLanes> x;
        LoadLanes<kLanes, kBigEndian>(x, in);
        DecryptLanes<kLanes>(x, m_s.data());
        StoreLanes<kLanes, kBigEndian>(x, out);
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        DoDecryptBlock(in, out);
    }
}

bool TVX_rc6::CheckVectors()
{
    // The non-zero 128-bit and 256-bit vectors of the RC6 paper.
    static constexpr TKnownAnswer<32, 16> kVectors[] = {
        {128,
         {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x12, 0x23, 0x34, 0x45, 0x56, 0x67, 0x78},
         {0x02, 0x13, 0x24, 0x35, 0x46, 0x57, 0x68, 0x79, 0x8a, 0x9b, 0xac, 0xbd, 0xce, 0xdf, 0xe0, 0xf1},
         {0x52, 0x4e, 0x19, 0x2f, 0x47, 0x15, 0xc6, 0x23, 0x1f, 0x51, 0xf6, 0x36, 0x7e, 0xa4, 0x3f, 0x18}},
        {256,
         {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x12, 0x23, 0x34, 0x45, 0x56, 0x67, 0x78,
          0x89, 0x9a, 0xab, 0xbc, 0xcd, 0xde, 0xef, 0xf0, 0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe},
         {0x02, 0x13, 0x24, 0x35, 0x46, 0x57, 0x68, 0x79, 0x8a, 0x9b, 0xac, 0xbd, 0xce, 0xdf, 0xe0, 0xf1},
         {0xc8, 0x24, 0x18, 0x16, 0xf0, 0xd7, 0xe4, 0x89, 0x20, 0xad, 0x16, 0xa1, 0x67, 0x4e, 0x5d, 0x48}},
    };
    return CheckKnownAnswers<TVX_rc6>(kVectors);
}
