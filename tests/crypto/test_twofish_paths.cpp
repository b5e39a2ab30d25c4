// Twofish's gather paths (eight or sixteen blocks at once) against the published answers and
// against the portable path, byte for byte, on every path this processor can run.
#include "crypto/VXcpu.h"
#include "crypto/VXtwofish.h"
#include "tests/support/Bytes.h"
#include "tests/support/VectorFile.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace
{
// One way through the multi-block operations: the switches that select it and the name the class
// must then report.
struct TPathSetting
{
    std::string name;
    bool forceGather; // claimed fast, so the gather paths run where the vendor rule leaves them off
    std::optional<TVXCpuFeature> off;
};

class TPathScope final
{
public:
    explicit TPathScope(const TPathSetting& setting)
    {
        VXCpuForceOn(TVXCpuFeature::FastGather, setting.forceGather);
        if (setting.off) {
            m_off.emplace(std::initializer_list<TVXCpuFeature>{*setting.off});
        }
    }
    ~TPathScope() { VXCpuForceOn(TVXCpuFeature::FastGather, false); }
    TPathScope(const TPathScope&) = delete;
    TPathScope& operator=(const TPathScope&) = delete;

private:
    std::optional<TVXCpuFeaturesOff> m_off;
};

const TPathSetting kPortable{"portable", false, {TVXCpuFeature::FastGather}};
const TPathSetting kAvx2{"avx2-gather", true, {TVXCpuFeature::Avx512}};
const TPathSetting kAvx512{"avx512-gather", true, std::nullopt};

// The vector paths this processor can run; a path it lacks is left out, not faked.
std::vector<TPathSetting> VectorPaths()
{
    std::vector<TPathSetting> paths;
    for (const TPathSetting& setting : {kAvx2, kAvx512}) {
        TPathScope scope(setting);
        if (TVX_twofish::ActivePathName() == setting.name) {
            paths.push_back(setting);
        }
    }
    return paths;
}

// Long enough, in the modes' batches of 32 blocks, to reach two groups side by side, single groups
// of sixteen and of eight, and three blocks left to the portable code.
constexpr std::size_t kLaneRun = 59;

// Big-endian subtraction over the whole block, the inverse of the counter mode's step.
TBytes CounterMinus(TBytes block, unsigned n)
{
    for (std::size_t i = block.size(); i-- > 0 && n != 0;) {
        const unsigned v = block[i] + 256u - (n & 255u);
        block[i] = static_cast<std::uint8_t>(v);
        n = (n >> 8) + (v < 256 ? 1u : 0u);
    }
    return block;
}

// A gather path runs only with AVX2 and fast gathers both on; forcing gathers on cannot override a
// switch, and AVX-512 adds the sixteen-lane path.
TEST(TwofishPaths, ForcingSelectsThePathAndSwitchingOffWins)
{
    const std::pair<TPathSetting, bool> cases[] = {
        {kPortable, true},
        {{"portable", true, TVXCpuFeature::Avx2}, true},
        {{"portable", true, TVXCpuFeature::FastGather}, true},
        {kAvx2, VXCpuDetected(TVXCpuFeature::Avx2)},
        {kAvx512, VXCpuDetected(TVXCpuFeature::Avx512)},
    };
    for (const auto& [setting, runsHere] : cases) {
        if (runsHere) {
            TPathScope scope(setting);
            EXPECT_EQ(TVX_twofish::ActivePathName(), setting.name);
        }
    }
}

// Every lane of every vector path must give the published answers. Decryption: a run of identical
// cipher blocks under a zero IV gives the plain block first and plain XOR cipher in every later
// block. Encryption goes through the counter mode, whose counter starts `lane` steps below the
// plain block so that this lane encrypts exactly it.
TEST(TwofishPaths, PublishedVectorsInEveryLane)
{
    const std::vector<TPathSetting> paths = VectorPaths();
    if (paths.empty()) {
        GTEST_SKIP() << "this processor has no gather path";
    }
    const TBytes zeros(16 * kLaneRun, 0);
    int checked = 0;
    for (const TVectorRecord& record : LoadVectorFile("twofish.txt")) {
        if (record.Has("iterated")) {
            continue; // single blocks in a chain: nothing for the multi-block paths to do
        }
        SCOPED_TRACE(record.where + " (" + record.comment + ")");
        const auto bits = static_cast<std::uint32_t>(record.Number("keybits"));
        const TBytes fullKey = record.Bytes("key");
        const TBytes key(fullKey.begin(), fullKey.begin() + bits / 8);
        const TBytes plain = record.Bytes("plain");
        const TBytes expected = record.Bytes("cipher");

        TBytes run;
        for (std::size_t b = 0; b < kLaneRun; ++b) {
            run.insert(run.end(), expected.begin(), expected.end());
        }
        TBytes later = plain;
        for (std::size_t i = 0; i < 16; ++i) {
            later[i] ^= expected[i];
        }
        for (const TPathSetting& path : paths) {
            SCOPED_TRACE(path.name);
            TPathScope scope(path);
            ASSERT_EQ(TVX_twofish::ActivePathName(), path.name);
            TVX_twofish cipher;
            cipher.KeySetup(key, bits, TBytes(16, 0));
            TBytes out(run.size());
            cipher.CbcDecrypt(run, out);
            for (std::size_t b = 0; b < kLaneRun; ++b) {
                SCOPED_TRACE(b);
                EXPECT_EQ(ToHex(TBytes(out.begin() + 16 * b, out.begin() + 16 * b + 16)),
                          ToHex(b == 0 ? plain : later));
            }
            for (unsigned lane = 0; lane < kLaneRun; ++lane) {
                SCOPED_TRACE(lane);
                cipher.CipherMode = TVX_ciphermode::cmCTR;
                cipher.KeySetup(key, bits, CounterMinus(plain, lane));
                cipher.CtrEncrypt(zeros, out);
                EXPECT_EQ(ToHex(TBytes(out.begin() + 16 * lane, out.begin() + 16 * lane + 16)), ToHex(expected));
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

struct TRunOutput
{
    TBytes cbc;
    TBytes cbcInPlace;
    TBytes ctr;
};

// CBC decryption from and to buffers `inShift` and `outShift` bytes past an aligned start, CBC
// decryption in place, and the counter mode, each in pieces of `piece` bytes that carry the chain.
TRunOutput RunPath(const TPathSetting& path, const TBytes& key, std::uint32_t bits, const TBytes& iv,
                   const TBytes& data, std::size_t inShift, std::size_t outShift, std::size_t piece)
{
    TPathScope scope(path);
    EXPECT_EQ(TVX_twofish::ActivePathName(), path.name);
    const std::size_t size = data.size();
    TBytes inStore(size + 64);
    TBytes outStore(size + 64);
    std::uint8_t* in = inStore.data() + (64 - reinterpret_cast<std::uintptr_t>(inStore.data()) % 32) % 32 + inShift;
    std::uint8_t* out = outStore.data() + (64 - reinterpret_cast<std::uintptr_t>(outStore.data()) % 32) % 32 + outShift;
    std::copy(data.begin(), data.end(), in);

    auto pieces = [&](auto step) {
        for (std::size_t at = 0; at < size; at += piece) {
            const std::size_t n = std::min(piece, size - at);
            step(at, n);
        }
    };
    TVX_twofish cipher;
    TRunOutput result;
    cipher.KeySetup(key, bits, iv);
    pieces([&](std::size_t at, std::size_t n) { cipher.CbcDecrypt({in + at, n}, {out + at, n}); });
    result.cbc.assign(out, out + size);

    cipher.Rewind();
    pieces([&](std::size_t at, std::size_t n) { cipher.CbcDecrypt({in + at, n}, {in + at, n}); });
    result.cbcInPlace.assign(in, in + size);

    std::copy(data.begin(), data.end(), in);
    cipher.CipherMode = TVX_ciphermode::cmCTR;
    cipher.Rewind();
    pieces([&](std::size_t at, std::size_t n) { cipher.CtrEncrypt({in + at, n}, {out + at, n}); });
    result.ctr.assign(out, out + size);
    return result;
}

// Every block count from 1 to 100, with and without a partial block after them, misaligned both
// ways and in place, in one call and in pieces that end mid-group: each vector path must give the
// portable path's bytes.
TEST(TwofishPaths, LongRandomRunsMatchThePortablePath)
{
    const std::vector<TPathSetting> paths = VectorPaths();
    if (paths.empty()) {
        GTEST_SKIP() << "this processor has no gather path";
    }
    std::mt19937 rng(1501);
    for (std::size_t blocks = 1; blocks <= 100; ++blocks) {
        const std::uint32_t bits = std::uniform_int_distribution<std::uint32_t>(1, 32)(rng) * 8;
        const TBytes key = RandomBytes(rng, 32);
        const TBytes iv = RandomBytes(rng, 16);
        const TBytes data = RandomBytes(rng, 16 * blocks + (blocks % 3 == 0 ? rng() % 16 : 0));
        const std::size_t inShift = rng() % 16;
        const std::size_t outShift = rng() % 16;
        const std::size_t piece = blocks % 4 == 0 ? 16 * (1 + rng() % 40) : data.size();
        SCOPED_TRACE(testing::Message() << blocks << " blocks, " << data.size() << " bytes, key bits " << bits
                                        << ", shifts " << inShift << "/" << outShift << ", piece " << piece);
        const TRunOutput portable = RunPath(kPortable, key, bits, iv, data, 0, 0, data.size());
        for (const TPathSetting& path : paths) {
            SCOPED_TRACE(path.name);
            const TRunOutput vector = RunPath(path, key, bits, iv, data, inShift, outShift, piece);
            EXPECT_EQ(ToHex(vector.cbc), ToHex(portable.cbc));
            EXPECT_EQ(ToHex(vector.cbcInPlace), ToHex(portable.cbc));
            EXPECT_EQ(ToHex(vector.ctr), ToHex(portable.ctr));
        }
    }
}
} // namespace
