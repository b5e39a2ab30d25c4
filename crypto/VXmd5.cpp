// MD5, the hash that turns a password into a key.
#include "crypto/VXmd5.h"

#include "crypto/VXblockciphers.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <cstring>

namespace
{
inline std::uint32_t Rotl(std::uint32_t x, int s)
{
    return (x << s) | (x >> (32 - s));
}

// The round functions in forms with the same values as RFC 1321's but a shorter chain of
// dependent operations: the message word and constant are added to a before the function is known,
// G adds its two disjoint halves separately so that only (d & b) waits for b, and H computes c ^ d
// ahead of b.
inline void StepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, int s,
                  std::uint32_t t)
{
    const std::uint32_t early = a + x + t;
    a = b + Rotl(early + (d ^ (b & (c ^ d))), s);
}

inline void StepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, int s,
                  std::uint32_t t)
{
    const std::uint32_t early = a + x + t + (c & ~d);
    a = b + Rotl(early + (b & d), s);
}

inline void StepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, int s,
                  std::uint32_t t)
{
    const std::uint32_t early = a + x + t;
    a = b + Rotl(early + (b ^ (c ^ d)), s);
}

inline void StepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x, int s,
                  std::uint32_t t)
{
    const std::uint32_t early = a + x + t;
    a = b + Rotl(early + (c ^ (b | ~d)), s);
}
} // namespace

TVX_md5::~TVX_md5()
{
    Wipe();
}

void TVX_md5::RequireReady() const
{
    if (!m_isReady) {
        throw EVX_hash(kHashNotInitialized);
    }
}

void TVX_md5::Start()
{
    Wipe();
    m_chainWords = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    m_isReady = true;
}

void TVX_md5::Wipe()
{
    m_bitCount = 0;
    m_bufferFill = 0;
    SecureFill(m_chainWords, 0);
    SecureFill(m_blockBuffer, 0);
    m_isReady = false;
}

void TVX_md5::Feed(std::span<const std::uint8_t> data)
{
    RequireReady();
    m_bitCount += static_cast<std::uint64_t>(data.size()) * 8;
    const std::uint8_t* p = data.data();
    std::size_t left = data.size();
    if (m_bufferFill != 0) {
        const std::size_t take = std::min(left, 64 - m_bufferFill);
        std::memcpy(m_blockBuffer.data() + m_bufferFill, p, take);
        m_bufferFill += take;
        p += take;
        left -= take;
        if (m_bufferFill < 64) {
            return;
        }
        TransformBlocks(m_blockBuffer.data(), 1);
        m_bufferFill = 0;
    }
    // Whole blocks straight from the caller's bytes: same digest as copying them through the
    // block buffer, without the copy.
    const std::size_t whole = left / 64;
    TransformBlocks(p, whole);
    p += whole * 64;
    left -= whole * 64;
    if (left != 0) {
        std::memcpy(m_blockBuffer.data(), p, left);
        m_bufferFill = left;
    }
}

void TVX_md5::Finish(std::span<std::uint8_t> digest)
{
    RequireReady();
    if (digest.size() < 16) {
        throw std::invalid_argument("digest area shorter than 16 bytes");
    }
    std::fill(m_blockBuffer.begin() + static_cast<std::ptrdiff_t>(m_bufferFill), m_blockBuffer.end(), 0);
    m_blockBuffer[m_bufferFill] = 0x80;
    if (m_bufferFill >= 56) {
        TransformBlocks(m_blockBuffer.data(), 1);
        m_blockBuffer.fill(0);
    }
    StoreLE32(m_blockBuffer.data() + 56, static_cast<std::uint32_t>(m_bitCount));
    StoreLE32(m_blockBuffer.data() + 60, static_cast<std::uint32_t>(m_bitCount >> 32));
    TransformBlocks(m_blockBuffer.data(), 1);
    for (std::size_t i = 0; i < 4; ++i) {
        StoreLE32(digest.data() + 4 * i, m_chainWords[i]);
    }
    Wipe();
}

// The chain words stay in registers from block to block: written back to the object after every
// block, they would come back through memory at the head of the next one, on the one serial chain
// the whole hash waits on. The message words are read where each step needs them, off that chain.
void TVX_md5::TransformBlocks(const std::uint8_t* blocks, std::size_t count)
{
    std::uint32_t chainA = m_chainWords[0], chainB = m_chainWords[1], chainC = m_chainWords[2],
                  chainD = m_chainWords[3];
    for (; count != 0; --count, blocks += 64) {
        const std::uint8_t* const block = blocks;
        auto W = [block](int n) { return LoadLE32(block + 4 * n); };
        std::uint32_t a = chainA, b = chainB, c = chainC, d = chainD;

        StepF(a, b, c, d, W(0), 7, 0xd76aa478u);
        StepF(d, a, b, c, W(1), 12, 0xe8c7b756u);
        StepF(c, d, a, b, W(2), 17, 0x242070dbu);
        StepF(b, c, d, a, W(3), 22, 0xc1bdceeeu);
        StepF(a, b, c, d, W(4), 7, 0xf57c0fafu);
        StepF(d, a, b, c, W(5), 12, 0x4787c62au);
        StepF(c, d, a, b, W(6), 17, 0xa8304613u);
        StepF(b, c, d, a, W(7), 22, 0xfd469501u);
        StepF(a, b, c, d, W(8), 7, 0x698098d8u);
        StepF(d, a, b, c, W(9), 12, 0x8b44f7afu);
        StepF(c, d, a, b, W(10), 17, 0xffff5bb1u);
        StepF(b, c, d, a, W(11), 22, 0x895cd7beu);
        StepF(a, b, c, d, W(12), 7, 0x6b901122u);
        StepF(d, a, b, c, W(13), 12, 0xfd987193u);
        StepF(c, d, a, b, W(14), 17, 0xa679438eu);
        StepF(b, c, d, a, W(15), 22, 0x49b40821u);

        StepG(a, b, c, d, W(1), 5, 0xf61e2562u);
        StepG(d, a, b, c, W(6), 9, 0xc040b340u);
        StepG(c, d, a, b, W(11), 14, 0x265e5a51u);
        StepG(b, c, d, a, W(0), 20, 0xe9b6c7aau);
        StepG(a, b, c, d, W(5), 5, 0xd62f105du);
        StepG(d, a, b, c, W(10), 9, 0x02441453u);
        StepG(c, d, a, b, W(15), 14, 0xd8a1e681u);
        StepG(b, c, d, a, W(4), 20, 0xe7d3fbc8u);
        StepG(a, b, c, d, W(9), 5, 0x21e1cde6u);
        StepG(d, a, b, c, W(14), 9, 0xc33707d6u);
        StepG(c, d, a, b, W(3), 14, 0xf4d50d87u);
        StepG(b, c, d, a, W(8), 20, 0x455a14edu);
        StepG(a, b, c, d, W(13), 5, 0xa9e3e905u);
        StepG(d, a, b, c, W(2), 9, 0xfcefa3f8u);
        StepG(c, d, a, b, W(7), 14, 0x676f02d9u);
        StepG(b, c, d, a, W(12), 20, 0x8d2a4c8au);

        StepH(a, b, c, d, W(5), 4, 0xfffa3942u);
        StepH(d, a, b, c, W(8), 11, 0x8771f681u);
        StepH(c, d, a, b, W(11), 16, 0x6d9d6122u);
        StepH(b, c, d, a, W(14), 23, 0xfde5380cu);
        StepH(a, b, c, d, W(1), 4, 0xa4beea44u);
        StepH(d, a, b, c, W(4), 11, 0x4bdecfa9u);
        StepH(c, d, a, b, W(7), 16, 0xf6bb4b60u);
        StepH(b, c, d, a, W(10), 23, 0xbebfbc70u);
        StepH(a, b, c, d, W(13), 4, 0x289b7ec6u);
        StepH(d, a, b, c, W(0), 11, 0xeaa127fau);
        StepH(c, d, a, b, W(3), 16, 0xd4ef3085u);
        StepH(b, c, d, a, W(6), 23, 0x04881d05u);
        StepH(a, b, c, d, W(9), 4, 0xd9d4d039u);
        StepH(d, a, b, c, W(12), 11, 0xe6db99e5u);
        StepH(c, d, a, b, W(15), 16, 0x1fa27cf8u);
        StepH(b, c, d, a, W(2), 23, 0xc4ac5665u);

        StepI(a, b, c, d, W(0), 6, 0xf4292244u);
        StepI(d, a, b, c, W(7), 10, 0x432aff97u);
        StepI(c, d, a, b, W(14), 15, 0xab9423a7u);
        StepI(b, c, d, a, W(5), 21, 0xfc93a039u);
        StepI(a, b, c, d, W(12), 6, 0x655b59c3u);
        StepI(d, a, b, c, W(3), 10, 0x8f0ccc92u);
        StepI(c, d, a, b, W(10), 15, 0xffeff47du);
        StepI(b, c, d, a, W(1), 21, 0x85845dd1u);
        StepI(a, b, c, d, W(8), 6, 0x6fa87e4fu);
        StepI(d, a, b, c, W(15), 10, 0xfe2ce6e0u);
        StepI(c, d, a, b, W(6), 15, 0xa3014314u);
        StepI(b, c, d, a, W(13), 21, 0x4e0811a1u);
        StepI(a, b, c, d, W(4), 6, 0xf7537e82u);
        StepI(d, a, b, c, W(11), 10, 0xbd3af235u);
        StepI(c, d, a, b, W(2), 15, 0x2ad7d2bbu);
        StepI(b, c, d, a, W(9), 21, 0xeb86d391u);

        chainA += a;
        chainB += b;
        chainC += c;
        chainD += d;
    }
    m_chainWords = {chainA, chainB, chainC, chainD};
}

bool TVX_md5::CheckVectors()
{
    struct TVector
    {
        std::string_view text;
        std::array<std::uint8_t, 16> digest;
    };
    static constexpr TVector kVectors[] = {
        {"abc",
         {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0, 0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72}},
        {"abcdefghijklmnopqrstuvwxyz",
         {0xc3, 0xfc, 0xd3, 0xd7, 0x61, 0x92, 0xe4, 0x00, 0x7d, 0xfb, 0x49, 0x6c, 0xca, 0x67, 0xe1, 0x3b}},
    };
    bool ok = true;
    for (const TVector& v : kVectors) {
        TVX_md5 hash;
        std::array<std::uint8_t, 16> digest{};
        hash.Start();
        hash.FeedText(v.text);
        hash.Finish(digest);
        ok = ok && digest == v.digest;
    }
    return ok;
}
