// Secure memory: the fill the optimiser cannot remove and the buffer that wipes itself.
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace
{
// A call through a volatile pointer cannot be proven to be memset, so the compiler must keep it
// even when the buffer is never read again. The pointer itself is const: nothing may redirect it.
void* (*const volatile g_memset)(void*, int, std::size_t) = std::memset;

TSecureReleaseHook g_releaseHook = nullptr;

std::size_t PageSize()
{
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
#endif
}

// Locking is best effort: without the privilege or beyond RLIMIT_MEMLOCK the buffer still works,
// it may only be swapped out like any other memory.
bool LockPages(void* data, std::size_t size)
{
#ifdef _WIN32
    return VirtualLock(data, size) != 0;
#else
    return mlock(data, size) == 0;
#endif
}

void UnlockPages(void* data, std::size_t size)
{
#ifdef _WIN32
    VirtualUnlock(data, size);
#else
    munlock(data, size);
#endif
}
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

void SetSecureReleaseHook(TSecureReleaseHook hook)
{
    g_releaseHook = hook;
}

TSecureBuffer::TSecureBuffer(std::size_t size, TSecureUse use) : m_use(use)
{
    Grow(size);
    m_size = size;
    if (use == TSecureUse::Bulk) {
        m_touched = 0;
    }
}

TSecureBuffer::TSecureBuffer(std::span<const std::uint8_t> bytes)
{
    Append(bytes);
}

TSecureBuffer::TSecureBuffer(std::string_view text)
{
    Append(text);
}

TSecureBuffer::~TSecureBuffer()
{
    Release();
}

TSecureBuffer::TSecureBuffer(TSecureBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)), m_touched(std::exchange(other.m_touched, 0)), m_use(other.m_use),
      m_locked(std::exchange(other.m_locked, false))
{
}

TSecureBuffer& TSecureBuffer::operator=(TSecureBuffer&& other) noexcept
{
    if (this != &other) {
        Release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_touched = std::exchange(other.m_touched, 0);
        m_use = other.m_use;
        m_locked = std::exchange(other.m_locked, false);
    }
    return *this;
}

std::string_view TSecureBuffer::View() const
{
    return {reinterpret_cast<const char*>(m_data), m_size};
}

void TSecureBuffer::Append(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) {
        return;
    }
    if (m_size + bytes.size() > m_capacity) {
        Grow(std::max(m_size + bytes.size(), m_capacity * 2));
    }
    std::memcpy(m_data + m_size, bytes.data(), bytes.size());
    m_size += bytes.size();
    Touch(m_size);
}

void TSecureBuffer::Append(std::string_view text)
{
    Append(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void TSecureBuffer::PushBack(std::uint8_t byte)
{
    Append(std::span(&byte, 1));
}

void TSecureBuffer::PopBack()
{
    if (m_size != 0) {
        --m_size;
        SecureFill(std::span(m_data + m_size, 1), 0);
    }
}

void TSecureBuffer::Clear()
{
    SecureFill(std::span(m_data, m_touched), 0);
    m_size = 0;
}

void TSecureBuffer::Touch(std::size_t end)
{
    m_touched = std::max(m_touched, std::min(end, m_capacity));
}

bool TSecureBuffer::operator==(const TSecureBuffer& other) const
{
    return m_size == other.m_size && (m_size == 0 || std::memcmp(m_data, other.m_data, m_size) == 0);
}

void TSecureBuffer::Grow(std::size_t atLeast)
{
    if (atLeast <= m_capacity) {
        return;
    }
    std::uint8_t* fresh = nullptr;
    if (m_use == TSecureUse::Secret) {
        // Whole pages of its own: unlocking one buffer must not unlock another's bytes, since
        // locks are per page and do not nest.
        static const std::size_t page = PageSize();
        atLeast = (atLeast + page - 1) / page * page;
        fresh = static_cast<std::uint8_t*>(::operator new(atLeast, std::align_val_t(page)));
        std::memset(fresh, 0, atLeast);
    } else {
        fresh = static_cast<std::uint8_t*>(::operator new(atLeast));
    }
    const bool locked = m_use == TSecureUse::Secret && LockPages(fresh, atLeast);
    if (m_size != 0) {
        std::memcpy(fresh, m_data, m_size);
    }
    const std::size_t size = m_size;
    const std::size_t touched = m_use == TSecureUse::Secret ? atLeast : m_touched;
    Release();
    m_data = fresh;
    m_size = size;
    m_capacity = atLeast;
    m_touched = touched;
    m_locked = locked;
}

void TSecureBuffer::Release() noexcept
{
    if (m_data == nullptr) {
        return;
    }
    SecureFill(std::span(m_data, m_touched), 0);
    if (g_releaseHook != nullptr) {
        g_releaseHook(std::span(m_data, m_touched), m_locked);
    }
    if (m_locked) {
        UnlockPages(m_data, m_capacity);
    }
    if (m_use == TSecureUse::Secret) {
        static const std::size_t page = PageSize();
        ::operator delete(m_data, std::align_val_t(page));
    } else {
        ::operator delete(m_data);
    }
    m_data = nullptr;
    m_size = 0;
    m_capacity = 0;
    m_touched = 0;
    m_locked = false;
}
