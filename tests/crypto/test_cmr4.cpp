// CAST-256, MARS, RC6 and RC4 beyond the shared known-answer contract: key padding and key word
// rules, the MARS tables and rounds against an independent implementation, and RC4's per-call
// restart of its indices.
#include "crypto/VXcast256.h"
#include "crypto/VXmars.h"
#include "crypto/VXrc6.h"
#include "tests/support/VectorFile.h"

#include <botan/block_cipher.h>
#include <cryptopp/mars.h>
#include <cryptopp/rc6.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <bit>
#include <random>

// Reaches into TVX_mars (it names this struct a friend) to load a schedule made elsewhere.
struct TVX_marsProbe
{
    static std::array<std::uint32_t, 40> Schedule(const TVX_mars& cipher) { return cipher.m_k; }
    static void LoadSchedule(TVX_mars& cipher, const std::uint32_t* k) { std::copy_n(k, 40, cipher.m_k.begin()); }
    static std::uint32_t FixMask(std::uint32_t w) { return TVX_mars::FixMask(w); }
};

namespace
{
using TBytes = std::vector<std::uint8_t>;
using TBlock = std::array<std::uint8_t, 16>;

TBytes RandomBytes(std::mt19937& rng, std::size_t n)
{
    TBytes bytes(n);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(rng());
    }
    return bytes;
}

TBlock RandomBlock(std::mt19937& rng)
{
    TBlock block;
    for (auto& b : block) {
        b = static_cast<std::uint8_t>(rng());
    }
    return block;
}

TBlock Encrypt(TVX_blockcipher& cipher, const TBlock& plain)
{
    TBlock out;
    cipher.EncryptBlock(plain, out);
    return out;
}

// ---- CAST-256 ----

// Botan's CAST-256 keeps its own copy of the CAST S-boxes; thousands of random blocks reach every
// entry of all four many times over, so a wrong entry here cannot go unnoticed.
TEST(Cast256, MatchesBotanOverManyKeysAndBlocks)
{
    auto botan = Botan::BlockCipher::create_or_throw("CAST-256");
    std::mt19937 rng(256);
    TVX_cast256 ours;
    for (std::size_t keyBytes : {16u, 20u, 24u, 28u, 32u}) {
        for (int trial = 0; trial < 20; ++trial) {
            const TBytes key = RandomBytes(rng, keyBytes);
            ours.KeySetup(key, static_cast<std::uint32_t>(keyBytes * 8));
            botan->set_key(key);
            for (int b = 0; b < 100; ++b) {
                const TBlock plain = RandomBlock(rng);
                TBlock expected;
                botan->encrypt(plain.data(), expected.data());
                ASSERT_EQ(ToHex(Encrypt(ours, plain)), ToHex(expected)) << "key " << ToHex(key);
                TBlock back;
                ours.DecryptBlock(expected, back);
                ASSERT_EQ(ToHex(back), ToHex(plain));
            }
        }
    }
}

TEST(Cast256, ShortKeysAreZeroPaddedTo256Bits)
{
    std::mt19937 rng(1);
    const TBytes key = RandomBytes(rng, 16);
    TBytes padded = key;
    padded.resize(32, 0);
    TVX_cast256 shortKey;
    TVX_cast256 longKey;
    shortKey.KeySetup(key, 128);
    longKey.KeySetup(padded, 256);
    const TBlock plain = RandomBlock(rng);
    EXPECT_EQ(ToHex(Encrypt(shortKey, plain)), ToHex(Encrypt(longKey, plain)));

    // A 4-bit key holds no whole byte: it is the all-zero key, which RFC 2612's padding defines.
    TVX_cast256 nibble;
    TVX_cast256 zero;
    nibble.KeySetup(key, 4);
    zero.KeySetup(TBytes(32, 0), 256);
    EXPECT_EQ(ToHex(Encrypt(nibble, plain)), ToHex(Encrypt(zero, plain)));
}

// ---- RC6 ----

// Crypto++'s public keying allows 16, 24 and 32 bytes only; its key schedule itself takes any b.
struct TCryptoppRc6 : CryptoPP::RC6::Encryption
{
    TCryptoppRc6(const std::uint8_t* key, std::size_t bytes)
    {
        UncheckedSetKey(key, static_cast<unsigned int>(bytes), CryptoPP::g_nullNameValuePairs);
    }
};

// Crypto++ keys RC6 with b whole bytes and c = ceil(b / 4) words; ours derives c from the size in
// bits, so every byte length and the sizes between whole bytes must land on the same words.
TEST(RC6, KeyWordCountMatchesCryptoppForEveryLength)
{
    std::mt19937 rng(6);
    TVX_rc6 ours;
    const TBlock plain = RandomBlock(rng);
    for (std::size_t bytes = 1; bytes <= 255; ++bytes) {
        const TBytes key = RandomBytes(rng, bytes + 1);
        TCryptoppRc6 peer(key.data(), bytes);
        TBlock expected;
        peer.ProcessBlock(plain.data(), expected.data());
        for (std::uint32_t extra : {0u, 4u}) {
            const auto bits = static_cast<std::uint32_t>(bytes * 8 + extra);
            SCOPED_TRACE(bits);
            ours.KeySetup(key, bits);
            EXPECT_EQ(ToHex(Encrypt(ours, plain)), ToHex(expected));
        }
    }
}

TEST(RC6, KeyWithoutAWholeByteIsRefused)
{
    TVX_rc6 cipher;
    const TBytes key(4, 0x11);
    try {
        cipher.KeySetup(key, 4);
        ADD_FAILURE() << "a 4-bit key was accepted";
    } catch (const EVX_cipher& e) {
        EXPECT_STREQ(e.what(), "Invalid key size");
    }
    EXPECT_FALSE(cipher.IsReady());
    EXPECT_NO_THROW(cipher.KeySetup(key, 8));
}

// ---- MARS ----

struct TCryptoppMars : CryptoPP::MARS::Encryption
{
    static const CryptoPP::word32* Table() { return Sbox; }
    std::array<std::uint32_t, 40> Schedule() const
    {
        std::array<std::uint32_t, 40> k;
        std::copy_n(m_k.begin(), 40, k.begin());
        return k;
    }
};

// Every entry against Crypto++'s table, and every entry but the nine that the authors altered
// against the SHA-1 construction the MARS paper gives (computed here with OpenSSL).
TEST(Mars, SBoxIsThePublishedTable)
{
    const auto& ours = TVX_mars::SBox();
    for (std::size_t i = 0; i < 512; ++i) {
        ASSERT_EQ(ours[i], TCryptoppMars::Table()[i]) << "entry " << i;
    }
    EXPECT_EQ(ours[0], 0x09D0C479u);

    const std::vector<std::size_t> altered = {17, 67, 76, 131, 147, 210, 297, 351, 420};
    for (std::uint32_t i = 0; i < 103; ++i) {
        std::uint8_t input[16];
        const std::uint32_t words[4] = {5 * i, 0xB7E15162u, 0x243F6A88u, 0x02917D59u};
        for (std::size_t w = 0; w < 4; ++w) {
            for (std::size_t b = 0; b < 4; ++b) {
                input[4 * w + b] = static_cast<std::uint8_t>(words[w] >> (8 * b));
            }
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        ASSERT_EQ(EVP_Digest(input, sizeof(input), digest, &length, EVP_sha1(), nullptr), 1);
        for (std::size_t k = 0; k < 5 && 5 * i + k < 512; ++k) {
            const std::size_t index = 5 * i + k;
            const std::uint32_t generated = LoadLE32(digest + 4 * k);
            const bool wasAltered = std::find(altered.begin(), altered.end(), index) != altered.end();
            EXPECT_EQ(ours[index] != generated, wasAltered) << "entry " << index;
        }
    }
}

// The rounds are standard MARS: under a schedule made by Crypto++'s (standard) key expansion they
// must give Crypto++'s cipher text and invert it.
TEST(Mars, RoundsMatchCryptoppUnderItsSchedule)
{
    std::mt19937 rng(13);
    TVX_mars ours;
    ours.KeySetup(TBytes(16, 0), 128);
    for (std::size_t keyBytes : {16u, 24u, 32u, 56u}) {
        for (int trial = 0; trial < 10; ++trial) {
            const TBytes key = RandomBytes(rng, keyBytes);
            TCryptoppMars peer;
            peer.SetKey(key.data(), key.size());
            const auto schedule = peer.Schedule();
            TVX_marsProbe::LoadSchedule(ours, schedule.data());
            for (int b = 0; b < 200; ++b) {
                const TBlock plain = RandomBlock(rng);
                TBlock expected;
                peer.ProcessBlock(plain.data(), expected.data());
                ASSERT_EQ(ToHex(Encrypt(ours, plain)), ToHex(expected)) << "key " << ToHex(key);
                TBlock back = expected;
                ours.DecryptBlock(back, back);
                ASSERT_EQ(ToHex(back), ToHex(plain));
            }
        }
    }
}

// The fix-up mask spelled out bit by bit: bit l (2 to 31) lies in a run of at least 10 equal bits
// of w and agrees with both neighbours, the neighbour above bit 31 being 0.
std::uint32_t MaskBitByBit(std::uint32_t w)
{
    auto bit = [w](int i) { return i >= 32 ? 0u : (w >> i) & 1u; };
    std::uint32_t mask = 0;
    for (int l = 2; l < 32; ++l) {
        int low = l;
        int high = l;
        while (low > 0 && bit(low - 1) == bit(l)) {
            --low;
        }
        while (high < 31 && bit(high + 1) == bit(l)) {
            ++high;
        }
        if (high - low + 1 >= 10 && bit(l - 1) == bit(l) && bit(l + 1) == bit(l)) {
            mask |= 1u << l;
        }
    }
    return mask;
}

TEST(Mars, FixMaskMarksTheInsideOfLongRuns)
{
    // Every single run of ones (or zeros) at every place and length, inside a word of the other bit.
    for (std::uint32_t background : {0u, 0xFFFFFFFFu}) {
        for (int start = 0; start < 32; ++start) {
            for (int length = 1; start + length <= 32; ++length) {
                const std::uint32_t run = length == 32 ? 0xFFFFFFFFu : ((1u << length) - 1) << start;
                const std::uint32_t w = background ^ run;
                ASSERT_EQ(TVX_marsProbe::FixMask(w), MaskBitByBit(w)) << std::hex << w;
            }
        }
    }
    std::mt19937 rng(10);
    for (int i = 0; i < 100000; ++i) {
        // Random words with long runs: AND or OR of a few random words.
        std::uint32_t w = static_cast<std::uint32_t>(rng());
        w = (i & 1) ? (w & static_cast<std::uint32_t>(rng()) & static_cast<std::uint32_t>(rng()))
                    : (w | static_cast<std::uint32_t>(rng()) | static_cast<std::uint32_t>(rng()));
        ASSERT_EQ(TVX_marsProbe::FixMask(w), MaskBitByBit(w)) << std::hex << w;
    }
    // No run of 10: nothing to fix. A zero run at the top reaches bit 31, a run of ones does not.
    EXPECT_EQ(TVX_marsProbe::FixMask(0xAAAAAAAAu), 0u);
    EXPECT_EQ(TVX_marsProbe::FixMask(0x003FFFFFu), 0xFF800000u | 0x001FFFFCu);
    EXPECT_EQ(TVX_marsProbe::FixMask(0xFFC00003u), 0x7F800000u | 0x001FFFF8u);
}

// The key expansion step by step, written from the description rather than for speed, over T
// indexed from -7.
std::array<std::uint32_t, 40> ExpandStepByStep(const TBytes& key, std::uint32_t bits)
{
    const auto& s = TVX_mars::SBox();
    const std::size_t n = bits / 8 / 4;
    std::vector<std::uint32_t> k(n);
    for (std::size_t i = 0; i < n; ++i) {
        k[i] = LoadLE32(key.data() + 4 * i);
    }
    std::array<std::uint32_t, 47> storage{};
    auto T = [&storage](int i) -> std::uint32_t& { return storage[static_cast<std::size_t>(i + 7)]; };
    for (int i = -7; i <= -1; ++i) {
        T(i) = s[static_cast<std::size_t>(i + 7)];
    }
    for (int i = 0; i <= 38; ++i) {
        T(i) = std::rotl(T(i - 7) ^ T(i - 2), 3) ^ k[static_cast<std::size_t>(i) % n] ^ static_cast<std::uint32_t>(i);
    }
    T(39) = static_cast<std::uint32_t>(n);
    for (int round = 0; round < 7; ++round) {
        for (int i = 1; i <= 39; ++i) {
            T(i) = std::rotl(T(i) + s[T(i - 1) & 511], 9);
        }
        T(0) = std::rotl(T(0) + s[T(39) & 511], 9);
    }
    std::array<std::uint32_t, 40> K;
    for (int i = 0; i <= 39; ++i) {
        K[static_cast<std::size_t>(7 * i % 40)] = T(i);
    }
    for (std::size_t i = 5; i <= 35; i += 2) {
        const std::uint32_t j = K[i] & 3;
        const std::uint32_t w = K[i] | 3;
        const auto r = static_cast<int>(K[i + 3] & 31);
        K[i] = w ^ (std::rotl(s[265 + j], r) & MaskBitByBit(w));
    }
    return K;
}

TEST(Mars, KeyExpansionFollowsTheStepsForEveryWordCount)
{
    std::mt19937 rng(39);
    TVX_mars cipher;
    for (std::uint32_t bits = 32; bits <= 1248; bits += 4) {
        SCOPED_TRACE(bits);
        const TBytes key = RandomBytes(rng, bits / 8);
        cipher.KeySetup(key, bits);
        ASSERT_EQ(TVX_marsProbe::Schedule(cipher), ExpandStepByStep(key, bits));
    }
}

TEST(Mars, OnlyWholeKeyWordsCount)
{
    std::mt19937 rng(5);
    const TBytes key = RandomBytes(rng, 156);
    const TBlock plain = RandomBlock(rng);
    TVX_mars a;
    TVX_mars b;
    // A 5-byte key is one key word: its fifth byte is ignored.
    a.KeySetup(key, 40);
    b.KeySetup(key, 32);
    EXPECT_EQ(ToHex(Encrypt(a, plain)), ToHex(Encrypt(b, plain)));
    TBytes other = key;
    other[4] ^= 0xFF;
    b.KeySetup(other, 40);
    EXPECT_EQ(ToHex(Encrypt(a, plain)), ToHex(Encrypt(b, plain)));
    // With 39 key words every word counts, the last included.
    a.KeySetup(key, 1248);
    other = key;
    other[155] ^= 0x01;
    b.KeySetup(other, 1248);
    EXPECT_NE(ToHex(Encrypt(a, plain)), ToHex(Encrypt(b, plain)));

    for (std::uint32_t bits : {4u, 8u, 24u, 28u}) {
        SCOPED_TRACE(bits);
        try {
            a.KeySetup(key, bits);
            ADD_FAILURE() << "a key without a whole word was accepted";
        } catch (const EVX_cipher& e) {
            EXPECT_STREQ(e.what(), "Invalid key size");
        }
        EXPECT_FALSE(a.IsReady());
    }
}
} // namespace
