// RC4, the one stream cipher, with its piece-by-piece restart.
#include "crypto/VXrc4.h"

#include "crypto/VXsecmem.h"

#include <cstring>
#include <stdexcept>

TVX_rc4::TVX_rc4()
{
    TVX_rc4::Wipe();
}

TVX_rc4::~TVX_rc4()
{
    TVX_rc4::Wipe();
}

void TVX_rc4::Wipe()
{
    SecureFill(m_permAtKey, 0xFF);
    SecureFill(m_perm, 0xFF);
    TVX_cipher::Wipe();
}

void TVX_rc4::Rewind()
{
    m_perm = m_permAtKey;
}

void TVX_rc4::KeySetup(std::span<const std::uint8_t> key, std::uint32_t sizeBits, std::span<const std::uint8_t> iv)
{
    (void)iv;
    TVX_cipher::KeySetup(key, sizeBits);
    const std::size_t length = sizeBits / 8;
    // A 4-bit key passes the size check but leaves no whole byte to expand.
    if (length == 0) {
        Wipe();
        throw EVX_cipher(kInvalidKeySize);
    }
    for (std::size_t i = 0; i < 256; ++i) {
        m_perm[i] = static_cast<std::uint8_t>(i);
    }
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        const std::uint8_t t = m_perm[i];
        j = static_cast<std::uint8_t>(j + t + key[i % length]);
        m_perm[i] = m_perm[j];
        m_perm[j] = t;
    }
    m_permAtKey = m_perm;
}

void TVX_rc4::EncryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Crypt(in, out);
}

void TVX_rc4::DecryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    Crypt(in, out);
}

void TVX_rc4::Crypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    if (!m_isReady) {
        throw EVX_cipher(kCipherNotInitialized);
    }
    if (out.size() < in.size()) {
        throw std::invalid_argument("output shorter than input");
    }
    // The indices belong to this call only; the permutation carries over to the next one.
    std::uint8_t* s = m_perm.data();
    std::uint32_t i = 0;
    std::uint32_t j = 0;
    const std::uint8_t* src = in.data();
    std::uint8_t* dst = out.data();
    std::size_t size = in.size();
    // The next step's Perm[i + 1] is read before this step's swap is stored, so that the serial
    // chain through j does not wait on the stores. The swap changes it only when j lands on
    // i + 1, rarely enough that a branch (not a conditional move) keeps the chain short. Reading
    // further ahead (two steps, or eight at once with fix-ups) or every load of a step ahead of its
    // stores measured slower: the checks cost more than the waits they save. A permutation of
    // 32-bit words instead of bytes, and where in memory it lies, made no measurable difference.
    std::uint32_t t = s[1];
    auto step = [&]() -> std::uint64_t {
        i = (i + 1) & 255;
        j = (j + t) & 255;
        const std::uint32_t u = s[j];
        const std::uint32_t nextI = (i + 1) & 255;
        std::uint32_t nextT = s[nextI];
        s[j] = static_cast<std::uint8_t>(t);
        s[i] = static_cast<std::uint8_t>(u);
        if (j == nextI) [[unlikely]] {
            nextT = s[nextI];
        }
        const std::uint64_t k = s[(t + u) & 255];
        t = nextT;
        return k;
    };
    // Eight key-stream bytes are gathered into one word and applied with one XOR.
    for (; size >= 8; size -= 8, src += 8, dst += 8) {
        std::uint64_t k = step();
        k |= step() << 8;
        k |= step() << 16;
        k |= step() << 24;
        k |= step() << 32;
        k |= step() << 40;
        k |= step() << 48;
        k |= step() << 56;
        std::uint64_t x;
        std::memcpy(&x, src, 8);
        x ^= k;
        std::memcpy(dst, &x, 8);
    }
    for (; size > 0; --size) {
        *dst++ = static_cast<std::uint8_t>(*src++ ^ step());
    }
}

bool TVX_rc4::CheckVectors()
{
    // RFC 6229's 40-bit key and the first five bytes of its key stream.
    static constexpr std::array<std::uint8_t, 5> kKey = {0x01, 0x02, 0x03, 0x04, 0x05};
    static constexpr std::array<std::uint8_t, 5> kPlain = {0x00, 0x00, 0x00, 0x00, 0x00};
    static constexpr std::array<std::uint8_t, 5> kCipher = {0xb2, 0x39, 0x63, 0x05, 0xf0};
    TVX_rc4 cipher;
    std::array<std::uint8_t, 5> block{};
    cipher.KeySetup(kKey, 40);
    cipher.EncryptBuffer(kPlain, block);
    bool ok = block == kCipher;
    cipher.Rewind();
    cipher.DecryptBuffer(block, block);
    ok = ok && block == kPlain;
    cipher.Wipe();
    return ok;
}
