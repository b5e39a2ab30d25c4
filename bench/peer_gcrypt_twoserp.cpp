// libgcrypt's Twofish and Serpent in CBC with a 128-bit key, on the same message and pieces as our
// own benchmarks.
#ifdef VX_HAVE_GCRYPT
#include "bench/BenchCommon.h"

#include <gcrypt.h>

#include <string>

namespace
{
const unsigned char kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
const unsigned char kIv[16] = {};

void BM_Gcrypt(benchmark::State& state, int algorithm, bool encrypt)
{
    static const bool initialised = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    gcry_cipher_hd_t handle = nullptr;
    if (gcry_cipher_open(&handle, algorithm, GCRY_CIPHER_MODE_CBC, 0) != 0 ||
        gcry_cipher_setkey(handle, kKey, sizeof kKey) != 0) {
        state.SkipWithError("cipher not available");
        gcry_cipher_close(handle);
        return;
    }
    for (auto _ : state) {
        gcry_cipher_setiv(handle, kIv, sizeof kIv);
        for (std::size_t i = 0; i < message.size(); i += kBenchPiece) {
            if (encrypt) {
                gcry_cipher_encrypt(handle, out.data() + i, kBenchPiece, message.data() + i, kBenchPiece);
            } else {
                gcry_cipher_decrypt(handle, out.data() + i, kBenchPiece, message.data() + i, kBenchPiece);
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    gcry_cipher_close(handle);
    SetThroughput(state);
}

void Register(const std::string& name, int algorithm)
{
    benchmark::RegisterBenchmark(("peer/Gcrypt/" + name + "/encrypt").c_str(), &BM_Gcrypt, algorithm, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("peer/Gcrypt/" + name + "/decrypt").c_str(), &BM_Gcrypt, algorithm, false)
        ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
    Register("Twofish", GCRY_CIPHER_TWOFISH128);
    Register("Serpent", GCRY_CIPHER_SERPENT128);
    return true;
}();
} // namespace
#endif
