// Edge cases of the 64-bit block ciphers beyond the shared contract: key padding and cutting, the
// triple-DES key forms, RC2's fixed effective length, and every table checked against independent
// libraries with many random keys (the vector files alone touch only part of each table).
#include "crypto/VXdes.h"
#include "crypto/VXice.h"
#include "crypto/VXmd5.h"
#include "crypto/VXmisty1.h"
#include "crypto/VXrc2.h"
#include "crypto/VXtea.h"
#include "tests/support/CipherCalls.h"
#include "tests/support/VectorFile.h"

#include <algorithm>
#include <array>
#include <botan/block_cipher.h>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <random>
#include <vector>

namespace {
using TBlock = std::array<std::uint8_t, 8>;

TBytes Concat(std::initializer_list<TBytes> parts)
{
    TBytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// ECB through OpenSSL; RC2 gets the effective key length in bits.
TBytes OpenSslEcb(const EVP_CIPHER* type, const TBytes& key, const TBytes& plain, int rc2Bits = 0)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    TBytes out(plain.size() + 16);
    int len = 0;
    if (EVP_EncryptInit_ex(ctx.get(), type, nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1 ||
        (rc2Bits != 0 && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_SET_RC2_KEY_BITS, rc2Bits, nullptr) != 1) ||
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_EncryptUpdate(ctx.get(), out.data(), &len, plain.data(), static_cast<int>(plain.size())) != 1) {
        ADD_FAILURE() << "OpenSSL refused the cipher";
        return {};
    }
    out.resize(static_cast<std::size_t>(len));
    return out;
}

// The multi-block paths take blocks in groups of two to four; every count up to a few groups must
// give what single blocks give (CBC decryption and CTR run through them).
template <class TCipher>
void CheckBlockCounts()
{
    std::mt19937 rng(13);
    const TBytes key = RandomBytes(rng, 16);
    const auto bits = std::min<std::uint32_t>(128, TCipher::kMaxKeySize);
    for (std::size_t n = 1; n <= 13; ++n) {
        SCOPED_TRACE(n);
        const TBytes plain = RandomBytes(rng, 8 * n);
        TCipher cipher;
        cipher.KeySetup(key, bits);
        TBlock chain{};
        cipher.ReadChain(chain);
        TBytes cbc(plain.size());
        TBytes ctr(plain.size());
        TBlock counter = chain;
        for (std::size_t i = 0; i < plain.size(); i += 8) {
            for (std::size_t k = 0; k < 8; ++k) {
                chain[k] ^= plain[i + k];
            }
            cipher.EncryptBlock(chain, chain);
            std::copy(chain.begin(), chain.end(), cbc.begin() + static_cast<std::ptrdiff_t>(i));
            TBlock stream{};
            cipher.EncryptBlock(counter, stream);
            for (std::size_t k = 0; k < 8; ++k) {
                ctr[i + k] = plain[i + k] ^ stream[k];
            }
            for (std::size_t k = 8; k-- > 0;) {
                if (++counter[k] != 0) {
                    break;
                }
            }
        }
        TBytes work = cbc;
        cipher.Rewind();
        cipher.CbcDecrypt(work, work);
        EXPECT_EQ(ToHex(work), ToHex(plain));
        work = plain;
        cipher.Rewind();
        cipher.CtrEncrypt(work, work);
        EXPECT_EQ(ToHex(work), ToHex(ctr));
    }
}

TEST(Ciphers64, MultiBlockPathsAgreeWithSingleBlocksForEveryCount)
{
    CheckBlockCounts<TVX_3des>();
    CheckBlockCounts<TVX_ice>();
    CheckBlockCounts<TVX_misty1>();
    CheckBlockCounts<TVX_rc2>();
    CheckBlockCounts<TVX_tea>();
}

// ---- Triple DES

TEST(TripleDes, AgreesWithOpenSslForTwoAndThreeKeys)
{
    std::mt19937 rng(1);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        const TBytes key = RandomBytes(rng, 24);
        const TBytes plain = RandomBytes(rng, 64);
        const TBytes k2(key.begin(), key.begin() + 16);
        EXPECT_EQ(ToHex(EncryptBlocks<TVX_3des>(key, 192, plain)), ToHex(OpenSslEcb(EVP_des_ede3_ecb(), key, plain)));
        EXPECT_EQ(ToHex(EncryptBlocks<TVX_3des>(k2, 128, plain)), ToHex(OpenSslEcb(EVP_des_ede_ecb(), k2, plain)));
        EXPECT_EQ(ToHex(DecryptBlocks<TVX_3des>(key, 192, EncryptBlocks<TVX_3des>(key, 192, plain))), ToHex(plain));
    }
}

TEST(TripleDes, ShortKeysArePaddedWithZeroBytes)
{
    std::mt19937 rng(2);
    const TBytes k1 = RandomBytes(rng, 8), k2 = RandomBytes(rng, 8), k3 = RandomBytes(rng, 8);
    const TBytes zero(8, 0);
    const TBytes plain = RandomBytes(rng, 32);
    // Two-key triple DES: K3 is K1.
    EXPECT_EQ(EncryptBlocks<TVX_3des>(Concat({k1, k2}), 128, plain),
              EncryptBlocks<TVX_3des>(Concat({k1, k2, k1}), 192, plain));
    // A 64-bit key is K1, zeros, K1 - not single DES (which is K1, K1, K1).
    EXPECT_EQ(EncryptBlocks<TVX_3des>(k1, 64, plain), EncryptBlocks<TVX_3des>(Concat({k1, zero, k1}), 192, plain));
    EXPECT_NE(EncryptBlocks<TVX_3des>(k1, 64, plain), EncryptBlocks<TVX_3des>(Concat({k1, k1, k1}), 192, plain));
    // Past 128 bits K3 comes from the zero-padded buffer, not from K1.
    EXPECT_EQ(EncryptBlocks<TVX_3des>(Concat({k1, k2, k3}), 160, plain),
              EncryptBlocks<TVX_3des>(Concat({k1, k2, TBytes(k3.begin(), k3.begin() + 4), TBytes(4, 0)}), 192, plain));
    EXPECT_EQ(EncryptBlocks<TVX_3des>(Concat({k1, k2, k3}), 132, plain),
              EncryptBlocks<TVX_3des>(Concat({k1, k2, zero}), 192, plain));
    // Three independent keys.
    EXPECT_NE(EncryptBlocks<TVX_3des>(Concat({k1, k2, k3}), 192, plain),
              EncryptBlocks<TVX_3des>(Concat({k1, k2, k1}), 192, plain));
}

// The single-DES machinery the triple is built on, reached through a derived name.
struct TDesProbe : TVX_customdes
{
    using TVX_customdes::DesDecrypt;
    using TVX_customdes::DesEncrypt;
    using TVX_customdes::DesSchedule;
};

TEST(TripleDes, SingleDesMachineryAgreesWithTheTripleOfOneKey)
{
    std::mt19937 rng(12);
    for (int i = 0; i < 50; ++i) {
        const TBytes key = RandomBytes(rng, 8);
        const TBytes plain = RandomBytes(rng, 8);
        TVX_customdes::TSchedule schedule{};
        TDesProbe::DesSchedule(key.data(), schedule);
        TBytes single(8), back(8);
        TDesProbe::DesEncrypt(schedule, plain.data(), single.data());
        TDesProbe::DesDecrypt(schedule, single.data(), back.data());
        EXPECT_EQ(single, EncryptBlocks<TVX_3des>(Concat({key, key, key}), 192, plain));
        EXPECT_EQ(back, plain);
    }
}

TEST(TripleDes, ParityBitsAreIgnored)
{
    std::mt19937 rng(3);
    const TBytes key = RandomBytes(rng, 24);
    TBytes flipped = key;
    for (auto& b : flipped) {
        b ^= 1;
    }
    const TBytes plain = RandomBytes(rng, 16);
    EXPECT_EQ(EncryptBlocks<TVX_3des>(key, 192, plain), EncryptBlocks<TVX_3des>(flipped, 192, plain));
}

// ---- RC2

TEST(Rc2, AgreesWithOpenSslAtEffectiveLength1024ForEveryKeyLength)
{
    std::mt19937 rng(4);
    for (std::size_t n = 1; n <= 128; ++n) {
        SCOPED_TRACE(n);
        const TBytes key = RandomBytes(rng, n);
        const TBytes plain = RandomBytes(rng, 32);
        const auto bits = static_cast<std::uint32_t>(8 * n);
        EXPECT_EQ(ToHex(EncryptBlocks<TVX_rc2>(key, bits, plain)), ToHex(OpenSslEcb(EVP_rc2_ecb(), key, plain, 1024)));
        EXPECT_EQ(ToHex(DecryptBlocks<TVX_rc2>(key, bits, EncryptBlocks<TVX_rc2>(key, bits, plain))), ToHex(plain));
    }
}

TEST(Rc2, EffectiveLengthDoesNotFollowTheKeyLength)
{
    const TBytes key = FromHex("88bca90e90875a7f0f79c384627bafb2");
    const TBytes plain(8, 0);
    EXPECT_NE(ToHex(EncryptBlocks<TVX_rc2>(key, 128, plain)), ToHex(OpenSslEcb(EVP_rc2_ecb(), key, plain, 128)));
}

TEST(Rc2, KeyWithoutAWholeByteIsRefused)
{
    TVX_rc2 cipher;
    const TBytes key(16, 0x11);
    try {
        cipher.KeySetup(key, 4);
        FAIL() << "a 4-bit key was accepted";
    } catch (const EVX_cipher& e) {
        EXPECT_STREQ(e.what(), "Invalid key size");
    }
    EXPECT_FALSE(cipher.IsReady());
    // A refused key leaves a previously keyed cipher unkeyed, not half-keyed.
    cipher.KeySetup(key, 128);
    EXPECT_THROW(cipher.KeySetup(key, 4), EVX_cipher);
    EXPECT_FALSE(cipher.IsReady());
}

TEST(Rc2, PartialKeyByteIsIgnored)
{
    std::mt19937 rng(5);
    const TBytes key = RandomBytes(rng, 16);
    const TBytes plain = RandomBytes(rng, 8);
    EXPECT_EQ(EncryptBlocks<TVX_rc2>(key, 124, plain),
              EncryptBlocks<TVX_rc2>(TBytes(key.begin(), key.begin() + 15), 120, plain));
}

// ---- MISTY1

TEST(Misty1, AgreesWithBotan)
{
    auto botan = Botan::BlockCipher::create_or_throw("MISTY1");
    std::mt19937 rng(6);
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE(i);
        const TBytes key = RandomBytes(rng, 16);
        const TBytes plain = RandomBytes(rng, 64);
        TBytes expected = plain;
        botan->set_key(key.data(), key.size());
        botan->encrypt_n(expected.data(), expected.data(), expected.size() / 8);
        EXPECT_EQ(ToHex(EncryptBlocks<TVX_misty1>(key, 128, plain)), ToHex(expected));
        EXPECT_EQ(ToHex(DecryptBlocks<TVX_misty1>(key, 128, expected)), ToHex(plain));
    }
}

TEST(Misty1, ShortKeysArePaddedWithZeroBytes)
{
    std::mt19937 rng(7);
    const TBytes key = RandomBytes(rng, 16);
    const TBytes plain = RandomBytes(rng, 16);
    TBytes padded = key;
    std::fill(padded.begin() + 5, padded.end(), 0);
    EXPECT_EQ(EncryptBlocks<TVX_misty1>(key, 40, plain), EncryptBlocks<TVX_misty1>(padded, 128, plain));
    EXPECT_EQ(EncryptBlocks<TVX_misty1>(key, 44, plain), EncryptBlocks<TVX_misty1>(padded, 128, plain));
    EXPECT_EQ(EncryptBlocks<TVX_misty1>(key, 4, plain), EncryptBlocks<TVX_misty1>(TBytes(16, 0), 128, plain));
}

// ---- ICE

TEST(Ice, PasswordKeyUsesTheFirstEightDigestBytesOnly)
{
    TVX_md5 md5;
    TBytes digest(16);
    md5.Start();
    md5.FeedText("secret");
    md5.Finish(digest);

    TVX_ice fromPassword;
    fromPassword.KeyFromPassword<TVX_md5>("secret");
    TBlock ivPassword{};
    fromPassword.ReadChain(ivPassword);

    TVX_ice fromKey;
    TBytes changedTail = digest;
    std::fill(changedTail.begin() + 8, changedTail.end(), 0xA5);
    fromKey.KeySetup(changedTail, 64);
    TBlock ivKey{};
    fromKey.ReadChain(ivKey);
    EXPECT_EQ(ivPassword, ivKey);
}

TEST(Ice, ShortKeysArePaddedWithZeroBytes)
{
    std::mt19937 rng(8);
    const TBytes key = RandomBytes(rng, 8);
    const TBytes plain = RandomBytes(rng, 16);
    TBytes padded = key;
    std::fill(padded.begin() + 3, padded.end(), 0);
    EXPECT_EQ(EncryptBlocks<TVX_ice>(key, 24, plain), EncryptBlocks<TVX_ice>(padded, 64, plain));
    EXPECT_EQ(EncryptBlocks<TVX_ice>(key, 28, plain), EncryptBlocks<TVX_ice>(padded, 64, plain));
}

TEST(Ice, InstancesShareTheirTablesButNotTheirKeys)
{
    std::mt19937 rng(9);
    const TBytes k1 = RandomBytes(rng, 8), k2 = RandomBytes(rng, 8);
    const TBytes plain = RandomBytes(rng, 8);
    TVX_ice a, b;
    a.KeySetup(k1, 64);
    b.KeySetup(k2, 64);
    TBlock outA{}, outB{};
    a.EncryptBlock(plain, outA);
    b.EncryptBlock(plain, outB);
    EXPECT_NE(outA, outB);
    EXPECT_EQ(ToHex(outA), ToHex(EncryptBlocks<TVX_ice>(k1, 64, plain)));
    b.Wipe();
    a.EncryptBlock(plain, outB);
    EXPECT_EQ(outA, outB);
}

// ---- TEA variant

// The round as stated, coded here independently of the class.
TBlock TeaByFormula(const TBytes& key16, const TBlock& plain)
{
    auto be = [](const std::uint8_t* p) {
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
    };
    const std::uint32_t k0 = be(&key16[0]), k1 = be(&key16[4]), k2 = be(&key16[8]), k3 = be(&key16[12]);
    std::uint32_t y = be(&plain[0]), z = be(&plain[4]), sum = 0;
    for (int i = 0; i < 32; ++i) {
        sum += 0x9E3779B9u;
        y += (z << 4) + (z ^ k0) + ((z >> 5) ^ sum) + k1;
        z += (y << 4) + (y ^ k2) + ((y >> 5) ^ sum) + k3;
    }
    TBlock out{};
    for (int i = 0; i < 4; ++i) {
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(y >> (24 - 8 * i));
        out[static_cast<std::size_t>(4 + i)] = static_cast<std::uint8_t>(z >> (24 - 8 * i));
    }
    return out;
}

TEST(Tea, MatchesTheRoundFormulaAndInverts)
{
    std::mt19937 rng(10);
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE(i);
        const TBytes key = RandomBytes(rng, 16);
        TBlock plain{};
        for (auto& b : plain) {
            b = static_cast<std::uint8_t>(rng());
        }
        const TBytes cipherText = EncryptBlocks<TVX_tea>(key, 128, TBytes(plain.begin(), plain.end()));
        EXPECT_EQ(ToHex(cipherText), ToHex(TeaByFormula(key, plain)));
        EXPECT_EQ(ToHex(DecryptBlocks<TVX_tea>(key, 128, cipherText)), ToHex(plain));
    }
}

TEST(Tea, IsNotPublishedTea)
{
    // Published TEA with the zero key on the zero block gives 41ea3a0a94baa940.
    const TBytes zero(16, 0);
    EXPECT_NE(ToHex(EncryptBlocks<TVX_tea>(zero, 128, TBytes(8, 0))), "41ea3a0a94baa940");
}

TEST(Tea, ShortKeysArePaddedWithZeroBytes)
{
    std::mt19937 rng(11);
    const TBytes key = RandomBytes(rng, 16);
    TBytes padded = key;
    std::fill(padded.begin() + 6, padded.end(), 0);
    TBlock plain{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ToHex(EncryptBlocks<TVX_tea>(key, 48, TBytes(plain.begin(), plain.end()))),
              ToHex(TeaByFormula(padded, plain)));
    EXPECT_EQ(ToHex(EncryptBlocks<TVX_tea>(key, 52, TBytes(plain.begin(), plain.end()))),
              ToHex(TeaByFormula(padded, plain)));
}
} // namespace
