// The feedback modes OFB and CFB (whole-block feedback) against OpenSSL's, for a 64-bit and a
// 128-bit cipher: with an explicit IV, whole blocks fed over several calls and a short tail at the
// end are exactly the textbook modes, so any independent implementation gives the same bytes.
#include "crypto/VXblowfish.h"
#include "crypto/VXrijndael.h"
#include "tests/support/Bytes.h"
#include "tests/support/VectorFile.h"

#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <random>

namespace {
TBytes OpenSslStream(const EVP_CIPHER* type, const TBytes& key, const TBytes& iv, const TBytes& in, bool encrypt)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    TBytes out(in.size() + 32);
    int len = 0;
    if (type == nullptr || EVP_CipherInit_ex(ctx.get(), type, nullptr, nullptr, nullptr, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1 ||
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &len, in.data(), static_cast<int>(in.size())) != 1) {
        ADD_FAILURE() << "OpenSSL refused the cipher";
        return {};
    }
    out.resize(static_cast<std::size_t>(len));
    return out;
}

struct TModeCase
{
    TVX_ciphermode mode;
    const EVP_CIPHER* (*openssl)();
};

// Runs `in` through a freshly keyed cipher in `mode`: whole blocks in calls of 1, 2 and 3 blocks
// in turn, so the chain carries across calls, then whatever is left in one last call.
template <class TCipher>
TBytes OursInPieces(TVX_ciphermode mode, const TBytes& key, const TBytes& iv, const TBytes& in, bool encrypt)
{
    constexpr std::size_t n = TCipher::kBlockBytes;
    TCipher cipher;
    cipher.KeySetup(key, static_cast<std::uint32_t>(key.size() * 8), iv);
    cipher.CipherMode = mode;
    TBytes out(in.size());
    std::size_t done = 0;
    for (std::size_t blocks = 1; in.size() - done >= blocks * n; blocks = blocks % 3 + 1) {
        const auto from = std::span(in).subspan(done, blocks * n);
        const auto to = std::span(out).subspan(done, blocks * n);
        encrypt ? cipher.EncryptBuffer(from, to) : cipher.DecryptBuffer(from, to);
        done += blocks * n;
    }
    if (done < in.size()) {
        encrypt ? cipher.EncryptBuffer(std::span(in).subspan(done), std::span(out).subspan(done))
                : cipher.DecryptBuffer(std::span(in).subspan(done), std::span(out).subspan(done));
    }
    return out;
}

template <class TCipher> void CheckAgainstOpenSsl(const TModeCase& c, std::size_t keyBytes, unsigned seed)
{
    constexpr std::size_t n = TCipher::kBlockBytes;
    std::mt19937 rng(seed);
    for (std::size_t size : {n, 2 * n, 6 * n, 6 * n + 1, 13 * n + n - 1, std::size_t{1000}}) {
        SCOPED_TRACE(size);
        const TBytes key = RandomBytes(rng, keyBytes);
        const TBytes iv = RandomBytes(rng, n);
        const TBytes plain = RandomBytes(rng, size);
        const TBytes expected = OpenSslStream(c.openssl(), key, iv, plain, true);
        const TBytes encrypted = OursInPieces<TCipher>(c.mode, key, iv, plain, true);
        EXPECT_EQ(ToHex(encrypted), ToHex(expected));
        EXPECT_EQ(ToHex(OursInPieces<TCipher>(c.mode, key, iv, expected, false)), ToHex(plain));
        EXPECT_EQ(ToHex(OpenSslStream(c.openssl(), key, iv, encrypted, false)), ToHex(plain));
    }
}

TEST(FeedbackModes, OfbMatchesOpenSsl)
{
    CheckAgainstOpenSsl<TVX_blowfish>({TVX_ciphermode::cmOFB, &EVP_bf_ofb}, 16, 1);
    CheckAgainstOpenSsl<TVX_rijndael>({TVX_ciphermode::cmOFB, &EVP_aes_128_ofb}, 16, 2);
    CheckAgainstOpenSsl<TVX_rijndael>({TVX_ciphermode::cmOFB, &EVP_aes_256_ofb}, 32, 3);
}

TEST(FeedbackModes, CfbBlockMatchesOpenSslFullBlockCfb)
{
    CheckAgainstOpenSsl<TVX_blowfish>({TVX_ciphermode::cmCFBblock, &EVP_bf_cfb64}, 16, 4);
    CheckAgainstOpenSsl<TVX_rijndael>({TVX_ciphermode::cmCFBblock, &EVP_aes_128_cfb128}, 16, 5);
    CheckAgainstOpenSsl<TVX_rijndael>({TVX_ciphermode::cmCFBblock, &EVP_aes_256_cfb128}, 32, 6);
}
} // namespace
