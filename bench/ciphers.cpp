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
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// One cipher through the stream with some features switched off (and, for the gather kernels,
// FastGather counted as present whatever the vendor rule says): the figures each path choice is
// made from. compare.sh's groups leave these "-path-" entries out.
template <class TCipher, bool Encrypt>
void RegisterPath(const std::string& name, std::initializer_list<TVXCpuFeature> off, bool forceGather = false)
{
    const std::vector<TVXCpuFeature> features(off);
    const auto run = [features, forceGather](benchmark::State& state) {
        VXCpuForceOn(TVXCpuFeature::FastGather, forceGather);
        for (const auto feature : features) {
            VXCpuSwitchOff(feature, true);
        }
        BM_Stream<TCipher, Encrypt>(state);
        for (const auto feature : features) {
            VXCpuSwitchOff(feature, false);
        }
        VXCpuForceOn(TVXCpuFeature::FastGather, false);
    };
    benchmark::RegisterBenchmark((name + (Encrypt ? "/encrypt" : "/decrypt")).c_str(), run)
        ->Unit(benchmark::kMillisecond);
}

// Decryption on the portable code and on each gather path this processor can run.
template <class TCipher> void RegisterGatherPaths(const std::string& name)
{
    using enum TVXCpuFeature;
    RegisterPath<TCipher, false>(name + "-path-portable", {FastGather, Avx512, Avx2});
    if (VXCpuDetected(Avx2)) {
        RegisterPath<TCipher, false>(name + "-path-avx2", {Avx512}, true);
    }
    if (VXCpuDetected(Avx512)) {
        RegisterPath<TCipher, false>(name + "-path-avx512", {}, true);
    }
}

// Both directions with BMI switched off: the scalar rounds by shifts and masks, as on a processor
// without it. Name/* against these is what the bit-field extracts gain.
template <class TCipher> void RegisterWithoutBmi(const std::string& name)
{
    if (VXCpuDetected(TVXCpuFeature::Bmi)) {
        RegisterPath<TCipher, true>(name + "-path-nobmi", {TVXCpuFeature::Bmi});
        RegisterPath<TCipher, false>(name + "-path-nobmi", {TVXCpuFeature::Bmi});
    }
}

// Rijndael's decryption on each AES path this processor has: the figures its choice between 256-
// and 512-bit registers is made from.
void RegisterRijndaelPaths()
{
    using enum TVXCpuFeature;
    if (!VXCpuDetected(AesNi)) {
        return;
    }
    RegisterPath<TVX_rijndael, false>("Rijndael-path-aes-ni", {Vaes});
    if (VXCpuDetected(Vaes) && VXCpuDetected(Avx2)) {
        RegisterPath<TVX_rijndael, false>("Rijndael-path-vaes-256", {Avx512});
    }
    if (VXCpuDetected(Vaes) && VXCpuDetected(Avx512)) {
        RegisterPath<TVX_rijndael, false>("Rijndael-path-vaes-512", {});
    }
}

// Triple DES decryption on the portable rounds and, where the processor has AVX-512 VBMI, on the
// 64-block byte permutes.
void RegisterTripleDesPaths()
{
    RegisterPath<TVX_3des, false>("3DES-path-portable", {TVXCpuFeature::Avx512});
    if (TVX_3des::ActivePathName() != "portable") {
        RegisterPath<TVX_3des, false>("3DES-path-" + std::string(TVX_3des::ActivePathName()), {});
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
                                                std::string(TVX_serpent::ActivePathName()) + ", 3DES " +
                                                std::string(TVX_3des::ActivePathName()));
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
    RegisterGatherPaths<TVX_twofish>("Twofish");
    RegisterGatherPaths<TVX_blowfish>("Blowfish");
    RegisterWithoutBmi<TVX_twofish>("Twofish");
    RegisterWithoutBmi<TVX_blowfish>("Blowfish");
    RegisterGatherPaths<TVX_rc2>("RC2");
    RegisterTripleDesPaths();
    RegisterRijndaelPaths();
    benchmark::RegisterBenchmark("MD5/hash", &BM_Md5)->Unit(benchmark::kMillisecond);
    return true;
}();
} // namespace

BENCHMARK_MAIN();
