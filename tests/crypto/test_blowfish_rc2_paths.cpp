// Blowfish's and RC2's vector paths for CBC decryption against their portable paths, each path
// forced in turn on whatever processor runs the tests, and the switch that forces the gather paths.
#include "crypto/VXblowfish.h"
#include "crypto/VXcpu.h"
#include "crypto/VXrc2.h"
#include "tests/support/Bytes.h"
#include "tests/support/CipherCalls.h"
#include "tests/support/VectorFile.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

// One way through CBC decryption: the name the cipher reports for it, the processor feature it cannot
// run without, and the features forced on or switched off to reach it.
struct TPathSetting
{
    std::string name;
    TVXCpuFeature needs;
    bool forceGather;
    std::vector<TVXCpuFeature> off;
};

class TPathScope
{
public:
    explicit TPathScope(const TPathSetting& setting)
    {
        for (const TVXCpuFeature feature : setting.off) {
            VXCpuSwitchOff(feature, true);
        }
        VXCpuForceOn(TVXCpuFeature::FastGather, setting.forceGather);
    }
    ~TPathScope() { VXCpuForceOn(TVXCpuFeature::FastGather, false); }
    TPathScope(const TPathScope&) = delete;
    TPathScope& operator=(const TPathScope&) = delete;

private:
    const TVXCpuFeaturesOff m_restore{}; // switches nothing off; puts the switches back as they were
};

const TPathSetting kPortable{
    "portable", TVXCpuFeature::Count, false, {TVXCpuFeature::FastGather, TVXCpuFeature::Avx2, TVXCpuFeature::Avx512}};

// Whether the vector paths are compiled in, by the same conditions as the ciphers' sources.
template <class TCipher> struct TBuilt
{
#if defined(__x86_64__) && !defined(_WIN32)
    static constexpr bool kVectorPaths = true;
#else
    static constexpr bool kVectorPaths = false;
#endif
};

#ifdef __clang__
template <> struct TBuilt<TVX_rc2>
{
    static constexpr bool kVectorPaths = false;
};
#endif

// The paths of TCipher this processor can run. Each must be the one the cipher reports under its
// setting, so a dispatch that ignores the switches fails here instead of comparing the portable path
// with itself.
template <class TCipher> std::vector<TPathSetting> RunnablePaths(const std::vector<TPathSetting>& candidates)
{
    std::vector<TPathSetting> paths;
    for (const TPathSetting& setting : candidates) {
        if (!TBuilt<TCipher>::kVectorPaths) {
            std::cout << "[   INFO   ] " << setting.name << " is not built for this target\n";
            continue;
        }
        if (!VXCpuDetected(setting.needs)) {
            std::cout << "[   INFO   ] " << setting.name << " cannot run on this processor\n";
            continue;
        }
        const TPathScope scope(setting);
        EXPECT_EQ(TCipher::ActivePathName(), setting.name);
        paths.push_back(setting);
    }
    const TPathScope scope(kPortable);
    EXPECT_EQ(TCipher::ActivePathName(), "portable");
    return paths;
}

std::vector<TPathSetting> BlowfishPaths()
{
    return {{"avx2-gather", TVXCpuFeature::Avx2, true, {TVXCpuFeature::Avx512}},
            {"avx512-gather", TVXCpuFeature::Avx512, true, {}}};
}

std::vector<TPathSetting> Rc2Paths()
{
    return {{"avx2", TVXCpuFeature::Avx2, false, {TVXCpuFeature::Avx512}},
            {"avx512", TVXCpuFeature::Avx512, false, {}}};
}

// Every published vector, its cipher block repeated over 123 blocks (a batch of 64, then 59 that
// pass through every narrower kernel and the scalar tail), decrypted by CBC under a zero IV on each
// path.
template <class TCipher> void CheckVectorsOnEveryPath(const char* file, const std::vector<TPathSetting>& candidates)
{
    std::vector<TPathSetting> paths = RunnablePaths<TCipher>(candidates);
    paths.push_back(kPortable);
    const std::size_t blocks = 123;
    for (const TVectorRecord& record : LoadVectorFile(file)) {
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
        for (const TPathSetting& setting : paths) {
            SCOPED_TRACE(setting.name);
            const TPathScope scope(setting);
            EXPECT_EQ(ToHex(CbcDecrypt<TCipher>(usedKey, bits, TBytes(8, 0), data)), ToHex(expected));
        }
    }
}

// Random keys and messages of 1 to 100 blocks with and without a tail, decrypted on each path at
// every alignment, out of place and in place, byte for byte against the portable path.
template <class TCipher> void CheckRandomRunsAgainstPortable(const std::vector<TPathSetting>& candidates, unsigned seed)
{
    const std::vector<TPathSetting> paths = RunnablePaths<TCipher>(candidates);
    if (paths.empty()) {
        GTEST_SKIP() << "this processor has no vector path";
    }
    std::mt19937 rng(seed);
    for (std::size_t blocks = 1; blocks <= 100; ++blocks) {
        const std::uint32_t bits = 8 * (1 + rng() % static_cast<std::uint32_t>(TCipher::kMaxKeySize / 8));
        const TBytes key = RandomBytes(rng, bits / 8);
        const TBytes iv = RandomBytes(rng, 8);
        const std::size_t size = 8 * blocks + (blocks % 3 == 0 ? rng() % 8 : 0);
        const TBytes data = RandomBytes(rng, size);
        TBytes portable;
        {
            const TPathScope scope(kPortable);
            portable = CbcDecrypt<TCipher>(key, bits, iv, data);
        }
        for (const TPathSetting& setting : paths) {
            const TPathScope scope(setting);
            const std::size_t offset = blocks % 8;
            SCOPED_TRACE(testing::Message()
                         << setting.name << ", " << size << " bytes, key " << bits << " bits, offset " << offset);
            EXPECT_EQ(ToHex(CbcDecrypt<TCipher>(key, bits, iv, data)), ToHex(portable));

            // Misaligned input and output, and in place, through one cipher that keeps its chain
            // across two calls split after half the blocks.
            ExpectCbcDecryptSplitAndInPlace<TCipher>(key, bits, iv, data, offset, 7 - offset, 8 * (blocks / 2),
                                                     portable);
        }
    }
}

TEST(BlowfishPaths, PublishedVectorsOnEveryPath)
{
    CheckVectorsOnEveryPath<TVX_blowfish>("blowfish.txt", BlowfishPaths());
}

TEST(BlowfishPaths, RandomCbcRunsMatchThePortablePath)
{
    CheckRandomRunsAgainstPortable<TVX_blowfish>(BlowfishPaths(), 31);
}

TEST(Rc2Paths, PublishedVectorsOnEveryPath)
{
    CheckVectorsOnEveryPath<TVX_rc2>("rc2.txt", Rc2Paths());
}

TEST(Rc2Paths, RandomCbcRunsMatchThePortablePath)
{
    CheckRandomRunsAgainstPortable<TVX_rc2>(Rc2Paths(), 32);
}

// The gather paths are chosen by a vendor rule; forcing them must work wherever AVX2 does, yield
// to the switch that turns features off, and end when released.
TEST(CpuForceOn, FastGatherFollowsAvx2AndYieldsToTheSwitch)
{
    const bool detected = VXCpuDetected(TVXCpuFeature::FastGather);
    VXCpuForceOn(TVXCpuFeature::FastGather, true);
    EXPECT_EQ(VXCpuHas(TVXCpuFeature::FastGather), VXCpuDetected(TVXCpuFeature::Avx2));
    {
        const TVXCpuFeaturesOff off{TVXCpuFeature::FastGather};
        EXPECT_FALSE(VXCpuHas(TVXCpuFeature::FastGather));
    }
    VXCpuForceOn(TVXCpuFeature::FastGather, false);
    EXPECT_EQ(VXCpuHas(TVXCpuFeature::FastGather), detected);
}

} // namespace
