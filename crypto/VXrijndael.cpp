// Rijndael (AES): key schedule, portable block functions and the AES-NI path.
#include "crypto/VXrijndael.h"

#include "crypto/VXcpu.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__GNUC__) && defined(__x86_64__)
#define VX_RIJNDAEL_X86 1
#include <immintrin.h>
#endif

namespace
{
// Every table is derived at compile time from the arithmetic of GF(2^8) modulo x^8+x^4+x^3+x+1,
// so no hand-typed entry can be wrong in a way that a known-answer test would not catch.
constexpr std::uint8_t XTime(std::uint8_t x)
{
    return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1B : 0x00));
}

constexpr std::uint8_t Mul(std::uint8_t a, std::uint8_t b)
{
    std::uint8_t product = 0;
    for (; b != 0; b = static_cast<std::uint8_t>(b >> 1), a = XTime(a)) {
        if ((b & 1) != 0) {
            product = static_cast<std::uint8_t>(product ^ a);
        }
    }
    return product;
}

constexpr std::uint32_t Rotl(std::uint32_t x, int n)
{
    return n == 0 ? x : (x << n) | (x >> (32 - n));
}

constexpr std::uint8_t Rotl8(std::uint8_t x, int n)
{
    return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}

constexpr std::uint32_t Pack(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
    return std::uint32_t{b0} | (std::uint32_t{b1} << 8) | (std::uint32_t{b2} << 16) | (std::uint32_t{b3} << 24);
}

// Columns are little-endian words: row 0 of the state is the low byte. Te[k] and Td[k] take the
// byte of row k and give its contribution to the whole output column, so one round of a column is
// four look-ups; the tables for rows 1 to 3 are rotations of the table for row 0.
struct TTables
{
    std::array<std::uint8_t, 256> s{};
    std::array<std::uint8_t, 256> inv{};
    std::array<std::array<std::uint32_t, 256>, 4> te{};
    std::array<std::array<std::uint32_t, 256>, 4> td{};
    std::array<std::uint32_t, 10> rcon{};
};

constexpr TTables MakeTables()
{
    TTables t;
    // Powers of the generator 3 give logarithms, and with them the multiplicative inverses.
    std::array<std::uint8_t, 256> power{};
    std::array<std::uint8_t, 256> log{};
    std::uint8_t x = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = x;
        log[x] = static_cast<std::uint8_t>(i);
        x = Mul(x, 3);
    }
    for (int a = 0; a < 256; ++a) {
        const std::uint8_t inverse = a == 0 ? 0 : power[(255 - log[a]) % 255];
        const auto b = static_cast<std::uint8_t>(inverse ^ Rotl8(inverse, 1) ^ Rotl8(inverse, 2) ^
                                                 Rotl8(inverse, 3) ^ Rotl8(inverse, 4) ^ 0x63);
        t.s[a] = b;
        t.inv[b] = static_cast<std::uint8_t>(a);
    }
    for (int a = 0; a < 256; ++a) {
        const std::uint8_t s = t.s[a];
        const std::uint8_t is = t.inv[a];
        const std::uint32_t e = Pack(Mul(s, 2), s, s, Mul(s, 3));
        const std::uint32_t d = Pack(Mul(is, 14), Mul(is, 9), Mul(is, 13), Mul(is, 11));
        for (int k = 0; k < 4; ++k) {
            t.te[k][a] = Rotl(e, 8 * k);
            t.td[k][a] = Rotl(d, 8 * k);
        }
    }
    std::uint8_t rc = 1;
    for (auto& r : t.rcon) {
        r = rc;
        rc = XTime(rc);
    }
    return t;
}

constexpr TTables kT = MakeTables();

constexpr std::uint32_t B0(std::uint32_t w) { return w & 0xFF; }
constexpr std::uint32_t B1(std::uint32_t w) { return (w >> 8) & 0xFF; }
constexpr std::uint32_t B2(std::uint32_t w) { return (w >> 16) & 0xFF; }
constexpr std::uint32_t B3(std::uint32_t w) { return w >> 24; }

std::uint32_t SubWord(std::uint32_t w)
{
    return Pack(kT.s[B0(w)], kT.s[B1(w)], kT.s[B2(w)], kT.s[B3(w)]);
}

std::uint32_t InvMixColumn(std::uint32_t w)
{
    // Td includes the inverse S-box, so the S-box is applied first to cancel it.
    return kT.td[0][kT.s[B0(w)]] ^ kT.td[1][kT.s[B1(w)]] ^ kT.td[2][kT.s[B2(w)]] ^ kT.td[3][kT.s[B3(w)]];
}

// The round count is a template argument of every accelerated routine, so that the rounds are
// unrolled and the round keys stay in registers.
template <class TFn>
void ByRounds(std::int32_t rounds, TFn&& fn)
{
    switch (rounds) {
    case 10:
        fn(std::integral_constant<int, 10>{});
        break;
    case 12:
        fn(std::integral_constant<int, 12>{});
        break;
    default:
        fn(std::integral_constant<int, 14>{});
        break;
    }
}

#ifdef VX_RIJNDAEL_X86
#define VX_TARGET_AESNI __attribute__((target("aes,sse4.1")))
#define VX_TARGET_VAES256 __attribute__((target("aes,sse4.1,avx2,vaes")))
#define VX_TARGET_VAES512 __attribute__((target("aes,sse4.1,avx2,avx512f,vaes")))

VX_TARGET_AESNI inline __m128i Load128(const void* p)
{
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

VX_TARGET_AESNI inline void Store128(void* p, __m128i v)
{
    _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

template <bool Decrypt, int Nr>
VX_TARGET_AESNI inline __m128i OneBlock(__m128i x, const std::uint32_t* keys)
{
    x = _mm_xor_si128(x, Load128(keys));
#pragma GCC unroll 16
    for (int r = 1; r < Nr; ++r) {
        x = Decrypt ? _mm_aesdec_si128(x, Load128(keys + 4 * r)) : _mm_aesenc_si128(x, Load128(keys + 4 * r));
    }
    return Decrypt ? _mm_aesdeclast_si128(x, Load128(keys + 4 * Nr)) : _mm_aesenclast_si128(x, Load128(keys + 4 * Nr));
}

template <bool Decrypt, int Nr>
VX_TARGET_AESNI void BlockNi(const std::uint32_t* keys, const std::uint8_t* in, std::uint8_t* out)
{
    Store128(out, OneBlock<Decrypt, Nr>(Load128(in), keys));
}

// CBC encryption is one long dependency chain, so its speed is the latency of the rounds. The
// next plain block and round key 0 are folded into the last round key, which keeps the XOR that
// starts the next block off that chain.
template <int Nr>
VX_TARGET_AESNI void CbcEncryptNi(const std::uint32_t* keys, std::uint8_t* chain, const std::uint8_t* in,
                                  std::uint8_t* out, std::size_t blocks)
{
    if (blocks == 0) {
        return;
    }
    __m128i k[Nr + 1];
#pragma GCC unroll 16
    for (int r = 0; r <= Nr; ++r) {
        k[r] = Load128(keys + 4 * r);
    }
    __m128i x = _mm_xor_si128(_mm_xor_si128(Load128(in), Load128(chain)), k[0]);
    __m128i c;
    for (;;) {
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
            x = _mm_aesenc_si128(x, k[r]);
        }
        if (--blocks == 0) {
            c = _mm_aesenclast_si128(x, k[Nr]);
            Store128(out, c);
            break;
        }
        const __m128i next = _mm_xor_si128(Load128(in + 16), k[0]);
        x = _mm_aesenclast_si128(x, _mm_xor_si128(k[Nr], next));
        c = _mm_xor_si128(x, next);
        Store128(out, c);
        in += 16;
        out += 16;
    }
    Store128(chain, c);
}

// ECB (Cbc false) or CBC decryption (Cbc true) with eight blocks in flight. Every cipher block a
// CBC step needs is held in a register before its output is stored, so in == out is safe.
template <bool Decrypt, bool Cbc, int Nr>
VX_TARGET_AESNI void WideNi(const std::uint32_t* keys, std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                            std::size_t blocks)
{
    __m128i k[Nr + 1];
#pragma GCC unroll 16
    for (int r = 0; r <= Nr; ++r) {
        k[r] = Load128(keys + 4 * r);
    }
    __m128i last = Cbc ? Load128(chain) : _mm_setzero_si128();
    for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
        __m128i c[8];
        __m128i x[8];
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            c[j] = Load128(in + 16 * j);
            x[j] = _mm_xor_si128(c[j], k[0]);
        }
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                x[j] = Decrypt ? _mm_aesdec_si128(x[j], k[r]) : _mm_aesenc_si128(x[j], k[r]);
            }
        }
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            x[j] = Decrypt ? _mm_aesdeclast_si128(x[j], k[Nr]) : _mm_aesenclast_si128(x[j], k[Nr]);
            if (Cbc) {
                x[j] = _mm_xor_si128(x[j], j == 0 ? last : c[j - 1]);
            }
        }
        if (Cbc) {
            last = c[7];
        }
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            Store128(out + 16 * j, x[j]);
        }
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        const __m128i c = Load128(in);
        __m128i x = OneBlock<Decrypt, Nr>(c, keys);
        if (Cbc) {
            x = _mm_xor_si128(x, last);
            last = c;
        }
        Store128(out, x);
    }
    if (Cbc) {
        Store128(chain, last);
    }
}

template <bool Decrypt, bool Cbc, int Nr>
VX_TARGET_VAES256 void Wide256(const std::uint32_t* keys, std::uint8_t* chain, const std::uint8_t* in,
                               std::uint8_t* out, std::size_t blocks)
{
    __m256i k[Nr + 1];
#pragma GCC unroll 16
    for (int r = 0; r <= Nr; ++r) {
        k[r] = _mm256_broadcastsi128_si256(Load128(keys + 4 * r));
    }
    // The previous cipher block sits in the upper lane of `last`.
    __m256i last = Cbc ? _mm256_inserti128_si256(_mm256_setzero_si256(), Load128(chain), 1) : _mm256_setzero_si256();
    for (; blocks >= 16; blocks -= 16, in += 256, out += 256) {
        __m256i c[8];
        __m256i x[8];
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            c[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * j));
            x[j] = _mm256_xor_si256(c[j], k[0]);
        }
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                x[j] = Decrypt ? _mm256_aesdec_epi128(x[j], k[r]) : _mm256_aesenc_epi128(x[j], k[r]);
            }
        }
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            x[j] = Decrypt ? _mm256_aesdeclast_epi128(x[j], k[Nr]) : _mm256_aesenclast_epi128(x[j], k[Nr]);
            if (Cbc) {
                x[j] = _mm256_xor_si256(x[j], _mm256_permute2x128_si256(j == 0 ? last : c[j - 1], c[j], 0x21));
            }
        }
        if (Cbc) {
            last = c[7];
        }
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * j), x[j]);
        }
    }
    if (Cbc) {
        Store128(chain, _mm256_extracti128_si256(last, 1));
    }
    WideNi<Decrypt, Cbc, Nr>(keys, chain, in, out, blocks);
}

// GCC 12's AVX-512 intrinsics fill their "undefined" operands by self-initialisation, which its own
// uninitialised-use analysis then reports once they are inlined here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
template <bool Decrypt, int Nr>
VX_TARGET_VAES512 inline __m512i Rounds512(__m512i x, const __m512i* k)
{
#pragma GCC unroll 16
    for (int r = 1; r < Nr; ++r) {
        x = Decrypt ? _mm512_aesdec_epi128(x, k[r]) : _mm512_aesenc_epi128(x, k[r]);
    }
    return x;
}

// The last round, which for CBC decryption also adds the previous cipher blocks: they are folded
// into its round key, since the round ends with that XOR.
template <bool Decrypt, bool Cbc>
VX_TARGET_VAES512 inline __m512i Last512(__m512i x, __m512i key, __m512i previous)
{
    if (Cbc) {
        key = _mm512_xor_si512(key, previous);
    }
    return Decrypt ? _mm512_aesdeclast_epi128(x, key) : _mm512_aesenclast_epi128(x, key);
}

// The previous cipher block of every lane of `c`, whose first lane follows the top lane of `last`.
VX_TARGET_VAES512 inline __m512i Previous512(__m512i c, __m512i last)
{
    return _mm512_alignr_epi64(c, last, 6);
}

// Fewer than four blocks in one register, loaded and stored a block at a time so that nothing past
// either end of the caller's buffers is touched. A copy through the stack made the wide load wait on
// the narrower stores, and masked stores measured slow over memory that is not in the cache.
template <bool Decrypt, bool Cbc, int Nr>
VX_TARGET_VAES512 inline __m512i Part512(const __m512i* k, __m512i last, const std::uint8_t* in, std::uint8_t* out,
                                         std::size_t blocks)
{
    __m512i c = _mm512_zextsi128_si512(Load128(in));
    if (blocks > 1) {
        c = _mm512_inserti32x4(c, Load128(in + 16), 1);
    }
    if (blocks > 2) {
        c = _mm512_inserti32x4(c, Load128(in + 32), 2);
    }
    const __m512i next = _mm512_broadcast_i32x4(Load128(in + 16 * (blocks - 1)));
    const __m512i x = Rounds512<Decrypt, Nr>(_mm512_xor_si512(c, k[0]), k);
    const __m512i result = Last512<Decrypt, Cbc>(x, k[Nr], Previous512(c, last));
    Store128(out, _mm512_castsi512_si128(result));
    if (blocks > 1) {
        Store128(out + 16, _mm512_extracti32x4_epi32(result, 1));
    }
    if (blocks > 2) {
        Store128(out + 32, _mm512_extracti32x4_epi32(result, 2));
    }
    return next;
}

// CBC decryption reads the previous cipher blocks again from the input instead of keeping a
// pass's cipher blocks in registers, so the loop holds only the round keys and its states, and
// there are no lane shuffles between the last round and the stores. The input of a pass is read
// before any of its output is stored, and the block the next pass needs ahead of its first one is
// kept in a register, so in == out is safe.
// Large buffers make this a memory-bound loop, and three things measured faster there, with the
// same speed in cache: a head of up to three blocks that brings the stores to whole cache lines
// (and the loads too when both buffers share their offset, as large allocations do), passes of 16
// blocks rather than 32, and reading the input into the cache 2 KiB ahead (1, 4 and 8 KiB ahead
// were all slower). A prefetch never faults, so running past the end of the buffer is harmless.
template <bool Decrypt, bool Cbc, int Nr>
VX_TARGET_VAES512 void Wide512(const std::uint32_t* keys, std::uint8_t* chain, const std::uint8_t* in,
                               std::uint8_t* out, std::size_t blocks)
{
    constexpr int kWidth = 4; // registers per pass
    constexpr std::size_t kAhead = 2048;
    __m512i k[Nr + 1];
#pragma GCC unroll 16
    for (int r = 0; r <= Nr; ++r) {
        k[r] = _mm512_broadcast_i32x4(Load128(keys + 4 * r));
    }
    // The previous cipher block sits in the top lane of `last`.
    __m512i last = Cbc ? _mm512_broadcast_i32x4(Load128(chain)) : _mm512_setzero_si512();
    const auto address = reinterpret_cast<std::uintptr_t>(out);
    if (address % 16 == 0 && address % 64 != 0 && blocks >= 4 * kWidth) {
        const std::size_t head = (64 - address % 64) / 16;
        last = Part512<Decrypt, Cbc, Nr>(k, last, in, out, head);
        blocks -= head;
        in += 16 * head;
        out += 16 * head;
    }
    for (; blocks >= 4 * kWidth; blocks -= 4 * kWidth, in += 64 * kWidth, out += 64 * kWidth) {
        __m512i x[kWidth];
#pragma GCC unroll 8
        for (int j = 0; j < kWidth; ++j) {
            _mm_prefetch(reinterpret_cast<const char*>(in + kAhead + 64 * j), _MM_HINT_T0);
            x[j] = _mm512_xor_si512(_mm512_loadu_si512(in + 64 * j), k[0]);
        }
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
            for (int j = 0; j < kWidth; ++j) {
                x[j] = Decrypt ? _mm512_aesdec_epi128(x[j], k[r]) : _mm512_aesenc_epi128(x[j], k[r]);
            }
        }
        x[0] = Last512<Decrypt, Cbc>(x[0], k[Nr], Previous512(_mm512_loadu_si512(in), last));
#pragma GCC unroll 8
        for (int j = 1; j < kWidth; ++j) {
            x[j] = Last512<Decrypt, Cbc>(x[j], k[Nr], _mm512_loadu_si512(in + 64 * j - 16));
        }
        if (Cbc) {
            last = _mm512_loadu_si512(in + 64 * (kWidth - 1));
        }
#pragma GCC unroll 8
        for (int j = 0; j < kWidth; ++j) {
            _mm512_storeu_si512(out + 64 * j, x[j]);
        }
    }
    for (; blocks >= 4; blocks -= 4, in += 64, out += 64) {
        const __m512i c = _mm512_loadu_si512(in);
        const __m512i x = Rounds512<Decrypt, Nr>(_mm512_xor_si512(c, k[0]), k);
        _mm512_storeu_si512(out, Last512<Decrypt, Cbc>(x, k[Nr], Previous512(c, last)));
        last = c;
    }
    if (blocks > 0) {
        last = Part512<Decrypt, Cbc, Nr>(k, last, in, out, blocks);
    }
    if (Cbc) {
        Store128(chain, _mm512_extracti32x4_epi32(last, 3));
    }
}
#pragma GCC diagnostic pop

// Runs the widest routine the path allows; Cbc true needs Decrypt true.
template <bool Decrypt, bool Cbc>
void Wide(TVX_rijndael::TPath path, std::int32_t rounds, const std::uint32_t* keys, std::uint8_t* chain,
          const std::uint8_t* in, std::uint8_t* out, std::size_t blocks)
{
    ByRounds(rounds, [&](auto nr) {
        constexpr int kNr = decltype(nr)::value;
        switch (path) {
        case TVX_rijndael::TPath::Vaes512:
            Wide512<Decrypt, Cbc, kNr>(keys, chain, in, out, blocks);
            break;
        case TVX_rijndael::TPath::Vaes256:
            Wide256<Decrypt, Cbc, kNr>(keys, chain, in, out, blocks);
            break;
        default:
            WideNi<Decrypt, Cbc, kNr>(keys, chain, in, out, blocks);
            break;
        }
    });
}
#endif
} // namespace

TVX_rijndael::TVX_rijndael()
{
    TVX_rijndael::Wipe();
}

TVX_rijndael::~TVX_rijndael()
{
    TVX_rijndael::Wipe();
}

void TVX_rijndael::Wipe()
{
    m_rounds = 0;
    SecureFill(m_encKeys, 0);
    SecureFill(m_decKeys, 0);
    TVX_blockcipher128::Wipe();
}

// Asked at every call rather than once, so that a feature switched off by a test takes effect at
// once; the wide paths finish their tails on the AES-NI code, so they need AES-NI as well.
TVX_rijndael::TPath TVX_rijndael::ActivePath()
{
#ifdef VX_RIJNDAEL_X86
    if (!VXCpuHas(TVXCpuFeature::AesNi)) {
        return TPath::Portable;
    }
    if (VXCpuHas(TVXCpuFeature::Vaes) && VXCpuHas(TVXCpuFeature::Avx512)) {
        return TPath::Vaes512;
    }
    if (VXCpuHas(TVXCpuFeature::Vaes) && VXCpuHas(TVXCpuFeature::Avx2)) {
        return TPath::Vaes256;
    }
    return TPath::AesNi;
#else
    return TPath::Portable;
#endif
}

std::string_view TVX_rijndael::ActivePathName()
{
    switch (ActivePath()) {
    case TPath::AesNi:
        return "aes-ni";
    case TPath::Vaes256:
        return "vaes-256";
    case TPath::Vaes512:
        return "vaes-512";
    default:
        return "portable";
    }
}

void TVX_rijndael::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    // Lengths between the standard ones are zero-padded to the next standard length.
    const std::size_t n = sizeBits / 8;
    std::array<std::uint8_t, 32> buffer{};
    std::copy_n(key.begin(), n, buffer.begin());
    const int nk = n <= 16 ? 4 : n <= 24 ? 6 : 8;
    m_rounds = nk + 6;
    const int words = 4 * (m_rounds + 1);
    std::uint32_t* w = m_encKeys.data();
    for (int i = 0; i < nk; ++i) {
        w[i] = LoadLE32(buffer.data() + 4 * i);
    }
    for (int i = nk; i < words; ++i) {
        std::uint32_t t = w[i - 1];
        if (i % nk == 0) {
            t = SubWord(Rotl(t, 24)) ^ kT.rcon[i / nk - 1];
        } else if (nk > 6 && i % nk == 4) {
            t = SubWord(t);
        }
        w[i] = w[i - nk] ^ t;
    }
    // The equivalent inverse cipher: round keys in reverse order, all but the outer two passed
    // through InvMixColumns, so decryption has the same shape as encryption.
    std::uint32_t* d = m_decKeys.data();
    for (int r = 0; r <= m_rounds; ++r) {
        const std::uint32_t* src = w + 4 * (m_rounds - r);
        for (int c = 0; c < 4; ++c) {
            d[4 * r + c] = (r == 0 || r == m_rounds) ? src[c] : InvMixColumn(src[c]);
        }
    }
    SecureFill(buffer, 0);
}

void TVX_rijndael::EncryptPortable(const std::uint8_t* in, std::uint8_t* out) const
{
    const std::uint32_t* rk = m_encKeys.data();
    const auto& te = kT.te;
    std::uint32_t s0 = LoadLE32(in) ^ rk[0];
    std::uint32_t s1 = LoadLE32(in + 4) ^ rk[1];
    std::uint32_t s2 = LoadLE32(in + 8) ^ rk[2];
    std::uint32_t s3 = LoadLE32(in + 12) ^ rk[3];
    for (int r = 1; r < m_rounds; ++r) {
        rk += 4;
        const std::uint32_t t0 = te[0][B0(s0)] ^ te[1][B1(s1)] ^ te[2][B2(s2)] ^ te[3][B3(s3)] ^ rk[0];
        const std::uint32_t t1 = te[0][B0(s1)] ^ te[1][B1(s2)] ^ te[2][B2(s3)] ^ te[3][B3(s0)] ^ rk[1];
        const std::uint32_t t2 = te[0][B0(s2)] ^ te[1][B1(s3)] ^ te[2][B2(s0)] ^ te[3][B3(s1)] ^ rk[2];
        const std::uint32_t t3 = te[0][B0(s3)] ^ te[1][B1(s0)] ^ te[2][B2(s1)] ^ te[3][B3(s2)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const auto& s = kT.s;
    StoreLE32(out, Pack(s[B0(s0)], s[B1(s1)], s[B2(s2)], s[B3(s3)]) ^ rk[0]);
    StoreLE32(out + 4, Pack(s[B0(s1)], s[B1(s2)], s[B2(s3)], s[B3(s0)]) ^ rk[1]);
    StoreLE32(out + 8, Pack(s[B0(s2)], s[B1(s3)], s[B2(s0)], s[B3(s1)]) ^ rk[2]);
    StoreLE32(out + 12, Pack(s[B0(s3)], s[B1(s0)], s[B2(s1)], s[B3(s2)]) ^ rk[3]);
}

void TVX_rijndael::DecryptPortable(const std::uint8_t* in, std::uint8_t* out) const
{
    const std::uint32_t* rk = m_decKeys.data();
    const auto& td = kT.td;
    std::uint32_t s0 = LoadLE32(in) ^ rk[0];
    std::uint32_t s1 = LoadLE32(in + 4) ^ rk[1];
    std::uint32_t s2 = LoadLE32(in + 8) ^ rk[2];
    std::uint32_t s3 = LoadLE32(in + 12) ^ rk[3];
    for (int r = 1; r < m_rounds; ++r) {
        rk += 4;
        const std::uint32_t t0 = td[0][B0(s0)] ^ td[1][B1(s3)] ^ td[2][B2(s2)] ^ td[3][B3(s1)] ^ rk[0];
        const std::uint32_t t1 = td[0][B0(s1)] ^ td[1][B1(s0)] ^ td[2][B2(s3)] ^ td[3][B3(s2)] ^ rk[1];
        const std::uint32_t t2 = td[0][B0(s2)] ^ td[1][B1(s1)] ^ td[2][B2(s0)] ^ td[3][B3(s3)] ^ rk[2];
        const std::uint32_t t3 = td[0][B0(s3)] ^ td[1][B1(s2)] ^ td[2][B2(s1)] ^ td[3][B3(s0)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const auto& is = kT.inv;
    StoreLE32(out, Pack(is[B0(s0)], is[B1(s3)], is[B2(s2)], is[B3(s1)]) ^ rk[0]);
    StoreLE32(out + 4, Pack(is[B0(s1)], is[B1(s0)], is[B2(s3)], is[B3(s2)]) ^ rk[1]);
    StoreLE32(out + 8, Pack(is[B0(s2)], is[B1(s1)], is[B2(s0)], is[B3(s3)]) ^ rk[2]);
    StoreLE32(out + 12, Pack(is[B0(s3)], is[B1(s2)], is[B2(s1)], is[B3(s0)]) ^ rk[3]);
}

void TVX_rijndael::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
#ifdef VX_RIJNDAEL_X86
    if (VXCpuHas(TVXCpuFeature::AesNi)) {
        ByRounds(m_rounds, [&](auto nr) { BlockNi<false, decltype(nr)::value>(m_encKeys.data(), in, out); });
        return;
    }
#endif
    EncryptPortable(in, out);
}

void TVX_rijndael::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
#ifdef VX_RIJNDAEL_X86
    if (VXCpuHas(TVXCpuFeature::AesNi)) {
        ByRounds(m_rounds, [&](auto nr) { BlockNi<true, decltype(nr)::value>(m_decKeys.data(), in, out); });
        return;
    }
#endif
    DecryptPortable(in, out);
}

void TVX_rijndael::DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
#ifdef VX_RIJNDAEL_X86
    if (const TPath path = ActivePath(); path != TPath::Portable) {
        Wide<false, false>(path, m_rounds, m_encKeys.data(), nullptr, in, out, blocks);
        return;
    }
#endif
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        EncryptPortable(in, out);
    }
}

void TVX_rijndael::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
#ifdef VX_RIJNDAEL_X86
    if (const TPath path = ActivePath(); path != TPath::Portable) {
        Wide<true, false>(path, m_rounds, m_decKeys.data(), nullptr, in, out, blocks);
        return;
    }
#endif
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        DecryptPortable(in, out);
    }
}

void TVX_rijndael::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                      std::uint8_t* chain) const
{
#ifdef VX_RIJNDAEL_X86
    if (VXCpuHas(TVXCpuFeature::AesNi)) {
        ByRounds(m_rounds,
                 [&](auto nr) { CbcEncryptNi<decltype(nr)::value>(m_encKeys.data(), chain, in, out, blocks); });
        return;
    }
#endif
    std::uint8_t* cv = chain;
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        for (int i = 0; i < 16; ++i) {
            cv[i] = static_cast<std::uint8_t>(cv[i] ^ in[i]);
        }
        EncryptPortable(cv, cv);
        std::memcpy(out, cv, 16);
    }
}

// The accelerated paths decrypt the whole blocks straight from in to out, without the batching and
// copying of the shared implementation; the tail, if any, still goes through it so that its rule
// stays in one place.
void TVX_rijndael::CbcDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
#ifdef VX_RIJNDAEL_X86
    if (const TPath path = ActivePath(); path != TPath::Portable) {
        RequireReady();
        if (out.size() < in.size()) {
            throw std::invalid_argument("output shorter than input");
        }
        const std::size_t blocks = in.size() / 16;
        Wide<true, true>(path, m_rounds, m_decKeys.data(), m_chainBlock.data(), in.data(), out.data(), blocks);
        if (in.size() % 16 != 0) {
            TVX_blockcipher128::CbcDecrypt(in.subspan(blocks * 16), out.subspan(blocks * 16));
        }
        return;
    }
#endif
    TVX_blockcipher128::CbcDecrypt(in, out);
}

bool TVX_rijndael::CheckVectors()
{
    struct TVector
    {
        std::uint32_t bits;
        std::array<std::uint8_t, 16> cipher;
    };
    // FIPS 197 Appendix C: key 00 01 02 ..., plain 00 11 22 ... ff, for the three key lengths.
    static constexpr TVector kVectors[] = {
        {128, {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30, 0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a}},
        {192, {0xdd, 0xa9, 0x7c, 0xa4, 0x86, 0x4c, 0xdf, 0xe0, 0x6e, 0xaf, 0x70, 0xa0, 0xec, 0x0d, 0x71, 0x91}},
        {256, {0x8e, 0xa2, 0xb7, 0xca, 0x51, 0x67, 0x45, 0xbf, 0xea, 0xfc, 0x49, 0x90, 0x4b, 0x49, 0x60, 0x89}},
    };
    std::array<std::uint8_t, 32> key;
    std::array<std::uint8_t, 16> plain;
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<std::uint8_t>(i);
    }
    for (std::size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<std::uint8_t>(0x11 * i);
    }
    bool ok = true;
    for (const TVector& v : kVectors) {
        TVX_rijndael cipher;
        std::array<std::uint8_t, 16> block{};
        cipher.KeySetup(std::span(key).first(v.bits / 8), v.bits);
        cipher.EncryptBlock(plain, block);
        ok = ok && block == v.cipher;
        cipher.DecryptBlock(block, block);
        cipher.Wipe();
        ok = ok && block == plain;
    }
    return ok;
}
