// Secure memory: the fill the optimiser cannot remove and the buffer that wipes itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Overwrites key material in a way the optimiser cannot drop as a dead store. Some schedules are
// wiped with 0xFF rather than zero, so the fill byte is a parameter.
void SecureFill(std::span<std::uint8_t> bytes, std::uint8_t value);
void SecureFill(std::span<std::byte> bytes, std::uint8_t value);

// Passwords and their byte forms live in strings too.
inline void SecureFill(std::string& text, std::uint8_t value)
{
    SecureFill(std::as_writable_bytes(std::span(text.data(), text.size())), value);
}

template <class T, std::size_t N>
void SecureFill(std::array<T, N>& values, std::uint8_t value)
{
    SecureFill(std::as_writable_bytes(std::span<T, N>(values)), value);
}

// What a TSecureBuffer holds decides how it is kept.
enum class TSecureUse
{
    // Keys, passwords, digests: zeroed when made, and the pages locked against swapping where the
    // system allows it (silently not where it does not).
    Secret,
    // Large plaintext buffers: left uninitialised, so that pages a small file never reaches are
    // never touched, and wiped on release as far as they were ever written (see Touch).
    Bulk,
};

// Test seam: called with every block a TSecureBuffer hands back to the allocator, after its wipe
// (the part that may ever have held data) and whether its pages were locked. Null by default.
using TSecureReleaseHook = void (*)(std::span<const std::uint8_t> wiped, bool locked);
void SetSecureReleaseHook(TSecureReleaseHook hook);

// The one buffer for secrets and plaintext. It wipes itself before its memory is released and it
// never leaves a copy behind: growth copies into a new block and wipes the old one before freeing
// it, so nothing that was once in it reaches the allocator unwiped.
class TSecureBuffer
{
public:
    TSecureBuffer() = default;
    explicit TSecureBuffer(std::size_t size, TSecureUse use = TSecureUse::Secret);
    explicit TSecureBuffer(std::span<const std::uint8_t> bytes);
    explicit TSecureBuffer(std::string_view text);
    ~TSecureBuffer();
    TSecureBuffer(TSecureBuffer&& other) noexcept;
    TSecureBuffer& operator=(TSecureBuffer&& other) noexcept;
    TSecureBuffer(const TSecureBuffer&) = delete;
    TSecureBuffer& operator=(const TSecureBuffer&) = delete;

    std::uint8_t* data() { return m_data; }
    const std::uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }
    bool empty() const { return m_size == 0; }
    std::uint8_t* begin() { return m_data; }
    std::uint8_t* end() { return m_data + m_size; }
    const std::uint8_t* begin() const { return m_data; }
    const std::uint8_t* end() const { return m_data + m_size; }
    std::uint8_t& operator[](std::size_t i) { return m_data[i]; }
    std::uint8_t operator[](std::size_t i) const { return m_data[i]; }

    // The bytes as text, for passwords (valid until the buffer changes).
    std::string_view View() const;

    void Append(std::span<const std::uint8_t> bytes);
    void Append(std::string_view text);
    void PushBack(std::uint8_t byte);
    void PopBack();
    // Wipes the contents; the memory stays for reuse.
    void Clear();
    // A Bulk buffer's owner reports how far it has written, so that the wipe covers it.
    void Touch(std::size_t end);

    bool operator==(const TSecureBuffer& other) const;

private:
    void Grow(std::size_t atLeast);
    void Release() noexcept;

    std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    // Bytes from the start that may hold data: everything for Secret buffers.
    std::size_t m_touched = 0;
    TSecureUse m_use = TSecureUse::Secret;
    bool m_locked = false;
};
