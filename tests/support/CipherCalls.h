// Block ciphers called block by block (ECB), the way the oracle libraries are called.
#pragma once

#include "tests/support/Bytes.h"

#include <cstdint>
#include <span>

// A freshly keyed TCipher over whole blocks of `plain`.
template <class TCipher> TBytes EncryptBlocks(const TBytes& key, std::uint32_t bits, const TBytes& plain)
{
    constexpr std::size_t n = TCipher::kBlockBytes;
    TCipher cipher;
    cipher.KeySetup(key, bits);
    TBytes out(plain.size());
    for (std::size_t i = 0; i + n <= plain.size(); i += n) {
        cipher.EncryptBlock(std::span(plain).subspan(i, n), std::span(out).subspan(i, n));
    }
    return out;
}

template <class TCipher> TBytes DecryptBlocks(const TBytes& key, std::uint32_t bits, const TBytes& data)
{
    constexpr std::size_t n = TCipher::kBlockBytes;
    TCipher cipher;
    cipher.KeySetup(key, bits);
    TBytes out(data.size());
    for (std::size_t i = 0; i + n <= data.size(); i += n) {
        cipher.DecryptBlock(std::span(data).subspan(i, n), std::span(out).subspan(i, n));
    }
    return out;
}
