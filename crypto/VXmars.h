// MARS: key schedule and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

// MARS, the AES candidate, with the key expansion of its first published form (linear mixing and
// seven stirring passes over a 47-word buffer) rather than the one of its final revision. Files
// written with "Mars" decrypt only with this expansion; the block rounds are the standard ones.
class TVX_mars final : public TVX_blockcipher128
{
public:
    static constexpr std::int32_t kId = 13;
    static constexpr std::string_view kAlgorithm = "Mars";
    static constexpr std::int32_t kMaxKeySize = 1248;

    TVX_mars();
    ~TVX_mars() override;

    std::int32_t ClassId() const override { return kId; }
    std::string_view ClassAlgorithm() const override { return kAlgorithm; }
    std::int32_t ClassMaxKeySize() const override { return kMaxKeySize; }
    static bool CheckVectors();

    void Wipe() override;

    // The 512-word S-box published with the algorithm: S0 is [0, 256), S1 is [256, 512).
    static const std::array<std::uint32_t, 512>& SBox();

protected:
    void ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits) override;
    void DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const override;
    void DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                            std::uint8_t* chain) const override;

private:
    // Tests load a schedule made by the standard key expansion to hold the rounds against an
    // independent implementation of the algorithm.
    friend struct TVX_marsProbe;

    static std::uint32_t FixMask(std::uint32_t w);

    std::array<std::uint32_t, 40> m_k{};
};
