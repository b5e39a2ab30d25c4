// RC6: key schedule and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

// RC6-32/20/b: 32-bit words, 20 rounds, keys of 1 to 256 bytes.
class TVX_rc6 final : public TVX_blockcipher128
{
public:
    static constexpr std::int32_t kId = 4;
    static constexpr std::string_view kAlgorithm = "RC6";
    static constexpr std::int32_t kMaxKeySize = 2048;

    TVX_rc6();
    ~TVX_rc6() override;

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
    std::array<std::uint32_t, 44> m_s{};
};
