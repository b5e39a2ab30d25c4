// libgcrypt's counterparts of our ciphers, CBC with a 128-bit key over the shared message.
#ifdef VX_HAVE_GCRYPT
#include "bench/BenchCommon.h"

#include <gcrypt.h>

#include <string>

namespace
{
void BM_Gcrypt(benchmark::State& state, int algorithm, bool encrypt)
{
    static const bool ready = [] {
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) {
            return false;
        }
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size());
    // libgcrypt has only three-key triple DES: K1 || K2 || K1 is the two-key cipher.
    unsigned char key[24];
    for (std::size_t i = 0; i < sizeof key; ++i) {
        key[i] = kBenchKey[i % 16];
    }
    const std::size_t keyLength = algorithm == GCRY_CIPHER_3DES ? 24 : 16;
    const unsigned char iv[16] = {};
    gcry_cipher_hd_t handle = nullptr;
    if (!ready || gcry_cipher_open(&handle, algorithm, GCRY_CIPHER_MODE_CBC, 0) != 0) {
        state.SkipWithError("cipher not available");
        return;
    }
    for (auto _ : state) {
        gcry_cipher_setkey(handle, key, keyLength);
        gcry_cipher_setiv(handle, iv, gcry_cipher_get_algo_blklen(algorithm));
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
    for (const bool encrypt : {true, false}) {
        benchmark::RegisterBenchmark(("peer/libgcrypt/" + name + (encrypt ? "/encrypt" : "/decrypt")).c_str(),
                                     &BM_Gcrypt, algorithm, encrypt)
            ->Unit(benchmark::kMillisecond);
    }
}

const bool kRegistered = [] {
    Register("Blowfish", GCRY_CIPHER_BLOWFISH);
    Register("Rijndael", GCRY_CIPHER_AES128);
    Register("Twofish", GCRY_CIPHER_TWOFISH128);
    Register("Serpent", GCRY_CIPHER_SERPENT128);
    Register("3DES", GCRY_CIPHER_3DES);
    Register("RC2", GCRY_CIPHER_RFC2268_128);
    Register("Cast256", GCRY_CIPHER_CAST5); // CAST-128: the nearest libgcrypt has, for scale only
    return true;
}();
} // namespace
#endif
