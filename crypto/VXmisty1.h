// MISTY1: key schedule and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

class TVX_misty1 final : public TVX_blockcipher64
{
public:
    static constexpr std::int32_t kId = 11;
    static constexpr std::string_view kAlgorithm = "Misty1";
    static constexpr std::int32_t kMaxKeySize = 128;

    TVX_misty1();
    ~TVX_misty1() override;

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

private:
    void FO(std::uint32_t h, std::uint32_t l, std::uint32_t& outH, std::uint32_t& outL, int k) const;
    void FL(std::uint32_t& h, std::uint32_t& l, int k) const;
    void FLInv(std::uint32_t& h, std::uint32_t& l, int k) const;

    // K1..K8, K'1..K'8, and the 9-bit (low) and 7-bit (high) parts of each K' as FI takes them.
    std::array<std::uint32_t, 8> m_k{};
    std::array<std::uint32_t, 8> m_kp{};
    std::array<std::uint32_t, 8> m_kp9{};
    std::array<std::uint32_t, 8> m_kp7{};
};
