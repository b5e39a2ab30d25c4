// libgcrypt's 64-bit block ciphers that have a counterpart here, CBC over the shared message.
#ifdef VX_HAVE_GCRYPT
#include "bench/BenchCommon.h"

#include <gcrypt.h>

#include <string>

namespace
{
const unsigned char kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

void BM_Gcrypt(benchmark::State& state, int algorithm, bool encrypt)
{
    static const bool initialised = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    // libgcrypt has only three-key triple DES: K1 || K2 || K1 is the two-key cipher.
    unsigned char key[24];
    for (int i = 0; i < 24; ++i) {
        key[i] = kKey[i % 16];
    }
    const std::size_t keyLength = algorithm == GCRY_CIPHER_3DES ? 24 : 16;
    gcry_cipher_hd_t handle = nullptr;
    if (gcry_cipher_open(&handle, algorithm, GCRY_CIPHER_MODE_CBC, 0) != 0) {
        state.SkipWithError("cipher not available");
        return;
    }
    const unsigned char iv[8] = {};
    for (auto _ : state) {
        gcry_cipher_setkey(handle, key, keyLength);
        gcry_cipher_setiv(handle, iv, sizeof iv);
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
    benchmark::RegisterBenchmark(("peer/libgcrypt/" + name + "/encrypt").c_str(), &BM_Gcrypt, algorithm, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("peer/libgcrypt/" + name + "/decrypt").c_str(), &BM_Gcrypt, algorithm, false)
        ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
    Register("3DES", GCRY_CIPHER_3DES);
    Register("RC2", GCRY_CIPHER_RFC2268_128);
    return true;
}();
} // namespace
#endif
