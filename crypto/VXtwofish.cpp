// Twofish: key schedule and block functions.
#include "crypto/VXtwofish.h"

#include "crypto/VXcpu.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <bit>

// The gather paths need GCC or Clang on x86-64. MinGW is left out: its 64-bit target does not
// realign the stack for 32-byte spills, and AVX code faults there.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && !defined(_WIN32)
#define VX_TWOFISH_GATHER 1
#endif
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#include <immintrin.h>
// Scalar code only, so MinGW builds it too.
#define VX_TWOFISH_BMI 1
#endif

namespace
{
using TByteTable = std::array<std::uint8_t, 256>;
using TWordTables = std::array<std::array<std::uint32_t, 256>, 4>;

// The 4-bit t-boxes from which the two fixed permutations q0 and q1 are built.
constexpr std::uint8_t kQ0Boxes[4][16] = {
    {0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
    {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
    {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
    {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA},
};
constexpr std::uint8_t kQ1Boxes[4][16] = {
    {0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
    {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
    {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
    {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA},
};

constexpr unsigned Ror4(unsigned x)
{
    return ((x >> 1) | (x << 3)) & 15;
}

constexpr TByteTable MakeQ(const std::uint8_t (&t)[4][16])
{
    TByteTable q{};
    for (unsigned x = 0; x < 256; ++x) {
        const unsigned a0 = x >> 4;
        const unsigned b0 = x & 15;
        const unsigned a1 = a0 ^ b0;
        const unsigned b1 = (a0 ^ Ror4(b0) ^ (8 * a0)) & 15;
        const unsigned a2 = t[0][a1];
        const unsigned b2 = t[1][b1];
        const unsigned a3 = a2 ^ b2;
        const unsigned b3 = (a2 ^ Ror4(b2) ^ (8 * a2)) & 15;
        q[x] = static_cast<std::uint8_t>(16 * t[3][b3] + t[2][a3]);
    }
    return q;
}

constexpr TByteTable kQ[2] = {MakeQ(kQ0Boxes), MakeQ(kQ1Boxes)};

// Multiplication in GF(2^8) modulo the given polynomial (with its x^8 term).
constexpr std::uint8_t GfMul(unsigned a, unsigned b, unsigned modulus)
{
    unsigned r = 0;
    for (; b != 0; b >>= 1) {
        if ((b & 1) != 0) {
            r ^= a;
        }
        a <<= 1;
        if ((a & 0x100) != 0) {
            a ^= modulus;
        }
    }
    return static_cast<std::uint8_t>(r);
}

constexpr unsigned kMdsModulus = 0x169; // x^8 + x^6 + x^5 + x^3 + 1
constexpr unsigned kRsModulus = 0x14D;  // x^8 + x^6 + x^3 + x^2 + 1

constexpr std::uint8_t kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B},
    {0x5B, 0xEF, 0xEF, 0x01},
    {0xEF, 0x5B, 0x01, 0xEF},
    {0xEF, 0x01, 0xEF, 0x5B},
};

constexpr std::uint8_t kRs[4][8] = {
    {0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
    {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
    {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
    {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03},
};

// Which q each byte lane of h passes through, in order. Stage 0 is used only by 256-bit keys and
// stage 1 only by keys of 192 bits and more; the last stage is folded into kMdsQ.
constexpr int kQOrder[4][5] = {
    {1, 1, 0, 0, 1},
    {0, 1, 1, 0, 0},
    {0, 0, 0, 1, 1},
    {1, 0, 1, 1, 0},
};

// Column i of the MDS matrix times the last q of byte lane i, as little-endian words.
constexpr TWordTables MakeMdsQ()
{
    TWordTables t{};
    for (unsigned lane = 0; lane < 4; ++lane) {
        for (unsigned x = 0; x < 256; ++x) {
            const unsigned y = kQ[kQOrder[lane][4]][x];
            std::uint32_t w = 0;
            for (unsigned row = 0; row < 4; ++row) {
                w |= std::uint32_t{GfMul(kMds[row][lane], y, kMdsModulus)} << (8 * row);
            }
            t[lane][x] = w;
        }
    }
    return t;
}

constexpr TWordTables kMdsQ = MakeMdsQ();

constexpr std::uint8_t Byte(std::uint32_t w, unsigned i)
{
    return static_cast<std::uint8_t>(w >> (8 * i));
}

// Byte lane `lane` of x through the q stages that precede the MDS matrix, keyed by the k words of
// l (l[0] is applied last).
inline std::uint8_t Chain(unsigned lane, std::uint8_t x, const std::uint32_t* l, unsigned k)
{
    for (unsigned stage = 4 - k; stage < 4; ++stage) {
        x = kQ[kQOrder[lane][stage]][x] ^ Byte(l[3 - stage], lane);
    }
    return x;
}

std::uint32_t H(std::uint32_t x, const std::uint32_t* l, unsigned k)
{
    std::uint32_t z = 0;
    for (unsigned lane = 0; lane < 4; ++lane) {
        z ^= kMdsQ[lane][Chain(lane, Byte(x, lane), l, k)];
    }
    return z;
}

#ifdef VX_TWOFISH_GATHER
// Many blocks side by side, one block per 32-bit lane: after a transpose, vector a holds word a of
// every block, so each of the sixteen rounds is the scalar round on whole vectors and the four
// table look-ups of g become four gathers. The rounds are written once for any lane count; the
// lane operations carry their instruction sets, and each entry point below is flattened so they
// are all inlined under its own target.
//
// Vectors pass by value between these functions before they are inlined; they all have internal
// linkage, so the calling convention GCC warns about never meets another translation unit.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
typedef std::uint32_t TVec8 __attribute__((vector_size(32)));
typedef std::uint32_t TVec16 __attribute__((vector_size(64)));

struct TLanes8
{
    using TVec = TVec8;
    static constexpr std::size_t kLanes = 8;

    __attribute__((target("avx2"))) static TVec Gather(const std::array<std::uint32_t, 256>& table, TVec index)
    {
        return reinterpret_cast<TVec>(_mm256_i32gather_epi32(reinterpret_cast<const int*>(table.data()),
                                                             reinterpret_cast<__m256i>(index), 4));
    }

    // Eight blocks are four 32-byte rows of two blocks each; transposing the 4x4 words inside each
    // 128-bit half leaves word j of every block in row j (the shuffle is its own inverse). Which
    // lane carries which block does not matter as long as the way back matches.
    __attribute__((target("avx2"))) static void Transpose(__m256i (&m)[4])
    {
        const __m256i t0 = _mm256_unpacklo_epi32(m[0], m[1]);
        const __m256i t1 = _mm256_unpackhi_epi32(m[0], m[1]);
        const __m256i t2 = _mm256_unpacklo_epi32(m[2], m[3]);
        const __m256i t3 = _mm256_unpackhi_epi32(m[2], m[3]);
        m[0] = _mm256_unpacklo_epi64(t0, t2);
        m[1] = _mm256_unpackhi_epi64(t0, t2);
        m[2] = _mm256_unpacklo_epi64(t1, t3);
        m[3] = _mm256_unpackhi_epi64(t1, t3);
    }

    __attribute__((target("avx2"))) static void Load(const std::uint8_t* in, TVec (&w)[4])
    {
        __m256i m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * i));
        }
        Transpose(m);
        for (int i = 0; i < 4; ++i) {
            w[i] = reinterpret_cast<TVec>(m[i]);
        }
    }

    template <int N>
    __attribute__((target("avx2"))) static TVec Rotl(TVec x)
    {
        return (x << N) | (x >> (32 - N));
    }

    __attribute__((target("avx2"))) static void Store(std::uint8_t* out, const TVec (&w)[4])
    {
        __m256i m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = reinterpret_cast<__m256i>(w[i]);
        }
        Transpose(m);
        for (int i = 0; i < 4; ++i) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * i), m[i]);
        }
    }
};

struct TLanes16
{
    using TVec = TVec16;
    static constexpr std::size_t kLanes = 16;

    // Full masks: the unmasked forms start from an undefined register, which GCC 12 reports as
    // uninitialised once they are inlined.
    static constexpr __mmask16 kAll = 0xFFFF;
    static constexpr __mmask8 kAll64 = 0xFF;

    __attribute__((target("avx512f"))) static TVec Gather(const std::array<std::uint32_t, 256>& table, TVec index)
    {
        return reinterpret_cast<TVec>(_mm512_mask_i32gather_epi32(_mm512_setzero_si512(), kAll,
                                                                  reinterpret_cast<__m512i>(index), table.data(), 4));
    }

    // The same transpose inside each of the four 128-bit quarters of sixteen blocks.
    __attribute__((target("avx512f"))) static void Transpose(__m512i (&m)[4])
    {
        const __m512i t0 = _mm512_maskz_unpacklo_epi32(kAll, m[0], m[1]);
        const __m512i t1 = _mm512_maskz_unpackhi_epi32(kAll, m[0], m[1]);
        const __m512i t2 = _mm512_maskz_unpacklo_epi32(kAll, m[2], m[3]);
        const __m512i t3 = _mm512_maskz_unpackhi_epi32(kAll, m[2], m[3]);
        m[0] = _mm512_maskz_unpacklo_epi64(kAll64, t0, t2);
        m[1] = _mm512_maskz_unpackhi_epi64(kAll64, t0, t2);
        m[2] = _mm512_maskz_unpacklo_epi64(kAll64, t1, t3);
        m[3] = _mm512_maskz_unpackhi_epi64(kAll64, t1, t3);
    }

    __attribute__((target("avx512f"))) static void Load(const std::uint8_t* in, TVec (&w)[4])
    {
        __m512i m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = _mm512_loadu_si512(in + 64 * i);
        }
        Transpose(m);
        for (int i = 0; i < 4; ++i) {
            w[i] = reinterpret_cast<TVec>(m[i]);
        }
    }

    template <int N>
    __attribute__((target("avx512f"))) static TVec Rotl(TVec x)
    {
        return (x << N) | (x >> (32 - N));
    }

    __attribute__((target("avx512f"))) static void Store(std::uint8_t* out, const TVec (&w)[4])
    {
        __m512i m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = reinterpret_cast<__m512i>(w[i]);
        }
        Transpose(m);
        for (int i = 0; i < 4; ++i) {
            _mm512_storeu_si512(out + 64 * i, m[i]);
        }
    }
};

template <class L>
inline void GatherG(const TWordTables& s, const typename L::TVec& x, const typename L::TVec& y,
                    typename L::TVec& t0, typename L::TVec& t1)
{
    // g(x) and g(rotl(y, 8)), the second without the rotation, as in the scalar rounds.
    t0 = L::Gather(s[0], x & 255) ^ L::Gather(s[1], (x >> 8) & 255) ^ L::Gather(s[2], (x >> 16) & 255) ^
         L::Gather(s[3], x >> 24);
    t1 = L::Gather(s[0], y >> 24) ^ L::Gather(s[1], y & 255) ^ L::Gather(s[2], (y >> 8) & 255) ^
         L::Gather(s[3], (y >> 16) & 255);
}

// ECB over `groups` groups of Sets * L::kLanes blocks; in == out allowed, since each group is read
// whole before it is written.
template <class L, std::size_t Sets, bool Encrypt>
inline void GatherBlocks(const std::uint32_t* k, const TWordTables& s, const std::uint8_t* in, std::uint8_t* out,
                         std::size_t groups)
{
    using TVec = typename L::TVec;
    constexpr std::size_t step = 16 * L::kLanes;
    for (; groups > 0; --groups, in += Sets * step, out += Sets * step) {
        TVec a[Sets], b[Sets], c[Sets], d[Sets];
        TVec t0, t1;
#pragma GCC unroll 4
        for (std::size_t j = 0; j < Sets; ++j) {
            TVec w[4];
            L::Load(in + j * step, w);
            if constexpr (Encrypt) {
                a[j] = w[0] ^ k[0], b[j] = w[1] ^ k[1], c[j] = w[2] ^ k[2], d[j] = w[3] ^ k[3];
            } else {
                c[j] = w[0] ^ k[4], d[j] = w[1] ^ k[5], a[j] = w[2] ^ k[6], b[j] = w[3] ^ k[7];
            }
        }
        if constexpr (Encrypt) {
            const std::uint32_t* rk = k + 8;
            for (int r = 0; r < 8; ++r, rk += 4) {
#pragma GCC unroll 4
                for (std::size_t j = 0; j < Sets; ++j) {
                    GatherG<L>(s, a[j], b[j], t0, t1);
                    c[j] = L::template Rotl<31>(c[j] ^ (t0 + t1 + rk[0]));
                    d[j] = L::template Rotl<1>(d[j]) ^ (t0 + t1 + t1 + rk[1]);
                }
#pragma GCC unroll 4
                for (std::size_t j = 0; j < Sets; ++j) {
                    GatherG<L>(s, c[j], d[j], t0, t1);
                    a[j] = L::template Rotl<31>(a[j] ^ (t0 + t1 + rk[2]));
                    b[j] = L::template Rotl<1>(b[j]) ^ (t0 + t1 + t1 + rk[3]);
                }
            }
        } else {
            const std::uint32_t* rk = k + 36;
            for (int r = 0; r < 8; ++r, rk -= 4) {
#pragma GCC unroll 4
                for (std::size_t j = 0; j < Sets; ++j) {
                    GatherG<L>(s, c[j], d[j], t0, t1);
                    a[j] = L::template Rotl<1>(a[j]) ^ (t0 + t1 + rk[2]);
                    b[j] = L::template Rotl<31>(b[j] ^ (t0 + t1 + t1 + rk[3]));
                }
#pragma GCC unroll 4
                for (std::size_t j = 0; j < Sets; ++j) {
                    GatherG<L>(s, a[j], b[j], t0, t1);
                    c[j] = L::template Rotl<1>(c[j]) ^ (t0 + t1 + rk[0]);
                    d[j] = L::template Rotl<31>(d[j] ^ (t0 + t1 + t1 + rk[1]));
                }
            }
        }
#pragma GCC unroll 4
        for (std::size_t j = 0; j < Sets; ++j) {
            TVec w[4];
            if constexpr (Encrypt) {
                w[0] = c[j] ^ k[4], w[1] = d[j] ^ k[5], w[2] = a[j] ^ k[6], w[3] = b[j] ^ k[7];
            } else {
                w[0] = a[j] ^ k[0], w[1] = b[j] ^ k[1], w[2] = c[j] ^ k[2], w[3] = d[j] ^ k[3];
            }
            L::Store(out + j * step, w);
        }
    }
}

// Both entry points do the whole groups among `blocks` and return how many blocks that was. Two
// groups go side by side where there are enough: one alone leaves the processor waiting on the latency of its gathers
// (a quarter slower on the processor these paths were timed on).
template <bool Encrypt>
__attribute__((target("avx2"), flatten)) std::size_t GatherBlocksAvx2(const std::uint32_t* k, const TWordTables& s,
                                                                     const std::uint8_t* in, std::uint8_t* out,
                                                                     std::size_t blocks)
{
    const std::size_t pairs = blocks / 16;
    GatherBlocks<TLanes8, 2, Encrypt>(k, s, in, out, pairs);
    GatherBlocks<TLanes8, 1, Encrypt>(k, s, in + 256 * pairs, out + 256 * pairs, blocks % 16 / 8);
    return blocks / 8 * 8;
}

// Sixteen lanes, and AVX-512's rotations in one instruction.
template <bool Encrypt>
__attribute__((target("avx2,avx512f,avx512vl,avx512bw"), flatten)) std::size_t
GatherBlocksAvx512(const std::uint32_t* k, const TWordTables& s, const std::uint8_t* in, std::uint8_t* out,
                   std::size_t blocks)
{
    const std::size_t pairs = blocks / 32;
    GatherBlocks<TLanes16, 2, Encrypt>(k, s, in, out, pairs);
    GatherBlocks<TLanes16, 1, Encrypt>(k, s, in + 512 * pairs, out + 512 * pairs, blocks % 32 / 16);
    return blocks / 16 * 16;
}
#pragma GCC diagnostic pop
#endif

enum class TPath : std::uint8_t
{
    Portable,
    Avx2Gather,
    Avx512Gather,
};

// Chosen at each call, so that switching a feature off between runs takes effect at once.
TPath ChoosePath()
{
#ifdef VX_TWOFISH_GATHER
    if (VXCpuHas(TVXCpuFeature::Avx2) && VXCpuHas(TVXCpuFeature::FastGather)) {
        return VXCpuHas(TVXCpuFeature::Avx512) ? TPath::Avx512Gather : TPath::Avx2Gather;
    }
#endif
    return TPath::Portable;
}

// The blocks done by the gather paths, from the front: groups of sixteen, then of eight. The rest
// (fewer than eight) is left to the portable code.
template <bool Encrypt>
std::size_t VectorBlocks(const std::uint32_t* k, const TWordTables& s, const std::uint8_t* in, std::uint8_t* out,
                         std::size_t blocks)
{
    std::size_t done = 0;
#ifdef VX_TWOFISH_GATHER
    const TPath path = ChoosePath();
    if (path == TPath::Avx512Gather) {
        done = GatherBlocksAvx512<Encrypt>(k, s, in, out, blocks);
    }
    if (path != TPath::Portable) {
        done += GatherBlocksAvx2<Encrypt>(k, s, in + 16 * done, out + 16 * done, blocks - done);
    }
#else
    (void)k;
    (void)s;
    (void)in;
    (void)out;
    (void)blocks;
#endif
    return done;
}
} // namespace

std::string_view TVX_twofish::ActivePathName()
{
    switch (ChoosePath()) {
    case TPath::Avx512Gather:
        return "avx512-gather";
    case TPath::Avx2Gather:
        return "avx2-gather";
    default:
        return "portable";
    }
}

TVX_twofish::TVX_twofish()
{
    TVX_twofish::Wipe();
}

TVX_twofish::~TVX_twofish()
{
    TVX_twofish::Wipe();
}

void TVX_twofish::Wipe()
{
    SecureFill(m_k, 0xFF);
    SecureFill(m_s, 0xFF);
    TVX_blockcipher128::Wipe();
}

void TVX_twofish::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    // Keys between the standard lengths are zero-padded to the next one.
    std::array<std::uint8_t, 32> buffer{};
    std::copy_n(key.begin(), sizeBits / 8, buffer.begin());
    const unsigned k = sizeBits <= 128 ? 2 : sizeBits <= 192 ? 3 : 4;

    std::array<std::uint32_t, 4> even{};
    std::array<std::uint32_t, 4> odd{};
    std::array<std::uint32_t, 4> sboxKey{};
    for (unsigned i = 0; i < k; ++i) {
        even[i] = LoadLE32(buffer.data() + 8 * i);
        odd[i] = LoadLE32(buffer.data() + 8 * i + 4);
        std::uint32_t s = 0;
        for (unsigned row = 0; row < 4; ++row) {
            std::uint8_t v = 0;
            for (unsigned col = 0; col < 8; ++col) {
                v ^= GfMul(kRs[row][col], buffer[8 * i + col], kRsModulus);
            }
            s |= std::uint32_t{v} << (8 * row);
        }
        // g takes the S words in reverse order.
        sboxKey[k - 1 - i] = s;
    }

    constexpr std::uint32_t rho = 0x01010101;
    for (std::uint32_t i = 0; i < 20; ++i) {
        const std::uint32_t a = H(2 * i * rho, even.data(), k);
        const std::uint32_t b = std::rotl(H((2 * i + 1) * rho, odd.data(), k), 8);
        m_k[2 * i] = a + b;
        m_k[2 * i + 1] = std::rotl(a + 2 * b, 9);
    }
    for (unsigned lane = 0; lane < 4; ++lane) {
        for (unsigned x = 0; x < 256; ++x) {
            m_s[lane][x] = kMdsQ[lane][Chain(lane, static_cast<std::uint8_t>(x), sboxKey.data(), k)];
        }
    }
    SecureFill(buffer, 0);
    SecureFill(even, 0);
    SecureFill(odd, 0);
    SecureFill(sboxKey, 0);
}

// The table indices, 64-bit so that none needs a zero-extension of its own before it addresses a
// table.
struct TVX_twofish::TShiftBytes
{
    static std::uint64_t B3(std::uint64_t w) { return w >> 24; }
    static std::uint64_t B2(std::uint64_t w) { return (w >> 16) & 255; }
    static std::uint64_t B1(std::uint64_t w) { return (w >> 8) & 255; }
    static std::uint64_t B0(std::uint64_t w) { return w & 255; }
};

#ifdef VX_TWOFISH_BMI
// Byte 2 by one bit-field extract instead of a shift and a zero-extension: it is the last of the
// four indices to be ready, and in CBC encryption every round waits for it.
struct TVX_twofish::TBitFieldBytes
{
    static std::uint64_t B3(std::uint64_t w) { return w >> 24; }
    [[gnu::target("bmi")]] static std::uint64_t B2(std::uint64_t w) { return _bextr_u64(w, 16, 8); }
    static std::uint64_t B1(std::uint64_t w) { return (w >> 8) & 255; }
    static std::uint64_t B0(std::uint64_t w) { return w & 255; }
};
#endif

// Keeps the compiler from regrouping a sum or an XOR: the grouping written is the one that lets the
// operands ready first combine while the last is still on its way.
#if defined(__has_builtin)
#if __has_builtin(__builtin_assoc_barrier)
#define VX_GROUP(x) __builtin_assoc_barrier(x)
#endif
#endif
#ifndef VX_GROUP
#define VX_GROUP(x) (x)
#endif

// The four look-ups XORed as two pairs, so the result is two steps after the loads instead of three.
template <class TBytes> inline std::uint32_t TVX_twofish::G0(std::uint32_t x) const
{
    const std::uint64_t w = x;
    return VX_GROUP(m_s[0][TBytes::B0(w)] ^ m_s[1][TBytes::B1(w)]) ^
           VX_GROUP(m_s[3][TBytes::B3(w)] ^ m_s[2][TBytes::B2(w)]);
}

// g of x rotated left by 8, without the rotation.
template <class TBytes> inline std::uint32_t TVX_twofish::G1(std::uint32_t x) const
{
    const std::uint64_t w = x;
    return VX_GROUP(m_s[0][TBytes::B3(w)] ^ m_s[1][TBytes::B0(w)]) ^
           VX_GROUP(m_s[2][TBytes::B1(w)] ^ m_s[3][TBytes::B2(w)]);
}

// Two rounds per step so that the halves trade places by name instead of by copying. The half that
// is rotated right after its XOR is ready a step later than the other, so its g value t0 is added
// last, after t1 and the round key.
template <class TBytes>
inline void TVX_twofish::EncryptWords(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) const
{
    const std::uint32_t* k = m_k.data() + 8;
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r, k += 4) {
        std::uint32_t t0 = G0<TBytes>(a);
        std::uint32_t t1 = G1<TBytes>(b);
        c = std::rotr(c ^ (t0 + VX_GROUP(t1 + k[0])), 1);
        d = std::rotl(d, 1) ^ (t0 + VX_GROUP(2 * t1 + k[1]));
        t0 = G0<TBytes>(c);
        t1 = G1<TBytes>(d);
        a = std::rotr(a ^ (t0 + VX_GROUP(t1 + k[2])), 1);
        b = std::rotl(b, 1) ^ (t0 + VX_GROUP(2 * t1 + k[3]));
    }
}

inline void TVX_twofish::DecryptWords(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) const
{
    const std::uint32_t* k = m_k.data() + 36;
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r, k -= 4) {
        std::uint32_t t0 = G0<TShiftBytes>(c);
        std::uint32_t t1 = G1<TShiftBytes>(d);
        a = std::rotl(a, 1) ^ (t0 + t1 + k[2]);
        b = std::rotr(b ^ (t0 + 2 * t1 + k[3]), 1);
        t0 = G0<TShiftBytes>(a);
        t1 = G1<TShiftBytes>(b);
        c = std::rotl(c, 1) ^ (t0 + t1 + k[0]);
        d = std::rotr(d ^ (t0 + 2 * t1 + k[1]), 1);
    }
}

void TVX_twofish::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t a = LoadLE32(in) ^ m_k[0];
    std::uint32_t b = LoadLE32(in + 4) ^ m_k[1];
    std::uint32_t c = LoadLE32(in + 8) ^ m_k[2];
    std::uint32_t d = LoadLE32(in + 12) ^ m_k[3];
    EncryptWords<TShiftBytes>(a, b, c, d);
    StoreLE32(out, c ^ m_k[4]);
    StoreLE32(out + 4, d ^ m_k[5]);
    StoreLE32(out + 8, a ^ m_k[6]);
    StoreLE32(out + 12, b ^ m_k[7]);
}

void TVX_twofish::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t c = LoadLE32(in) ^ m_k[4];
    std::uint32_t d = LoadLE32(in + 4) ^ m_k[5];
    std::uint32_t a = LoadLE32(in + 8) ^ m_k[6];
    std::uint32_t b = LoadLE32(in + 12) ^ m_k[7];
    DecryptWords(a, b, c, d);
    StoreLE32(out, a ^ m_k[0]);
    StoreLE32(out + 4, b ^ m_k[1]);
    StoreLE32(out + 8, c ^ m_k[2]);
    StoreLE32(out + 12, d ^ m_k[3]);
}

template <class TBytes>
[[gnu::always_inline]] inline void TVX_twofish::CbcEncryptChain(const std::uint8_t* in, std::uint8_t* out,
                                                                std::size_t blocks, std::uint8_t* chain) const
{
    std::uint32_t a = LoadLE32(chain);
    std::uint32_t b = LoadLE32(chain + 4);
    std::uint32_t c = LoadLE32(chain + 8);
    std::uint32_t d = LoadLE32(chain + 12);
    for (std::size_t i = 0; i < blocks; ++i, in += 16, out += 16) {
        a ^= LoadLE32(in) ^ m_k[0];
        b ^= LoadLE32(in + 4) ^ m_k[1];
        c ^= LoadLE32(in + 8) ^ m_k[2];
        d ^= LoadLE32(in + 12) ^ m_k[3];
        EncryptWords<TBytes>(a, b, c, d);
        const std::uint32_t na = c ^ m_k[4];
        const std::uint32_t nb = d ^ m_k[5];
        c = a ^ m_k[6];
        d = b ^ m_k[7];
        a = na;
        b = nb;
        StoreLE32(out, a);
        StoreLE32(out + 4, b);
        StoreLE32(out + 8, c);
        StoreLE32(out + 12, d);
    }
    StoreLE32(chain, a);
    StoreLE32(chain + 4, b);
    StoreLE32(chain + 8, c);
    StoreLE32(chain + 12, d);
}

#ifdef VX_TWOFISH_BMI
[[gnu::target("bmi,bmi2"), gnu::flatten]] void TVX_twofish::CbcEncryptBitFields(const std::uint8_t* in,
                                                                                std::uint8_t* out, std::size_t blocks,
                                                                                std::uint8_t* chain) const
{
    CbcEncryptChain<TBitFieldBytes>(in, out, blocks, chain);
}
#endif

// Each block waits for the one before, so only a shorter round helps here.
void TVX_twofish::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                     std::uint8_t* chain) const
{
#ifdef VX_TWOFISH_BMI
    if (VXCpuHas(TVXCpuFeature::Bmi)) {
        CbcEncryptBitFields(in, out, blocks, chain);
        return;
    }
#endif
    CbcEncryptChain<TShiftBytes>(in, out, blocks, chain);
}

namespace
{
constexpr std::size_t kInFlight = 4;
} // namespace

// GCC's vectoriser packs the blocks in flight into SSE lanes and then has to move every table
// index back out of them one by one, which makes the interleaved code slower than one block at a time.
#if defined(__GNUC__) && !defined(__clang__)
#define VX_NO_VECTORIZE __attribute__((optimize("no-tree-vectorize")))
#else
#define VX_NO_VECTORIZE
#endif

// Independent blocks go through the rounds side by side so that their table look-ups overlap.
VX_NO_VECTORIZE void TVX_twofish::DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    const std::size_t vectorDone = VectorBlocks<true>(m_k.data(), m_s, in, out, blocks);
    in += 16 * vectorDone;
    out += 16 * vectorDone;
    blocks -= vectorDone;
    for (; blocks >= kInFlight; blocks -= kInFlight, in += 16 * kInFlight, out += 16 * kInFlight) {
        std::uint32_t a[kInFlight], b[kInFlight], c[kInFlight], d[kInFlight];
#pragma GCC unroll 4
        for (std::size_t j = 0; j < kInFlight; ++j) {
            a[j] = LoadLE32(in + 16 * j) ^ m_k[0];
            b[j] = LoadLE32(in + 16 * j + 4) ^ m_k[1];
            c[j] = LoadLE32(in + 16 * j + 8) ^ m_k[2];
            d[j] = LoadLE32(in + 16 * j + 12) ^ m_k[3];
        }
        const std::uint32_t* k = m_k.data() + 8;
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r, k += 4) {
#pragma GCC unroll 4
            for (std::size_t j = 0; j < kInFlight; ++j) {
                const std::uint32_t t0 = G0<TShiftBytes>(a[j]);
                const std::uint32_t t1 = G1<TShiftBytes>(b[j]);
                c[j] = std::rotr(c[j] ^ (t0 + t1 + k[0]), 1);
                d[j] = std::rotl(d[j], 1) ^ (t0 + 2 * t1 + k[1]);
            }
#pragma GCC unroll 4
            for (std::size_t j = 0; j < kInFlight; ++j) {
                const std::uint32_t t0 = G0<TShiftBytes>(c[j]);
                const std::uint32_t t1 = G1<TShiftBytes>(d[j]);
                a[j] = std::rotr(a[j] ^ (t0 + t1 + k[2]), 1);
                b[j] = std::rotl(b[j], 1) ^ (t0 + 2 * t1 + k[3]);
            }
        }
#pragma GCC unroll 4
        for (std::size_t j = 0; j < kInFlight; ++j) {
            StoreLE32(out + 16 * j, c[j] ^ m_k[4]);
            StoreLE32(out + 16 * j + 4, d[j] ^ m_k[5]);
            StoreLE32(out + 16 * j + 8, a[j] ^ m_k[6]);
            StoreLE32(out + 16 * j + 12, b[j] ^ m_k[7]);
        }
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        DoEncryptBlock(in, out);
    }
}

template <class TBytes>
[[gnu::always_inline]] inline void TVX_twofish::DecryptScalar(const std::uint8_t* in, std::uint8_t* out,
                                                              std::size_t blocks) const
{
    for (; blocks >= kInFlight; blocks -= kInFlight, in += 16 * kInFlight, out += 16 * kInFlight) {
        std::uint32_t a[kInFlight], b[kInFlight], c[kInFlight], d[kInFlight];
#pragma GCC unroll 4
        for (std::size_t j = 0; j < kInFlight; ++j) {
            c[j] = LoadLE32(in + 16 * j) ^ m_k[4];
            d[j] = LoadLE32(in + 16 * j + 4) ^ m_k[5];
            a[j] = LoadLE32(in + 16 * j + 8) ^ m_k[6];
            b[j] = LoadLE32(in + 16 * j + 12) ^ m_k[7];
        }
        const std::uint32_t* k = m_k.data() + 36;
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r, k -= 4) {
#pragma GCC unroll 4
            for (std::size_t j = 0; j < kInFlight; ++j) {
                const std::uint32_t t0 = G0<TBytes>(c[j]);
                const std::uint32_t t1 = G1<TBytes>(d[j]);
                a[j] = std::rotl(a[j], 1) ^ (t0 + t1 + k[2]);
                b[j] = std::rotr(b[j] ^ (t0 + 2 * t1 + k[3]), 1);
            }
#pragma GCC unroll 4
            for (std::size_t j = 0; j < kInFlight; ++j) {
                const std::uint32_t t0 = G0<TBytes>(a[j]);
                const std::uint32_t t1 = G1<TBytes>(b[j]);
                c[j] = std::rotl(c[j], 1) ^ (t0 + t1 + k[0]);
                d[j] = std::rotr(d[j] ^ (t0 + 2 * t1 + k[1]), 1);
            }
        }
#pragma GCC unroll 4
        for (std::size_t j = 0; j < kInFlight; ++j) {
            StoreLE32(out + 16 * j, a[j] ^ m_k[0]);
            StoreLE32(out + 16 * j + 4, b[j] ^ m_k[1]);
            StoreLE32(out + 16 * j + 8, c[j] ^ m_k[2]);
            StoreLE32(out + 16 * j + 12, d[j] ^ m_k[3]);
        }
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        DoDecryptBlock(in, out);
    }
}

#ifdef VX_TWOFISH_BMI
[[gnu::target("bmi,bmi2"), gnu::flatten]] VX_NO_VECTORIZE void
TVX_twofish::DecryptBitFields(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    DecryptScalar<TBitFieldBytes>(in, out, blocks);
}
#endif

VX_NO_VECTORIZE void TVX_twofish::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    const std::size_t vectorDone = VectorBlocks<false>(m_k.data(), m_s, in, out, blocks);
    in += 16 * vectorDone;
    out += 16 * vectorDone;
    blocks -= vectorDone;
#ifdef VX_TWOFISH_BMI
    if (VXCpuHas(TVXCpuFeature::Bmi)) {
        DecryptBitFields(in, out, blocks);
        return;
    }
#endif
    DecryptScalar<TShiftBytes>(in, out, blocks);
}

bool TVX_twofish::CheckVectors()
{
    struct TIterated
    {
        std::uint32_t bits;
        std::array<std::uint8_t, 16> result;
    };
    // The published results of the iterated test after 49 steps.
    static constexpr TIterated kIterated[] = {
        {128, {0x5D, 0x9D, 0x4E, 0xEF, 0xFA, 0x91, 0x51, 0x57, 0x55, 0x24, 0xF1, 0x15, 0x81, 0x5A, 0x12, 0xE0}},
        {192, {0xE7, 0x54, 0x49, 0x21, 0x2B, 0xEE, 0xF9, 0xF4, 0xA3, 0x90, 0xBD, 0x86, 0x0A, 0x64, 0x09, 0x41}},
        {256, {0x37, 0xFE, 0x26, 0xFF, 0x1C, 0xF6, 0x61, 0x75, 0xF5, 0xDD, 0xF4, 0xC3, 0x3B, 0x97, 0xA2, 0x05}},
    };
    bool ok = true;
    for (const TIterated& v : kIterated) {
        TVX_twofish cipher;
        std::array<std::uint8_t, 32> key{};
        std::array<std::uint8_t, 16> block{};
        for (int i = 0; i < 49; ++i) {
            cipher.KeySetup(key, v.bits);
            if (v.bits == 192) {
                std::copy_n(key.begin(), 8, key.begin() + 16);
            } else if (v.bits == 256) {
                std::copy_n(key.begin(), 16, key.begin() + 16);
            }
            std::copy(block.begin(), block.end(), key.begin());
            cipher.EncryptBlock(block, block);
            cipher.Wipe();
        }
        ok = ok && block == v.result;
    }
    return ok;
}
