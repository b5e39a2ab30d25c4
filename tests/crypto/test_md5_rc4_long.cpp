// MD5 and RC4 over long and oddly placed inputs, against OpenSSL: the published vectors are all
// shorter than two MD5 blocks and than one RC4 unrolled stretch, so they never reach the
// many-blocks-per-call loop nor the word-at-a-time key stream.
#include "crypto/VXmd5.h"
#include "crypto/VXrc4.h"
#include "tests/support/Bytes.h"
#include "tests/support/VectorFile.h"

#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <random>

namespace {
TBytes OpenSslMd5(std::span<const std::uint8_t> data)
{
    TBytes digest(16);
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_md5(), nullptr), 1);
    return digest;
}

// Fed in pieces of random size taken from a buffer at every offset modulo 8, so whole blocks
// are read from misaligned addresses, and both through the block buffer and straight from the
// caller's bytes.
TEST(Md5Long, ManyBlocksPerFeedMatchOpenSsl)
{
    std::mt19937 rng(1321);
    std::vector<std::size_t> sizes = {64, 127, 128, 129, 640, 8191, 8192, 8193, 64 * 129 + 55, 100000};
    for (int n = 0; n < 40; ++n) {
        sizes.push_back(std::uniform_int_distribution<std::size_t>(0, 20000)(rng));
    }
    TVX_md5 hash;
    for (std::size_t size : sizes) {
        const std::size_t offset = size % 8;
        const TBytes buffer = RandomBytes(rng, size + offset);
        const auto message = std::span(buffer).subspan(offset);
        const TBytes expected = OpenSslMd5(message);
        SCOPED_TRACE(size);

        TBytes whole(16);
        hash.Start();
        hash.Feed(message);
        hash.Finish(whole);
        EXPECT_EQ(ToHex(whole), ToHex(expected));

        TBytes pieces(16);
        hash.Start();
        for (std::size_t done = 0; done < size;) {
            const std::size_t take = std::min(size - done, std::uniform_int_distribution<std::size_t>(0, 300)(rng));
            hash.Feed(message.subspan(done, take));
            done += take;
        }
        hash.Finish(pieces);
        EXPECT_EQ(ToHex(pieces), ToHex(expected));
    }
}

// One buffer call on a fresh key is the standard key stream (the indices restart only at the next
// call), so OpenSSL's RC4 checks the word-at-a-time loop over long runs, every leftover count and
// misaligned buffers.
TEST(Rc4Long, OneCallIsOpenSslsKeyStream)
{
    std::mt19937 rng(6229);
    std::vector<std::size_t> sizes = {8, 9, 15, 16, 17, 255, 256, 257, 8191, 8192, 8193, 65536 + 5};
    for (int n = 0; n < 20; ++n) {
        sizes.push_back(std::uniform_int_distribution<std::size_t>(0, 30000)(rng));
    }
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        const TBytes key = RandomBytes(rng, 16);
        const std::size_t offset = (size + 3) % 8;
        TBytes buffer = RandomBytes(rng, size + offset);
        const auto plain = std::span(buffer).subspan(offset);

        std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                            &EVP_CIPHER_CTX_free);
        TBytes expected(size + 16);
        int length = 0;
        ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_rc4(), nullptr, key.data(), nullptr), 1);
        ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), expected.data(), &length, plain.data(), static_cast<int>(size)), 1);
        expected.resize(static_cast<std::size_t>(length));

        TVX_rc4 cipher;
        cipher.KeySetup(key, 128);
        cipher.EncryptBuffer(plain, plain);
        EXPECT_EQ(ToHex(TBytes(plain.begin(), plain.end())), ToHex(expected));
    }
}
} // namespace
