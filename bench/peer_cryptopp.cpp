// Crypto++'s counterparts of our ciphers, CBC with a 128-bit key over the shared message. Its TEA is
// the published round function; ours differs but costs about the same.
#ifdef VX_HAVE_CRYPTOPP
#include "bench/BenchCommon.h"

#include <cryptopp/cast.h>
#include <cryptopp/des.h>
#include <cryptopp/mars.h>
#include <cryptopp/modes.h>
#include <cryptopp/rc2.h>
#include <cryptopp/rc6.h>
#include <cryptopp/tea.h>

#include <string>

namespace
{
template <class TMode>
void BM_Cryptopp(benchmark::State& state)
{
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    const CryptoPP::byte iv[16] = {};
    TMode mode;
    for (auto _ : state) {
        mode.SetKeyWithIV(kBenchKey, sizeof kBenchKey, iv);
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
                                 &BM_Cryptopp<typename CryptoPP::CBC_Mode<TCipher>::Encryption>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("peer/Crypto++/" + name + "/decrypt").c_str(),
                                 &BM_Cryptopp<typename CryptoPP::CBC_Mode<TCipher>::Decryption>)
        ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
    Register<CryptoPP::CAST256>("Cast256");
    Register<CryptoPP::MARS>("Mars");
    Register<CryptoPP::RC6>("RC6");
    Register<CryptoPP::DES_EDE2>("3DES");
    Register<CryptoPP::RC2>("RC2");
    Register<CryptoPP::TEA>("Tea");
    return true;
}();
} // namespace
#endif
