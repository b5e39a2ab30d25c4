// Block ciphers called block by block (ECB), the way the oracle libraries are called, and in CBC.
#pragma once

#include "tests/support/Bytes.h"
#include "tests/support/VectorFile.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
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

// A freshly keyed TCipher in CBC mode over the whole of its input.
template <class TCipher> TBytes CbcEncrypt(const TBytes& key, std::uint32_t bits, const TBytes& iv, const TBytes& plain)
{
    TCipher cipher;
    cipher.KeySetup(key, bits, iv);
    TBytes out(plain.size());
    cipher.CbcEncrypt(plain, out);
    return out;
}

template <class TCipher> TBytes CbcDecrypt(const TBytes& key, std::uint32_t bits, const TBytes& iv, const TBytes& data)
{
    TCipher cipher;
    cipher.KeySetup(key, bits, iv);
    TBytes out(data.size());
    cipher.CbcDecrypt(data, out);
    return out;
}

// One published block repeated as a CBC message under a zero IV, and what it decrypts to: the first
// block gives the plain text, every later one the plain text XOR the cipher block before it. Long
// enough, it reaches every multi-block path.
struct TRepeatedVector
{
    TBytes data;
    TBytes expected;
};

inline TRepeatedVector RepeatedCbcVector(const TBytes& plain, const TBytes& cipher, std::size_t blocks)
{
    TRepeatedVector vector;
    for (std::size_t b = 0; b < blocks; ++b) {
        vector.data.insert(vector.data.end(), cipher.begin(), cipher.end());
        for (std::size_t i = 0; i < plain.size(); ++i) {
            vector.expected.push_back(static_cast<std::uint8_t>(plain[i] ^ (b == 0 ? 0 : cipher[i])));
        }
    }
    return vector;
}

// `data` decrypted in CBC by one keyed TCipher from `inOffset` bytes into its buffer: first into
// another buffer at `outOffset`, cut after `first` bytes so the chain must carry across two calls,
// then again in place after a Rewind. Both must give `expected`.
template <class TCipher>
void ExpectCbcDecryptSplitAndInPlace(const TBytes& key, std::uint32_t bits, const TBytes& iv, const TBytes& data,
                                     std::size_t inOffset, std::size_t outOffset, std::size_t first,
                                     const TBytes& expected)
{
    const std::size_t size = data.size();
    first = std::min(first, size);
    TBytes in(size + inOffset);
    TBytes out(size + outOffset);
    std::copy(data.begin(), data.end(), in.begin() + static_cast<std::ptrdiff_t>(inOffset));
    TCipher cipher;
    cipher.KeySetup(key, bits, iv);
    cipher.CbcDecrypt(std::span(in).subspan(inOffset, first), std::span(out).subspan(outOffset, first));
    cipher.CbcDecrypt(std::span(in).subspan(inOffset + first), std::span(out).subspan(outOffset + first));
    EXPECT_EQ(ToHex(out.data() + outOffset, size), ToHex(expected)) << "split across two calls";
    cipher.Rewind();
    cipher.CbcDecrypt(std::span(in).subspan(inOffset), std::span(in).subspan(inOffset));
    EXPECT_EQ(ToHex(in.data() + inOffset, size), ToHex(expected)) << "in place";
}
