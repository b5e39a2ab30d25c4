// Crypto++'s 64-bit block ciphers that have a counterpart here, CBC over the shared message. Its TEA
// is the published round function; ours differs but costs about the same.
#ifdef VX_HAVE_CRYPTOPP
#include "bench/BenchCommon.h"

#include <crypto++/des.h>
#include <crypto++/modes.h>
#include <crypto++/rc2.h>
#include <crypto++/tea.h>

#include <string>

namespace
{
const unsigned char kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

template <class TCipher, bool Encrypt>
void BM_Cryptopp(benchmark::State& state)
{
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    const CryptoPP::byte iv[8] = {};
    using TMode = std::conditional_t<Encrypt, typename CryptoPP::CBC_Mode<TCipher>::Encryption,
                                     typename CryptoPP::CBC_Mode<TCipher>::Decryption>;
    for (auto _ : state) {
        TMode mode(kKey, sizeof kKey, iv);
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
    benchmark::RegisterBenchmark(("peer/Crypto++/" + name + "/encrypt").c_str(), &BM_Cryptopp<TCipher, true>)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("peer/Crypto++/" + name + "/decrypt").c_str(), &BM_Cryptopp<TCipher, false>)
        ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
    Register<CryptoPP::DES_EDE2>("3DES");
    Register<CryptoPP::RC2>("RC2");
    Register<CryptoPP::TEA>("Tea");
    return true;
}();
} // namespace
#endif
