// The TEA-shaped cipher with its own round: key schedule and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

// A TEA-shaped cipher with its own round function, not the published TEA: files written with it
// are readable only with this round.
class TVX_tea final : public TVX_blockcipher64
{
public:
    static constexpr std::int32_t kId = 25;
    static constexpr std::string_view kAlgorithm = "Tea";
    static constexpr std::int32_t kMaxKeySize = 128;

    TVX_tea();
    ~TVX_tea() override;

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
    std::array<std::uint32_t, 4> m_k{};
};
