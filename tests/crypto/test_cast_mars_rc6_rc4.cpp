// CAST-256, MARS, RC6 and RC4 beyond the shared known-answer contract: key padding and key word
// rules, the MARS tables and rounds against an independent implementation, and RC4's per-call
// restart of its indices.
#include "crypto/VXcast256.h"
#include "crypto/VXmars.h"
#include "crypto/VXmd5.h"
#include "crypto/VXmemstream.h"
#include "crypto/VXrc4.h"
#include "crypto/VXrc6.h"
#include "tests/support/Bytes.h"
#include "tests/support/VectorFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <botan/block_cipher.h>
#include <cryptopp/mars.h>
#include <cryptopp/rc6.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <random>

// Reaches into TVX_mars (it names this struct a friend) to load a schedule made elsewhere.
struct TVX_marsProbe
{
    static std::array<std::uint32_t, 40> Schedule(const TVX_mars& cipher) { return cipher.m_k; }
    static void LoadSchedule(TVX_mars& cipher, const std::uint32_t* k) { std::copy_n(k, 40, cipher.m_k.begin()); }
    static std::uint32_t FixMask(std::uint32_t w) { return TVX_mars::FixMask(w); }
};

namespace {
using TBlock = std::array<std::uint8_t, 16>;

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
// ---- RC4 ----

// Textbook RC4, kept apart from the product's: the key schedule, then the generator, with the
// indices restarted at 0 on the carried permutation where the product starts a new buffer call.
class TReferenceRc4
{
public:
    explicit TReferenceRc4(const TBytes& key)
    {
        for (int n = 0; n < 256; ++n) {
            m_s[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(n);
        }
        std::size_t j = 0;
        for (std::size_t n = 0; n < 256; ++n) {
            j = (j + m_s[n] + key[n % key.size()]) % 256;
            std::swap(m_s[n], m_s[j]);
        }
    }

    void Restart() { m_i = m_j = 0; }

    TBytes Generate(std::size_t count)
    {
        TBytes out(count);
        for (auto& b : out) {
            m_i = (m_i + 1) % 256;
            m_j = (m_j + m_s[m_i]) % 256;
            std::swap(m_s[m_i], m_s[m_j]);
            b = m_s[(m_s[m_i] + m_s[m_j]) % 256];
        }
        return out;
    }

    const std::array<std::uint8_t, 256>& State() const { return m_s; }

private:
    std::array<std::uint8_t, 256> m_s{};
    std::size_t m_i = 0;
    std::size_t m_j = 0;
};

TBytes Xor(const TBytes& a, const TBytes& b)
{
    TBytes out(a.size());
    for (std::size_t n = 0; n < a.size(); ++n) {
        out[n] = a[n] ^ b[n];
    }
    return out;
}

TEST(RC4, ReferenceIsStandardRc4)
{
    for (const TVectorRecord& record : LoadVectorFile("rc4.txt")) {
        SCOPED_TRACE(record.where);
        const TBytes key = record.Bytes("key");
        TReferenceRc4 reference(TBytes(key.begin(), key.begin() + record.Number("keybits") / 8));
        EXPECT_EQ(ToHex(Xor(record.Bytes("plain"), reference.Generate(record.Bytes("plain").size()))),
                  ToHex(record.Bytes("cipher")));
    }
}

// A file goes through the stream operation in 8192-byte pieces; each piece after the first takes
// the generator restarted at i = j = 0 on the permutation the piece before it left.
TEST(RC4, EveryPieceRestartsTheIndicesOnTheCarriedPermutation)
{
    std::mt19937 rng(4);
    const std::string password = "piece by piece";
    TVX_md5 md5;
    TBytes key(16);
    md5.Start();
    md5.FeedText(password);
    md5.Finish(key);
    for (std::size_t size : {0u, 1u, 8191u, 8192u, 8193u, 16384u, 3u * 8192u + 77u, 40u * 8192u}) {
        SCOPED_TRACE(size);
        const TBytes plain = RandomBytes(rng, size);
        TReferenceRc4 reference(key);
        TBytes expected;
        for (std::size_t done = 0; done < size; done += 8192) {
            reference.Restart();
            const TBytes piece(plain.begin() + static_cast<std::ptrdiff_t>(done),
                               plain.begin() + static_cast<std::ptrdiff_t>(std::min(size, done + 8192)));
            const TBytes cipherPiece = Xor(piece, reference.Generate(piece.size()));
            expected.insert(expected.end(), cipherPiece.begin(), cipherPiece.end());
        }

        TVX_rc4 cipher;
        cipher.KeyFromPassword<TVX_md5>(password);
        TVX_memoryreader reader(plain);
        TVX_memorywriter writer;
        EXPECT_EQ(cipher.StreamEncrypt(reader, writer, size), size);
        ASSERT_EQ(writer.Data().size(), size);
        const auto firstDifference =
            std::mismatch(writer.Data().begin(), writer.Data().end(), expected.begin()).first - writer.Data().begin();
        EXPECT_TRUE(writer.Data() == expected) << "first difference at " << firstDifference;
        EXPECT_TRUE(cipher.Perm() == reference.State());

        TVX_rc4 decipher;
        decipher.KeyFromPassword<TVX_md5>(password);
        TVX_memoryreader back(writer.Data());
        TVX_memorywriter restored;
        decipher.StreamDecrypt(back, restored, size);
        EXPECT_TRUE(restored.Data() == plain);

        if (size > 8192) {
            // Not the continuous key stream: byte 8193 already differs from standard RC4 here (an
            // 8193-byte file has no more).
            TReferenceRc4 continuous(key);
            const TBytes standard = Xor(plain, continuous.Generate(size));
            const auto end = static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, 8200));
            EXPECT_NE(ToHex(TBytes(standard.begin() + 8192, standard.begin() + end)),
                      ToHex(TBytes(expected.begin() + 8192, expected.begin() + end)));
        }
    }
}

TEST(RC4, KeyingRewindAndEmptyCalls)
{
    std::mt19937 rng(19);
    const TBytes key = RandomBytes(rng, 256);
    TVX_rc4 plain;
    TVX_rc4 withIv;
    plain.KeySetup(key, 128);
    withIv.KeySetup(key, 128, RandomBytes(rng, 16));
    EXPECT_TRUE(plain.Perm() == withIv.Perm());
    EXPECT_TRUE(plain.Perm() == plain.PermAtKey());

    // Only whole bytes count (44 bits is 5 bytes); 2048 bits use every byte once.
    for (std::uint32_t bits : {44u, 2048u}) {
        SCOPED_TRACE(bits);
        TVX_rc4 cipher;
        cipher.KeySetup(key, bits);
        TReferenceRc4 reference(TBytes(key.begin(), key.begin() + bits / 8));
        EXPECT_TRUE(cipher.Perm() == reference.State());
    }

    // A zero-length call writes nothing and leaves the permutation alone; Rewind undoes calls.
    const auto atKey = plain.Perm();
    TBytes untouched(4, 0xA5);
    plain.EncryptBuffer(std::span<const std::uint8_t>(), untouched);
    EXPECT_EQ(untouched, TBytes(4, 0xA5));
    EXPECT_TRUE(plain.Perm() == atKey);
    TBytes data = RandomBytes(rng, 1000);
    const TBytes original = data;
    plain.EncryptBuffer(data, data);
    EXPECT_FALSE(plain.Perm() == atKey);
    plain.Rewind();
    EXPECT_TRUE(plain.Perm() == atKey);
    plain.DecryptBuffer(data, data);
    EXPECT_EQ(data, original);
}

TEST(RC4, UnkeyedWipedAndNibbleKeys)
{
    TVX_rc4 cipher;
    const std::array<std::uint8_t, 256> allFF = [] {
        std::array<std::uint8_t, 256> a;
        a.fill(0xFF);
        return a;
    }();
    TBytes data(8, 0x11);
    auto expectUnkeyed = [&] {
        EXPECT_TRUE(cipher.Perm() == allFF);
        EXPECT_TRUE(cipher.PermAtKey() == allFF);
        for (int direction = 0; direction < 2; ++direction) {
            try {
                if (direction == 0) {
                    cipher.EncryptBuffer(data, data);
                } else {
                    cipher.DecryptBuffer(data, data);
                }
                ADD_FAILURE() << "an unkeyed buffer call did not throw";
            } catch (const EVX_blockcipher&) {
                ADD_FAILURE() << "RC4 is no block cipher";
            } catch (const EVX_cipher& e) {
                EXPECT_STREQ(e.what(), "Cipher not initialized");
            }
        }
        EXPECT_EQ(data, TBytes(8, 0x11));
    };
    expectUnkeyed();
    EXPECT_NO_THROW(cipher.Rewind());
    cipher.KeySetup(TBytes(16, 7), 128);
    cipher.Wipe();
    expectUnkeyed();

    // 4 bits leave no whole key byte to expand.
    try {
        cipher.KeySetup(TBytes(1, 7), 4);
        ADD_FAILURE() << "a 4-bit key was accepted";
    } catch (const EVX_cipher& e) {
        EXPECT_STREQ(e.what(), "Invalid key size");
    }
    EXPECT_FALSE(cipher.IsReady());
    expectUnkeyed();
}
// Buffer calls one after another, each restarting the indices on the permutation the previous
// one left: every length up to five key-stream words and either side of the larger powers of two,
// so each count of bytes left over after the word-at-a-time loop occurs, with the input and the
// output at every offset within a word and, every third call, the same buffer.
TEST(RC4, BufferCallsOfEveryLengthMisalignedAndInPlace)
{
    std::mt19937 rng(6229);
    const TBytes key = RandomBytes(rng, 16);
    TVX_rc4 cipher;
    cipher.KeySetup(key, 128);
    TReferenceRc4 reference(key);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 40; ++n) {
        lengths.push_back(n);
    }
    for (std::size_t n : {63u, 64u, 65u, 255u, 256u, 257u, 511u, 4097u, 8192u}) {
        lengths.push_back(n);
    }
    for (std::size_t call = 0; call < lengths.size(); ++call) {
        const std::size_t size = lengths[call];
        SCOPED_TRACE(testing::Message() << "call " << call << ", " << size << " bytes");
        const TBytes plain = RandomBytes(rng, size);
        reference.Restart();
        const TBytes expected = Xor(plain, reference.Generate(size));
        TBytes result;
        if (call % 3 == 2) {
            result = plain;
            cipher.EncryptBuffer(result, result);
        } else {
            const std::size_t inOffset = call % 8;
            const std::size_t outOffset = (call * 3 + 1) % 8;
            TBytes in(size + inOffset);
            std::copy(plain.begin(), plain.end(), in.begin() + static_cast<std::ptrdiff_t>(inOffset));
            TBytes out(size + outOffset + 8, 0x5A);
            cipher.EncryptBuffer(std::span(in).subspan(inOffset), std::span(out).subspan(outOffset, size));
            // Nothing written past the end of the output.
            EXPECT_EQ(TBytes(out.end() - 8, out.end()), TBytes(8, 0x5A));
            result.assign(out.begin() + static_cast<std::ptrdiff_t>(outOffset),
                          out.begin() + static_cast<std::ptrdiff_t>(outOffset + size));
        }
        EXPECT_EQ(ToHex(result), ToHex(expected));
        EXPECT_TRUE(cipher.Perm() == reference.State());
    }
}
} // namespace
