#include "crypto/VXsecmem.h"

#include <cstring>

namespace
{
// A call through a volatile pointer cannot be proven to be memset, so the compiler must keep it
// even when the buffer is never read again.
void* (*volatile g_memset)(void*, int, std::size_t) = std::memset;
} // namespace

void SecureFill(std::span<std::uint8_t> bytes, std::uint8_t value)
{
    if (!bytes.empty()) {
        g_memset(bytes.data(), value, bytes.size());
    }
}

void SecureFill(std::span<std::byte> bytes, std::uint8_t value)
{
    if (!bytes.empty()) {
        g_memset(bytes.data(), value, bytes.size());
    }
}
