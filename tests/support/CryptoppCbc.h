// The oracle's CBC over a whole number of blocks under an explicit IV, where our framework's rule
// and the textbook mode coincide.
#pragma once

#include "tests/support/Bytes.h"

#include <cryptopp/modes.h>

template <class TOracle> TBytes OracleCbc(bool encrypt, const TBytes& key, const TBytes& iv, const TBytes& in)
{
    TBytes out(in.size());
    if (encrypt) {
        typename CryptoPP::CBC_Mode<TOracle>::Encryption mode(key.data(), key.size(), iv.data());
        mode.ProcessData(out.data(), in.data(), in.size());
    } else {
        typename CryptoPP::CBC_Mode<TOracle>::Decryption mode(key.data(), key.size(), iv.data());
        mode.ProcessData(out.data(), in.data(), in.size());
    }
    return out;
}
