// Twofish: key schedule and block functions.
#pragma once

#include "crypto/VXblockciphers.h"

#include <array>
#include <cstdint>
#include <string_view>

class TVX_twofish final : public TVX_blockcipher128
{
public:
    static constexpr std::int32_t kId = 6;
    static constexpr std::string_view kAlgorithm = "Twofish";
    static constexpr std::int32_t kMaxKeySize = 256;

    TVX_twofish();
    ~TVX_twofish() override;

    std::int32_t ClassId() const override { return kId; }
    std::string_view ClassAlgorithm() const override { return kAlgorithm; }
    std::int32_t ClassMaxKeySize() const override { return kMaxKeySize; }
    static bool CheckVectors();
    // The multi-block path the next call would take on this processor with the current feature
    // switches: "avx512-gather", "avx2-gather" or "portable".
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
    // How g takes the bytes of its input apart: by shifts and masks, or with a bit-field extract.
    struct TShiftBytes;
    struct TBitFieldBytes;

    template <class TBytes> std::uint32_t G0(std::uint32_t x) const;
    template <class TBytes> std::uint32_t G1(std::uint32_t x) const;
    template <class TBytes>
    void EncryptWords(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) const;
    void DecryptWords(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) const;
    template <class TBytes>
    void CbcEncryptChain(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, std::uint8_t* chain) const;
    void CbcEncryptBitFields(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, std::uint8_t* chain) const;
    template <class TBytes> void DecryptScalar(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const;
    void DecryptBitFields(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const;

    // K0..K39: input whitening, output whitening, then two words per round.
    std::array<std::uint32_t, 40> m_k{};
    // The key-dependent S-boxes fully precomputed through the MDS matrix: g(x) is the XOR of
    // m_s[i][byte i of x].
    std::array<std::array<std::uint32_t, 256>, 4> m_s{};
};
