// Crypto++'s CAST-256, MARS and RC6 in CBC on the same message and pieces as our own benchmarks.
#ifdef VX_HAVE_CRYPTOPP
#include "bench/BenchCommon.h"

#include <cryptopp/cast.h>
#include <cryptopp/mars.h>
#include <cryptopp/modes.h>
#include <cryptopp/rc6.h>

#include <string>

namespace
{
const CryptoPP::byte kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
const CryptoPP::byte kIv[16] = {};

template <class TMode>
void BM_CryptoppCbc(benchmark::State& state)
{
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    TMode mode;
    for (auto _ : state) {
        mode.SetKeyWithIV(kKey, sizeof(kKey), kIv);
        for (std::size_t i = 0; i < message.size(); i += kBenchPiece) {
            mode.ProcessData(out.data() + i, message.data() + i, kBenchPiece);
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetThroughput(state);
}

template <class TCipher>
void Register(const std::string& name)
{
    benchmark::RegisterBenchmark(("peer/Crypto++/" + name + "/encrypt").c_str(),
                                 &BM_CryptoppCbc<typename CryptoPP::CBC_Mode<TCipher>::Encryption>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("peer/Crypto++/" + name + "/decrypt").c_str(),
                                 &BM_CryptoppCbc<typename CryptoPP::CBC_Mode<TCipher>::Decryption>)
        ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
    Register<CryptoPP::CAST256>("Cast256");
    Register<CryptoPP::MARS>("Mars");
    Register<CryptoPP::RC6>("RC6");
    return true;
}();
} // namespace
#endif
