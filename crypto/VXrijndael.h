// Rijndael (AES): key schedule, portable block functions and the AES-NI path.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

// Rijndael with a 128-bit block: AES. Keys of any accepted size are zero-padded to the next of the
// three standard lengths, so a 16-byte key is AES-128.
class TVX_rijndael final : public TVX_blockcipher128
{
public:
    static constexpr std::int32_t kId = 9;
    static constexpr std::string_view kAlgorithm = "Rijndael";
    static constexpr std::int32_t kMaxKeySize = 256;

    // The implementations the class can run, slowest first. The widest one whose processor features
    // are present and not switched off (crypto/VXcpu.h) is used; all of them give the same bytes.
    enum class TPath : std::uint8_t
    {
        Portable, // combined look-up tables, any processor
        AesNi,    // AES instructions on one 128-bit register per block
        Vaes256,  // vector AES on 256-bit registers, two blocks each
        Vaes512,  // vector AES on 512-bit registers, four blocks each
    };

    TVX_rijndael();
    ~TVX_rijndael() override;

    std::int32_t ClassId() const override { return kId; }
    std::string_view ClassAlgorithm() const override { return kAlgorithm; }
    std::int32_t ClassMaxKeySize() const override { return kMaxKeySize; }
    static bool CheckVectors();

    void Wipe() override;
    void CbcDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;

    // The path the next call takes, for tests and benchmarks that need to see which one ran.
    static TPath ActivePath();
    static std::string_view ActivePathName();

    std::int32_t Rounds() const { return m_rounds; }

protected:
    void ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits) override;
    void DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const override;
    void DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const override;
    void DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                            std::uint8_t* chain) const override;

private:
    void EncryptPortable(const std::uint8_t* in, std::uint8_t* out) const;
    void DecryptPortable(const std::uint8_t* in, std::uint8_t* out) const;

    // Round keys as little-endian words, so that their bytes in memory are the FIPS 197 byte order
    // the AES instructions expect. The decryption keys are those of the equivalent inverse cipher,
    // stored in the order decryption uses them.
    std::int32_t m_rounds = 0;
    alignas(64) std::array<std::uint32_t, 60> m_encKeys{};
    alignas(64) std::array<std::uint32_t, 60> m_decKeys{};
};
