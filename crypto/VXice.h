// ICE: S-boxes, key schedule of any level and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

// The ICE machinery: the S-boxes (built once per process), the key schedule of any level and the
// block transformation under it.
class TVX_customice : public TVX_blockcipher64
{
public:
    using TSBoxes = std::array<std::array<std::uint32_t, 1024>, 4>;

    // Builds the S-boxes on first use; safe to call from several threads at once.
    static const TSBoxes& SBoxes();

protected:
    TVX_customice();

    // Level 0 is thin ICE (8 rounds, 8 key bytes); level n >= 1 has 16n rounds and takes 8n key bytes.
    // Missing key bytes count as zero.
    void IceKeySchedule(std::span<const std::uint8_t> key, std::uint32_t sizeBits, int level);
    // Block words in, output words out (already in output order).
    void IceEncryptWords(std::uint32_t& l, std::uint32_t& r) const;
    void IceEncrypt(const std::uint8_t* in, std::uint8_t* out) const;
    void IceDecrypt(const std::uint8_t* in, std::uint8_t* out) const;
    void IceDecrypt2(const std::uint8_t* in, std::uint8_t* out) const;
    void WipeIce();

    static constexpr int kMaxRounds = 32;

    std::int32_t m_rounds = 0;
    std::array<std::array<std::uint32_t, 3>, kMaxRounds> m_schedule{};
    const TSBoxes& m_sbox;
};

class TVX_ice final : public TVX_customice
{
public:
    static constexpr std::int32_t kId = 20;
    static constexpr std::string_view kAlgorithm = "Ice";
    static constexpr std::int32_t kMaxKeySize = 64;

    TVX_ice();
    ~TVX_ice() override;

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
};
