#pragma once

// What tests need from the system beyond the code under test, the same on POSIX and Win32.

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

// A file held open by "another program", the way that program would keep others out: an exclusive
// hold refuses every other open (a flock on POSIX, share mode 0 on Win32); a shared hold lets
// others read and write but not take the file for themselves (a shared flock; sharing read and
// write on Win32).
class TOtherHolder
{
public:
    enum class TKind
    {
        Exclusive,
        Shared,
    };

    TOtherHolder(const std::string& path, TKind kind)
    {
#ifdef _WIN32
        const std::wstring wide = std::filesystem::path(path).wstring();
        const DWORD share = kind == TKind::Exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
        m_handle = CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        m_held = m_handle != INVALID_HANDLE_VALUE;
#else
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        m_held = m_fd >= 0 && ::flock(m_fd, (kind == TKind::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
#endif
    }
    ~TOtherHolder() { Release(); }
    TOtherHolder(const TOtherHolder&) = delete;
    TOtherHolder& operator=(const TOtherHolder&) = delete;

    bool Held() const { return m_held; }
    void Release()
    {
#ifdef _WIN32
        if (m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
            m_handle = INVALID_HANDLE_VALUE;
        }
#else
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
#endif
        m_held = false;
    }

private:
#ifdef _WIN32
    HANDLE m_handle = INVALID_HANDLE_VALUE;
#else
    int m_fd = -1;
#endif
    bool m_held = false;
};

// A symbolic link, or false where the system will not make one (Windows without the privilege,
// Wine): the test then skips what needs it.
inline bool MakeSymlink(const std::string& target, const std::string& link)
{
    std::error_code error;
    std::filesystem::create_symlink(target, link, error);
#ifdef _WIN32
    return !error;
#else
    if (error) {
        throw std::filesystem::filesystem_error("cannot create a symbolic link", link, error);
    }
    return true;
#endif
}

// Wine stands in for Windows in CI; a few things it cannot do (a creation time of its own, for one).
inline bool RunningUnderWine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
