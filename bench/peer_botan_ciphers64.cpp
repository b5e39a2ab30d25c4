// Botan's 64-bit block ciphers that have a counterpart here, CBC over the shared message.
#ifdef VX_HAVE_BOTAN
#include "bench/BenchCommon.h"

#include <botan/cipher_mode.h>

#include <memory>
#include <string>

namespace
{
const std::uint8_t kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                               0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

void BM_Botan(benchmark::State& state, const std::string& spec, bool encrypt)
{
    auto mode = Botan::Cipher_Mode::create(spec, encrypt ? Botan::ENCRYPTION : Botan::DECRYPTION);
    if (!mode) {
        state.SkipWithError("cipher not available");
        return;
    }
    const auto& message = BenchMessage();
    // Botan works in place; the message is transformed again on each pass, which costs the same.
    Botan::secure_vector<std::uint8_t> work(message.begin(), message.end());
    const std::uint8_t iv[8] = {};
    for (auto _ : state) {
        mode->set_key(kKey, sizeof kKey);
        mode->start(iv, sizeof iv);
        for (std::size_t i = 0; i < work.size(); i += kBenchPiece) {
            mode->process(work.data() + i, kBenchPiece);
        }
        benchmark::DoNotOptimize(work.data());
    }
    SetThroughput(state);
}

void Register(const std::string& name, const std::string& spec)
{
    benchmark::RegisterBenchmark(("peer/Botan/" + name + "/encrypt").c_str(), &BM_Botan, spec, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("peer/Botan/" + name + "/decrypt").c_str(), &BM_Botan, spec, false)
        ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
    Register("3DES", "TripleDES/CBC/NoPadding");
    Register("Misty1", "MISTY1/CBC/NoPadding");
    return true;
}();
} // namespace
#endif
