// Buffered file reading and writing for the ciphers, the file error and the folder flush.
#include "platform/FileStream.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
// Large enough that system-call overhead vanishes beside the cipher, small enough to keep the
// tool's memory flat whatever the file size.
constexpr std::size_t kIoBuffer = std::size_t{1} << 20;

#ifdef _WIN32
const TNativeHandle kNoHandle = INVALID_HANDLE_VALUE;
int LastError()
{
    return static_cast<int>(GetLastError());
}
#else
constexpr TNativeHandle kNoHandle = -1;
int LastError()
{
    return errno;
}
#endif

#ifdef _WIN32
TFileIdentity IdentityOfHandle(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        return {};
    }
    return TFileIdentity{info.dwVolumeSerialNumber,
                         (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}
#else
TFileIdentity IdentityOfHandle(int fd)
{
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        return {};
    }
    return TFileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}
#endif

void CloseQuietly(TNativeHandle handle)
{
    if (handle == kNoHandle) {
        return;
    }
#ifdef _WIN32
    CloseHandle(handle);
#else
    ::close(handle);
#endif
}
} // namespace

EFileError::EFileError(const std::string& what, const std::string& path, int systemError)
    : std::runtime_error(what + " \"" + path + "\": " + SystemErrorText(systemError)), m_path(path),
      m_systemError(systemError)
{
}

EFileError::EFileError(const std::string& what, const std::string& path, int systemError, const std::string& reason)
    : std::runtime_error(what + " \"" + path + "\": " + reason), m_path(path), m_systemError(systemError)
{
}

#ifdef _WIN32
std::string SystemErrorText(int systemError)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(systemError), 0, reinterpret_cast<LPWSTR>(&text), 0,
                                   nullptr);
    if (n == 0 || text == nullptr) {
        return "system error " + std::to_string(systemError);
    }
    std::wstring wide(text, n);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.')) {
        wide.pop_back();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring WidePath(const std::string& utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                         nullptr, 0);
    if (size <= 0) {
        throw EFileError("Invalid path", utf8, LastError());
    }
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        size);
    return wide;
}
#else
std::string SystemErrorText(int systemError)
{
    return std::strerror(systemError);
}
#endif

TFileReader::TFileReader(const std::string& path)
    : m_path(path), m_handle(kNoHandle), m_buffer(kIoBuffer, TSecureUse::Bulk)
{
#ifdef _WIN32
    m_handle = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
#else
    m_handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_handle != kNoHandle) {
        struct stat st{};
        if (::fstat(m_handle, &st) != 0 || S_ISDIR(st.st_mode)) {
            const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
            ::close(m_handle);
            throw EFileError("Cannot open", path, error);
        }
        // Opened non-blocking only so that a FIFO cannot hang the open; reads of a regular file
        // are unaffected, but clear it for anything else.
        ::fcntl(m_handle, F_SETFL, ::fcntl(m_handle, F_GETFL) & ~O_NONBLOCK);
        ::posix_fadvise(m_handle, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
#endif
    if (m_handle == kNoHandle) {
        throw EFileError("Cannot open", path, LastError());
    }
}

TFileReader::TFileReader(const TFileRef& file) : m_path(file.Path()), m_handle(kNoHandle), m_buffer(kIoBuffer, TSecureUse::Bulk)
{
#ifdef _WIN32
    // The entry itself, a reparse point included, so that a link put in the file's place is seen
    // for what it is and refused below.
    m_handle = CreateFileW(WidePath(m_path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (m_handle == kNoHandle) {
        throw EFileError("Cannot open", m_path, LastError());
    }
#else
    m_handle = ::openat(file.folder->Handle(), file.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_handle == kNoHandle) {
        const int error = errno;
        if (error == ELOOP) {
            throw EFileError("Cannot open", m_path, ELOOP, "it is a symbolic link");
        }
        throw EFileError("Cannot open", m_path, error);
    }
    struct stat st{};
    if (::fstat(m_handle, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(m_handle);
        m_handle = kNoHandle;
        throw EFileError("Cannot open", m_path, error);
    }
    ::fcntl(m_handle, F_SETFL, ::fcntl(m_handle, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(m_handle, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    if (IdentityOfHandle(m_handle) != file.identity) {
        CloseQuietly(m_handle);
        m_handle = kNoHandle;
        throw EFileError("Cannot open", m_path, 0, "it was replaced since it was listed");
    }
}

TFileReader::~TFileReader()
{
    Close();
}

void TFileReader::Close()
{
    CloseQuietly(m_handle);
    m_handle = kNoHandle;
}

std::size_t TFileReader::ReadSystem(std::uint8_t* data, std::size_t size)
{
    if (m_handle == kNoHandle) {
        throw EFileError("Cannot read closed file", m_path, 0);
    }
#ifdef _WIN32
    DWORD got = 0;
    const DWORD request = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(m_handle, data, request, &got, nullptr)) {
        throw EFileError("Cannot read", m_path, LastError());
    }
    return got;
#else
    for (;;) {
        const ssize_t got = ::read(m_handle, data, size);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            throw EFileError("Cannot read", m_path, errno);
        }
    }
#endif
}

std::size_t TFileReader::Read(std::span<std::uint8_t> buffer)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        if (m_begin == m_end) {
            // Large requests bypass the buffer instead of copying through it.
            if (buffer.size() - done >= m_buffer.size()) {
                const std::size_t got = ReadSystem(buffer.data() + done, buffer.size() - done);
                if (got == 0) {
                    break;
                }
                done += got;
                continue;
            }
            m_begin = 0;
            m_end = ReadSystem(m_buffer.data(), m_buffer.size());
            m_buffer.Touch(m_end);
            if (m_end == 0) {
                break;
            }
        }
        const std::size_t n = std::min(buffer.size() - done, m_end - m_begin);
        std::memcpy(buffer.data() + done, m_buffer.data() + m_begin, n);
        m_begin += n;
        done += n;
    }
    return done;
}

std::span<const std::uint8_t> TFileReader::Lend(std::size_t size)
{
    if (size > m_buffer.size()) {
        throw std::invalid_argument("cannot lend more than the read buffer holds");
    }
    if (m_end - m_begin < size) {
        // Move what is left to the front and fill up behind it, so the request is contiguous.
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
        while (m_end < size) {
            const std::size_t got = ReadSystem(m_buffer.data() + m_end, m_buffer.size() - m_end);
            if (got == 0) {
                break;
            }
            m_end += got;
            m_buffer.Touch(m_end);
        }
    }
    const std::size_t n = std::min(size, m_end - m_begin);
    const std::span<const std::uint8_t> lent(m_buffer.data() + m_begin, n);
    m_begin += n;
    return lent;
}

void TFileReader::Seek(std::uint64_t position)
{
    m_begin = m_end = 0;
#ifdef _WIN32
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    if (!SetFilePointerEx(m_handle, to, nullptr, FILE_BEGIN)) {
        throw EFileError("Cannot seek in", m_path, LastError());
    }
#else
    if (::lseek(m_handle, static_cast<off_t>(position), SEEK_SET) < 0) {
        throw EFileError("Cannot seek in", m_path, errno);
    }
#endif
}

std::uint64_t TFileReader::Size() const
{
#ifdef _WIN32
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_handle, &size)) {
        throw EFileError("Cannot get the size of", m_path, LastError());
    }
    return static_cast<std::uint64_t>(size.QuadPart);
#else
    struct stat st{};
    if (::fstat(m_handle, &st) != 0) {
        throw EFileError("Cannot get the size of", m_path, errno);
    }
    return static_cast<std::uint64_t>(st.st_size);
#endif
}

TFileWriter::TFileWriter(const std::string& path, TCreateMode mode, unsigned permissions)
    : m_path(path), m_handle(kNoHandle), m_buffer(kIoBuffer, TSecureUse::Bulk)
{
#ifdef _WIN32
    (void)permissions;
    m_handle = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                           mode == TCreateMode::CreateNew ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
#else
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY |
                      (mode == TCreateMode::CreateNew ? O_EXCL : O_TRUNC);
    m_handle = ::open(path.c_str(), flags, static_cast<mode_t>(permissions));
#endif
    if (m_handle == kNoHandle) {
        throw EFileError("Cannot create", path, LastError());
    }
}

TFileWriter::TFileWriter(const TFolder& folder, const std::string& name, TCreateMode mode, unsigned permissions)
    : m_path(folder.PathOf(name)), m_handle(kNoHandle), m_buffer(kIoBuffer, TSecureUse::Bulk)
{
#ifdef _WIN32
    (void)permissions;
    m_handle = CreateFileW(WidePath(m_path).c_str(), GENERIC_WRITE, 0, nullptr,
                           mode == TCreateMode::CreateNew ? CREATE_NEW : CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
#else
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW |
                      (mode == TCreateMode::CreateNew ? O_EXCL : O_TRUNC);
    m_handle = ::openat(folder.Handle(), name.c_str(), flags, static_cast<mode_t>(permissions));
#endif
    if (m_handle == kNoHandle) {
        throw EFileError("Cannot create", m_path, LastError());
    }
}

void TFileWriter::SetPermissions(unsigned permissions)
{
#ifdef _WIN32
    (void)permissions;
#else
    if (::fchmod(m_handle, static_cast<mode_t>(permissions)) != 0) {
        throw EFileError("Cannot set the permissions of", m_path, errno);
    }
#endif
}

TFileIdentity TFileWriter::Identity() const
{
    return IdentityOfHandle(m_handle);
}

TFileWriter::~TFileWriter()
{
    CloseQuietly(m_handle);
}

void TFileWriter::WriteSystem(const std::uint8_t* data, std::size_t size)
{
    if (m_handle == kNoHandle) {
        throw EFileError("Cannot write closed file", m_path, 0);
    }
    while (size > 0) {
#ifdef _WIN32
        DWORD put = 0;
        const DWORD request = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!WriteFile(m_handle, data, request, &put, nullptr)) {
            throw EFileError("Cannot write", m_path, LastError());
        }
        if (put == 0) {
            throw EFileError("Cannot write", m_path, ERROR_DISK_FULL);
        }
#else
        const ssize_t put = ::write(m_handle, data, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw EFileError("Cannot write", m_path, errno);
        }
        if (put == 0) {
            throw EFileError("Cannot write", m_path, ENOSPC);
        }
#endif
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

void TFileWriter::Write(std::span<const std::uint8_t> data)
{
    if (m_used + data.size() > m_buffer.size()) {
        Flush();
        if (data.size() >= m_buffer.size()) {
            WriteSystem(data.data(), data.size());
            return;
        }
    }
    m_buffer.Touch(m_used + data.size());
    std::memcpy(m_buffer.data() + m_used, data.data(), data.size());
    m_used += data.size();
}

std::span<std::uint8_t> TFileWriter::Reserve(std::size_t size)
{
    if (size > m_buffer.size()) {
        return {};
    }
    if (m_used + size > m_buffer.size()) {
        Flush();
    }
    m_buffer.Touch(m_used + size);
    return {m_buffer.data() + m_used, size};
}

void TFileWriter::Commit(std::size_t size)
{
    m_used = std::min(m_used + size, m_buffer.size());
}

void TFileWriter::Flush()
{
    if (m_used != 0) {
        // Count the buffer as gone even if the write fails: the file is abandoned then anyway, and
        // the destructor must not try to write it again.
        const std::size_t used = m_used;
        m_used = 0;
        WriteSystem(m_buffer.data(), used);
    }
}

void TFileWriter::Sync()
{
    Flush();
#ifdef _WIN32
    if (!FlushFileBuffers(m_handle)) {
        throw EFileError("Cannot flush", m_path, LastError());
    }
#else
    if (::fsync(m_handle) != 0) {
        throw EFileError("Cannot flush", m_path, errno);
    }
#endif
}

void TFileWriter::Close()
{
    if (m_handle == kNoHandle) {
        return;
    }
    try {
        Flush();
    } catch (...) {
        CloseQuietly(m_handle);
        m_handle = kNoHandle;
        throw;
    }
#ifdef _WIN32
    const bool ok = CloseHandle(m_handle) != 0;
#else
    // close() can report a write error that the file system deferred (NFS, quotas).
    const bool ok = ::close(m_handle) == 0;
#endif
    const int error = LastError();
    m_handle = kNoHandle;
    if (!ok) {
        throw EFileError("Cannot close", m_path, error);
    }
}

void SyncFolder(const std::string& folder)
{
#ifdef _WIN32
    (void)folder;
#else
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw EFileError("Cannot open folder", folder, errno);
    }
    const int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // Some file systems refuse fsync on a folder; the data itself was already synced.
    if (rc != 0 && error != EINVAL && error != ENOTSUP) {
        throw EFileError("Cannot flush folder", folder, error);
    }
#endif
}

unsigned TFileReader::Permissions() const
{
#ifdef _WIN32
    return 0666;
#else
    struct stat st{};
    if (::fstat(m_handle, &st) != 0) {
        throw EFileError("Cannot read the permissions of", m_path, errno);
    }
    return static_cast<unsigned>(st.st_mode & 07777);
#endif
}

void RemoveQuietly(const std::string& path) noexcept
{
    try {
#ifdef _WIN32
        DeleteFileW(WidePath(path).c_str());
#else
        ::unlink(path.c_str());
#endif
    } catch (...) {
    }
}

bool IsSameFile(const std::string& a, const std::string& b)
{
#ifdef _WIN32
    auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE h = CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return false;
        }
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    return identity(a, ia) && identity(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
#else
    struct stat sa{}, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#endif
}
