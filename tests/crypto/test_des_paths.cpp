// Triple DES's byte-sliced rounds (CBC decryption, CTR) against its portable path: published vectors
// and random runs around the 64-block width, misaligned and in place.
#include "crypto/VXcpu.h"
#include "crypto/VXdes.h"
#include "tests/support/Bytes.h"
#include "tests/support/CipherCalls.h"
#include "tests/support/VectorFile.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace {

// Reaches the portable path on any processor.
struct TPortable
{
    const TVXCpuFeaturesOff off{TVXCpuFeature::Avx512};
};

bool VectorPathRuns()
{
    return TVX_3des::ActivePathName() != "portable";
}

// Block counts on both sides of the vector width (64) and of the scalar interleave (4), once and
// twice over.
constexpr std::size_t kBlockCounts[] = {1, 3, 4, 5, 63, 64, 65, 67, 100, 127, 128, 129, 130, 191, 192, 193};

// The switches must reach the dispatch, or the comparisons below would test the portable path
// against itself.
TEST(TripleDesPaths, SwitchingAvx512OrVbmiOffSelectsThePortablePath)
{
    for (const auto feature : {TVXCpuFeature::Avx512, TVXCpuFeature::Vbmi}) {
        const TVXCpuFeaturesOff off{feature};
        EXPECT_EQ(TVX_3des::ActivePathName(), "portable") << VXCpuFeatureName(feature);
    }
}

// Every published vector, its cipher block repeated over 130 blocks (two batches of 64, then two
// blocks for the scalar rounds), decrypted by CBC under a zero IV on the path this processor takes
// and on the portable one.
TEST(TripleDesPaths, PublishedVectorsOnBothPaths)
{
    const std::size_t blocks = 130;
    for (const TVectorRecord& record : LoadVectorFile("3des.txt")) {
        if (record.Has("iterated")) {
            continue;
        }
        SCOPED_TRACE(record.where + " (" + record.comment + ")");
        const auto bits = static_cast<std::uint32_t>(record.Number("keybits"));
        const TBytes key = record.Bytes("key");
        const TBytes usedKey(key.begin(), key.begin() + bits / 8);
        const TBytes plain = record.Bytes("plain");
        const TBytes cipher = record.Bytes("cipher");
        const auto [data, expected] = RepeatedCbcVector(plain, cipher, blocks);
        EXPECT_EQ(ToHex(CbcDecrypt<TVX_3des>(usedKey, bits, TBytes(8, 0), data)), ToHex(expected));
        const TPortable portable;
        EXPECT_EQ(ToHex(CbcDecrypt<TVX_3des>(usedKey, bits, TBytes(8, 0), data)), ToHex(expected));
    }
}

// Random keys of every length class and messages of kBlockCounts blocks (some with a tail), split
// at an odd block across two calls, misaligned, and in place, byte for byte against the portable
// path.
TEST(TripleDesPaths, RandomCbcRunsMatchThePortablePath)
{
    if (!VectorPathRuns()) {
        GTEST_SKIP() << "this processor has no vector path for triple DES";
    }
    std::mt19937 rng(41);
    for (const std::size_t blocks : kBlockCounts) {
        const std::uint32_t bits = 64 * (1 + rng() % 3);
        const TBytes key = RandomBytes(rng, bits / 8);
        const TBytes iv = RandomBytes(rng, 8);
        const std::size_t size = 8 * blocks + (blocks % 3 == 0 ? rng() % 8 : 0);
        const TBytes data = RandomBytes(rng, size);
        TBytes expected;
        {
            const TPortable portable;
            expected = CbcDecrypt<TVX_3des>(key, bits, iv, data);
        }
        const std::size_t offset = 1 + blocks % 7;
        SCOPED_TRACE(testing::Message() << size << " bytes, key " << bits << " bits, offset " << offset);
        EXPECT_EQ(ToHex(CbcDecrypt<TVX_3des>(key, bits, iv, data)), ToHex(expected));

        ExpectCbcDecryptSplitAndInPlace<TVX_3des>(key, bits, iv, data, offset, 8 - offset, 8 * (blocks / 2 | 1),
                                                  expected);
    }
}

// CTR encrypts its counter blocks 64 at a time: random messages of kBlockCounts blocks and a tail,
// in place and misaligned, against the portable path, the counter carried across two calls.
TEST(TripleDesPaths, RandomCtrRunsMatchThePortablePath)
{
    if (!VectorPathRuns()) {
        GTEST_SKIP() << "this processor has no vector path for triple DES";
    }
    std::mt19937 rng(42);
    for (const std::size_t blocks : kBlockCounts) {
        const std::uint32_t bits = 64 * (1 + rng() % 3);
        const TBytes key = RandomBytes(rng, bits / 8);
        const TBytes iv = RandomBytes(rng, 8);
        const std::size_t size = 8 * blocks + rng() % 8;
        const TBytes data = RandomBytes(rng, size);
        const std::size_t first = 8 * (blocks / 2 | 1);
        const auto run = [&](std::uint8_t* at) {
            TVX_3des cipher;
            cipher.KeySetup(key, bits, iv);
            cipher.CtrEncrypt(std::span(at, first), std::span(at, first));
            cipher.CtrEncrypt(std::span(at + first, size - first), std::span(at + first, size - first));
        };
        TBytes expected = data;
        {
            const TPortable portable;
            run(expected.data());
        }
        const std::size_t offset = 1 + blocks % 7;
        SCOPED_TRACE(testing::Message() << size << " bytes, key " << bits << " bits, offset " << offset);
        TBytes work(size + 8);
        std::copy(data.begin(), data.end(), work.begin() + static_cast<std::ptrdiff_t>(offset));
        run(work.data() + offset);
        EXPECT_EQ(ToHex(work.data() + offset, size), ToHex(expected));
    }
}

} // namespace
