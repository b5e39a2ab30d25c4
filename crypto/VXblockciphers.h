// The block cipher base shared by every 64- and 128-bit cipher: modes, chaining, tails and known-answer checks.
#pragma once

#include "crypto/VXcrypt.h"

#include <array>
#include <cstddef>
#include <cstdint>

// The 64-bit and 128-bit bases are one template: they differ only in the block length N.
// A concrete cipher supplies ExpandKey, DoEncryptBlock, DoDecryptBlock and its Wipe; the
// multi-block hooks below have plain loops that a cipher may replace with faster ones (several
// blocks in flight, SIMD) as long as the bytes stay the same.
template <std::size_t N>
class TVX_blockcipherN : public TVX_blockcipher
{
public:
    static constexpr std::size_t kBlockBytes = N;
    static constexpr std::int32_t kBlockSize = static_cast<std::int32_t>(N * 8);

    std::int32_t ClassBlockSize() const override { return kBlockSize; }

    void KeySetup(std::span<const std::uint8_t> key, std::uint32_t sizeBits,
                  std::span<const std::uint8_t> iv = {}) override;
    void Wipe() override;
    void Rewind() override;
    void LoadIV(std::span<const std::uint8_t> block) override;
    void ReadChain(std::span<std::uint8_t> block) const override;

    void CbcEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void CbcDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void Cfb8Encrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void Cfb8Decrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void CfbBlockEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void CfbBlockDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void OfbEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void OfbDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void CtrEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void CtrDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;

protected:
    TVX_blockcipherN() = default;

    std::size_t BlockBytes() const final { return N; }

    // ECB over `blocks` consecutive blocks; in == out allowed.
    virtual void DoEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const;
    virtual void DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const;
    // CBC over whole blocks from m_chainBlock, leaving the last cipher block there; in == out allowed.
    virtual void DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                    std::uint8_t* chain) const;

    std::array<std::uint8_t, N> m_initVector{};
    std::array<std::uint8_t, N> m_chainBlock{};

private:
    template <bool Encrypt>
    void Cfb8(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
    template <bool Encrypt>
    void CfbBlock(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
    void Ofb(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
    void Ctr(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
    void Tail(const std::uint8_t* in, std::uint8_t* out, std::size_t r);
    void StepCounter();
    std::size_t Prepare(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) const;
};

extern template class TVX_blockcipherN<8>;
extern template class TVX_blockcipherN<16>;

class TVX_blockcipher64 : public TVX_blockcipherN<8>
{
};

class TVX_blockcipher128 : public TVX_blockcipherN<16>
{
};

// One known answer for a cipher's CheckVectors: a key of `bits` bits (the first bits/8 bytes of
// key), a block and what it encrypts to.
template <std::size_t KeyBytes, std::size_t N>
struct TKnownAnswer
{
    std::uint32_t bits;
    std::array<std::uint8_t, KeyBytes> key;
    std::array<std::uint8_t, N> plain;
    std::array<std::uint8_t, N> cipher;
};

// Keys a fresh cipher for each answer, encrypts the block, rewinds (which single blocks must not
// depend on), decrypts the result again and wipes; true only when every comparison matches.
template <class TCipher, std::size_t KeyBytes, std::size_t N, std::size_t Count>
bool CheckKnownAnswers(const TKnownAnswer<KeyBytes, N> (&answers)[Count])
{
    bool ok = true;
    for (const auto& answer : answers) {
        TCipher cipher;
        std::array<std::uint8_t, N> block{};
        cipher.KeySetup(answer.key, answer.bits);
        cipher.EncryptBlock(answer.plain, block);
        ok = ok && block == answer.cipher;
        cipher.Rewind();
        cipher.DecryptBlock(block, block);
        ok = ok && block == answer.plain;
        cipher.Wipe();
    }
    return ok;
}

// Holds a value in a general register at this point of the code. A serial chain's XOR or sum tree
// is written in the grouping that lets the early operands combine while the last is on its way;
// without this, the compiler may regroup it into one long chain or pack independent values into
// vector lanes, both slower on the chain.
template <class T> inline void KeepScalar(T& x)
{
#if defined(__GNUC__)
    asm("" : "+r"(x));
#else
    (void)x;
#endif
}

// Big-endian and little-endian word access used by the ciphers' block functions.
inline std::uint32_t LoadBE32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline void StoreBE32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

inline std::uint32_t LoadLE32(const std::uint8_t* p)
{
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

inline void StoreLE32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
