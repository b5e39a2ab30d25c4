// RC4, the one stream cipher, with its piece-by-piece restart.
#pragma once

#include "crypto/VXcrypt.h"

#include <array>
#include <cstdint>

// RC4 as commonly published, except that every buffer call starts its two indices at 0 again on
// the permutation that the previous call left. Stored files rely on this: a file longer than one
// 8192-byte piece gets, for each further piece, the generator restarted on the carried permutation.
class TVX_rc4 final : public TVX_cipher
{
public:
    static constexpr std::int32_t kId = 19;
    static constexpr std::string_view kAlgorithm = "RC4";
    static constexpr std::int32_t kMaxKeySize = 2048;

    TVX_rc4();
    ~TVX_rc4() override;

    std::int32_t ClassId() const override { return kId; }
    std::string_view ClassAlgorithm() const override { return kAlgorithm; }
    std::int32_t ClassMaxKeySize() const override { return kMaxKeySize; }
    static bool CheckVectors();

    // The IV is never read: RC4 has none.
    void KeySetup(std::span<const std::uint8_t> key, std::uint32_t sizeBits,
                  std::span<const std::uint8_t> iv = {}) override;
    void Wipe() override;
    // Returns the permutation to its state right after key setup (also when unkeyed).
    void Rewind() override;
    void EncryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void DecryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;

    const std::array<std::uint8_t, 256>& Perm() const { return m_perm; }
    const std::array<std::uint8_t, 256>& PermAtKey() const { return m_permAtKey; }

private:
    void Crypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

    std::array<std::uint8_t, 256> m_perm{};
    std::array<std::uint8_t, 256> m_permAtKey{};
};
