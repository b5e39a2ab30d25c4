// MARS: key schedule and block functions.
#include "crypto/VXmars.h"

#include "crypto/VXlanes.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <bit>

namespace
{
constexpr bool kBigEndian = false;

// The S-box of the MARS paper. Entry 5i + k is word k of SHA-1(5i | 0xB7E15162 | 0x243F6A88 |
// 0x02917D59), all four input words and the five output words little-endian, except for entries
// 17, 67, 76, 131, 147, 210, 297, 351 and 420, which the authors altered afterwards to give the
// box its stated differential properties.
constexpr std::array<std::uint32_t, 512> kS = {
    0x09d0c479u, 0x28c8ffe0u, 0x84aa6c39u, 0x9dad7287u, 0x7dff9be3u, 0xd4268361u,
    0xc96da1d4u, 0x7974cc93u, 0x85d0582eu, 0x2a4b5705u, 0x1ca16a62u, 0xc3bd279du,
    0x0f1f25e5u, 0x5160372fu, 0xc695c1fbu, 0x4d7ff1e4u, 0xae5f6bf4u, 0x0d72ee46u,
    0xff23de8au, 0xb1cf8e83u, 0xf14902e2u, 0x3e981e42u, 0x8bf53eb6u, 0x7f4bf8acu,
    0x83631f83u, 0x25970205u, 0x76afe784u, 0x3a7931d4u, 0x4f846450u, 0x5c64c3f6u,
    0x210a5f18u, 0xc6986a26u, 0x28f4e826u, 0x3a60a81cu, 0xd340a664u, 0x7ea820c4u,
    0x526687c5u, 0x7eddd12bu, 0x32a11d1du, 0x9c9ef086u, 0x80f6e831u, 0xab6f04adu,
    0x56fb9b53u, 0x8b2e095cu, 0xb68556aeu, 0xd2250b0du, 0x294a7721u, 0xe21fb253u,
    0xae136749u, 0xe82aae86u, 0x93365104u, 0x99404a66u, 0x78a784dcu, 0xb69ba84bu,
    0x04046793u, 0x23db5c1eu, 0x46cae1d6u, 0x2fe28134u, 0x5a223942u, 0x1863cd5bu,
    0xc190c6e3u, 0x07dfb846u, 0x6eb88816u, 0x2d0dcc4au, 0xa4ccae59u, 0x3798670du,
    0xcbfa9493u, 0x4f481d45u, 0xeafc8ca8u, 0xdb1129d6u, 0xb0449e20u, 0x0f5407fbu,
    0x6167d9a8u, 0xd1f45763u, 0x4daa96c3u, 0x3bec5958u, 0xababa014u, 0xb6ccd201u,
    0x38d6279fu, 0x02682215u, 0x8f376cd5u, 0x092c237eu, 0xbfc56593u, 0x32889d2cu,
    0x854b3e95u, 0x05bb9b43u, 0x7dcd5dcdu, 0xa02e926cu, 0xfae527e5u, 0x36a1c330u,
    0x3412e1aeu, 0xf257f462u, 0x3c4f1d71u, 0x30a2e809u, 0x68e5f551u, 0x9c61ba44u,
    0x5ded0ab8u, 0x75ce09c8u, 0x9654f93eu, 0x698c0ccau, 0x243cb3e4u, 0x2b062b97u,
    0x0f3b8d9eu, 0x00e050dfu, 0xfc5d6166u, 0xe35f9288u, 0xc079550du, 0x0591aee8u,
    0x8e531e74u, 0x75fe3578u, 0x2f6d829au, 0xf60b21aeu, 0x95e8eb8du, 0x6699486bu,
    0x901d7d9bu, 0xfd6d6e31u, 0x1090acefu, 0xe0670dd8u, 0xdab2e692u, 0xcd6d4365u,
    0xe5393514u, 0x3af345f0u, 0x6241fc4du, 0x460da3a3u, 0x7bcf3729u, 0x8bf1d1e0u,
    0x14aac070u, 0x1587ed55u, 0x3afd7d3eu, 0xd2f29e01u, 0x29a9d1f6u, 0xefb10c53u,
    0xcf3b870fu, 0xb414935cu, 0x664465edu, 0x024acac7u, 0x59a744c1u, 0x1d2936a7u,
    0xdc580aa6u, 0xcf574ca8u, 0x040a7a10u, 0x6cd81807u, 0x8a98be4cu, 0xaccea063u,
    0xc33e92b5u, 0xd1e0e03du, 0xb322517eu, 0x2092bd13u, 0x386b2c4au, 0x52e8dd58u,
    0x58656dfbu, 0x50820371u, 0x41811896u, 0xe337ef7eu, 0xd39fb119u, 0xc97f0df6u,
    0x68fea01bu, 0xa150a6e5u, 0x55258962u, 0xeb6ff41bu, 0xd7c9cd7au, 0xa619cd9eu,
    0xbcf09576u, 0x2672c073u, 0xf003fb3cu, 0x4ab7a50bu, 0x1484126au, 0x487ba9b1u,
    0xa64fc9c6u, 0xf6957d49u, 0x38b06a75u, 0xdd805fcdu, 0x63d094cfu, 0xf51c999eu,
    0x1aa4d343u, 0xb8495294u, 0xce9f8e99u, 0xbffcd770u, 0xc7c275ccu, 0x378453a7u,
    0x7b21be33u, 0x397f41bdu, 0x4e94d131u, 0x92cc1f98u, 0x5915ea51u, 0x99f861b7u,
    0xc9980a88u, 0x1d74fd5fu, 0xb0a495f8u, 0x614deed0u, 0xb5778eeau, 0x5941792du,
    0xfa90c1f8u, 0x33f824b4u, 0xc4965372u, 0x3ff6d550u, 0x4ca5fec0u, 0x8630e964u,
    0x5b3fbbd6u, 0x7da26a48u, 0xb203231au, 0x04297514u, 0x2d639306u, 0x2eb13149u,
    0x16a45272u, 0x532459a0u, 0x8e5f4872u, 0xf966c7d9u, 0x07128dc0u, 0x0d44db62u,
    0xafc8d52du, 0x06316131u, 0xd838e7ceu, 0x1bc41d00u, 0x3a2e8c0fu, 0xea83837eu,
    0xb984737du, 0x13ba4891u, 0xc4f8b949u, 0xa6d6acb3u, 0xa215cdceu, 0x8359838bu,
    0x6bd1aa31u, 0xf579dd52u, 0x21b93f93u, 0xf5176781u, 0x187dfddeu, 0xe94aeb76u,
    0x2b38fd54u, 0x431de1dau, 0xab394825u, 0x9ad3048fu, 0xdfea32aau, 0x659473e3u,
    0x623f7863u, 0xf3346c59u, 0xab3ab685u, 0x3346a90bu, 0x6b56443eu, 0xc6de01f8u,
    0x8d421fc0u, 0x9b0ed10cu, 0x88f1a1e9u, 0x54c1f029u, 0x7dead57bu, 0x8d7ba426u,
    0x4cf5178au, 0x551a7ccau, 0x1a9a5f08u, 0xfcd651b9u, 0x25605182u, 0xe11fc6c3u,
    0xb6fd9676u, 0x337b3027u, 0xb7c8eb14u, 0x9e5fd030u, 0x6b57e354u, 0xad913cf7u,
    0x7e16688du, 0x58872a69u, 0x2c2fc7dfu, 0xe389ccc6u, 0x30738df1u, 0x0824a734u,
    0xe1797a8bu, 0xa4a8d57bu, 0x5b5d193bu, 0xc8a8309bu, 0x73f9a978u, 0x73398d32u,
    0x0f59573eu, 0xe9df2b03u, 0xe8a5b6c8u, 0x848d0704u, 0x98df93c2u, 0x720a1dc3u,
    0x684f259au, 0x943ba848u, 0xa6370152u, 0x863b5ea3u, 0xd17b978bu, 0x6d9b58efu,
    0x0a700dd4u, 0xa73d36bfu, 0x8e6a0829u, 0x8695bc14u, 0xe35b3447u, 0x933ac568u,
    0x8894b022u, 0x2f511c27u, 0xddfbcc3cu, 0x006662b6u, 0x117c83feu, 0x4e12b414u,
    0xc2bca766u, 0x3a2fec10u, 0xf4562420u, 0x55792e2au, 0x46f5d857u, 0xceda25ceu,
    0xc3601d3bu, 0x6c00ab46u, 0xefac9c28u, 0xb3c35047u, 0x611dfee3u, 0x257c3207u,
    0xfdd58482u, 0x3b14d84fu, 0x23becb64u, 0xa075f3a3u, 0x088f8eadu, 0x07adf158u,
    0x7796943cu, 0xfacabf3du, 0xc09730cdu, 0xf7679969u, 0xda44e9edu, 0x2c854c12u,
    0x35935fa3u, 0x2f057d9fu, 0x690624f8u, 0x1cb0bafdu, 0x7b0dbdc6u, 0x810f23bbu,
    0xfa929a1au, 0x6d969a17u, 0x6742979bu, 0x74ac7d05u, 0x010e65c4u, 0x86a3d963u,
    0xf907b5a0u, 0xd0042bd3u, 0x158d7d03u, 0x287a8255u, 0xbba8366fu, 0x096edc33u,
    0x21916a7bu, 0x77b56b86u, 0x951622f9u, 0xa6c5e650u, 0x8cea17d1u, 0xcd8c62bcu,
    0xa3d63433u, 0x358a68fdu, 0x0f9b9d3cu, 0xd6aa295bu, 0xfe33384au, 0xc000738eu,
    0xcd67eb2fu, 0xe2eb6dc2u, 0x97338b02u, 0x06c9f246u, 0x419cf1adu, 0x2b83c045u,
    0x3723f18au, 0xcb5b3089u, 0x160bead7u, 0x5d494656u, 0x35f8a74bu, 0x1e4e6c9eu,
    0x000399bdu, 0x67466880u, 0xb4174831u, 0xacf423b2u, 0xca815ab3u, 0x5a6395e7u,
    0x302a67c5u, 0x8bdb446bu, 0x108f8fa4u, 0x10223edau, 0x92b8b48bu, 0x7f38d0eeu,
    0xab2701d4u, 0x0262d415u, 0xaf224a30u, 0xb3d88abau, 0xf8b2c3afu, 0xdaf7ef70u,
    0xcc97d3b7u, 0xe9614b6cu, 0x2baebff4u, 0x70f687cfu, 0x386c9156u, 0xce092ee5u,
    0x01e87da6u, 0x6ce91e6au, 0xbb7bcc84u, 0xc7922c20u, 0x9d3b71fdu, 0x060e41c6u,
    0xd7590f15u, 0x4e03bb47u, 0x183c198eu, 0x63eeb240u, 0x2ddbf49au, 0x6d5cba54u,
    0x923750afu, 0xf9e14236u, 0x7838162bu, 0x59726c72u, 0x81b66760u, 0xbb2926c1u,
    0x48a0ce0du, 0xa6c0496du, 0xad43507bu, 0x718d496au, 0x9df057afu, 0x44b1bde6u,
    0x054356dcu, 0xde7ced35u, 0xd51a138bu, 0x62088cc9u, 0x35830311u, 0xc96efca2u,
    0x686f86ecu, 0x8e77cb68u, 0x63e1d6b8u, 0xc80f9778u, 0x79c491fdu, 0x1b4c67f2u,
    0x72698d7du, 0x5e368c31u, 0xf7d95e2eu, 0xa1d3493fu, 0xdcd9433eu, 0x896f1552u,
    0x4bc4ca7au, 0xa6d1baf4u, 0xa5a96dccu, 0x0bef8b46u, 0xa169fda7u, 0x74df40b7u,
    0x4e208804u, 0x9a756607u, 0x038e87c8u, 0x20211e44u, 0x8b7ad4bfu, 0xc6403f35u,
    0x1848e36du, 0x80bdb038u, 0x1e62891cu, 0x643d2107u, 0xbf04d6f8u, 0x21092c8cu,
    0xf644f389u, 0x0778404eu, 0x7b78adb8u, 0xa2c52d53u, 0x42157abeu, 0xa2253e2eu,
    0x7bf3f4aeu, 0x80f594f9u, 0x953194e7u, 0x77eb92edu, 0xb3816930u, 0xda8d9336u,
    0xbf447469u, 0xf26d9483u, 0xee6faed5u, 0x71371235u, 0xde425f73u, 0xb4e59f43u,
    0x7dbe2d4eu, 0x2d37b185u, 0x49dc9a63u, 0x98c39d98u, 0x1301c9a2u, 0x389b1bbfu,
    0x0c18588du, 0xa421c1bau, 0x7aa3865cu, 0x71e08558u, 0x3c5cfcaau, 0x7d239ca4u,
    0x0297d9ddu, 0xd7dc2830u, 0x4b37802bu, 0x7428ab54u, 0xaeee0347u, 0x4b3fbb85u,
    0x692f2f08u, 0x134e578eu, 0x36d9e0bfu, 0xae8b5fcfu, 0xedb93ecfu, 0x2b27248eu,
    0x170eb1efu, 0x7dc57fd6u, 0x1e760f16u, 0xb1136601u, 0x864e1b9bu, 0xd7ea7319u,
    0x3ab871bdu, 0xcfa4d76fu, 0xe31bd782u, 0x0dbeb469u, 0xabb96061u, 0x5370f85du,
    0xffb07e37u, 0xda30d0fbu, 0xebc977b6u, 0x0b98b40fu, 0x3a4d0fe6u, 0xdf4fc26bu,
    0x159cf22au, 0xc298d6e2u, 0x2b78ef6au, 0x61a94ac0u, 0xab561187u, 0x14eea0f0u,
    0xdf0d4164u, 0x19af70eeu,
};

constexpr std::size_t kS1 = 256;

// W lanes of independent blocks as the words D0..D3; W = 1 is the plain block function. The words
// are renamed between rounds instead of rotated: template arguments name the positions of D0..D3
// for one round, and four rounds written out bring the names back where they started.
#define VX_INLINE [[gnu::always_inline]] inline
#define VX_LANES _Pragma("GCC unroll 16") for (std::size_t l = 0; l < W; ++l)

// The extra addition of forward mixing after rounds 0 and 4 (kAdd3) and 1 and 5 (kAdd1), and the
// matching subtraction of backward mixing before rounds 2 and 6 and 3 and 7.
enum TExtra
{
    kNone,
    kAdd1,
    kAdd3,
};

template <std::size_t A, std::size_t B, std::size_t C, std::size_t D, TExtra E, std::size_t W>
VX_INLINE void ForwardMix(TLanes<W>& x)
{
    VX_LANES
    {
        std::uint32_t a = x[l][A];
        x[l][B] = (x[l][B] ^ kS[a & 255]) + kS[kS1 + ((a >> 8) & 255)];
        x[l][C] += kS[(a >> 16) & 255];
        x[l][D] ^= kS[kS1 + (a >> 24)];
        a = std::rotr(a, 24);
        if constexpr (E == kAdd3) {
            a += x[l][D];
        } else if constexpr (E == kAdd1) {
            a += x[l][B];
        }
        x[l][A] = a;
    }
}

template <std::size_t A, std::size_t B, std::size_t C, std::size_t D, TExtra E, std::size_t W>
VX_INLINE void ForwardUnmix(TLanes<W>& x)
{
    VX_LANES
    {
        std::uint32_t a = x[l][A];
        if constexpr (E == kAdd3) {
            a -= x[l][D];
        } else if constexpr (E == kAdd1) {
            a -= x[l][B];
        }
        a = std::rotl(a, 24);
        x[l][D] ^= kS[kS1 + (a >> 24)];
        x[l][C] -= kS[(a >> 16) & 255];
        x[l][B] = (x[l][B] - kS[kS1 + ((a >> 8) & 255)]) ^ kS[a & 255];
        x[l][A] = a;
    }
}

template <std::size_t A, std::size_t B, std::size_t C, std::size_t D, TExtra E, std::size_t W>
VX_INLINE void BackwardMix(TLanes<W>& x)
{
    VX_LANES
    {
        std::uint32_t a = x[l][A];
        if constexpr (E == kAdd3) {
            a -= x[l][D];
        } else if constexpr (E == kAdd1) {
            a -= x[l][B];
        }
        x[l][B] ^= kS[kS1 + (a & 255)];
        x[l][C] -= kS[a >> 24];
        x[l][D] = (x[l][D] - kS[kS1 + ((a >> 16) & 255)]) ^ kS[(a >> 8) & 255];
        x[l][A] = std::rotl(a, 24);
    }
}

template <std::size_t A, std::size_t B, std::size_t C, std::size_t D, TExtra E, std::size_t W>
VX_INLINE void BackwardUnmix(TLanes<W>& x)
{
    VX_LANES
    {
        std::uint32_t a = std::rotr(x[l][A], 24);
        x[l][D] = (x[l][D] ^ kS[(a >> 8) & 255]) + kS[kS1 + ((a >> 16) & 255)];
        x[l][C] += kS[a >> 24];
        x[l][B] ^= kS[kS1 + (a & 255)];
        if constexpr (E == kAdd3) {
            a += x[l][D];
        } else if constexpr (E == kAdd1) {
            a += x[l][B];
        }
        x[l][A] = a;
    }
}

// The E-function on the input word a whose left rotation by 13 is r: the three outputs L, M, R.
VX_INLINE void EFunction(std::uint32_t a, std::uint32_t r13, std::uint32_t k1, std::uint32_t k2, std::uint32_t& lOut,
                         std::uint32_t& mOut, std::uint32_t& rOut)
{
    std::uint32_t m = a + k1;
    std::uint32_t r = std::rotl(r13 * k2, 5);
    std::uint32_t lw = kS[m & 511] ^ r;
    m = std::rotl(m, static_cast<int>(r & 31));
    r = std::rotl(r, 5);
    lw = std::rotl(lw ^ r, static_cast<int>(r & 31));
    lOut = lw;
    mOut = m;
    rOut = r;
}

template <std::size_t A, std::size_t B, std::size_t C, std::size_t D, bool FirstHalf, std::size_t W>
VX_INLINE void CoreRound(TLanes<W>& x, const std::uint32_t* k)
{
    VX_LANES
    {
        const std::uint32_t a = x[l][A];
        const std::uint32_t r13 = std::rotl(a, 13);
        std::uint32_t lw, m, r;
        EFunction(a, r13, k[0], k[1], lw, m, r);
        x[l][A] = r13;
        x[l][C] += m;
        if constexpr (FirstHalf) {
            x[l][B] += lw;
            x[l][D] ^= r;
        } else {
            x[l][D] += lw;
            x[l][B] ^= r;
        }
    }
}

template <std::size_t A, std::size_t B, std::size_t C, std::size_t D, bool FirstHalf, std::size_t W>
VX_INLINE void CoreUnround(TLanes<W>& x, const std::uint32_t* k)
{
    VX_LANES
    {
        const std::uint32_t r13 = x[l][A];
        const std::uint32_t a = std::rotr(r13, 13);
        std::uint32_t lw, m, r;
        EFunction(a, r13, k[0], k[1], lw, m, r);
        x[l][A] = a;
        x[l][C] -= m;
        if constexpr (FirstHalf) {
            x[l][B] -= lw;
            x[l][D] ^= r;
        } else {
            x[l][D] -= lw;
            x[l][B] ^= r;
        }
    }
}

template <bool FirstHalf, std::size_t W>
VX_INLINE void CoreQuad(TLanes<W>& x, const std::uint32_t* k)
{
    CoreRound<0, 1, 2, 3, FirstHalf, W>(x, k);
    CoreRound<1, 2, 3, 0, FirstHalf, W>(x, k + 2);
    CoreRound<2, 3, 0, 1, FirstHalf, W>(x, k + 4);
    CoreRound<3, 0, 1, 2, FirstHalf, W>(x, k + 6);
}

template <bool FirstHalf, std::size_t W>
VX_INLINE void CoreUnquad(TLanes<W>& x, const std::uint32_t* k)
{
    CoreUnround<3, 0, 1, 2, FirstHalf, W>(x, k + 6);
    CoreUnround<2, 3, 0, 1, FirstHalf, W>(x, k + 4);
    CoreUnround<1, 2, 3, 0, FirstHalf, W>(x, k + 2);
    CoreUnround<0, 1, 2, 3, FirstHalf, W>(x, k);
}

template <std::size_t W>
VX_INLINE void EncryptLanes(TLanes<W>& x, const std::uint32_t* k)
{
    VX_LANES
    {
        for (std::size_t i = 0; i < 4; ++i) {
            x[l][i] += k[i];
        }
    }
    ForwardMix<0, 1, 2, 3, kAdd3, W>(x);
    ForwardMix<1, 2, 3, 0, kAdd1, W>(x);
    ForwardMix<2, 3, 0, 1, kNone, W>(x);
    ForwardMix<3, 0, 1, 2, kNone, W>(x);
    ForwardMix<0, 1, 2, 3, kAdd3, W>(x);
    ForwardMix<1, 2, 3, 0, kAdd1, W>(x);
    ForwardMix<2, 3, 0, 1, kNone, W>(x);
    ForwardMix<3, 0, 1, 2, kNone, W>(x);

    CoreQuad<true, W>(x, k + 4);
    CoreQuad<true, W>(x, k + 12);
    CoreQuad<false, W>(x, k + 20);
    CoreQuad<false, W>(x, k + 28);

    BackwardMix<0, 1, 2, 3, kNone, W>(x);
    BackwardMix<1, 2, 3, 0, kNone, W>(x);
    BackwardMix<2, 3, 0, 1, kAdd3, W>(x);
    BackwardMix<3, 0, 1, 2, kAdd1, W>(x);
    BackwardMix<0, 1, 2, 3, kNone, W>(x);
    BackwardMix<1, 2, 3, 0, kNone, W>(x);
    BackwardMix<2, 3, 0, 1, kAdd3, W>(x);
    BackwardMix<3, 0, 1, 2, kAdd1, W>(x);
    VX_LANES
    {
        for (std::size_t i = 0; i < 4; ++i) {
            x[l][i] -= k[36 + i];
        }
    }
}

template <std::size_t W>
VX_INLINE void DecryptLanes(TLanes<W>& x, const std::uint32_t* k)
{
    VX_LANES
    {
        for (std::size_t i = 0; i < 4; ++i) {
            x[l][i] += k[36 + i];
        }
    }
    BackwardUnmix<3, 0, 1, 2, kAdd1, W>(x);
    BackwardUnmix<2, 3, 0, 1, kAdd3, W>(x);
    BackwardUnmix<1, 2, 3, 0, kNone, W>(x);
    BackwardUnmix<0, 1, 2, 3, kNone, W>(x);
    BackwardUnmix<3, 0, 1, 2, kAdd1, W>(x);
    BackwardUnmix<2, 3, 0, 1, kAdd3, W>(x);
    BackwardUnmix<1, 2, 3, 0, kNone, W>(x);
    BackwardUnmix<0, 1, 2, 3, kNone, W>(x);

    CoreUnquad<false, W>(x, k + 28);
    CoreUnquad<false, W>(x, k + 20);
    CoreUnquad<true, W>(x, k + 12);
    CoreUnquad<true, W>(x, k + 4);

    ForwardUnmix<3, 0, 1, 2, kNone, W>(x);
    ForwardUnmix<2, 3, 0, 1, kNone, W>(x);
    ForwardUnmix<1, 2, 3, 0, kAdd1, W>(x);
    ForwardUnmix<0, 1, 2, 3, kAdd3, W>(x);
    ForwardUnmix<3, 0, 1, 2, kNone, W>(x);
    ForwardUnmix<2, 3, 0, 1, kNone, W>(x);
    ForwardUnmix<1, 2, 3, 0, kAdd1, W>(x);
    ForwardUnmix<0, 1, 2, 3, kAdd3, W>(x);
    VX_LANES
    {
        for (std::size_t i = 0; i < 4; ++i) {
            x[l][i] -= k[i];
        }
    }
}

#undef VX_LANES
#undef VX_INLINE

} // namespace

// Bit l is set when bit l of w lies inside a run of at least 10 equal bits of w and bits l - 1,
// l and l + 1 of w are equal, a bit above the word counting as 0; bits 0 and 1 are never set.
std::uint32_t TVX_mars::FixMask(std::uint32_t w)
{
    const std::uint32_t same = ~(w ^ (w >> 1)); // bit l: w(l) == w(l + 1)
    const std::uint32_t inside = same & 0x7FFFFFFFu;
    // Bit s of `start`: bits s to s + 9 of w are equal.
    std::uint32_t start = inside & (inside >> 1);
    start &= start >> 2;
    start &= start >> 4;
    start &= inside >> 8;
    std::uint32_t run = start | (start << 1);
    run |= run << 2;
    run |= run << 4;
    run |= run << 2;
    return run & same & (same << 1) & ~3u;
}

const std::array<std::uint32_t, 512>& TVX_mars::SBox()
{
    return kS;
}

TVX_mars::TVX_mars()
{
    TVX_mars::Wipe();
}

TVX_mars::~TVX_mars()
{
    TVX_mars::Wipe();
}

void TVX_mars::Wipe()
{
    SecureFill(m_k, 0xFF);
    TVX_blockcipher128::Wipe();
}

void TVX_mars::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    // Only whole key words count; below 32 bits there is none to expand from.
    const std::size_t n = sizeBits / 8 / 4;
    if (n == 0) {
        throw EVX_cipher(kInvalidKeySize);
    }
    std::array<std::uint8_t, 160> buffer{};
    std::copy_n(key.begin(), sizeBits / 8, buffer.begin());
    std::array<std::uint32_t, 40> k{};
    for (std::size_t i = 0; i < n; ++i) {
        k[i] = LoadLE32(buffer.data() + 4 * i);
    }
    SecureFill(buffer, 0);

    // t[i + 7] is T[i], so T runs from -7 to 39.
    std::array<std::uint32_t, 47> t;
    std::copy_n(kS.begin(), 7, t.begin());
    for (std::size_t i = 0; i < 39; ++i) {
        t[i + 7] = std::rotl(t[i] ^ t[i + 5], 3) ^ k[i % n] ^ static_cast<std::uint32_t>(i);
    }
    t[46] = static_cast<std::uint32_t>(n);
    for (int pass = 0; pass < 7; ++pass) {
        for (std::size_t i = 8; i < 47; ++i) {
            t[i] = std::rotl(t[i] + kS[t[i - 1] & 511], 9);
        }
        t[7] = std::rotl(t[7] + kS[t[46] & 511], 9);
    }
    for (std::size_t i = 0; i < 40; ++i) {
        m_k[(7 * i) % 40] = t[i + 7];
    }
    SecureFill(t, 0);
    SecureFill(k, 0);

    // The multiplication keys must not contain long runs of equal bits: those bits are broken up
    // with a rotated fixed pattern chosen by the key's two low bits.
    for (std::size_t i = 5; i <= 35; i += 2) {
        const std::uint32_t j = m_k[i] & 3;
        const std::uint32_t w = m_k[i] | 3;
        const auto r = static_cast<int>(m_k[i + 3] & 31);
        m_k[i] = w ^ (std::rotl(kS[265 + j], r) & FixMask(w));
    }
}

void TVX_mars::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    TLanes<1> x;
    LoadLanes<1, kBigEndian>(x, in);
    EncryptLanes<1>(x, m_k.data());
    StoreLanes<1, kBigEndian>(x, out);
}

void TVX_mars::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    TLanes<1> x;
    LoadLanes<1, kBigEndian>(x, in);
    DecryptLanes<1>(x, m_k.data());
    StoreLanes<1, kBigEndian>(x, out);
}

void TVX_mars::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                  std::uint8_t* chain) const
{
    TLanes<1> x;
    LoadLanes<1, kBigEndian>(x, chain);
    for (std::size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
        for (std::size_t w = 0; w < 4; ++w) {
            x[0][w] ^= LoadLE32(in + 4 * w);
        }
        EncryptLanes<1>(x, m_k.data());
        StoreLanes<1, kBigEndian>(x, out);
    }
    StoreLanes<1, kBigEndian>(x, chain);
}

// CBC decryption does not depend on the chain, so two blocks go through the rounds together.
void TVX_mars::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    constexpr std::size_t kLanes = 2;
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        TLanes<kLanes> x;
        LoadLanes<kLanes, kBigEndian>(x, in);
        DecryptLanes<kLanes>(x, m_k.data());
        StoreLanes<kLanes, kBigEndian>(x, out);
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        DoDecryptBlock(in, out);
    }
}

bool TVX_mars::CheckVectors()
{
    // The bytes 00 to 1F as key, of which 128, 192 or 256 bits are used. No published vectors
    // exist for this key expansion; these answers pin it down against change.
    static constexpr std::array<std::uint8_t, 32> kKey = {
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
        0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};
    static constexpr std::array<std::uint8_t, 16> kPlain = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                            0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    static constexpr TKnownAnswer<32, 16> kVectors[] = {
        {128, kKey, kPlain, {0x67, 0x2d, 0xb1, 0x4c, 0x77, 0x14, 0xfd, 0x24, 0x77, 0xca, 0x84, 0x99, 0xb0, 0x80, 0x8f, 0xf7}},
        {192, kKey, kPlain, {0x98, 0xfd, 0xe4, 0xef, 0x2e, 0xef, 0x33, 0x86, 0xbf, 0x81, 0xb9, 0x43, 0x4a, 0xa8, 0xb6, 0xdd}},
        {256, kKey, kPlain, {0xfc, 0x7e, 0x7c, 0xa3, 0x5e, 0xd9, 0xfe, 0x72, 0x96, 0x35, 0xcb, 0xdf, 0x07, 0x8c, 0x8f, 0x1c}},
    };
    return CheckKnownAnswers<TVX_mars>(kVectors);
}
