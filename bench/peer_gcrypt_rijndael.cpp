// libgcrypt's AES-128 in CBC on the same message and pieces as our Rijndael benchmark, and our
// Rijndael measured the way the peers are: each 8192-byte piece straight from the message to the
// output with EncryptBuffer/DecryptBuffer, without the two copies through the stream buffer that
// StreamEncrypt/StreamDecrypt make. The difference between Rijndael/* and Rijndael-direct/* is
// the cost of those copies, which no peer pays.
#include "bench/BenchCommon.h"
#include "crypto/VXrijndael.h"

#ifdef VX_HAVE_GCRYPT
#include <gcrypt.h>
#endif

namespace
{
const unsigned char kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

void BM_RijndaelDirect(benchmark::State& state, bool encrypt)
{
    TVX_rijndael cipher;
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    for (auto _ : state) {
        cipher.KeySetup(kKey, 128);
        for (std::size_t i = 0; i < message.size(); i += kBenchPiece) {
            const auto in = std::span(message).subspan(i, kBenchPiece);
            const auto to = std::span(out).subspan(i, kBenchPiece);
            if (encrypt) {
                cipher.EncryptBuffer(in, to);
            } else {
                cipher.DecryptBuffer(in, to);
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetThroughput(state);
}

const bool kDirectRegistered = [] {
    benchmark::RegisterBenchmark("Rijndael-direct/encrypt", &BM_RijndaelDirect, true)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Rijndael-direct/decrypt", &BM_RijndaelDirect, false)->Unit(benchmark::kMillisecond);
    return true;
}();

#ifdef VX_HAVE_GCRYPT
const unsigned char kIv[16] = {};

void BM_GcryptAes128Cbc(benchmark::State& state, bool encrypt)
{
    static const bool ready = [] {
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) {
            return false;
        }
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    gcry_cipher_hd_t handle = nullptr;
    if (!ready || gcry_cipher_open(&handle, GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_CBC, 0) != 0) {
        state.SkipWithError("libgcrypt AES-128-CBC not available");
        return;
    }
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    for (auto _ : state) {
        gcry_cipher_setkey(handle, kKey, sizeof kKey);
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

const bool kRegistered = [] {
    benchmark::RegisterBenchmark("peer/libgcrypt/AES-128-CBC/encrypt", &BM_GcryptAes128Cbc, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("peer/libgcrypt/AES-128-CBC/decrypt", &BM_GcryptAes128Cbc, false)
        ->Unit(benchmark::kMillisecond);
    return true;
}();
#endif
} // namespace
