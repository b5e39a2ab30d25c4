// Known answers and the contract every cipher class shares. A new cipher joins with one line in
// kCases and its vector file in tests/data/vectors/.
#include "crypto/VXblockciphers.h"
#include "crypto/VXblowfish.h"
#include "crypto/VXcast256.h"
#include "crypto/VXdes.h"
#include "crypto/VXice.h"
#include "crypto/VXmars.h"
#include "crypto/VXmd5.h"
#include "crypto/VXmisty1.h"
#include "crypto/VXrc2.h"
#include "crypto/VXrc4.h"
#include "crypto/VXrc6.h"
#include "crypto/VXrijndael.h"
#include "crypto/VXserpent.h"
#include "crypto/VXtea.h"
#include "crypto/VXtwofish.h"
#include "tests/support/Bytes.h"
#include "tests/support/CpuFeatures.h"
#include "tests/support/VectorFile.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <ostream>
#include <random>
#include <string>

namespace {
struct TCipherCase
{
    const char* name;
    const char* vectorFile; // nullptr: no published vectors exist
    std::unique_ptr<TVX_cipher> (*create)();
    bool (*checkVectors)();
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const TCipherCase& c, std::ostream* os)
{
    *os << c.name;
}

template <class TCipher> TCipherCase Case(const char* name, const char* vectorFile)
{
    return {name, vectorFile, []() -> std::unique_ptr<TVX_cipher> { return std::make_unique<TCipher>(); },
            &TCipher::CheckVectors};
}

const TCipherCase kCases[] = {
    Case<TVX_blowfish>("Blowfish", "blowfish.txt"),
    Case<TVX_rijndael>("Rijndael", "rijndael.txt"),
    Case<TVX_twofish>("Twofish", "twofish.txt"),
    Case<TVX_serpent>("Serpent", "serpent.txt"),
    Case<TVX_cast256>("Cast256", "cast256.txt"),
    Case<TVX_mars>("Mars", nullptr),
    Case<TVX_rc4>("RC4", "rc4.txt"),
    Case<TVX_rc6>("RC6", "rc6.txt"),
    Case<TVX_3des>("3DES", "3des.txt"),
    Case<TVX_ice>("Ice", "ice.txt"),
    Case<TVX_misty1>("Misty1", "misty1.txt"),
    Case<TVX_rc2>("RC2", "rc2.txt"),
    Case<TVX_tea>("Tea", "tea.txt"),
};

// The processor settings every vector is rerun under: as detected, each detected feature switched
// off alone, and all of them off, so that each path a cipher chooses by feature (and the portable
// code under all of them) meets the published answers on this machine.
struct TCpuSetting
{
    std::string name;
    TCpuFeatureSet off;
    TCpuFeatureSet on;
};

// Features forced on beyond detection, so that a path that detection leaves off by rule rather than
// by CPUID (gathers outside Intel) still meets the answers on every machine that can run it.
const TCpuFeatureSet kForcedOn = {TVXCpuFeature::FastGather};

std::vector<TCpuSetting> CpuSettings()
{
    const TCpuFeatureSet detected = DetectedCpuFeatures();
    std::vector<TCpuSetting> settings = {{"as detected", {}, {}}};
    for (const TVXCpuFeature feature : detected) {
        settings.push_back({"without " + std::string(VXCpuFeatureName(feature)), {feature}, {}});
    }
    if (detected.size() > 1) {
        settings.push_back({"without any feature", detected, {}});
    }
    for (const TVXCpuFeature forced : kForcedOn) {
        const std::string with = "with " + std::string(VXCpuFeatureName(forced)) + " forced on";
        settings.push_back({with, {}, {forced}});
        for (const TVXCpuFeature feature : detected) {
            if (feature != forced) {
                settings.push_back({with + ", without " + std::string(VXCpuFeatureName(feature)), {feature}, {forced}});
            }
        }
    }
    return settings;
}

// Applies a setting for one scope and restores the previous one.
class TCpuRun final
{
public:
    explicit TCpuRun(const TCpuSetting& setting) : m_off(setting.off), m_on(setting.on)
    {
        for (const TVXCpuFeature feature : m_on) {
            VXCpuForceOn(feature, true);
        }
    }
    ~TCpuRun()
    {
        for (const TVXCpuFeature feature : m_on) {
            VXCpuForceOn(feature, false);
        }
    }
    TCpuRun(const TCpuRun&) = delete;
    TCpuRun& operator=(const TCpuRun&) = delete;

private:
    TCpuFeatureSetOff m_off;
    TCpuFeatureSet m_on;
};

class CipherContract : public testing::TestWithParam<TCipherCase>
{
protected:
    std::unique_ptr<TVX_cipher> Make() const { return GetParam().create(); }
};

// The iterated self-test of the vector files: the key buffer moves along and takes the block.
TBytes RunIterated(TVX_blockcipher& cipher, const TVectorRecord& record)
{
    const std::size_t keyBytes = record.Number("keybits") / 8;
    TBytes key(32, 0);
    const TBytes start = record.Bytes("key");
    std::copy(start.begin(), start.begin() + std::min(start.size(), key.size()), key.begin());
    TBytes block = record.Bytes("plain");
    for (unsigned long i = 0; i < record.Number("iterated"); ++i) {
        cipher.KeySetup(key, static_cast<std::uint32_t>(keyBytes * 8));
        if (keyBytes == 24) {
            std::copy_n(key.begin(), 8, key.begin() + 16);
        } else if (keyBytes == 32) {
            std::copy_n(key.begin(), 16, key.begin() + 16);
        }
        std::copy(block.begin(), block.end(), key.begin());
        cipher.EncryptBlock(block, block);
    }
    return block;
}

// The same contract, over the ciphers that have published vectors and over the block ciphers.
class PublishedVectors : public CipherContract
{
};

class BlockModes : public CipherContract
{
};

// A record's answer through the multi-block operations, where the wide paths live: a CBC decryption
// of the cipher block repeated past every path's width and batch (with a remainder), whose
// plaintext follows from the record alone, and a counter run whose counter is the plain block.
void CheckMultiBlock(TVX_blockcipher& cipher, const TBytes& plain, const TBytes& expected)
{
    constexpr std::size_t kRepeats = 67;
    const std::size_t n = plain.size();
    TBytes stream;
    TBytes decrypted;
    for (std::size_t r = 0; r < kRepeats; ++r) {
        stream.insert(stream.end(), expected.begin(), expected.end());
        for (std::size_t i = 0; i < n; ++i) {
            decrypted.push_back(static_cast<std::uint8_t>(plain[i] ^ (r == 0 ? 0 : expected[i])));
        }
    }
    cipher.LoadIV(TBytes(n, 0));
    TBytes out(stream.size());
    cipher.CbcDecrypt(stream, out);
    EXPECT_EQ(ToHex(out), ToHex(decrypted)) << "CBC decryption of the repeated cipher block";
    cipher.Rewind();
    out = stream;
    cipher.CbcDecrypt(out, out);
    EXPECT_EQ(ToHex(out), ToHex(decrypted)) << "CBC decryption of the repeated cipher block, in place";

    cipher.CipherMode = TVX_ciphermode::cmCTR;
    cipher.LoadIV(plain);
    TBytes keyStream(n, 0);
    cipher.EncryptBuffer(keyStream, keyStream);
    EXPECT_EQ(ToHex(keyStream), ToHex(expected)) << "counter mode with the plain block as counter";
    cipher.CipherMode = TVX_ciphermode::cmCBC;
}

void CheckVectorFile(TVX_cipher& cipher, const char* vectorFile)
{
    auto* block = dynamic_cast<TVX_blockcipher*>(&cipher);
    for (const TVectorRecord& record : LoadVectorFile(vectorFile)) {
        SCOPED_TRACE(record.where + " (" + record.comment + ")");
        const TBytes key = record.Bytes("key");
        const auto bits = static_cast<std::uint32_t>(record.Number("keybits"));
        const TBytes plain = record.Bytes("plain");
        const TBytes expected = record.Bytes("cipher");
        if (record.Has("iterated")) {
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(ToHex(RunIterated(*block, record)), ToHex(expected));
            continue;
        }
        // Only the whole bytes named by keybits may be read: hand exactly those.
        const TBytes usedKey(key.begin(), key.begin() + bits / 8);
        cipher.KeySetup(usedKey, bits);
        TBytes out(plain.size());
        if (block != nullptr) {
            block->EncryptBlock(plain, out);
            EXPECT_EQ(ToHex(out), ToHex(expected));
            block->DecryptBlock(expected, out);
            EXPECT_EQ(ToHex(out), ToHex(plain));
            TBytes inPlace = plain;
            block->EncryptBlock(inPlace, inPlace);
            EXPECT_EQ(ToHex(inPlace), ToHex(expected));
            block->DecryptBlock(inPlace, inPlace);
            EXPECT_EQ(ToHex(inPlace), ToHex(plain));
            CheckMultiBlock(*block, plain, expected);
        } else {
            cipher.EncryptBuffer(plain, out);
            EXPECT_EQ(ToHex(out), ToHex(expected));
            cipher.Rewind();
            cipher.DecryptBuffer(out, out);
            EXPECT_EQ(ToHex(out), ToHex(plain));
        }
        cipher.Wipe();
    }
}

TEST_P(PublishedVectors, KnownAnswersBothWaysAndInPlaceOnEveryPath)
{
    for (const TCpuSetting& setting : CpuSettings()) {
        SCOPED_TRACE(setting.name);
        TCpuRun run(setting);
        auto cipher = Make();
        CheckVectorFile(*cipher, GetParam().vectorFile);
    }
}

TEST_P(CipherContract, CheckVectorsPassesOnEveryPath)
{
    for (const TCpuSetting& setting : CpuSettings()) {
        TCpuRun run(setting);
        EXPECT_TRUE(GetParam().checkVectors()) << setting.name;
    }
}

// Every mode of every cipher with input and output at each misalignment of a 16-byte vector, and in
// place, against the same call between 64-byte aligned buffers: no path may assume alignment, nor
// that input and output are apart.
TEST_P(CipherContract, MisalignedAndInPlaceBuffersGiveTheAlignedBytes)
{
    auto cipher = Make();
    auto* block = dynamic_cast<TVX_blockcipher*>(cipher.get());
    std::vector<TVX_ciphermode> modes = {TVX_ciphermode::cmCBC};
    if (block != nullptr) {
        modes = {TVX_ciphermode::cmCBC, TVX_ciphermode::cmCFB8bit, TVX_ciphermode::cmCFBblock, TVX_ciphermode::cmOFB,
                 TVX_ciphermode::cmCTR};
    }
    std::mt19937 rng(21);
    const TBytes key = RandomBytes(rng, 32);
    const auto bits = std::min<std::uint32_t>(128, static_cast<std::uint32_t>(cipher->ClassMaxKeySize()));
    constexpr std::size_t kAlign = 64;
    constexpr std::size_t kPad = 2 * kAlign;

    for (const TCpuSetting& setting : CpuSettings()) {
        SCOPED_TRACE(setting.name);
        TCpuRun run(setting);
        cipher->KeySetup(key, bits);
        for (const TVX_ciphermode mode : modes) {
            SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(mode));
            if (block != nullptr) {
                block->CipherMode = mode;
            }
            // Past the 512-byte batches and every vector width, with a tail; CFB-8 costs a block per byte.
            const std::size_t size = mode == TVX_ciphermode::cmCFB8bit ? 77 : 1100;
            const TBytes plain = RandomBytes(rng, size);
            TBytes inArena(size + kPad);
            TBytes outArena(size + kPad);
            auto at = [&](TBytes& arena, std::size_t offset) {
                const auto address = reinterpret_cast<std::uintptr_t>(arena.data());
                return std::span(arena).subspan((kAlign - address % kAlign) % kAlign + offset, size);
            };
            auto apply = [&](bool encrypt, std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
                cipher->Rewind();
                if (encrypt) {
                    cipher->EncryptBuffer(in, out);
                } else {
                    cipher->DecryptBuffer(in, out);
                }
                return TBytes(out.begin(), out.end());
            };
            auto place = [&](TBytes& arena, std::size_t offset, const TBytes& data) {
                const auto span = at(arena, offset);
                std::copy(data.begin(), data.end(), span.begin());
                return span;
            };

            const TBytes encrypted = apply(true, place(inArena, 0, plain), at(outArena, 0));
            ASSERT_EQ(ToHex(apply(false, place(inArena, 0, encrypted), at(outArena, 0))), ToHex(plain));
            for (std::size_t offset = 1; offset < 16; ++offset) {
                SCOPED_TRACE(testing::Message() << "offset " << offset);
                EXPECT_EQ(ToHex(apply(true, place(inArena, offset, plain), at(outArena, 16 - offset))),
                          ToHex(encrypted));
                EXPECT_EQ(ToHex(apply(false, place(inArena, offset, encrypted), at(outArena, 16 - offset))),
                          ToHex(plain));
                const auto inPlace = place(inArena, offset, plain);
                EXPECT_EQ(ToHex(apply(true, inPlace, inPlace)), ToHex(encrypted)) << "in place";
                EXPECT_EQ(ToHex(apply(false, inPlace, inPlace)), ToHex(plain)) << "in place";
            }
        }
    }
}

TEST_P(CipherContract, UnkeyedAndWipedUseThrows)
{
    auto cipher = Make();
    TBytes data(16, 0x5A);
    auto expectUnkeyed = [&] {
        try {
            cipher->EncryptBuffer(data, data);
            ADD_FAILURE() << "EncryptBuffer on an unkeyed cipher did not throw";
        } catch (const EVX_cipher& e) {
            EXPECT_STREQ(e.what(), "Cipher not initialized");
        }
        if (auto* block = dynamic_cast<TVX_blockcipher*>(cipher.get())) {
            EXPECT_THROW(block->EncryptBlock(data, data), EVX_blockcipher);
            EXPECT_THROW(block->DecryptBlock(data, data), EVX_blockcipher);
            EXPECT_THROW(block->DecryptBuffer(data, data), EVX_blockcipher);
        }
        EXPECT_EQ(data, TBytes(16, 0x5A)) << "an unkeyed operation wrote output";
    };
    EXPECT_FALSE(cipher->IsReady());
    expectUnkeyed();
    cipher->KeyFromPassword<TVX_md5>("password");
    EXPECT_TRUE(cipher->IsReady());
    cipher->Wipe();
    EXPECT_FALSE(cipher->IsReady());
    expectUnkeyed();
}

TEST_P(CipherContract, KeySizeLimits)
{
    auto cipher = Make();
    const auto maxBits = static_cast<std::uint32_t>(cipher->ClassMaxKeySize());
    const TBytes key(maxBits / 8 + 8, 0x42);
    for (std::uint32_t bad : {0u, 130u, maxBits + 1, maxBits + 4}) {
        SCOPED_TRACE(bad);
        try {
            cipher->KeySetup(key, bad);
            ADD_FAILURE() << "key size accepted";
        } catch (const EVX_cipher& e) {
            EXPECT_STREQ(e.what(), "Invalid key size");
        }
        EXPECT_FALSE(cipher->IsReady());
    }
    for (std::uint32_t good : {32u, maxBits}) {
        SCOPED_TRACE(good);
        EXPECT_NO_THROW(cipher->KeySetup(key, good));
        EXPECT_TRUE(cipher->IsReady());
    }
}

// Every mode built from EncryptBlock alone, against the cipher's own (possibly multi-block,
// batched or SIMD) mode operations over a length that crosses the internal batch size.
TEST_P(BlockModes, ModesMatchSingleBlockConstruction)
{
    auto made = Make();
    auto* cipher = dynamic_cast<TVX_blockcipher*>(made.get());
    ASSERT_NE(cipher, nullptr);
    std::mt19937 rng(7);
    TBytes key(16);
    for (auto& b : key) {
        b = static_cast<std::uint8_t>(rng());
    }
    const auto n = static_cast<std::size_t>(cipher->ClassBlockSize() / 8);
    const std::size_t size = 1000 * n + n / 2 + 1; // many batches, then a tail
    TBytes plain(size);
    for (auto& b : plain) {
        b = static_cast<std::uint8_t>(rng());
    }
    const auto bits = std::min<std::uint32_t>(128, static_cast<std::uint32_t>(cipher->ClassMaxKeySize()));
    cipher->KeySetup(key, bits);
    TBytes iv(n);
    cipher->ReadChain(iv);

    auto e = [&](const std::uint8_t* in, std::uint8_t* out) {
        cipher->EncryptBlock(std::span(in, n), std::span(out, n));
    };
    auto d = [&](const std::uint8_t* in, std::uint8_t* out) {
        cipher->DecryptBlock(std::span(in, n), std::span(out, n));
    };
    const std::size_t whole = size / n * n;

    // CBC with its tail rule.
    TBytes cbc(size);
    TBytes cv = iv;
    for (std::size_t i = 0; i < whole; i += n) {
        for (std::size_t k = 0; k < n; ++k) {
            cv[k] ^= plain[i + k];
        }
        e(cv.data(), cv.data());
        std::copy(cv.begin(), cv.end(), cbc.begin() + static_cast<std::ptrdiff_t>(i));
    }
    e(cv.data(), cv.data());
    for (std::size_t k = 0; whole + k < size; ++k) {
        cbc[whole + k] = plain[whole + k] ^ cv[k];
    }
    TBytes work = plain;
    cipher->Rewind();
    cipher->CbcEncrypt(work, work);
    EXPECT_EQ(ToHex(work), ToHex(cbc));
    cipher->Rewind();
    cipher->CbcDecrypt(work, work);
    EXPECT_EQ(ToHex(work), ToHex(plain));

    // The decryption side must agree with DecryptBlock too, not only invert CbcEncrypt.
    TBytes manual(n);
    d(cbc.data() + n, manual.data());
    for (std::size_t k = 0; k < n; ++k) {
        manual[k] ^= cbc[k];
    }
    EXPECT_EQ(ToHex(manual), ToHex(TBytes(plain.begin() + static_cast<std::ptrdiff_t>(n),
                                          plain.begin() + 2 * static_cast<std::ptrdiff_t>(n))));

    // CTR: keystream block i is E(IV + i), big-endian counter.
    TBytes ctr(size);
    TBytes counter = iv;
    TBytes ks(n);
    for (std::size_t i = 0; i < size; i += n) {
        e(counter.data(), ks.data());
        for (std::size_t k = 0; k < n && i + k < size; ++k) {
            ctr[i + k] = plain[i + k] ^ ks[k];
        }
        for (std::size_t k = n; k-- > 0;) {
            if (++counter[k] != 0) {
                break;
            }
        }
    }
    work = plain;
    cipher->Rewind();
    cipher->CtrEncrypt(work, work);
    EXPECT_EQ(ToHex(work), ToHex(ctr));
    cipher->Rewind();
    cipher->CtrDecrypt(work, work);
    EXPECT_EQ(ToHex(work), ToHex(plain));

    // CFB-block, OFB and CFB-8 invert themselves in pieces of whole blocks.
    for (auto mode : {TVX_ciphermode::cmCFBblock, TVX_ciphermode::cmOFB, TVX_ciphermode::cmCFB8bit}) {
        cipher->CipherMode = mode;
        work = plain;
        cipher->Rewind();
        cipher->EncryptBuffer(std::span(work).first(8 * n), std::span(work).first(8 * n));
        cipher->EncryptBuffer(std::span(work).subspan(8 * n), std::span(work).subspan(8 * n));
        EXPECT_NE(work, plain);
        cipher->Rewind();
        cipher->DecryptBuffer(work, work);
        EXPECT_EQ(ToHex(work), ToHex(plain)) << "mode " << static_cast<int>(mode);
    }
}

std::vector<TCipherCase> CasesWhere(bool (*keep)(const TCipherCase&))
{
    std::vector<TCipherCase> out;
    std::copy_if(std::begin(kCases), std::end(kCases), std::back_inserter(out), keep);
    return out;
}

std::string CaseName(const testing::TestParamInfo<TCipherCase>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(AllCiphers, CipherContract, testing::ValuesIn(kCases), CaseName);
INSTANTIATE_TEST_SUITE_P(AllCiphers, PublishedVectors,
                         testing::ValuesIn(CasesWhere([](const TCipherCase& c) { return c.vectorFile != nullptr; })),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(AllCiphers, BlockModes, testing::ValuesIn(CasesWhere([](const TCipherCase& c) {
                             return dynamic_cast<TVX_blockcipher*>(c.create().get()) != nullptr;
                         })),
                         CaseName);
} // namespace
