// Key padding of Twofish and Serpent, their agreement with an independent implementation over every
// key length and many message lengths, and Serpent's vector paths against its portable one.
#include "crypto/VXserpent.h"
#include "crypto/VXtwofish.h"
#include "tests/support/CipherCalls.h"
#include "tests/support/CpuFeatures.h"
#include "tests/support/CryptoppCbc.h"
#include "tests/support/VectorFile.h"

#include <cryptopp/serpent.h>
#include <cryptopp/twofish.h>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

// The key the published algorithms see for a key of `bits` bits handed to KeySetup.
TBytes TwofishStandardKey(const TBytes& key, std::uint32_t bits)
{
    TBytes padded(key.begin(), key.begin() + bits / 8);
    padded.resize(bits <= 128 ? 16 : bits <= 192 ? 24 : 32, 0);
    return padded;
}

TBytes SerpentFullKey(const TBytes& key, std::uint32_t bits)
{
    TBytes padded(key.begin(), key.begin() + bits / 8);
    padded.resize(32, 0);
    if (bits < 256) {
        padded[bits / 8] |= static_cast<std::uint8_t>(1u << (bits % 8));
    }
    return padded;
}

TEST(TwofishKeys, ShortKeysEqualTheirZeroPaddedStandardLength)
{
    std::mt19937 rng(11);
    const TBytes plain = RandomBytes(rng, 16);
    const TBytes key = RandomBytes(rng, 32);
    for (std::uint32_t bits : {8u, 64u, 120u, 136u, 160u, 184u, 200u, 248u}) {
        SCOPED_TRACE(bits);
        const TBytes padded = TwofishStandardKey(key, bits);
        EXPECT_EQ(ToHex(EncryptBlocks<TVX_twofish>(key, bits, plain)),
                  ToHex(EncryptBlocks<TVX_twofish>(padded, static_cast<std::uint32_t>(padded.size() * 8), plain)));
    }
}

TEST(TwofishKeys, OnlyWholeBytesOfTheSizeAreRead)
{
    std::mt19937 rng(12);
    const TBytes plain = RandomBytes(rng, 16);
    TBytes key = RandomBytes(rng, 32);
    for (std::uint32_t bits : {4u, 132u, 196u, 252u}) {
        SCOPED_TRACE(bits);
        const TBytes before = EncryptBlocks<TVX_twofish>(key, bits, plain);
        TBytes changed = key;
        for (std::size_t i = bits / 8; i < changed.size(); ++i) {
            changed[i] ^= 0xA5;
        }
        EXPECT_EQ(ToHex(EncryptBlocks<TVX_twofish>(changed, bits, plain)), ToHex(before));
        // A partial byte still selects the longer standard length, padded with zeros.
        const TBytes padded = TwofishStandardKey(key, bits);
        EXPECT_EQ(ToHex(before),
                  ToHex(EncryptBlocks<TVX_twofish>(padded, static_cast<std::uint32_t>(padded.size() * 8), plain)));
    }
}

TEST(SerpentKeys, ProgramKeyEqualsTheFullKeyWithItsPaddingByte)
{
    std::mt19937 rng(13);
    const TBytes plain = RandomBytes(rng, 16);
    const TBytes key = RandomBytes(rng, 16);
    TBytes full = key;
    full.push_back(0x01);
    full.resize(32, 0);
    EXPECT_EQ(ToHex(EncryptBlocks<TVX_serpent>(key, 128, plain)), ToHex(EncryptBlocks<TVX_serpent>(full, 256, plain)));
}

TEST(SerpentKeys, FullLengthKeyGetsNoPaddingBit)
{
    std::mt19937 rng(14);
    const TBytes plain = RandomBytes(rng, 16);
    TBytes key = RandomBytes(rng, 32);
    key[31] = 0x00;
    TBytes withBit = key;
    withBit[31] = 0x01;
    // 248 bits pad to byte 31 = 0x01; the same bytes at 256 bits must stay as given.
    EXPECT_EQ(ToHex(EncryptBlocks<TVX_serpent>(key, 248, plain)),
              ToHex(EncryptBlocks<TVX_serpent>(withBit, 256, plain)));
    EXPECT_NE(ToHex(EncryptBlocks<TVX_serpent>(key, 256, plain)),
              ToHex(EncryptBlocks<TVX_serpent>(withBit, 256, plain)));
}

TEST(SerpentKeys, PaddingBitSitsAtTheSizeAndPartialBytesAreIgnored)
{
    std::mt19937 rng(15);
    const TBytes plain = RandomBytes(rng, 16);
    const TBytes key = RandomBytes(rng, 32);
    for (std::uint32_t bits : {4u, 12u, 36u, 100u, 132u, 252u}) {
        SCOPED_TRACE(bits);
        // The bits of the partial byte are the caller's garbage: the padding bit must overwrite
        // nothing but zeros, whatever they hold.
        TBytes noisy = key;
        noisy[bits / 8] = 0xFF;
        EXPECT_EQ(ToHex(EncryptBlocks<TVX_serpent>(noisy, bits, plain)),
                  ToHex(EncryptBlocks<TVX_serpent>(SerpentFullKey(key, bits), 256, plain)));
    }
}

// Every key length the class accepts, against Crypto++ given the key the published algorithm sees,
// in CBC over lengths that cross the multi-block batches both ways.
TEST(TwofishSerpentOracle, EveryKeyLengthAndManyMessageLengthsAgree)
{
    std::mt19937 rng(16);
    for (std::uint32_t bits = 4; bits <= 256; bits += 4) {
        SCOPED_TRACE(bits);
        const TBytes key = RandomBytes(rng, 32);
        const TBytes iv = RandomBytes(rng, 16);
        const std::size_t blocks = 1 + rng() % 80;
        const TBytes plain = RandomBytes(rng, blocks * 16);

        const TBytes twofishKey = TwofishStandardKey(key, bits);
        const TBytes twofish = OracleCbc<CryptoPP::Twofish>(true, twofishKey, iv, plain);
        EXPECT_EQ(ToHex(CbcEncrypt<TVX_twofish>(key, bits, iv, plain)), ToHex(twofish));
        EXPECT_EQ(ToHex(CbcDecrypt<TVX_twofish>(key, bits, iv, twofish)), ToHex(plain));

        const TBytes serpentKey = SerpentFullKey(key, bits);
        const TBytes serpent = OracleCbc<CryptoPP::Serpent>(true, serpentKey, iv, plain);
        EXPECT_EQ(ToHex(CbcEncrypt<TVX_serpent>(key, bits, iv, plain)), ToHex(serpent));
        EXPECT_EQ(ToHex(CbcDecrypt<TVX_serpent>(key, bits, iv, serpent)), ToHex(plain));
    }
}

struct TPathOutput
{
    TBytes cbcDecrypted;
    TBytes ctr;
};

TPathOutput RunSerpent(const TBytes& key, std::uint32_t bits, const TBytes& data)
{
    TVX_serpent cipher;
    cipher.KeySetup(key, bits);
    TPathOutput result{TBytes(data.size()), TBytes(data.size())};
    cipher.CbcDecrypt(data, result.cbcDecrypted);
    cipher.Rewind();
    cipher.CipherMode = TVX_ciphermode::cmCTR;
    cipher.EncryptBuffer(data, result.ctr);
    return result;
}

// CBC decryption and CTR run through the multi-block path; every vector path this processor
// offers must give the portable path's bytes for groups of 8 and 16 and every remainder.
TEST(SerpentPaths, VectorPathsMatchThePortableOne)
{
    struct TSetting
    {
        TVX_serpent::TPath path;
        TCpuFeatureSet off;
    };
    std::vector<TSetting> paths;
    for (const TSetting& setting :
         {TSetting{TVX_serpent::TPath::Avx2, {TVXCpuFeature::Avx512}}, TSetting{TVX_serpent::TPath::Avx512, {}}}) {
        TCpuFeatureSetOff off(setting.off);
        if (TVX_serpent::ActivePath() == setting.path) {
            paths.push_back(setting);
        }
    }
    if (paths.empty()) {
        GTEST_SKIP() << "this processor has no vector path";
    }
    std::mt19937 rng(17);
    for (int round = 0; round < 6; ++round) {
        const std::uint32_t bits = round % 2 == 0 ? 128 : 64 + 32 * static_cast<std::uint32_t>(round);
        const TBytes key = RandomBytes(rng, 32);
        for (std::size_t size :
             {0, 1, 16, 17, 127, 128, 129, 255, 256, 271, 383, 400, 511, 512, 513, 1000, 8192, 8200}) {
            SCOPED_TRACE(testing::Message() << "bits " << bits << ", size " << size);
            const TBytes data = RandomBytes(rng, size);
            TPathOutput portable;
            {
                TVXCpuFeaturesOff off{TVXCpuFeature::Avx2};
                ASSERT_EQ(TVX_serpent::ActivePath(), TVX_serpent::TPath::Portable);
                portable = RunSerpent(key, bits, data);
            }
            for (const TSetting& setting : paths) {
                TCpuFeatureSetOff off(setting.off);
                ASSERT_EQ(TVX_serpent::ActivePath(), setting.path);
                SCOPED_TRACE(TVX_serpent::ActivePathName());
                const TPathOutput vector = RunSerpent(key, bits, data);
                EXPECT_EQ(ToHex(vector.cbcDecrypted), ToHex(portable.cbcDecrypted));
                EXPECT_EQ(ToHex(vector.ctr), ToHex(portable.ctr));
            }
        }
    }
}
} // namespace
