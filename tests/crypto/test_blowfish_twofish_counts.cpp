// Blowfish and Twofish in CBC against Crypto++ for every block count across the groups their scalar
// code keeps in flight, with every processor feature on and with all of them off.
#include "crypto/VXblowfish.h"
#include "crypto/VXtwofish.h"
#include "tests/support/CipherCalls.h"
#include "tests/support/CpuFeatures.h"
#include "tests/support/CryptoppCbc.h"
#include "tests/support/VectorFile.h"

#include <algorithm>
#include <cryptopp/blowfish.h>
#include <cryptopp/twofish.h>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

// Counts from one block to past two groups of eight, every remainder after them, and the edges of
// the framework's batches (64 Blowfish blocks, 32 Twofish blocks), where a group may straddle two.
const std::vector<std::size_t> kCounts = [] {
    std::vector<std::size_t> counts;
    for (std::size_t n = 1; n <= 27; ++n) {
        counts.push_back(n);
    }
    for (const std::size_t n : {31, 32, 33, 63, 64, 65, 67, 71, 72, 76, 129}) {
        counts.push_back(n);
    }
    return counts;
}();

// Encryption and decryption out of place at an odd offset, and decryption in place, against the
// oracle. The message is cut in two at an odd block so the chain carries across calls.
template <class TCipher, class TOracle> void CheckCountsAgainstOracle(unsigned seed)
{
    constexpr std::size_t n = TCipher::kBlockBytes;
    std::mt19937 rng(seed);
    for (const std::size_t blocks : kCounts) {
        const TBytes key = RandomBytes(rng, 16);
        const TBytes iv = RandomBytes(rng, n);
        const TBytes plain = RandomBytes(rng, blocks * n);
        const TBytes cipherText = OracleCbc<TOracle>(true, key, iv, plain);
        SCOPED_TRACE(testing::Message() << blocks << " blocks");

        EXPECT_EQ(ToHex(CbcEncrypt<TCipher>(key, 128, iv, plain)), ToHex(cipherText));

        const std::size_t offset = 1 + blocks % 7;
        ExpectCbcDecryptSplitAndInPlace<TCipher>(key, 128, iv, cipherText, offset, offset, n * (blocks / 2 | 1), plain);
    }
}

template <class TCipher, class TOracle> void CheckEveryFeatureSetting(unsigned seed)
{
    {
        SCOPED_TRACE("every detected feature on");
        CheckCountsAgainstOracle<TCipher, TOracle>(seed);
    }
    {
        SCOPED_TRACE("every feature off");
        const TCpuFeatureSetOff off(DetectedCpuFeatures());
        CheckCountsAgainstOracle<TCipher, TOracle>(seed);
    }
}

TEST(ScalarBlockCounts, BlowfishAgreesWithCryptoPpForEveryCount)
{
    CheckEveryFeatureSetting<TVX_blowfish, CryptoPP::Blowfish>(41);
}

TEST(ScalarBlockCounts, TwofishAgreesWithCryptoPpForEveryCount)
{
    CheckEveryFeatureSetting<TVX_twofish, CryptoPP::Twofish>(42);
}

} // namespace
