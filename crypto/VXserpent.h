// Serpent: key schedule and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

class TVX_serpent final : public TVX_blockcipher128
{
public:
    static constexpr std::int32_t kId = 26;
    static constexpr std::string_view kAlgorithm = "Serpent";
    static constexpr std::int32_t kMaxKeySize = 256;

    TVX_serpent();
    ~TVX_serpent() override;

    std::int32_t ClassId() const override { return kId; }
    std::string_view ClassAlgorithm() const override { return kAlgorithm; }
    std::int32_t ClassMaxKeySize() const override { return kMaxKeySize; }
    static bool CheckVectors();

    void Wipe() override;

    // Multi-block work (CBC decryption, CTR) runs sixteen blocks at a time in vector registers,
    // with AVX-512 or AVX2, whichever the processor has and crypto/VXcpu.h has not switched off.
    enum class TPath
    {
        Portable,
        Avx2,
        Avx512,
    };
    static TPath ActivePath();
    static std::string_view ActivePathName();

protected:
    void ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits) override;
    void DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const override;
    void DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const override;
    void DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                            std::uint8_t* chain) const override;

private:
    // 33 round keys of four words each.
    std::array<std::uint32_t, 132> m_k{};
    // The same keys laid out for the one-block-at-a-time encryption of CBC (see LtKx): in rounds 1
    // to 31 the keys of words 1 and 3 are rotated right so that they join before the rotation that
    // ends the linear transformation, and those of words 0 and 2 cancel what that brings in.
    std::array<std::uint32_t, 132> m_kr{};
};
