// The framework's own rules, with Blowfish as the cipher: stream pieces and progress, the CBC tail,
// the counter, keying from a password, key sizes, MD5 and the text operations.
#include "crypto/VXbase64.h"
#include "crypto/VXblowfish.h"
#include "crypto/VXmd5.h"
#include "crypto/VXmemstream.h"
#include "tests/support/Bytes.h"
#include "tests/support/VectorFile.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TBytes Md5(std::string_view text)
{
    TVX_md5 hash;
    TBytes digest(16);
    hash.Start();
    hash.FeedText(text);
    hash.Finish(digest);
    return digest;
}

// Hands out at most `step` bytes per read, like a pipe.
class TTrickleReader final : public TVX_readstream
{
public:
    TTrickleReader(std::span<const std::uint8_t> data, std::size_t step) : m_inner(data), m_step(step) {}
    std::size_t Read(std::span<std::uint8_t> buffer) override
    {
        ++reads;
        return m_inner.Read(buffer.first(std::min(buffer.size(), m_step)));
    }
    int reads = 0;

private:
    TVX_memoryreader m_inner;
    std::size_t m_step;
};

struct TProgressLog
{
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
    TOnProgessEvent Handler()
    {
        return [this](const void* sender, std::int64_t done, std::int64_t total) {
            EXPECT_EQ(sender, nullptr);
            calls.emplace_back(done, total);
        };
    }
};

TEST(StreamOperations, PiecesAndProgressCounts)
{
    TVX_blowfish cipher;
    cipher.KeyFromPassword<TVX_md5>("pieces");
    const TBytes data = RandomBytes(3 * 8192, 1);
    using TCalls = std::vector<std::pair<std::int64_t, std::int64_t>>;
    struct TCase
    {
        std::uint64_t size;
        std::uint64_t available;
        TCalls expected;
    };
    const TCase cases[] = {
        {0, 100, {}},
        {8192, 8192, {{8192, 8192}}},
        {8193, 8193, {{8192, 8193}, {8193, 8193}}},
        // Asked for more than the source holds: the count says what was read and the last
        // pieces repeat it.
        {3 * 8192 + 5, 8192 + 10, {{8192, 24581}, {8202, 24581}, {8202, 24581}, {8202, 24581}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.size);
        TProgressLog log;
        cipher.OnProgress = log.Handler();
        cipher.Rewind();
        TVX_memoryreader reader{std::span(data).first(c.available)};
        TVX_memorywriter writer;
        const std::uint64_t count = cipher.StreamEncrypt(reader, writer, c.size);
        EXPECT_EQ(count, std::min(c.size, c.available));
        EXPECT_EQ(writer.Data().size(), count);
        EXPECT_EQ(log.calls, c.expected);
    }
}

TEST(StreamOperations, WholeStreamEqualsOneBufferCallAndShortReadsKeepPieceBoundaries)
{
    TVX_blowfish cipher;
    cipher.KeyFromPassword<TVX_md5>("stream");
    const TBytes plain = RandomBytes(5 * 8192 + 3, 2);
    TBytes whole = plain;
    cipher.EncryptBuffer(whole, whole);

    cipher.Rewind();
    TVX_memoryreader reader(plain);
    TVX_memorywriter streamed;
    cipher.StreamEncrypt(reader, streamed, plain.size());
    EXPECT_EQ(streamed.Data(), whole);

    // A source that returns short reads (a pipe) must still be cut at the 8192-byte boundaries;
    // otherwise a CBC tail would land mid-stream and the data could not be decrypted in pieces.
    cipher.Rewind();
    TTrickleReader trickle(plain, 1000);
    TVX_memorywriter trickled;
    cipher.StreamEncrypt(trickle, trickled, plain.size());
    EXPECT_EQ(trickled.Data(), whole);
    EXPECT_GT(trickle.reads, 6);

    // Decrypting in pieces of whole blocks (but the last) gives the plaintext back.
    cipher.Rewind();
    TBytes back = whole;
    for (std::size_t at = 0; at < back.size(); at += 24) {
        const std::size_t n = std::min<std::size_t>(24, back.size() - at);
        cipher.DecryptBuffer(std::span(back).subspan(at, n), std::span(back).subspan(at, n));
    }
    EXPECT_EQ(back, plain);
}

// A destination that lends room for some pieces and not for others.
class TPickyWriter final : public TVX_writestream
{
public:
    void Write(std::span<const std::uint8_t> data) override { out.insert(out.end(), data.begin(), data.end()); }
    std::span<std::uint8_t> Reserve(std::size_t size) override
    {
        if (++calls % 3 == 0) {
            return {};
        }
        room.assign(size, 0xEE);
        return room;
    }
    void Commit(std::size_t size) override { out.insert(out.end(), room.begin(), room.begin() + size); }

    TBytes out;
    TBytes room;
    int calls = 0;
};

TEST(StreamOperations, LentAndCopiedPiecesGiveTheSameBytes)
{
    const TBytes plain = RandomBytes(7 * 8192 + 100, 8);
    for (bool encrypt : {true, false}) {
        TVX_blowfish cipher;
        cipher.KeyFromPassword<TVX_md5>("lend");
        TTrickleReader copying(plain, 5000);
        TVX_memorywriter copied;
        TProgressLog copiedLog;
        cipher.OnProgress = copiedLog.Handler();
        const std::uint64_t size = plain.size() + 9000; // asks past the end
        encrypt ? cipher.StreamEncrypt(copying, copied, size) : cipher.StreamDecrypt(copying, copied, size);

        cipher.Rewind();
        TVX_memoryreader lending(plain);
        TPickyWriter picky;
        TProgressLog lentLog;
        cipher.OnProgress = lentLog.Handler();
        encrypt ? cipher.StreamEncrypt(lending, picky, size) : cipher.StreamDecrypt(lending, picky, size);
        EXPECT_EQ(picky.out, copied.Data());
        EXPECT_EQ(lentLog.calls, copiedLog.calls);
        EXPECT_GT(picky.calls, 3);
    }
}

TEST(ChainingRules, ShortAndTailMessagesUseTheEncryptedChain)
{
    TVX_blowfish cipher;
    cipher.KeyFromPassword<TVX_md5>("tail");
    const TBytes key = Md5("tail");
    TVX_blowfish reference;
    reference.KeySetup(key, 128);
    TBytes iv(8, 0);
    reference.EncryptBlock(iv, iv); // C0 = E(0)

    // Five bytes: the plaintext XOR E(C0).
    TBytes t = iv;
    reference.EncryptBlock(t, t);
    const TBytes five = RandomBytes(5, 3);
    TBytes out = five;
    cipher.EncryptBuffer(out, out);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(out[i], five[i] ^ t[i]);
    }

    // One block has no tail; one block and a byte XORs the byte with E(C1).
    const TBytes nine = RandomBytes(9, 4);
    cipher.Rewind();
    out = nine;
    cipher.EncryptBuffer(out, out);
    TBytes c1(8);
    for (std::size_t i = 0; i < 8; ++i) {
        c1[i] = nine[i] ^ iv[i];
    }
    reference.EncryptBlock(c1, c1);
    EXPECT_EQ(TBytes(out.begin(), out.begin() + 8), c1);
    TBytes after = c1;
    reference.EncryptBlock(after, after);
    EXPECT_EQ(out[8], nine[8] ^ after[0]);

    // The chain after whole blocks is the last cipher block; after the tail, E(last).
    cipher.Rewind();
    TBytes chain(8);
    cipher.ReadChain(chain);
    EXPECT_EQ(chain, iv);
    TBytes block(nine.begin(), nine.begin() + 8);
    cipher.CbcEncrypt(block, block);
    cipher.ReadChain(chain);
    EXPECT_EQ(chain, c1);
    TBytes empty;
    cipher.CbcEncrypt(empty, empty);
    cipher.ReadChain(chain);
    EXPECT_EQ(chain, c1) << "a zero-length call moved the chain";
}

TEST(ChainingRules, CounterWrapsAndCfb8ShiftsInCipherText)
{
    TVX_blowfish cipher;
    cipher.KeySetup(Md5("ctr"), 128);
    const TBytes ones(8, 0xFF);
    cipher.LoadIV(ones);
    TBytes data(8, 0);
    cipher.CtrEncrypt(data, data);
    TBytes chain(8);
    cipher.ReadChain(chain);
    EXPECT_EQ(chain, TBytes(8, 0));
    TBytes k = ones;
    cipher.EncryptBlock(k, k);
    EXPECT_EQ(data, k);

    // CFB-8: each byte uses E(CV)[0] and shifts the cipher-text byte into CV.
    cipher.Rewind();
    const TBytes plain = RandomBytes(3, 5);
    TBytes out = plain;
    cipher.Cfb8Encrypt(out, out);
    TBytes cv = ones;
    for (std::size_t i = 0; i < 3; ++i) {
        TBytes e = cv;
        cipher.EncryptBlock(e, e);
        EXPECT_EQ(out[i], plain[i] ^ e[0]);
        cv.erase(cv.begin());
        cv.push_back(out[i]);
    }
    cipher.ReadChain(chain);
    EXPECT_EQ(chain, cv);
}

TEST(Keying, PasswordKeysTheDigestAndRestartsTheChain)
{
    // The empty password's IV is a published value (blowfish.txt).
    TVX_blowfish cipher;
    cipher.KeyFromPassword<TVX_md5>("");
    TBytes chain(8);
    cipher.ReadChain(chain);
    EXPECT_EQ(ToHex(chain), "0fc7ab7b0a29d087");

    cipher.KeyFromPassword<TVX_md5>("again");
    TBytes first(16, 1);
    cipher.EncryptBuffer(first, first);
    cipher.KeyFromPassword<TVX_md5>("again");
    TBytes second(16, 1);
    cipher.EncryptBuffer(second, second);
    EXPECT_EQ(first, second);
}

struct TFailingHash final : TVX_hash
{
    static constexpr std::int32_t kHashSize = 128;
    void Start() override { throw std::bad_alloc(); }
};

TEST(Keying, AnyFailureWhileKeyingFromAPasswordIsReportedAsTheDigestError)
{
    TVX_blowfish cipher;
    try {
        cipher.KeyFromPassword<TFailingHash>("x");
        FAIL() << "no error";
    } catch (const EVX_cipher& e) {
        EXPECT_STREQ(e.what(), "Unable to allocate sufficient memory for hash digest");
    }
    EXPECT_FALSE(cipher.IsReady());
}

TEST(Keying, BlowfishKeySizes)
{
    TVX_blowfish cipher;
    const TBytes key(64, 0x11);
    for (std::uint32_t bad : {0u, 4u, 130u, 449u, 452u}) {
        EXPECT_THROW(cipher.KeySetup(key, bad), EVX_cipher) << bad;
        EXPECT_FALSE(cipher.IsReady());
    }
    for (std::uint32_t good : {32u, 128u, 448u}) {
        EXPECT_NO_THROW(cipher.KeySetup(key, good)) << good;
    }
    // Only whole bytes count: 12 bits key like 8 bits.
    TVX_blowfish a, b;
    a.KeySetup(key, 12);
    b.KeySetup(key, 8);
    TBytes ca(8, 0), cb(8, 0);
    a.EncryptBlock(ca, ca);
    b.EncryptBlock(cb, cb);
    EXPECT_EQ(ca, cb);
    // A given IV is used as it is.
    const TBytes iv = RandomBytes(8, 9);
    a.KeySetup(key, 64, iv);
    TBytes chain(8);
    a.ReadChain(chain);
    EXPECT_EQ(chain, iv);
}

TEST(Md5Hash, PublishedDigestsPiecesAndMisuse)
{
    for (const TVectorRecord& record : LoadVectorFile("md5.txt")) {
        SCOPED_TRACE(record.where);
        const TBytes message = record.Bytes("message");
        TVX_md5 hash;
        TBytes digest(16);
        hash.Start();
        hash.Feed(message);
        hash.Finish(digest);
        EXPECT_EQ(ToHex(digest), record.Field("digest"));
    }
    // Any split of the input gives the same digest, across the 64-byte block and the 56-byte
    // padding boundary.
    const TBytes data = RandomBytes(200, 6);
    TBytes whole(16);
    TVX_md5 hash;
    hash.Start();
    hash.Feed(data);
    hash.Finish(whole);
    for (std::size_t split : {1u, 55u, 56u, 63u, 64u, 65u, 119u, 128u}) {
        TBytes pieces(16);
        hash.Start();
        hash.Feed(std::span(data).first(split));
        hash.Feed(std::span(data).subspan(split));
        hash.Finish(pieces);
        EXPECT_EQ(pieces, whole) << split;
    }
    TVX_md5 idle;
    TBytes digest(16);
    EXPECT_THROW(idle.Feed(data), EVX_hash);
    idle.Start();
    idle.Finish(digest);
    try {
        idle.Finish(digest);
        FAIL() << "second Finish accepted";
    } catch (const EVX_hash& e) {
        EXPECT_STREQ(e.what(), "Hash not initialized");
    }
    EXPECT_TRUE(TVX_md5::CheckVectors());
}

TEST(TextOperations, Base64AndCfb8WhateverTheMode)
{
    EXPECT_EQ(Base64Encode(TBytes{'f', 'o', 'o', 'b', 'a'}), "Zm9vYmE=");
    EXPECT_EQ(Base64Decode("Zm9vYg=="), (TBytes{'f', 'o', 'o', 'b'}));
    EXPECT_THROW(Base64Decode("Zm9v*g=="), std::invalid_argument);

    TVX_blowfish cipher;
    cipher.KeyFromPassword<TVX_md5>("text");
    cipher.CipherMode = TVX_ciphermode::cmOFB;
    const std::string encrypted = cipher.EncryptText("attack at dawn");
    cipher.Rewind();
    TBytes viaCfb8{'a', 't', 't', 'a', 'c', 'k', ' ', 'a', 't', ' ', 'd', 'a', 'w', 'n'};
    cipher.Cfb8Encrypt(viaCfb8, viaCfb8);
    EXPECT_EQ(encrypted, Base64Encode(viaCfb8));
    cipher.Rewind();
    EXPECT_EQ(cipher.DecryptText(encrypted), "attack at dawn");
}
} // namespace
