// Throughput of every available cipher through StreamEncrypt / StreamDecrypt, and of MD5; the peer
// libraries' figures (bench/peer_*.cpp) are registered in the same run so they can be compared.
#include "bench/BenchCommon.h"
#include "crypto/VXblowfish.h"
#include "crypto/VXcast256.h"
#include "crypto/VXcpu.h"
#include "crypto/VXdes.h"
#include "crypto/VXice.h"
#include "crypto/VXmars.h"
#include "crypto/VXmd5.h"
#include "crypto/VXmemstream.h"
#include "crypto/VXmisty1.h"
#include "crypto/VXrc2.h"
#include "crypto/VXrc4.h"
#include "crypto/VXrc6.h"
#include "crypto/VXrijndael.h"
#include "crypto/VXserpent.h"
#include "crypto/VXtea.h"
#include "crypto/VXtwofish.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {
class TFixedWriter final : public TVX_writestream
{
public:
    explicit TFixedWriter(std::vector<std::uint8_t>& out) : m_out(out) {}
    void Write(std::span<const std::uint8_t> data) override
    {
        std::memcpy(m_out.data() + m_position, data.data(), data.size());
        m_position += data.size();
    }
    std::span<std::uint8_t> Reserve(std::size_t size) override { return std::span(m_out).subspan(m_position, size); }
    void Commit(std::size_t size) override { m_position += size; }

private:
    std::vector<std::uint8_t>& m_out;
    std::size_t m_position = 0;
};

template <class TCipher, bool Encrypt> void BM_Stream(benchmark::State& state)
{
    TCipher cipher;
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    const auto bits = std::min<std::uint32_t>(128, static_cast<std::uint32_t>(cipher.ClassMaxKeySize()));
    for (auto _ : state) {
        cipher.KeySetup(kBenchKey, bits);
        TVX_memoryreader reader(message);
        TFixedWriter writer(out);
        if (Encrypt) {
            cipher.StreamEncrypt(reader, writer, message.size());
        } else {
            cipher.StreamDecrypt(reader, writer, message.size());
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetThroughput(state);
}

// The cipher alone, measured the way the peers are: each piece straight from the message to the
// output, without the two copies through the stream's buffer. Name/* minus Name-direct/* is the
// cost of those copies.
template <class TCipher, bool Encrypt> void BM_Direct(benchmark::State& state)
{
    TCipher cipher;
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    const auto bits = std::min<std::uint32_t>(128, static_cast<std::uint32_t>(cipher.ClassMaxKeySize()));
    for (auto _ : state) {
        cipher.KeySetup(kBenchKey, bits);
        for (std::size_t i = 0; i < message.size(); i += kBenchPiece) {
            const auto in = std::span(message).subspan(i, kBenchPiece);
            const auto to = std::span(out).subspan(i, kBenchPiece);
            if (Encrypt) {
                cipher.EncryptBuffer(in, to);
            } else {
                cipher.DecryptBuffer(in, to);
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetThroughput(state);
}

template <class TCipher> void Register(const std::string& name)
{
    benchmark::RegisterBenchmark((name + "/encrypt").c_str(), &BM_Stream<TCipher, true>)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "/decrypt").c_str(), &BM_Stream<TCipher, false>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "-direct/encrypt").c_str(), &BM_Direct<TCipher, true>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "-direct/decrypt").c_str(), &BM_Direct<TCipher, false>)
        ->Unit(benchmark::kMillisecond);
}

// Decryption on each path this processor can run, the gather paths forced on whatever the vendor
// rule says: the figures the rule for FastGather is set from. Not in compare.sh's groups.
template <class TCipher> void RegisterPaths(const std::string& name)
{
    auto portable = [](benchmark::State& state) {
        const TVXCpuFeaturesOff off{TVXCpuFeature::FastGather, TVXCpuFeature::Avx512, TVXCpuFeature::Avx2};
        BM_Stream<TCipher, false>(state);
    };
    auto avx2 = [](benchmark::State& state) {
        VXCpuForceOn(TVXCpuFeature::FastGather, true);
        {
            const TVXCpuFeaturesOff off{TVXCpuFeature::Avx512};
            BM_Stream<TCipher, false>(state);
        }
        VXCpuForceOn(TVXCpuFeature::FastGather, false);
    };
    auto avx512 = [](benchmark::State& state) {
        VXCpuForceOn(TVXCpuFeature::FastGather, true);
        BM_Stream<TCipher, false>(state);
        VXCpuForceOn(TVXCpuFeature::FastGather, false);
    };
    benchmark::RegisterBenchmark((name + "-path-portable/decrypt").c_str(), portable)->Unit(benchmark::kMillisecond);
    if (VXCpuDetected(TVXCpuFeature::Avx2)) {
        benchmark::RegisterBenchmark((name + "-path-avx2/decrypt").c_str(), avx2)->Unit(benchmark::kMillisecond);
    }
    if (VXCpuDetected(TVXCpuFeature::Avx512)) {
        benchmark::RegisterBenchmark((name + "-path-avx512/decrypt").c_str(), avx512)->Unit(benchmark::kMillisecond);
    }
}

// Rijndael's decryption on each of its vector paths this processor has: the figures its choice
// between 256- and 512-bit registers is made from. Not in compare.sh's groups.
void RegisterRijndaelPaths()
{
    auto aesNi = [](benchmark::State& state) {
        const TVXCpuFeaturesOff off{TVXCpuFeature::Vaes};
        BM_Stream<TVX_rijndael, false>(state);
    };
    auto vaes256 = [](benchmark::State& state) {
        const TVXCpuFeaturesOff off{TVXCpuFeature::Avx512};
        BM_Stream<TVX_rijndael, false>(state);
    };
    auto vaes512 = [](benchmark::State& state) { BM_Stream<TVX_rijndael, false>(state); };
    if (!VXCpuDetected(TVXCpuFeature::AesNi)) {
        return;
    }
    benchmark::RegisterBenchmark("Rijndael-path-aes-ni/decrypt", aesNi)->Unit(benchmark::kMillisecond);
    if (VXCpuDetected(TVXCpuFeature::Vaes) && VXCpuDetected(TVXCpuFeature::Avx2)) {
        benchmark::RegisterBenchmark("Rijndael-path-vaes-256/decrypt", vaes256)->Unit(benchmark::kMillisecond);
    }
    if (VXCpuDetected(TVXCpuFeature::Vaes) && VXCpuDetected(TVXCpuFeature::Avx512)) {
        benchmark::RegisterBenchmark("Rijndael-path-vaes-512/decrypt", vaes512)->Unit(benchmark::kMillisecond);
    }
}

void BM_Md5(benchmark::State& state)
{
    const auto& message = BenchMessage();
    std::uint8_t digest[16];
    TVX_md5 hash;
    for (auto _ : state) {
        hash.Start();
        for (std::size_t i = 0; i < message.size(); i += kBenchPiece) {
            hash.Feed(std::span(message).subspan(i, kBenchPiece));
        }
        hash.Finish(digest);
        benchmark::DoNotOptimize(digest);
    }
    SetThroughput(state);
}

// Which processor and which paths the figures are of, in every report's context (and so in
// compare.sh's heading).
std::string CpuFeatures()
{
    std::string names;
    for (std::size_t i = 0; i < kVXCpuFeatureCount; ++i) {
        const auto feature = static_cast<TVXCpuFeature>(i);
        if (VXCpuHas(feature)) {
            names += (names.empty() ? "" : " ") + std::string(VXCpuFeatureName(feature));
        }
    }
    return names.empty() ? "none" : names;
}

const bool kRegistered = [] {
    benchmark::AddCustomContext("vx_cpu_model", VXCpuModel());
    benchmark::AddCustomContext("vx_cpu_features", CpuFeatures());
    benchmark::AddCustomContext("vx_paths", "Rijndael " + std::string(TVX_rijndael::ActivePathName()) + ", Serpent " +
                                                std::string(TVX_serpent::ActivePathName()));
    Register<TVX_blowfish>("Blowfish");
    Register<TVX_rijndael>("Rijndael");
    Register<TVX_twofish>("Twofish");
    Register<TVX_serpent>("Serpent");
    Register<TVX_cast256>("Cast256");
    Register<TVX_mars>("Mars");
    Register<TVX_rc4>("RC4");
    Register<TVX_rc6>("RC6");
    Register<TVX_3des>("3DES");
    Register<TVX_ice>("Ice");
    Register<TVX_misty1>("Misty1");
    Register<TVX_rc2>("RC2");
    Register<TVX_tea>("Tea");
    RegisterPaths<TVX_twofish>("Twofish");
    RegisterPaths<TVX_blowfish>("Blowfish");
    RegisterPaths<TVX_rc2>("RC2");
    RegisterRijndaelPaths();
    benchmark::RegisterBenchmark("MD5/hash", &BM_Md5)->Unit(benchmark::kMillisecond);
    return true;
}();
} // namespace

BENCHMARK_MAIN();
