// RC2: key schedule and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

// RC2 with the effective key length fixed at 1024 bits whatever the key's own length: stored files
// depend on that expansion, so it must not follow the key size.
class TVX_rc2 final : public TVX_blockcipher64
{
public:
    static constexpr std::int32_t kId = 1;
    static constexpr std::string_view kAlgorithm = "RC2";
    static constexpr std::int32_t kMaxKeySize = 1024;

    TVX_rc2();
    ~TVX_rc2() override;

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
    std::array<std::uint16_t, 64> m_k{};
};
