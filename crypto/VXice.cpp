// ICE: S-boxes, key schedule of any level and block functions.
#include "crypto/VXice.h"

#include "crypto/VXsecmem.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace
{
// The published ICE S-box parameters: for S-box k and row r, the modulus of GF(2^8) and the XOR
// offset of the input; and the P-box, as the bit that each input bit moves to.
constexpr std::uint32_t kModulus[4][4] = {
    {333, 313, 505, 369}, {379, 375, 319, 391}, {361, 445, 451, 397}, {397, 425, 395, 505}};

constexpr std::uint32_t kOffset[4][4] = {
    {0x83, 0x85, 0x9b, 0xcd}, {0xcc, 0xa7, 0xad, 0x41}, {0x4b, 0x2e, 0xd4, 0x33}, {0xea, 0xcb, 0x2e, 0x04}};

constexpr int kPBoxBit[32] = {0, 7,  10, 13, 19, 21, 24, 30, 3, 5, 8,  14, 16, 23, 26, 29,
                              2, 4,  9,  15, 17, 22, 27, 28, 1, 6, 11, 12, 18, 20, 25, 31};

constexpr int kKeyRotation[16] = {0, 1, 2, 3, 2, 1, 3, 0, 1, 3, 2, 0, 3, 1, 0, 2};

std::uint32_t GfMultiply(std::uint32_t a, std::uint32_t b, std::uint32_t modulus)
{
    std::uint32_t result = 0;
    while (b != 0) {
        if ((b & 1) != 0) {
            result ^= a;
        }
        a <<= 1;
        b >>= 1;
        if (a >= 256) {
            a ^= modulus;
        }
    }
    return result;
}

std::uint32_t GfSeventhPower(std::uint32_t b, std::uint32_t modulus)
{
    if (b == 0) {
        return 0;
    }
    std::uint32_t x = GfMultiply(b, b, modulus); // b^2
    x = GfMultiply(b, x, modulus);               // b^3
    x = GfMultiply(x, x, modulus);               // b^6
    return GfMultiply(b, x, modulus);            // b^7
}

std::uint32_t PBox(std::uint32_t x)
{
    std::uint32_t result = 0;
    for (int j = 0; x != 0; ++j, x >>= 1) {
        if ((x & 1) != 0) {
            result |= std::uint32_t{1} << kPBoxBit[j];
        }
    }
    return result;
}

// The round function worked on the four 10-bit S-box inputs separately rather than on the two
// 20-bit halves: the same bits, with fewer steps between the input word and the look-ups.
inline std::uint32_t F(const TVX_customice::TSBoxes& s, std::uint32_t p, const std::array<std::uint32_t, 3>& k)
{
    const std::uint32_t tlLow = (p >> 16) & 0x3ff;
    const std::uint32_t tlHigh = std::rotr(p, 24) & 0x3ff;
    const std::uint32_t trLow = p & 0x3ff;
    const std::uint32_t trHigh = (p >> 8) & 0x3ff;
    const std::uint32_t swapLow = k[2] & 0x3ff & (tlLow ^ trLow);
    const std::uint32_t swapHigh = (k[2] >> 10) & (tlHigh ^ trHigh);
    const std::uint32_t alLow = tlLow ^ swapLow ^ (k[0] & 0x3ff);
    const std::uint32_t alHigh = tlHigh ^ swapHigh ^ (k[0] >> 10);
    const std::uint32_t arLow = trLow ^ swapLow ^ (k[1] & 0x3ff);
    const std::uint32_t arHigh = trHigh ^ swapHigh ^ (k[1] >> 10);
    return (s[0][alHigh] | s[1][alLow]) | (s[2][arHigh] | s[3][arLow]);
}
} // namespace

const TVX_customice::TSBoxes& TVX_customice::SBoxes()
{
    // A function-local static is built exactly once, and other threads wait for it.
    static const TSBoxes boxes = [] {
        TSBoxes b{};
        for (std::uint32_t i = 0; i < 1024; ++i) {
            const std::uint32_t column = (i >> 1) & 0xff;
            const std::uint32_t row = (i & 1) | ((i & 0x200) >> 8);
            for (std::size_t k = 0; k < 4; ++k) {
                const std::uint32_t x = GfSeventhPower(column ^ kOffset[k][row], kModulus[k][row]);
                b[k][i] = PBox(x << (24 - 8 * k));
            }
        }
        return b;
    }();
    return boxes;
}

TVX_customice::TVX_customice() : m_sbox(SBoxes())
{
}

void TVX_customice::WipeIce()
{
    SecureFill(m_schedule, 0);
    m_rounds = 0;
}

void TVX_customice::IceKeySchedule(std::span<const std::uint8_t> key, std::uint32_t sizeBits, int level)
{
    const int size = level < 1 ? 1 : level;
    m_rounds = level < 1 ? 8 : 16 * level;
    if (m_rounds > kMaxRounds) {
        throw EVX_cipher(kInvalidKeySize);
    }
    std::array<std::uint8_t, kMaxRounds / 2> buffer{};
    std::copy_n(key.begin(), std::min<std::size_t>(sizeBits / 8, 8 * static_cast<std::size_t>(size)), buffer.begin());

    std::array<std::uint32_t, 4> kb{};
    // One pass of eight round keys from position n, with rotations taken from `rotation`.
    auto build = [&](int n, const int* rotation) {
        for (int i = 0; i < 8; ++i) {
            auto& subkey = m_schedule[static_cast<std::size_t>(n + i)];
            subkey = {0, 0, 0};
            for (int j = 0; j < 15; ++j) {
                std::uint32_t& word = subkey[static_cast<std::size_t>(j % 3)];
                for (int k = 0; k < 4; ++k) {
                    std::uint32_t& w = kb[static_cast<std::size_t>((rotation[i] + k) & 3)];
                    const std::uint32_t bit = w & 1;
                    word = (word << 1) | bit;
                    w = (w >> 1) | ((bit ^ 1) << 15);
                }
            }
        }
    };
    for (int i = 0; i < size; ++i) {
        const std::uint8_t* part = buffer.data() + 8 * i;
        for (int j = 0; j < 4; ++j) {
            kb[static_cast<std::size_t>(3 - j)] = (std::uint32_t{part[2 * j]} << 8) | part[2 * j + 1];
        }
        build(8 * i, kKeyRotation);
        if (m_rounds > 8) {
            build(m_rounds - 8 - 8 * i, kKeyRotation + 8);
        }
    }
    SecureFill(kb, 0);
    SecureFill(buffer, 0);
}

void TVX_customice::IceEncryptWords(std::uint32_t& l, std::uint32_t& r) const
{
    const int rounds = m_rounds;
    // Level 1, the only one in use, gets a loop the compiler unrolls.
    if (rounds == 16) {
#pragma GCC unroll 8
        for (int i = 0; i < 16; i += 2) {
            l ^= F(m_sbox, r, m_schedule[static_cast<std::size_t>(i)]);
            r ^= F(m_sbox, l, m_schedule[static_cast<std::size_t>(i + 1)]);
        }
    } else {
        for (int i = 0; i < rounds; i += 2) {
            l ^= F(m_sbox, r, m_schedule[static_cast<std::size_t>(i)]);
            r ^= F(m_sbox, l, m_schedule[static_cast<std::size_t>(i + 1)]);
        }
    }
    std::swap(l, r);
}

void TVX_customice::IceEncrypt(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t l = LoadBE32(in);
    std::uint32_t r = LoadBE32(in + 4);
    IceEncryptWords(l, r);
    StoreBE32(out, l);
    StoreBE32(out + 4, r);
}

void TVX_customice::IceDecrypt(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t l = LoadBE32(in);
    std::uint32_t r = LoadBE32(in + 4);
    for (int i = m_rounds - 1; i > 0; i -= 2) {
        l ^= F(m_sbox, r, m_schedule[static_cast<std::size_t>(i)]);
        r ^= F(m_sbox, l, m_schedule[static_cast<std::size_t>(i - 1)]);
    }
    StoreBE32(out, r);
    StoreBE32(out + 4, l);
}

// Two blocks side by side: each round waits on its own look-ups, the other block fills the wait.
void TVX_customice::IceDecrypt2(const std::uint8_t* in, std::uint8_t* out) const
{
    std::uint32_t l0 = LoadBE32(in), r0 = LoadBE32(in + 4);
    std::uint32_t l1 = LoadBE32(in + 8), r1 = LoadBE32(in + 12);
    for (int i = m_rounds - 1; i > 0; i -= 2) {
        const auto& k0 = m_schedule[static_cast<std::size_t>(i)];
        const auto& k1 = m_schedule[static_cast<std::size_t>(i - 1)];
        l0 ^= F(m_sbox, r0, k0);
        l1 ^= F(m_sbox, r1, k0);
        r0 ^= F(m_sbox, l0, k1);
        r1 ^= F(m_sbox, l1, k1);
    }
    StoreBE32(out, r0);
    StoreBE32(out + 4, l0);
    StoreBE32(out + 8, r1);
    StoreBE32(out + 12, l1);
}

TVX_ice::TVX_ice()
{
    TVX_ice::Wipe();
}

TVX_ice::~TVX_ice()
{
    TVX_ice::Wipe();
}

void TVX_ice::Wipe()
{
    WipeIce();
    TVX_customice::Wipe();
}

void TVX_ice::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    IceKeySchedule(key, sizeBits, 1);
}

void TVX_ice::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    IceEncrypt(in, out);
}

void TVX_ice::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    IceDecrypt(in, out);
}

void TVX_ice::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                 std::uint8_t* chain) const
{
    std::uint32_t l = LoadBE32(chain);
    std::uint32_t r = LoadBE32(chain + 4);
    for (std::size_t b = 0; b < blocks; ++b, in += 8, out += 8) {
        l ^= LoadBE32(in);
        r ^= LoadBE32(in + 4);
        IceEncryptWords(l, r);
        StoreBE32(out, l);
        StoreBE32(out + 4, r);
    }
    StoreBE32(chain, l);
    StoreBE32(chain + 4, r);
}

void TVX_ice::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    for (; blocks >= 2; blocks -= 2, in += 16, out += 16) {
        IceDecrypt2(in, out);
    }
    if (blocks > 0) {
        IceDecrypt(in, out);
    }
}

bool TVX_ice::CheckVectors()
{
    // The certification triplet published with ICE (level 1).
    static constexpr TKnownAnswer<8, 8> kVectors[] = {
        {64,
         {0xde, 0xad, 0xbe, 0xef, 0x01, 0x23, 0x45, 0x67},
         {0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10},
         {0x7d, 0x6e, 0xf1, 0xef, 0x30, 0xd4, 0x7a, 0x96}},
    };
    return CheckKnownAnswers<TVX_ice>(kVectors);
}
