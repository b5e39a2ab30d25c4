// Botan's counterparts of our 64-bit block ciphers, CBC with a 128-bit key over the shared message.
#ifdef VX_HAVE_BOTAN
#include "bench/BenchCommon.h"

#include <botan/cipher_mode.h>

#include <memory>
#include <string>

namespace
{
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
        mode->set_key(kBenchKey, sizeof kBenchKey);
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
