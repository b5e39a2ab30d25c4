// DES and triple DES: key schedules and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>

// The DES machinery: the schedule of one 8-byte key and DES of one block under such a schedule.
// A schedule holds 16 round keys of 64 bits, in the shape the combined S-box/P tables of VXdes.cpp
// expect, then the XOR of each key's two neighbours (which the rounds fold in ahead of time); it is
// used backwards for decryption.
class TVX_customdes : public TVX_blockcipher64
{
public:
    static constexpr std::size_t kScheduleWords = 32;
    using TSchedule = std::array<std::uint64_t, kScheduleWords>;

protected:
    TVX_customdes() = default;

    static void DesSchedule(const std::uint8_t* key, TSchedule& schedule);
    static void DesEncrypt(const TSchedule& schedule, const std::uint8_t* in, std::uint8_t* out);
    static void DesDecrypt(const TSchedule& schedule, const std::uint8_t* in, std::uint8_t* out);
};

class TVX_3des final : public TVX_customdes
{
public:
    static constexpr std::int32_t kId = 24;
    static constexpr std::string_view kAlgorithm = "3DES";
    static constexpr std::int32_t kMaxKeySize = 192;

    TVX_3des();
    ~TVX_3des() override;

    std::int32_t ClassId() const override { return kId; }
    std::string_view ClassAlgorithm() const override { return kAlgorithm; }
    std::int32_t ClassMaxKeySize() const override { return kMaxKeySize; }
    static bool CheckVectors();
    // Which way many independent blocks (CBC decryption, CTR) go on this processor under the
    // current switches.
    static std::string_view ActivePathName();

    void Wipe() override;

protected:
    void ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits) override;
    void DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const override;
    void DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const override;
    void DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const override;
    void DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                            std::uint8_t* chain) const override;

private:
    // K1, K2, K3.
    std::array<TSchedule, 3> m_schedules{};
    // The round keys as the 64-block rounds take them: 3 passes x 16 rounds x 8 groups, for
    // decryption, then for encryption.
    static constexpr std::size_t kLaneKeysPerDirection = 3 * 16 * 8;
    std::array<std::uint32_t, 2 * kLaneKeysPerDirection> m_laneKeys{};
};
