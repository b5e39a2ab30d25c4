// Blowfish: key schedule and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

class TVX_blowfish final : public TVX_blockcipher64
{
public:
    static constexpr std::int32_t kId = 5;
    static constexpr std::string_view kAlgorithm = "Blowfish";
    static constexpr std::int32_t kMaxKeySize = 448;

    TVX_blowfish();
    ~TVX_blowfish() override;

    std::int32_t ClassId() const override { return kId; }
    std::string_view ClassAlgorithm() const override { return kAlgorithm; }
    std::int32_t ClassMaxKeySize() const override { return kMaxKeySize; }
    static bool CheckVectors();
    // The path CBC decryption takes under the current processor features.
    static std::string_view ActivePathName();

    void Wipe() override;

protected:
    void ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits) override;
    void DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const override;
    void DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                            std::uint8_t* chain) const override;

private:
    // How F takes the bytes of its input apart: by shifts and masks, or by bit-field extracts.
    struct TShiftBytes;
    struct TBitFieldBytes;

    template <class TBytes> std::uint32_t F(std::uint32_t x) const;
    template <class TBytes> void EncryptWords(std::uint32_t& l, std::uint32_t& r) const;
    void DecryptWords(std::uint32_t& l, std::uint32_t& r) const;
    template <int N> void DecryptSideBySide(const std::uint8_t* in, std::uint8_t* out) const;
    void DecryptScalar(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const;
    template <class TBytes>
    void CbcEncryptChain(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, std::uint8_t* chain) const;
    void CbcEncryptBitFields(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, std::uint8_t* chain) const;

    std::array<std::array<std::uint32_t, 256>, 4> m_s{};
    std::array<std::uint32_t, 18> m_p{};
};
