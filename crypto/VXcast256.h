// CAST-256: key schedule and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

// CAST-256 (RFC 2612), 48 rounds; keys shorter than 256 bits are zero-padded as the RFC pads them.
class TVX_cast256 final : public TVX_blockcipher128
{
public:
    static constexpr std::int32_t kId = 15;
    static constexpr std::string_view kAlgorithm = "Cast256";
    static constexpr std::int32_t kMaxKeySize = 256;

    TVX_cast256();
    ~TVX_cast256() override;

    std::int32_t ClassId() const override { return kId; }
    std::string_view ClassAlgorithm() const override { return kAlgorithm; }
    std::int32_t ClassMaxKeySize() const override { return kMaxKeySize; }
    static bool CheckVectors();

    void Wipe() override;

protected:
    void ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits) override;
    void DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const override;
    void DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                            std::uint8_t* chain) const override;

private:
    // Rotation keys (0 to 31) and masking keys, four of each per quad-round.
    std::array<std::uint32_t, 48> m_kr{};
    std::array<std::uint32_t, 48> m_km{};
};
