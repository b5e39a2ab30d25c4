// MD5, the hash that turns a password into a key.
#pragma once

#include "crypto/VXcrypt.h"

#include <array>
#include <cstdint>

class TVX_md5 final : public TVX_hash
{
public:
    static constexpr std::int32_t kId = 16;
    static constexpr std::string_view kAlgorithm = "MD5";
    static constexpr std::int32_t kHashSize = 128;

    TVX_md5() = default;
    ~TVX_md5() override;

    std::int32_t ClassId() const override { return kId; }
    std::string_view ClassAlgorithm() const override { return kAlgorithm; }
    std::int32_t ClassHashSize() const override { return kHashSize; }
    static bool CheckVectors();

    void Start() override;
    void Finish(std::span<std::uint8_t> digest) override;
    void Wipe() override;
    void Feed(std::span<const std::uint8_t> data) override;

private:
    void TransformBlocks(const std::uint8_t* blocks, std::size_t count);
    void RequireReady() const;

    std::uint64_t m_bitCount = 0;
    std::size_t m_bufferFill = 0;
    std::array<std::uint32_t, 4> m_chainWords{};
    std::array<std::uint8_t, 64> m_blockBuffer{};
};
