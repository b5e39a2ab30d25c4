// The cipher library's base: errors, stream shapes, the hash and cipher classes and the stream operations.
#include "crypto/VXcrypt.h"

#include "crypto/VXbase64.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <array>
#include <vector>

namespace
{
std::span<const std::uint8_t> Bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::span<std::uint8_t> Bytes(std::string& text)
{
    return {reinterpret_cast<std::uint8_t*>(text.data()), text.size()};
}

// Fills `buffer` from `source` until it is full or the source ends. A stream that returns short
// reads before its end (a pipe) must not shift the 8192-byte pieces: each piece is a separate
// buffer operation, so a shifted piece boundary would put a CBC tail in the middle of the data
// and the file could not be decrypted in the standard pieces.
std::size_t ReadPiece(TVX_readstream& source, std::span<std::uint8_t> buffer)
{
    std::size_t got = 0;
    while (got < buffer.size()) {
        const std::size_t n = source.Read(buffer.subspan(got));
        if (n == 0) {
            break;
        }
        got += n;
    }
    return got;
}
} // namespace

void TVX_hash::FeedText(std::string_view text)
{
    Feed(Bytes(text));
}

void TVX_cipher::KeySetup(std::span<const std::uint8_t> key, std::uint32_t sizeBits, std::span<const std::uint8_t> iv)
{
    (void)iv;
    if (m_isReady) {
        Wipe();
    }
    const auto maxBits = static_cast<std::uint32_t>(ClassMaxKeySize());
    if (sizeBits == 0 || sizeBits % 4 != 0 || sizeBits > maxBits) {
        throw EVX_cipher(kInvalidKeySize);
    }
    if (key.size() < sizeBits / 8) {
        throw std::invalid_argument("key shorter than its stated size");
    }
    m_isReady = true;
}

void TVX_cipher::KeyFromPassword(std::string_view password, const TVX_hashclass& hashClass)
{
    if (m_isReady) {
        Wipe();
    }
    try {
        TSecureBuffer digest(static_cast<std::size_t>(hashClass.HashSize / 8));
        {
            auto hash = hashClass.Create();
            hash->Start();
            hash->FeedText(password);
            hash->Finish(digest);
        }
        const std::int32_t bits = ClassMaxKeySize() < hashClass.HashSize ? ClassMaxKeySize() : hashClass.HashSize;
        KeySetup(digest, static_cast<std::uint32_t>(bits));
    } catch (...) {
        throw EVX_cipher(kDigestAllocationFailed);
    }
}

template <bool Encrypt>
std::uint64_t TVX_cipher::Stream(TVX_readstream& source, TVX_writestream& destination, std::uint64_t size)
{
    // Used only when a stream cannot lend its bytes; wiped as far as it was.
    TSecureBuffer buffer(kStreamChunk, TSecureUse::Bulk);
    std::uint64_t count = 0;
    auto transform = [this](std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
        if (Encrypt) {
            EncryptBuffer(in, out);
        } else {
            DecryptBuffer(in, out);
        }
    };
    auto piece = [&](std::size_t request) {
        std::size_t got = 0;
        std::span<const std::uint8_t> lent;
        if (source.CanLend()) {
            lent = source.Lend(request);
            got = lent.size();
        } else {
            buffer.Touch(request);
            got = ReadPiece(source, std::span(buffer).first(request));
        }
        count += got;
        const std::span<std::uint8_t> room = got != 0 ? destination.Reserve(got) : std::span<std::uint8_t>();
        if (room.size() == got && got != 0) {
            if (lent.empty()) {
                transform(std::span(buffer).first(got), room);
            } else {
                transform(lent, room);
            }
            destination.Commit(got);
        } else {
            if (!lent.empty()) {
                buffer.Touch(lent.size());
                std::copy(lent.begin(), lent.end(), buffer.begin());
            }
            const auto data = std::span(buffer).first(got);
            transform(data, data);
            if (got != 0) {
                destination.Write(data);
            }
        }
        if (OnProgress) {
            OnProgress(nullptr, static_cast<std::int64_t>(count), static_cast<std::int64_t>(size));
        }
    };
    for (std::uint64_t i = 0; i < size / kStreamChunk; ++i) {
        piece(kStreamChunk);
    }
    if (size % kStreamChunk != 0) {
        piece(static_cast<std::size_t>(size % kStreamChunk));
    }
    return count;
}

std::uint64_t TVX_cipher::StreamEncrypt(TVX_readstream& source, TVX_writestream& destination, std::uint64_t size)
{
    return Stream<true>(source, destination, size);
}

std::uint64_t TVX_cipher::StreamDecrypt(TVX_readstream& source, TVX_writestream& destination, std::uint64_t size)
{
    return Stream<false>(source, destination, size);
}

std::string TVX_cipher::EncryptText(std::string_view text)
{
    std::string work(text);
    EncryptBuffer(Bytes(work), Bytes(work));
    std::string encoded = Base64Encode(Bytes(work));
    SecureFill(work, 0);
    return encoded;
}

std::string TVX_cipher::DecryptText(std::string_view text)
{
    std::vector<std::uint8_t> data = Base64Decode(text);
    DecryptBuffer(data, data);
    std::string plain(data.begin(), data.end());
    SecureFill(data, 0);
    return plain;
}

void TVX_blockcipher::RequireReady() const
{
    if (!m_isReady) {
        throw EVX_blockcipher(kCipherNotInitialized);
    }
}

void TVX_blockcipher::EncryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    switch (CipherMode) {
    case TVX_ciphermode::cmCBC:
        return CbcEncrypt(in, out);
    case TVX_ciphermode::cmCFB8bit:
        return Cfb8Encrypt(in, out);
    case TVX_ciphermode::cmCFBblock:
        return CfbBlockEncrypt(in, out);
    case TVX_ciphermode::cmOFB:
        return OfbEncrypt(in, out);
    case TVX_ciphermode::cmCTR:
        return CtrEncrypt(in, out);
    }
    throw std::invalid_argument("unknown cipher mode");
}

void TVX_blockcipher::DecryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    switch (CipherMode) {
    case TVX_ciphermode::cmCBC:
        return CbcDecrypt(in, out);
    case TVX_ciphermode::cmCFB8bit:
        return Cfb8Decrypt(in, out);
    case TVX_ciphermode::cmCFBblock:
        return CfbBlockDecrypt(in, out);
    case TVX_ciphermode::cmOFB:
        return OfbDecrypt(in, out);
    case TVX_ciphermode::cmCTR:
        return CtrDecrypt(in, out);
    }
    throw std::invalid_argument("unknown cipher mode");
}

std::string TVX_blockcipher::EncryptText(std::string_view text)
{
    std::string work(text);
    Cfb8Encrypt(Bytes(work), Bytes(work));
    std::string encoded = Base64Encode(Bytes(work));
    SecureFill(work, 0);
    return encoded;
}

std::string TVX_blockcipher::DecryptText(std::string_view text)
{
    std::vector<std::uint8_t> data = Base64Decode(text);
    Cfb8Decrypt(data, data);
    std::string plain(data.begin(), data.end());
    SecureFill(data, 0);
    return plain;
}

void TVX_blockcipher::EncryptBlock(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    RequireReady();
    if (in.size() < BlockBytes() || out.size() < BlockBytes()) {
        throw std::invalid_argument("block buffer shorter than one block");
    }
    DoEncryptBlock(in.data(), out.data());
}

void TVX_blockcipher::DecryptBlock(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    RequireReady();
    if (in.size() < BlockBytes() || out.size() < BlockBytes()) {
        throw std::invalid_argument("block buffer shorter than one block");
    }
    DoDecryptBlock(in.data(), out.data());
}
