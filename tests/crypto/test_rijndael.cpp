// Rijndael beyond the shared contract: key padding, the agreement of the table code with every
// hardware path the processor offers, and an independent AES as oracle.
#include "crypto/VXmd5.h"
#include "crypto/VXrijndael.h"
#include "tests/support/CipherCalls.h"
#include "tests/support/CpuFeatures.h"
#include "tests/support/VectorFile.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <random>
#include <vector>

namespace {
using TPath = TVX_rijndael::TPath;

// Each path with the features switched off that keep the ciphers off every wider one; a path the
// processor lacks is left out.
struct TPathSetting
{
    TPath path;
    TCpuFeatureSet off;
};

std::vector<TPathSetting> AvailablePaths()
{
    const TPathSetting kSettings[] = {
        {TPath::Portable, {TVXCpuFeature::AesNi}},
        {TPath::AesNi, {TVXCpuFeature::Vaes}},
        {TPath::Vaes256, {TVXCpuFeature::Avx512}},
        {TPath::Vaes512, {}},
    };
    std::vector<TPathSetting> paths;
    for (const TPathSetting& setting : kSettings) {
        TCpuFeatureSetOff off(setting.off);
        if (TVX_rijndael::ActivePath() == setting.path) {
            paths.push_back(setting);
        }
    }
    return paths;
}

TEST(Rijndael, ShortKeysArePaddedWithZerosToTheNextStandardLength)
{
    std::mt19937 rng(11);
    const TBytes plain = RandomBytes(rng, 16);
    const TBytes key = RandomBytes(rng, 32);
    struct TCase
    {
        std::uint32_t bits;
        std::size_t paddedBytes;
        std::int32_t rounds;
    };
    for (const TCase& c : {TCase{64, 16, 10}, TCase{128, 16, 10}, TCase{160, 24, 12}, TCase{192, 24, 12},
                           TCase{200, 32, 14}, TCase{224, 32, 14}, TCase{256, 32, 14}}) {
        SCOPED_TRACE(c.bits);
        TBytes padded(c.paddedBytes, 0);
        std::copy_n(key.begin(), c.bits / 8, padded.begin());
        TVX_rijndael cipher;
        cipher.KeySetup(TBytes(key.begin(), key.begin() + c.bits / 8), c.bits);
        EXPECT_EQ(cipher.Rounds(), c.rounds);
        EXPECT_EQ(ToHex(EncryptBlocks<TVX_rijndael>(TBytes(key.begin(), key.begin() + c.bits / 8), c.bits, plain)),
                  ToHex(EncryptBlocks<TVX_rijndael>(padded, static_cast<std::uint32_t>(c.paddedBytes * 8), plain)));
    }
}

TEST(Rijndael, PartialKeyBytesAreIgnored)
{
    std::mt19937 rng(12);
    const TBytes plain = RandomBytes(rng, 16);
    TBytes key = RandomBytes(rng, 32);
    const TBytes whole = EncryptBlocks<TVX_rijndael>(key, 128, plain);
    key[16] ^= 0xFF; // the half byte of a 132-bit size
    EXPECT_EQ(ToHex(EncryptBlocks<TVX_rijndael>(key, 132, plain)), ToHex(whole));
    // A 4-bit key holds no whole byte: it is the all-zero AES-128 key.
    EXPECT_EQ(ToHex(EncryptBlocks<TVX_rijndael>(key, 4, plain)),
              ToHex(EncryptBlocks<TVX_rijndael>(TBytes(16, 0), 128, plain)));
}

TEST(Rijndael, WipeClearsTheRoundCount)
{
    TVX_rijndael cipher;
    EXPECT_EQ(cipher.Rounds(), 0);
    cipher.KeyFromPassword<TVX_md5>("secret");
    EXPECT_EQ(cipher.Rounds(), 10);
    cipher.Wipe();
    EXPECT_EQ(cipher.Rounds(), 0);
}

// Everything a path can be asked to do, over lengths around the widths of every path (1, 8, 16 and
// 32 blocks at once) with tails, in place and between buffers that are not aligned.
TBytes Workout(const TBytes& key, std::uint32_t bits, const TBytes& plain)
{
    TVX_rijndael cipher;
    cipher.KeySetup(key, bits);
    TBytes result;
    auto append = [&](const TBytes& part) { result.insert(result.end(), part.begin(), part.end()); };

    TBytes work = plain;
    cipher.CbcEncrypt(work, work);
    append(work);
    cipher.Rewind();
    cipher.CbcDecrypt(work, work);
    EXPECT_EQ(work, plain) << "CBC in place, " << plain.size() << " bytes";

    // Out of place, at odd offsets, and in two calls: the chain must carry over between them.
    TBytes src(plain.size() + 3);
    TBytes dst(plain.size() + 5);
    const std::span<std::uint8_t> in = std::span(src).subspan(3);
    const std::span<std::uint8_t> out = std::span(dst).subspan(1, plain.size());
    std::copy(plain.begin(), plain.end(), in.begin());
    const std::size_t split = plain.size() / 16 / 2 * 16;
    cipher.Rewind();
    cipher.CbcEncrypt(in.first(split), out.first(split));
    cipher.CbcEncrypt(in.subspan(split), out.subspan(split));
    EXPECT_EQ(ToHex(out.data(), out.size()), ToHex(result.data(), plain.size()));
    std::copy(out.begin(), out.end(), in.begin());
    cipher.Rewind();
    cipher.CbcDecrypt(in.first(split), out.first(split));
    cipher.CbcDecrypt(in.subspan(split), out.subspan(split));
    EXPECT_EQ(ToHex(out.data(), out.size()), ToHex(plain)) << "CBC out of place in two calls";

    for (auto mode : {TVX_ciphermode::cmCTR, TVX_ciphermode::cmCFBblock, TVX_ciphermode::cmOFB}) {
        cipher.CipherMode = mode;
        cipher.Rewind();
        work = plain;
        cipher.EncryptBuffer(work, work);
        append(work);
        cipher.Rewind();
        cipher.DecryptBuffer(work, work);
        EXPECT_EQ(work, plain) << "mode " << static_cast<int>(mode);
    }

    for (std::size_t i = 0; i + 16 <= plain.size(); i += 16) {
        TBytes block(plain.begin() + static_cast<std::ptrdiff_t>(i), plain.begin() + static_cast<std::ptrdiff_t>(i) + 16);
        cipher.EncryptBlock(block, block);
        append(block);
        cipher.DecryptBlock(block, block);
        append(block);
    }
    return result;
}

TEST(Rijndael, EveryPathGivesTheSameBytes)
{
    const std::vector<TPathSetting> paths = AvailablePaths();
    if (paths.size() < 2) {
        GTEST_SKIP() << "this processor has no AES instructions";
    }
    std::mt19937 rng(13);
    std::vector<std::size_t> lengths = {0, 1, 15, 16, 17, 33, 64, 100, 127, 128, 129, 255, 256, 257, 500,
                                        511, 512, 513, 528, 1023, 1024, 1041, 8192, 8192 + 7 * 16 + 9};
    for (int i = 0; i < 10; ++i) {
        lengths.push_back(rng() % 4096);
    }
    for (std::uint32_t bits : {128u, 192u, 256u, 160u}) {
        const TBytes key = RandomBytes(rng, bits / 8);
        for (std::size_t length : lengths) {
            SCOPED_TRACE(testing::Message() << bits << "-bit key, " << length << " bytes");
            const TBytes plain = RandomBytes(rng, length);
            TBytes reference;
            {
                TVXCpuFeaturesOff off{TVXCpuFeature::AesNi};
                ASSERT_EQ(TVX_rijndael::ActivePath(), TPath::Portable);
                reference = Workout(key, bits, plain);
            }
            for (const TPathSetting& setting : paths) {
                TCpuFeatureSetOff off(setting.off);
                ASSERT_EQ(TVX_rijndael::ActivePath(), setting.path);
                EXPECT_EQ(ToHex(Workout(key, bits, plain)), ToHex(reference))
                    << "path " << TVX_rijndael::ActivePathName();
            }
        }
    }
}

// The wide paths take a head of blocks to bring their stores to a cache line, whole passes, a pass
// of one register and a part of one to three blocks: every mix of those, by block counts around the
// pass widths and by where the buffers sit within a 64-byte line, in place and in two calls.
TEST(Rijndael, CbcDecryptionAgreesAtEveryLineOffset)
{
    const std::vector<TPathSetting> paths = AvailablePaths();
    if (paths.size() < 2) {
        GTEST_SKIP() << "this processor has no AES instructions";
    }
    std::mt19937 rng(16);
    TBytes inStore(71 * 16 + 128);
    TBytes outStore(71 * 16 + 128);
    auto lineStart = [](TBytes& store) {
        const auto address = reinterpret_cast<std::uintptr_t>(store.data());
        return store.data() + (64 - address % 64) % 64;
    };
    struct TOffsets
    {
        std::size_t in;
        std::size_t out;
    };
    const TOffsets kOffsets[] = {{0, 0}, {16, 16}, {32, 32}, {48, 48}, {16, 48}, {48, 0}, {8, 24}, {3, 16}};
    for (std::uint32_t bits : {128u, 256u}) {
        const TBytes key = RandomBytes(rng, bits / 8);
        const TBytes iv = RandomBytes(rng, 16);
        for (std::size_t blocks = 0; blocks <= 70; ++blocks) {
            const TBytes plain = RandomBytes(rng, blocks * 16);
            TBytes cipherText = plain;
            {
                TVXCpuFeaturesOff off{TVXCpuFeature::AesNi};
                TVX_rijndael reference;
                reference.KeySetup(key, bits, iv);
                reference.CbcEncrypt(cipherText, cipherText);
            }
            for (const TPathSetting& setting : paths) {
                TCpuFeatureSetOff off(setting.off);
                for (const TOffsets& offsets : kOffsets) {
                    SCOPED_TRACE(testing::Message() << "path " << TVX_rijndael::ActivePathName() << ", " << bits
                                                    << "-bit key, " << blocks << " blocks, offsets " << offsets.in
                                                    << "/" << offsets.out);
                    const std::span<std::uint8_t> in(lineStart(inStore) + offsets.in, plain.size());
                    const std::span<std::uint8_t> out(lineStart(outStore) + offsets.out, plain.size());
                    TVX_rijndael cipher;
                    cipher.KeySetup(key, bits, iv);
                    std::copy(cipherText.begin(), cipherText.end(), in.begin());
                    const std::size_t split = blocks / 3 * 16;
                    cipher.CbcDecrypt(in.first(split), out.first(split));
                    cipher.CbcDecrypt(in.subspan(split), out.subspan(split));
                    EXPECT_EQ(ToHex(out.data(), out.size()), ToHex(plain)) << "between buffers, in two calls";

                    cipher.Rewind();
                    std::copy(cipherText.begin(), cipherText.end(), out.begin());
                    cipher.CbcDecrypt(out, out);
                    EXPECT_EQ(ToHex(out.data(), out.size()), ToHex(plain)) << "in place";

                    cipher.Rewind();
                    std::copy(plain.begin(), plain.end(), in.begin());
                    cipher.CbcEncrypt(in, out);
                    EXPECT_EQ(ToHex(out.data(), out.size()), ToHex(cipherText)) << "encryption";
                }
            }
        }
    }
}

// OpenSSL's AES as an oracle for whole-block CBC (with an explicit IV) and for the counter mode,
// whose 128-bit big-endian counter must carry across all bytes.
TBytes OpenSslAes(const EVP_CIPHER* type, const TBytes& key, const TBytes& iv, const TBytes& in, bool encrypt)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    TBytes out(in.size() + 16);
    int len = 0;
    int total = 0;
    const bool ok = EVP_CipherInit_ex(ctx, type, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                    EVP_CipherUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(in.size())) == 1 &&
                    (total = len, EVP_CipherFinal_ex(ctx, out.data() + total, &len) == 1);
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_TRUE(ok) << "OpenSSL refused the operation";
    out.resize(static_cast<std::size_t>(total + len));
    return out;
}

TEST(Rijndael, AgreesWithOpenSsl)
{
    std::mt19937 rng(14);
    struct TKind
    {
        std::uint32_t bits;
        const EVP_CIPHER* (*cbc)();
        const EVP_CIPHER* (*ctr)();
    };
    for (const TPathSetting& setting : AvailablePaths()) {
        TCpuFeatureSetOff off(setting.off);
        for (const TKind& kind : {TKind{128, &EVP_aes_128_cbc, &EVP_aes_128_ctr},
                                  TKind{192, &EVP_aes_192_cbc, &EVP_aes_192_ctr},
                                  TKind{256, &EVP_aes_256_cbc, &EVP_aes_256_ctr}}) {
            for (std::size_t blocks : {1u, 7u, 8u, 31u, 32u, 33u, 100u, 600u}) {
                SCOPED_TRACE(testing::Message() << "path " << TVX_rijndael::ActivePathName() << ", " << kind.bits
                                                << "-bit key, " << blocks << " blocks");
                const TBytes key = RandomBytes(rng, kind.bits / 8);
                TBytes iv = RandomBytes(rng, 16);
                const TBytes plain = RandomBytes(rng, blocks * 16);
                TVX_rijndael cipher;
                cipher.KeySetup(key, kind.bits, iv);

                TBytes work = plain;
                cipher.CbcEncrypt(work, work);
                EXPECT_EQ(ToHex(work), ToHex(OpenSslAes(kind.cbc(), key, iv, plain, true)));
                const TBytes cbcCipher = work;
                cipher.Rewind();
                cipher.CbcDecrypt(work, work);
                EXPECT_EQ(ToHex(work), ToHex(OpenSslAes(kind.cbc(), key, iv, cbcCipher, false)));

                // Start a few blocks below the wrap of the whole 128-bit counter.
                std::fill(iv.begin(), iv.end(), 0xFF);
                iv[15] = 0xFD;
                cipher.LoadIV(iv);
                cipher.CipherMode = TVX_ciphermode::cmCTR;
                work = plain;
                cipher.EncryptBuffer(work, work);
                EXPECT_EQ(ToHex(work), ToHex(OpenSslAes(kind.ctr(), key, iv, plain, true)));
            }
        }
    }
}

// The program's own shape: a key from a password, then CBC with the stream tail; checked against
// OpenSSL for the whole blocks and for the tail's key stream E(last cipher block).
TEST(Rijndael, PasswordFileMatchesOpenSslBlocksAndTail)
{
    const std::string password = "correct horse";
    TVX_md5 md5;
    std::array<std::uint8_t, 16> digest{};
    md5.Start();
    md5.FeedText(password);
    md5.Finish(digest);
    const TBytes key(digest.begin(), digest.end());

    std::mt19937 rng(15);
    const TBytes plain = RandomBytes(rng, 3 * 16 + 5);
    TVX_rijndael cipher;
    cipher.KeyFromPassword<TVX_md5>(password);
    TBytes work = plain;
    cipher.EncryptBuffer(work, work);

    const TBytes iv = OpenSslAes(EVP_aes_128_ecb(), key, TBytes(16), TBytes(16, 0), true);
    const TBytes blocks = OpenSslAes(EVP_aes_128_cbc(), key, iv, TBytes(plain.begin(), plain.begin() + 48), true);
    const TBytes stream = OpenSslAes(EVP_aes_128_ecb(), key, TBytes(16), TBytes(blocks.end() - 16, blocks.end()), true);
    TBytes expected = blocks;
    for (std::size_t i = 0; i < 5; ++i) {
        expected.push_back(static_cast<std::uint8_t>(plain[48 + i] ^ stream[i]));
    }
    EXPECT_EQ(ToHex(work), ToHex(expected));
}
} // namespace
