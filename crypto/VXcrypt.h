// The cipher library's base: errors, stream shapes, the hash and cipher classes and the stream operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

class EVX_hash : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class EVX_cipher : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class EVX_blockcipher : public EVX_cipher
{
public:
    using EVX_cipher::EVX_cipher;
};

inline constexpr const char* kInvalidKeySize = "Invalid key size";
inline constexpr const char* kCipherNotInitialized = "Cipher not initialized";
inline constexpr const char* kHashNotInitialized = "Hash not initialized";
inline constexpr const char* kDigestAllocationFailed = "Unable to allocate sufficient memory for hash digest";

// Sender is always null: the handlers only need the two counts. Counts are 64-bit so that files of
// 4 GiB and more report (and process) correctly.
using TOnProgessEvent = std::function<void(const void* Sender, std::int64_t mSize, std::int64_t totalSize)>;

// The two stream shapes the stream operations need: a counted read that returns 0 at the end, and
// a write that either takes every byte or throws. A stream that holds its bytes in memory anyway
// may also lend them (and a destination may lend room for them), so that a piece goes through the
// cipher from one to the other without being copied through the stream operation's own buffer;
// the pieces, and so the bytes, are the same either way.
class TVX_readstream
{
public:
    virtual ~TVX_readstream() = default;
    virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;

    virtual bool CanLend() const { return false; }
    // The next `size` bytes (fewer only at the end), consumed by the call and valid until the
    // stream's next call. Only when CanLend().
    virtual std::span<const std::uint8_t> Lend(std::size_t size)
    {
        (void)size;
        return {};
    }
};

class TVX_writestream
{
public:
    virtual ~TVX_writestream() = default;
    virtual void Write(std::span<const std::uint8_t> data) = 0;

    // Room for the next `size` bytes, or an empty span when the stream has none to lend; the bytes
    // count as written only when Commit confirms them.
    virtual std::span<std::uint8_t> Reserve(std::size_t size)
    {
        (void)size;
        return {};
    }
    virtual void Commit(std::size_t size) { (void)size; }
};

class TVX_hash
{
public:
    static constexpr std::int32_t kId = -1;
    static constexpr std::string_view kAlgorithm = "";
    static constexpr std::int32_t kHashSize = -1;

    TVX_hash() = default;
    TVX_hash(const TVX_hash&) = delete;
    TVX_hash& operator=(const TVX_hash&) = delete;
    virtual ~TVX_hash() = default;

    virtual std::int32_t ClassId() const { return kId; }
    virtual std::string_view ClassAlgorithm() const { return kAlgorithm; }
    virtual std::int32_t ClassHashSize() const { return kHashSize; }
    std::int32_t Id() const { return ClassId(); }
    std::string_view Algorithm() const { return ClassAlgorithm(); }
    std::int32_t HashSize() const { return ClassHashSize(); }

    virtual void Start() {}
    // digest must hold HashSize/8 bytes.
    virtual void Finish(std::span<std::uint8_t> digest) { (void)digest; }
    virtual void Wipe() {}
    virtual void Feed(std::span<const std::uint8_t> data) { (void)data; }
    void FeedText(std::string_view text);

    bool IsReady() const { return m_isReady; }

protected:
    bool m_isReady = false;
};

// A hash class as KeyFromPassword takes it: a factory plus the class-level digest size.
struct TVX_hashclass
{
    std::int32_t HashSize;
    std::unique_ptr<TVX_hash> (*Create)();

    template <class THash>
    static TVX_hashclass Of()
    {
        return {THash::kHashSize, []() -> std::unique_ptr<TVX_hash> { return std::make_unique<THash>(); }};
    }
};

class TVX_cipher
{
public:
    static constexpr std::int32_t kId = -1;
    static constexpr std::string_view kAlgorithm = "";
    static constexpr std::int32_t kMaxKeySize = -1;

    TVX_cipher() = default;
    TVX_cipher(const TVX_cipher&) = delete;
    TVX_cipher& operator=(const TVX_cipher&) = delete;
    virtual ~TVX_cipher() = default;

    virtual std::int32_t ClassId() const { return kId; }
    virtual std::string_view ClassAlgorithm() const { return kAlgorithm; }
    virtual std::int32_t ClassMaxKeySize() const { return kMaxKeySize; }
    std::int32_t Id() const { return ClassId(); }
    std::string_view Algorithm() const { return ClassAlgorithm(); }
    std::int32_t MaxKeySize() const { return ClassMaxKeySize(); }

    // key must hold at least sizeBits/8 bytes; only those whole bytes are read. An empty iv means
    // "none": block ciphers then derive it by encrypting the zero block.
    virtual void KeySetup(std::span<const std::uint8_t> key, std::uint32_t sizeBits,
                          std::span<const std::uint8_t> iv = {});
    virtual void Wipe() { m_isReady = false; }
    virtual void Rewind() {}
    // out must be at least as long as in; in and out may be the same area.
    virtual void EncryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
    {
        (void)in;
        (void)out;
    }
    virtual void DecryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
    {
        (void)in;
        (void)out;
    }
    virtual std::string EncryptText(std::string_view text);
    virtual std::string DecryptText(std::string_view text);

    // password holds the password's bytes exactly as they are to be hashed.
    void KeyFromPassword(std::string_view password, const TVX_hashclass& hashClass);
    template <class THash>
    void KeyFromPassword(std::string_view password)
    {
        KeyFromPassword(password, TVX_hashclass::Of<THash>());
    }

    std::uint64_t StreamEncrypt(TVX_readstream& source, TVX_writestream& destination, std::uint64_t size);
    std::uint64_t StreamDecrypt(TVX_readstream& source, TVX_writestream& destination, std::uint64_t size);

    bool IsReady() const { return m_isReady; }

    TOnProgessEvent OnProgress;

    static constexpr std::size_t kStreamChunk = 8192;

protected:
    bool m_isReady = false;

private:
    template <bool Encrypt>
    std::uint64_t Stream(TVX_readstream& source, TVX_writestream& destination, std::uint64_t size);
};

enum class TVX_ciphermode : std::uint8_t
{
    cmCBC = 0,
    cmCFB8bit = 1,
    cmCFBblock = 2,
    cmOFB = 3,
    cmCTR = 4,
};

class TVX_blockcipher : public TVX_cipher
{
public:
    static constexpr std::int32_t kBlockSize = -1;

    virtual std::int32_t ClassBlockSize() const { return kBlockSize; }
    std::int32_t BlockSize() const { return ClassBlockSize(); }

    TVX_ciphermode CipherMode = TVX_ciphermode::cmCBC;

    void EncryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    void DecryptBuffer(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) override;
    std::string EncryptText(std::string_view text) override;
    std::string DecryptText(std::string_view text) override;

    virtual void LoadIV(std::span<const std::uint8_t> block) = 0;
    virtual void ReadChain(std::span<std::uint8_t> block) const = 0;

    // One block, in place allowed. Both raise "Cipher not initialized" while unkeyed.
    void EncryptBlock(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
    void DecryptBlock(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

    virtual void CbcEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
    virtual void CbcDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
    virtual void Cfb8Encrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
    virtual void Cfb8Decrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
    virtual void CfbBlockEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
    virtual void CfbBlockDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
    virtual void OfbEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
    virtual void OfbDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
    virtual void CtrEncrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;
    virtual void CtrDecrypt(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) = 0;

protected:
    // The concrete cipher's key schedule: reads the first sizeBits/8 bytes of key. It may throw
    // EVX_cipher("Invalid key size") for a size the cipher cannot use; the key setup then wipes.
    virtual void ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits) = 0;

    // One block under the current schedule, no checks; in == out allowed.
    virtual void DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const = 0;
    virtual void DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const = 0;

    virtual std::size_t BlockBytes() const = 0;
    void RequireReady() const;
};
