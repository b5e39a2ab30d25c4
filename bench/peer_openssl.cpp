// OpenSSL's EVP ciphers and MD5 on the same message and pieces as our own benchmarks.
#ifdef VX_HAVE_OPENSSL
#include "bench/BenchCommon.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <string>

namespace
{
const unsigned char kIv[16] = {};

void BM_Evp(benchmark::State& state, const EVP_CIPHER* (*type)(), bool encrypt)
{
    // Blowfish, RC2 and RC4 live in the legacy provider of OpenSSL 3.
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    (void)legacy;
    (void)standard;
    const auto& message = BenchMessage();
    std::vector<std::uint8_t> out(message.size() + 64);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        if (EVP_CipherInit_ex(ctx, type(), nullptr, nullptr, nullptr, encrypt ? 1 : 0) != 1 ||
            EVP_CIPHER_CTX_set_key_length(ctx, 16) != 1 ||
            EVP_CipherInit_ex(ctx, nullptr, nullptr, kBenchKey, kIv, encrypt ? 1 : 0) != 1) {
            state.SkipWithError("cipher not available");
            break;
        }
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        int len = 0;
        for (std::size_t i = 0; i < message.size(); i += kBenchPiece) {
            EVP_CipherUpdate(ctx, out.data() + i, &len, message.data() + i, static_cast<int>(kBenchPiece));
        }
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    SetThroughput(state);
}

void BM_EvpMd5(benchmark::State& state)
{
    const auto& message = BenchMessage();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
        for (std::size_t i = 0; i < message.size(); i += kBenchPiece) {
            EVP_DigestUpdate(ctx, message.data() + i, kBenchPiece);
        }
        EVP_DigestFinal_ex(ctx, digest, &size);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    SetThroughput(state);
}

void Register(const std::string& name, const EVP_CIPHER* (*type)())
{
    benchmark::RegisterBenchmark(("peer/OpenSSL/" + name + "/encrypt").c_str(), &BM_Evp, type, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("peer/OpenSSL/" + name + "/decrypt").c_str(), &BM_Evp, type, false)
        ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
    Register("BF-CBC", &EVP_bf_cbc);
    Register("AES-128-CBC", &EVP_aes_128_cbc);
    Register("DES-EDE-CBC", &EVP_des_ede_cbc);
    Register("RC2-CBC", &EVP_rc2_cbc);
    Register("RC4", &EVP_rc4);
    benchmark::RegisterBenchmark("peer/OpenSSL/MD5/hash", &BM_EvpMd5)->Unit(benchmark::kMillisecond);
    return true;
}();
} // namespace
#endif
