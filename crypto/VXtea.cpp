// The TEA-shaped cipher with its own round: key schedule and block functions.
#include "crypto/VXtea.h"

#include "crypto/VXsecmem.h"

#include <algorithm>

namespace
{
constexpr std::uint32_t kDelta = 0x9e3779b9u;
constexpr std::uint32_t kFinalSum = 0xc6ef3720u; // 32 * kDelta, modulo 2^32

// This cipher's own round: (z << 4) + (z ^ k0) + ((z >> 5) ^ sum) + k1, where published TEA has
// ((z << 4) + k0) ^ (z + sum) ^ ((z >> 5) + k1).
inline std::uint32_t Half(std::uint32_t z, std::uint32_t sum, std::uint32_t ka, std::uint32_t kb)
{
    return ((z << 4) + (z ^ ka)) + (((z >> 5) ^ sum) + kb);
}

inline void Encrypt(std::uint32_t& y, std::uint32_t& z, const std::uint32_t* k)
{
    std::uint32_t sum = 0;
#pragma GCC unroll 32
    for (int i = 0; i < 32; ++i) {
        sum += kDelta;
        y += Half(z, sum, k[0], k[1]);
        z += Half(y, sum, k[2], k[3]);
    }
}

template <std::size_t N>
inline void Decrypt(std::uint32_t (&y)[N], std::uint32_t (&z)[N], const std::uint32_t* k)
{
    std::uint32_t sum = kFinalSum;
#pragma GCC unroll 32
    for (int i = 0; i < 32; ++i) {
        for (std::size_t b = 0; b < N; ++b) {
            z[b] -= Half(y[b], sum, k[2], k[3]);
        }
        for (std::size_t b = 0; b < N; ++b) {
            y[b] -= Half(z[b], sum, k[0], k[1]);
        }
        sum -= kDelta;
    }
}
} // namespace

TVX_tea::TVX_tea()
{
    TVX_tea::Wipe();
}

TVX_tea::~TVX_tea()
{
    TVX_tea::Wipe();
}

void TVX_tea::Wipe()
{
    SecureFill(m_k, 0);
    TVX_blockcipher64::Wipe();
}

void TVX_tea::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    std::array<std::uint8_t, 16> buffer{};
    std::copy_n(key.begin(), sizeBits / 8, buffer.begin());
    for (std::size_t i = 0; i < 4; ++i) {
        m_k[i] = LoadBE32(buffer.data() + 4 * i);
    }
    SecureFill(buffer, 0);
}

void TVX_tea::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t y = LoadBE32(in);
    std::uint32_t z = LoadBE32(in + 4);
    Encrypt(y, z, m_k.data());
    StoreBE32(out, y);
    StoreBE32(out + 4, z);
}

void TVX_tea::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t y[1] = {LoadBE32(in)};
    std::uint32_t z[1] = {LoadBE32(in + 4)};
    Decrypt(y, z, m_k.data());
    StoreBE32(out, y[0]);
    StoreBE32(out + 4, z[0]);
}

void TVX_tea::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    for (; blocks >= 4; blocks -= 4, in += 32, out += 32) {
        std::uint32_t y[4], z[4];
        for (std::size_t b = 0; b < 4; ++b) {
            y[b] = LoadBE32(in + 8 * b);
            z[b] = LoadBE32(in + 8 * b + 4);
        }
        Decrypt(y, z, m_k.data());
        for (std::size_t b = 0; b < 4; ++b) {
            StoreBE32(out + 8 * b, y[b]);
            StoreBE32(out + 8 * b + 4, z[b]);
        }
    }
    for (; blocks > 0; --blocks, in += 8, out += 8) {
        DoDecryptBlock(in, out);
    }
}

void TVX_tea::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                 std::uint8_t* chain) const
{
    std::uint32_t y = LoadBE32(chain);
    std::uint32_t z = LoadBE32(chain + 4);
    for (std::size_t b = 0; b < blocks; ++b, in += 8, out += 8) {
        y ^= LoadBE32(in);
        z ^= LoadBE32(in + 4);
        Encrypt(y, z, m_k.data());
        StoreBE32(out, y);
        StoreBE32(out + 4, z);
    }
    StoreBE32(chain, y);
    StoreBE32(chain + 4, z);
}

// No answer is published for this round, so the answers are computed independently from TEA's
// reference routine with this round in place of the published one (kept with the test vectors).
bool TVX_tea::CheckVectors()
{
    static constexpr TKnownAnswer<16, 8> kAnswers[] = {
        {128,
         {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10},
         {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef},
         {0xa1, 0xa3, 0xc6, 0x76, 0xc5, 0x38, 0x5f, 0x53}},
        {128,
         {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f},
         {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
         {0xfe, 0x2b, 0x9f, 0x6b, 0x39, 0x02, 0xc2, 0x0f}},
    };
    return CheckKnownAnswers<TVX_tea>(kAnswers);
}
