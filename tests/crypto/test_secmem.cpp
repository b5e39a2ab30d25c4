// The secure buffer: whatever it ever held is wiped before its memory goes back, when it grows as
// much as when it goes, and a secret's pages are locked where the system lets us.
#include "crypto/VXsecmem.h"
#include "tests/support/Bytes.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace {
struct TRelease
{
    std::size_t size;
    bool allZero;
    bool locked;
};

std::vector<TRelease> g_releases;

void Record(std::span<const std::uint8_t> wiped, bool locked)
{
    g_releases.push_back(
        {wiped.size(), std::all_of(wiped.begin(), wiped.end(), [](std::uint8_t b) { return b == 0; }), locked});
}

// Watches what the buffers hand back while it lives.
class SecureBuffer : public testing::Test
{
protected:
    void SetUp() override
    {
        g_releases.clear();
        SetSecureReleaseHook(&Record);
    }
    void TearDown() override { SetSecureReleaseHook(nullptr); }

    static bool CanLock()
    {
#ifdef _WIN32
        return false;
#else
        static std::uint8_t probe[4096];
        const bool ok = mlock(probe, sizeof probe) == 0;
        if (ok) {
            munlock(probe, sizeof probe);
        }
        return ok;
#endif
    }
};

TEST_F(SecureBuffer, GrowingWipesEveryBlockItLeavesAndTheLastOneOnRelease)
{
    {
        TSecureBuffer secret;
        const TBytes marked = RandomBytes(1000, 5);
        for (int i = 0; i < 20; ++i) {
            secret.Append(marked);
        }
        ASSERT_EQ(secret.size(), 20000u);
        EXPECT_TRUE(std::equal(secret.begin(), secret.begin() + 1000, marked.begin()));
        EXPECT_TRUE(std::equal(secret.end() - 1000, secret.end(), marked.begin()));
        ASSERT_GE(g_releases.size(), 2u) << "20000 bytes appended 1000 at a time never moved";
    }
    ASSERT_GE(g_releases.size(), 3u);
    for (const TRelease& r : g_releases) {
        EXPECT_TRUE(r.allZero) << "a block of " << r.size << " bytes went back unwiped";
        EXPECT_GE(r.size, 1000u) << "only part of a secret's block was wiped";
        if (CanLock()) {
            EXPECT_TRUE(r.locked);
        }
    }
}

TEST_F(SecureBuffer, TextPopAndClearWipeInPlace)
{
    TSecureBuffer password("correct horse\r");
    password.PopBack();
    EXPECT_EQ(password.View(), "correct horse");
    const std::uint8_t* at = password.data();
    EXPECT_EQ(at[13], 0) << "the dropped byte is still there";
    password.Clear();
    EXPECT_TRUE(password.empty());
    EXPECT_TRUE(std::all_of(at, at + 14, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(TSecureBuffer("same") == TSecureBuffer("same"));
    EXPECT_FALSE(TSecureBuffer("same") == TSecureBuffer("sane"));
    EXPECT_FALSE(TSecureBuffer("same") == TSecureBuffer("same!"));
}

TEST_F(SecureBuffer, BulkBuffersWipeAsFarAsTheyWereWritten)
{
    {
        TSecureBuffer bulk(1 << 20, TSecureUse::Bulk);
        EXPECT_EQ(bulk.size(), std::size_t{1} << 20);
        bulk.Touch(3000);
        std::fill(bulk.begin(), bulk.begin() + 3000, 0xA5);
        bulk.Touch(100); // never shrinks what must be wiped
    }
    ASSERT_EQ(g_releases.size(), 1u);
    EXPECT_EQ(g_releases[0].size, 3000u);
    EXPECT_TRUE(g_releases[0].allZero);
    EXPECT_FALSE(g_releases[0].locked) << "plaintext buffers are not locked";
}

TEST_F(SecureBuffer, MovingHandsTheBlockOverWithoutACopy)
{
    {
        TSecureBuffer a("key bytes");
        const std::uint8_t* block = a.data();
        TSecureBuffer b(std::move(a));
        EXPECT_EQ(b.data(), block);
        TSecureBuffer c;
        c = std::move(b);
        EXPECT_EQ(c.data(), block);
        EXPECT_EQ(c.View(), "key bytes");
        std::vector<TSecureBuffer> many;
        for (int i = 0; i < 50; ++i) {
            many.emplace_back("candidate");
        }
        EXPECT_EQ(g_releases.size(), 0u) << "a move or a growing vector released a block";
    }
    EXPECT_EQ(g_releases.size(), 51u);
    for (const TRelease& r : g_releases) {
        EXPECT_TRUE(r.allZero);
    }
}
} // namespace
