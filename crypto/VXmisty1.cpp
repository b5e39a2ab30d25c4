// MISTY1: key schedule and block functions.
#include "crypto/VXmisty1.h"

#include "crypto/VXsecmem.h"

#include <algorithm>

namespace
{
// RFC 2994's S-boxes: S7 of degree 3 over GF(2^7), S9 of degree 2 over GF(2^9), both bijective.
constexpr std::uint8_t kS7[128] = {
    27, 50, 51, 90, 59, 16, 23, 84, 91, 26, 114, 115, 107, 44, 102, 73,
    31, 36, 19, 108, 55, 46, 63, 74, 93, 15, 64, 86, 37, 81, 28, 4,
    11, 70, 32, 13, 123, 53, 68, 66, 43, 30, 65, 20, 75, 121, 21, 111,
    14, 85, 9, 54, 116, 12, 103, 83, 40, 10, 126, 56, 2, 7, 96, 41,
    25, 18, 101, 47, 48, 57, 8, 104, 95, 120, 42, 76, 100, 69, 117, 61,
    89, 72, 3, 87, 124, 79, 98, 60, 29, 33, 94, 39, 106, 112, 77, 58,
    1, 109, 110, 99, 24, 119, 35, 5, 38, 118, 0, 49, 45, 122, 127, 97,
    80, 34, 17, 6, 71, 22, 82, 78, 113, 62, 105, 67, 52, 92, 88, 125,
};

constexpr std::uint16_t kS9[512] = {
    451, 203, 339, 415, 483, 233, 251, 53, 385, 185, 279, 491, 307, 9, 45, 211,
    199, 330, 55, 126, 235, 356, 403, 472, 163, 286, 85, 44, 29, 418, 355, 280,
    331, 338, 466, 15, 43, 48, 314, 229, 273, 312, 398, 99, 227, 200, 500, 27,
    1, 157, 248, 416, 365, 499, 28, 326, 125, 209, 130, 490, 387, 301, 244, 414,
    467, 221, 482, 296, 480, 236, 89, 145, 17, 303, 38, 220, 176, 396, 271, 503,
    231, 364, 182, 249, 216, 337, 257, 332, 259, 184, 340, 299, 430, 23, 113, 12,
    71, 88, 127, 420, 308, 297, 132, 349, 413, 434, 419, 72, 124, 81, 458, 35,
    317, 423, 357, 59, 66, 218, 402, 206, 193, 107, 159, 497, 300, 388, 250, 406,
    481, 361, 381, 49, 384, 266, 148, 474, 390, 318, 284, 96, 373, 463, 103, 281,
    101, 104, 153, 336, 8, 7, 380, 183, 36, 25, 222, 295, 219, 228, 425, 82,
    265, 144, 412, 449, 40, 435, 309, 362, 374, 223, 485, 392, 197, 366, 478, 433,
    195, 479, 54, 238, 494, 240, 147, 73, 154, 438, 105, 129, 293, 11, 94, 180,
    329, 455, 372, 62, 315, 439, 142, 454, 174, 16, 149, 495, 78, 242, 509, 133,
    253, 246, 160, 367, 131, 138, 342, 155, 316, 263, 359, 152, 464, 489, 3, 510,
    189, 290, 137, 210, 399, 18, 51, 106, 322, 237, 368, 283, 226, 335, 344, 305,
    327, 93, 275, 461, 121, 353, 421, 377, 158, 436, 204, 34, 306, 26, 232, 4,
    391, 493, 407, 57, 447, 471, 39, 395, 198, 156, 208, 334, 108, 52, 498, 110,
    202, 37, 186, 401, 254, 19, 262, 47, 429, 370, 475, 192, 267, 470, 245, 492,
    269, 118, 276, 427, 117, 268, 484, 345, 84, 287, 75, 196, 446, 247, 41, 164,
    14, 496, 119, 77, 378, 134, 139, 179, 369, 191, 270, 260, 151, 347, 352, 360,
    215, 187, 102, 462, 252, 146, 453, 111, 22, 74, 161, 313, 175, 241, 400, 10,
    426, 323, 379, 86, 397, 358, 212, 507, 333, 404, 410, 135, 504, 291, 167, 440,
    321, 60, 505, 320, 42, 341, 282, 417, 408, 213, 294, 431, 97, 302, 343, 476,
    114, 394, 170, 150, 277, 239, 69, 123, 141, 325, 83, 95, 376, 178, 46, 32,
    469, 63, 457, 487, 428, 68, 56, 20, 177, 363, 171, 181, 90, 386, 456, 468,
    24, 375, 100, 207, 109, 256, 409, 304, 346, 5, 288, 443, 445, 224, 79, 214,
    319, 452, 298, 21, 6, 255, 411, 166, 67, 136, 80, 351, 488, 289, 115, 382,
    188, 194, 201, 371, 393, 501, 116, 460, 486, 424, 405, 31, 65, 13, 442, 50,
    61, 465, 128, 168, 87, 441, 354, 328, 217, 261, 98, 122, 33, 511, 274, 264,
    448, 169, 285, 432, 422, 205, 243, 92, 258, 91, 473, 324, 502, 173, 165, 58,
    459, 310, 383, 70, 225, 30, 477, 230, 311, 506, 389, 140, 143, 64, 437, 190,
    120, 0, 172, 272, 350, 292, 2, 444, 162, 234, 112, 508, 278, 348, 76, 450,
};

constexpr std::array<std::uint8_t, 128> MakeS7x()
{
    std::array<std::uint8_t, 128> t{};
    for (std::size_t i = 0; i < 128; ++i) {
        t[i] = static_cast<std::uint8_t>(kS7[i] ^ i);
    }
    return t;
}

// S7 with its input folded in, as FI uses it.
constexpr std::array<std::uint8_t, 128> kS7x = MakeS7x();

// FI rearranged for a shorter dependency chain: the 7-bit half's S7 look-up does not wait for the
// first S9 look-up, and the 9-bit output needs one XOR after the second.
[[gnu::always_inline]] inline std::uint32_t FI(std::uint32_t x, std::uint32_t k7, std::uint32_t k9)
{
    const std::uint32_t a = kS9[x >> 7];
    const std::uint32_t low = x & 0x7f;
    const std::uint32_t d7 = kS7x[low] ^ (a & 0x7f) ^ k7;
    return kS9[a ^ low ^ k9] ^ (d7 << 9) ^ d7;
}
} // namespace

TVX_misty1::TVX_misty1()
{
    TVX_misty1::Wipe();
}

TVX_misty1::~TVX_misty1()
{
    TVX_misty1::Wipe();
}

void TVX_misty1::Wipe()
{
    SecureFill(m_k, 0);
    SecureFill(m_kp, 0);
    SecureFill(m_kp9, 0);
    SecureFill(m_kp7, 0);
    TVX_blockcipher64::Wipe();
}

void TVX_misty1::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    std::array<std::uint8_t, 16> buffer{};
    std::copy_n(key.begin(), sizeBits / 8, buffer.begin());
    for (std::size_t i = 0; i < 8; ++i) {
        m_k[i] = (std::uint32_t{buffer[2 * i]} << 8) | buffer[2 * i + 1];
    }
    for (std::size_t i = 0; i < 8; ++i) {
        const std::uint32_t next = m_k[(i + 1) % 8];
        m_kp[i] = FI(m_k[i], next >> 9, next & 0x1ff);
        m_kp9[i] = m_kp[i] & 0x1ff;
        m_kp7[i] = m_kp[i] >> 9;
    }
    SecureFill(buffer, 0);
}

// The 32-bit halves of the block are kept as two 16-bit words each (h: high, l: low), so that FO
// and FL never join and split them.
[[gnu::always_inline]] inline void TVX_misty1::FO(std::uint32_t h, std::uint32_t l, std::uint32_t& outH,
                                                  std::uint32_t& outL, int k) const
{
    const auto i = [k](int offset) { return static_cast<std::size_t>((k + offset) % 8); };
    std::uint32_t t0 = FI(h ^ m_k[i(0)], m_kp7[i(5)], m_kp9[i(5)]) ^ l;
    std::uint32_t t1 = FI(l ^ m_k[i(2)], m_kp7[i(1)], m_kp9[i(1)]) ^ t0;
    t0 = FI(t0 ^ m_k[i(7)], m_kp7[i(3)], m_kp9[i(3)]) ^ t1;
    outH = t1 ^ m_k[i(4)];
    outL = t0;
}

[[gnu::always_inline]] inline void TVX_misty1::FL(std::uint32_t& h, std::uint32_t& l, int k) const
{
    const auto half = static_cast<std::size_t>(k / 2);
    if (k % 2 == 0) {
        l ^= h & m_k[half];
        h ^= l | m_kp[(half + 6) % 8];
    } else {
        l ^= h & m_kp[(half + 2) % 8];
        h ^= l | m_k[(half + 4) % 8];
    }
}

[[gnu::always_inline]] inline void TVX_misty1::FLInv(std::uint32_t& h, std::uint32_t& l, int k) const
{
    const auto half = static_cast<std::size_t>(k / 2);
    if (k % 2 == 0) {
        h ^= l | m_kp[(half + 6) % 8];
        l ^= h & m_k[half];
    } else {
        h ^= l | m_k[(half + 4) % 8];
        l ^= h & m_kp[(half + 2) % 8];
    }
}

void TVX_misty1::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    const std::uint32_t d0 = LoadBE32(in);
    const std::uint32_t d1 = LoadBE32(in + 4);
    std::uint32_t h0 = d0 >> 16, l0 = d0 & 0xffff, h1 = d1 >> 16, l1 = d1 & 0xffff;
    std::uint32_t fh, fl;
#pragma GCC unroll 4
    for (int round = 0; round < 8; round += 2) {
        FL(h0, l0, round);
        FL(h1, l1, round + 1);
        FO(h0, l0, fh, fl, round);
        h1 ^= fh;
        l1 ^= fl;
        FO(h1, l1, fh, fl, round + 1);
        h0 ^= fh;
        l0 ^= fl;
    }
    FL(h0, l0, 8);
    FL(h1, l1, 9);
    StoreBE32(out, (h1 << 16) | l1);
    StoreBE32(out + 4, (h0 << 16) | l0);
}

void TVX_misty1::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    const std::uint32_t d1 = LoadBE32(in);
    const std::uint32_t d0 = LoadBE32(in + 4);
    std::uint32_t h0 = d0 >> 16, l0 = d0 & 0xffff, h1 = d1 >> 16, l1 = d1 & 0xffff;
    std::uint32_t fh, fl;
    FLInv(h0, l0, 8);
    FLInv(h1, l1, 9);
#pragma GCC unroll 4
    for (int round = 6; round >= 0; round -= 2) {
        FO(h1, l1, fh, fl, round + 1);
        h0 ^= fh;
        l0 ^= fl;
        FO(h0, l0, fh, fl, round);
        h1 ^= fh;
        l1 ^= fl;
        FLInv(h0, l0, round);
        FLInv(h1, l1, round + 1);
    }
    StoreBE32(out, (h0 << 16) | l0);
    StoreBE32(out + 4, (h1 << 16) | l1);
}

// Two blocks through the rounds side by side: the chain of S-box look-ups inside one block is
// serial, and the second block fills the wait.
void TVX_misty1::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    for (; blocks >= 2; blocks -= 2, in += 16, out += 16) {
        const std::uint32_t a1 = LoadBE32(in), a0 = LoadBE32(in + 4);
        const std::uint32_t b1 = LoadBE32(in + 8), b0 = LoadBE32(in + 12);
        std::uint32_t ah0 = a0 >> 16, al0 = a0 & 0xffff, ah1 = a1 >> 16, al1 = a1 & 0xffff;
        std::uint32_t bh0 = b0 >> 16, bl0 = b0 & 0xffff, bh1 = b1 >> 16, bl1 = b1 & 0xffff;
        std::uint32_t afh, afl, bfh, bfl;
        FLInv(ah0, al0, 8);
        FLInv(ah1, al1, 9);
        FLInv(bh0, bl0, 8);
        FLInv(bh1, bl1, 9);
#pragma GCC unroll 4
        for (int round = 6; round >= 0; round -= 2) {
            FO(ah1, al1, afh, afl, round + 1);
            FO(bh1, bl1, bfh, bfl, round + 1);
            ah0 ^= afh;
            al0 ^= afl;
            bh0 ^= bfh;
            bl0 ^= bfl;
            FO(ah0, al0, afh, afl, round);
            FO(bh0, bl0, bfh, bfl, round);
            ah1 ^= afh;
            al1 ^= afl;
            bh1 ^= bfh;
            bl1 ^= bfl;
            FLInv(ah0, al0, round);
            FLInv(ah1, al1, round + 1);
            FLInv(bh0, bl0, round);
            FLInv(bh1, bl1, round + 1);
        }
        StoreBE32(out, (ah0 << 16) | al0);
        StoreBE32(out + 4, (ah1 << 16) | al1);
        StoreBE32(out + 8, (bh0 << 16) | bl0);
        StoreBE32(out + 12, (bh1 << 16) | bl1);
    }
    if (blocks > 0) {
        DoDecryptBlock(in, out);
    }
}

bool TVX_misty1::CheckVectors()
{
    // RFC 2994, the example data: one key, two blocks.
    static constexpr TKnownAnswer<16, 8> kVectors[] = {
        {128,
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
         {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef},
         {0x8b, 0x1d, 0xa5, 0xf5, 0x6a, 0xb3, 0xd0, 0x7c}},
        {128,
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
         {0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10},
         {0x04, 0xb6, 0x82, 0x40, 0xb1, 0x3b, 0xe9, 0x5d}},
    };
    return CheckKnownAnswers<TVX_misty1>(kVectors);
}
