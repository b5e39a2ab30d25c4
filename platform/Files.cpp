#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace
{
#ifdef _WIN32
const TNativeHandle kNoHandle = INVALID_HANDLE_VALUE;

int LastError()
{
    return static_cast<int>(GetLastError());
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}
#else
constexpr TNativeHandle kNoHandle = -1;

bool IsSeparator(char c)
{
    return c == '/';
}
#endif

std::size_t LastSeparator(const std::string& path)
{
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1])) {
            return i - 1;
        }
#ifdef _WIN32
        if (path[i - 1] == ':') {
            return i - 1;
        }
#endif
    }
    return std::string::npos;
}

bool EndsInSeparator(const std::string& path)
{
    return !path.empty() && IsSeparator(path.back());
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || EndsInSeparator(folder)) {
        return folder + name;
    }
    return folder + "/" + name;
}

// Without trailing separators, so that "a/b/" names b; the root stays as it is.
std::string TrimSeparators(std::string path)
{
    while (path.size() > 1 && EndsInSeparator(path)) {
        path.pop_back();
    }
    return path;
}
} // namespace

std::string FolderOfPath(const std::string& path)
{
    const std::size_t at = LastSeparator(path);
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string NameOfPath(const std::string& path)
{
    const std::size_t at = LastSeparator(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string ExtensionOfPath(const std::string& path)
{
    const std::string name = NameOfPath(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

#ifndef _WIN32

// ---- POSIX ----

namespace
{
bool LockRefused(int error)
{
    return error == EWOULDBLOCK || error == EAGAIN || error == EACCES;
}

// Whether another open file holds a lock that conflicts with one of ours: a flock and an
// open-file-description lock, both non-blocking. Locks that the file system cannot take at all
// (ENOLCK, EINVAL, ENOTSUP) are no conflict. Both locks belong to this open file and go with it.
bool LockConflicts(int fd, bool exclusive)
{
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && LockRefused(errno)) {
        return true;
    }
    struct flock lock{};
    lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return ::fcntl(fd, F_OFD_SETLK, &lock) != 0 && LockRefused(errno);
}

void ClearNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
}

std::string HiddenListPath(const std::string& path)
{
    const std::string folder = FolderOfPath(TrimSeparators(path));
    return folder + kHiddenListName;
}

bool ReadHiddenList(const std::string& listPath, std::vector<std::string>& lines)
{
    lines.clear();
    const int fd = ::open(listPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;
        }
        return false;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        begin = end + 1;
    }
    return true;
}

bool ListedHidden(const std::string& path)
{
    const std::string name = NameOfPath(TrimSeparators(path));
    std::vector<std::string> lines;
    if (name.empty() || !ReadHiddenList(HiddenListPath(path), lines)) {
        return false;
    }
    return std::find(lines.begin(), lines.end(), name) != lines.end();
}

void WriteHiddenList(const std::string& listPath, const std::vector<std::string>& lines)
{
    const bool empty = std::all_of(lines.begin(), lines.end(), [](const std::string& l) { return l.empty(); });
    if (empty) {
        if (::unlink(listPath.c_str()) != 0 && errno != ENOENT) {
            throw EFileError("Cannot delete", listPath, errno);
        }
        return;
    }
    std::string text;
    for (const std::string& line : lines) {
        if (!line.empty()) {
            text += line;
            text += '\n';
        }
    }
    // A reader must see the old list or the new one, never half of it.
    std::string tempPath = listPath + ".XXXXXX";
    const int fd = ::mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0) {
        throw EFileError("Cannot create", tempPath, errno);
    }
    bool open = true;
    try {
        struct stat old{};
        const mode_t mode = ::stat(listPath.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
        ::fchmod(fd, mode);
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                throw EFileError("Cannot write", tempPath, put < 0 ? errno : ENOSPC);
            }
            done += static_cast<std::size_t>(put);
        }
        if (::fsync(fd) != 0) {
            throw EFileError("Cannot flush", tempPath, errno);
        }
        open = false;
        if (::close(fd) != 0) {
            throw EFileError("Cannot close", tempPath, errno);
        }
    } catch (...) {
        if (open) {
            ::close(fd);
        }
        ::unlink(tempPath.c_str());
        throw;
    }
    if (::rename(tempPath.c_str(), listPath.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempPath.c_str());
        throw EFileError("Cannot replace", listPath, error);
    }
}

void SetListedHidden(const std::string& path, bool hidden)
{
    const std::string name = NameOfPath(TrimSeparators(path));
    if (name.empty() || name == "/" || name == "." || name == "..") {
        return;
    }
    const std::string listPath = HiddenListPath(path);
    std::vector<std::string> lines;
    if (!ReadHiddenList(listPath, lines)) {
        throw EFileError("Cannot read", listPath, errno);
    }
    const bool listed = std::find(lines.begin(), lines.end(), name) != lines.end();
    if (listed == hidden) {
        return;
    }
    if (hidden) {
        lines.push_back(name);
    } else {
        std::erase(lines, name);
    }
    WriteHiddenList(listPath, lines);
}

std::uint32_t AttributesOf(const std::string& path, const struct stat& st)
{
    std::uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode)) {
        attributes |= kAttrDirectory;
    } else if (S_ISREG(st.st_mode)) {
        attributes |= kAttrArchive;
    }
    if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
        attributes |= kAttrReadOnly;
    }
    if (ListedHidden(path)) {
        attributes |= kAttrHidden;
    }
    return attributes;
}

TFileTime FromStatx(const struct statx_timestamp& t)
{
    return TFileTime{t.tv_sec, t.tv_nsec};
}
} // namespace

TFile::TFile(const std::string& path, TOpenMode mode) : m_path(path), m_handle(kNoHandle)
{
    // O_NONBLOCK only so that opening a FIFO cannot hang; it is cleared once the kind is known.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    switch (mode) {
    case TOpenMode::Read:
        flags |= O_RDONLY;
        break;
    case TOpenMode::ReadWriteShared:
        flags |= O_RDWR | O_NOFOLLOW;
        break;
    case TOpenMode::CreateOrTruncate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    m_handle = ::open(path.c_str(), flags, 0666);
    if (m_handle < 0) {
        if (mode == TOpenMode::ReadWriteShared && errno == ELOOP) {
            throw EFileError("Cannot open", path, ELOOP, "it is a symbolic link");
        }
        throw EFileError("Cannot open", path, errno);
    }
    struct stat st{};
    if (::fstat(m_handle, &st) != 0) {
        const int error = errno;
        ::close(m_handle);
        m_handle = kNoHandle;
        throw EFileError("Cannot open", path, error);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(m_handle);
        m_handle = kNoHandle;
        throw EFileError("Cannot open", path, EISDIR);
    }
    if (mode == TOpenMode::ReadWriteShared) {
        if (!S_ISREG(st.st_mode)) {
            ::close(m_handle);
            m_handle = kNoHandle;
            throw EFileError("Cannot open", path, EINVAL, "not a regular file (a FIFO, socket or device)");
        }
        if (LockConflicts(m_handle, false)) {
            ::close(m_handle);
            m_handle = kNoHandle;
            throw EFileError("Cannot open", path, EWOULDBLOCK, "it is locked by another program");
        }
    }
    ClearNonBlocking(m_handle);
}

TFile::~TFile()
{
    if (m_handle != kNoHandle) {
        ::close(m_handle);
    }
}

std::uint64_t TFile::Size() const
{
    struct stat st{};
    if (::fstat(m_handle, &st) != 0) {
        throw EFileError("Cannot get the size of", m_path, errno);
    }
    return static_cast<std::uint64_t>(st.st_size);
}

void TFile::Seek(std::uint64_t position)
{
    if (::lseek(m_handle, static_cast<off_t>(position), SEEK_SET) < 0) {
        throw EFileError("Cannot seek in", m_path, errno);
    }
}

std::size_t TFile::Read(std::span<std::uint8_t> buffer)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::read(m_handle, buffer.data() + done, buffer.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw EFileError("Cannot read", m_path, errno);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void TFile::Write(std::span<const std::uint8_t> data)
{
    const std::uint8_t* at = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t put = ::write(m_handle, at, left);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw EFileError("Cannot write", m_path, errno);
        }
        if (put == 0) {
            throw EFileError("Cannot write", m_path, ENOSPC);
        }
        // A short write is retried for the rest; the retry reports why the system stopped.
        at += put;
        left -= static_cast<std::size_t>(put);
    }
}

void TFile::Sync()
{
    if (::fsync(m_handle) != 0) {
        throw EFileError("Cannot flush", m_path, errno);
    }
}

void TFile::Close()
{
    if (m_handle == kNoHandle) {
        return;
    }
    // close() can report a write error that the file system deferred (NFS, quotas).
    const int rc = ::close(m_handle);
    m_handle = kNoHandle;
    if (rc != 0 && errno != EINTR) {
        throw EFileError("Cannot close", m_path, errno);
    }
}

std::uint64_t FileSize(const std::string& path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        throw EFileError("Cannot get the size of", path, errno);
    }
    return static_cast<std::uint64_t>(st.st_size);
}

void RenameFile(const std::string& from, const std::string& to, TRenameMode mode)
{
    if (mode == TRenameMode::Replace) {
        if (::rename(from.c_str(), to.c_str()) != 0) {
            throw EFileError("Cannot rename", from, errno);
        }
        return;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        throw EFileError("Cannot rename", from, errno);
    }
    // The file system cannot refuse a replacement by itself: a hard link can, where links exist.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) != 0) {
            const int error = errno;
            ::unlink(to.c_str());
            throw EFileError("Cannot rename", from, error);
        }
        return;
    }
    if (errno == EEXIST) {
        throw EFileError("Cannot rename", from, EEXIST);
    }
    struct stat st{};
    if (::lstat(to.c_str(), &st) == 0) {
        throw EFileError("Cannot rename", from, EEXIST);
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throw EFileError("Cannot rename", from, errno);
    }
}

void RemoveFile(const std::string& path)
{
    if (::unlink(path.c_str()) != 0) {
        throw EFileError("Cannot delete", path, errno);
    }
}

void RemoveFolder(const std::string& path)
{
    if (::rmdir(path.c_str()) != 0) {
        throw EFileError("Cannot delete folder", path, errno);
    }
}

std::uint32_t ReadFileAttributes(const std::string& path)
{
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        throw EFileError("Cannot read the attributes of", path, errno);
    }
    return AttributesOf(path, st);
}

void WriteFileAttributes(const std::string& path, std::uint32_t attributes)
{
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        throw EFileError("Cannot set the attributes of", path, errno);
    }
    // A link has no permissions of its own, and chmod would reach through it to the target.
    if (!S_ISLNK(st.st_mode)) {
        const bool readOnly = (attributes & kAttrReadOnly) != 0;
        const bool writable = (st.st_mode & S_IWUSR) != 0;
        if (readOnly == writable) {
            const mode_t mode = readOnly ? (st.st_mode & ~S_IWUSR) : (st.st_mode | S_IWUSR);
            if (::chmod(path.c_str(), mode & 07777) != 0) {
                throw EFileError("Cannot set the attributes of", path, errno);
            }
        }
    }
    SetListedHidden(path, (attributes & kAttrHidden) != 0);
}

TFileTimes ReadFileTimes(const std::string& path)
{
    struct statx sx{};
    if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_MTIME | STATX_BTIME, &sx) == 0) {
        TFileTimes times;
        times.lastWrite = FromStatx(sx.stx_mtime);
        if ((sx.stx_mask & STATX_BTIME) != 0) {
            times.creation = FromStatx(sx.stx_btime);
        }
        return times;
    }
    if (errno != ENOSYS) {
        throw EFileError("Cannot read the times of", path, errno);
    }
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        throw EFileError("Cannot read the times of", path, errno);
    }
    TFileTimes times;
    times.lastWrite = TFileTime{st.st_mtim.tv_sec, static_cast<std::uint32_t>(st.st_mtim.tv_nsec)};
    return times;
}

void RestoreFileTimes(const std::string& path, const TFileTimes& times)
{
    struct timespec both[2]{};
    both[0].tv_nsec = UTIME_OMIT;
    both[1].tv_sec = static_cast<time_t>(times.lastWrite.seconds);
    both[1].tv_nsec = static_cast<long>(times.lastWrite.nanoseconds);
    if (::utimensat(AT_FDCWD, path.c_str(), both, 0) != 0) {
        throw EFileError("Cannot set the times of", path, errno);
    }
}

bool CanOpenExclusively(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    const bool conflict = LockConflicts(fd, true);
    ::close(fd);
    return !conflict;
}

std::optional<TFoundEntry> FindEntry(const std::string& path)
{
    if (path.empty() || EndsInSeparator(path)) {
        return std::nullopt;
    }
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    TFoundEntry entry;
    if (S_ISREG(st.st_mode)) {
        entry.kind = TEntryKind::File;
    } else if (S_ISDIR(st.st_mode)) {
        entry.kind = TEntryKind::Directory;
    } else if (S_ISLNK(st.st_mode)) {
        entry.kind = TEntryKind::SymbolicLink;
    }
    entry.attributes = AttributesOf(path, st);
    entry.size = static_cast<std::uint64_t>(st.st_size);
    return entry;
}

std::uint64_t HardLinkCount(const std::string& path)
{
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        return 1;
    }
    return static_cast<std::uint64_t>(st.st_nlink);
}

namespace
{
void ListInto(const std::string& folder, TTreeListing& out)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        out.unreadable.push_back(folder);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = JoinPath(folder, name);
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0) {
            continue; // gone meanwhile
        }
        if (S_ISDIR(st.st_mode)) {
            ListInto(path, out);
            out.folders.push_back(path);
        } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            out.files.push_back(path);
        } else {
            out.others.push_back(path);
        }
    }
}
} // namespace

TTreeListing ListTree(const std::string& folder)
{
    TTreeListing out;
    ListInto(TrimSeparators(folder), out);
    return out;
}

bool IsVolumeRoot(const std::string& path)
{
    struct stat self{};
    struct stat parent{};
    const std::string trimmed = TrimSeparators(path);
    if (::stat(trimmed.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) {
        return false;
    }
    if (::stat((trimmed + "/..").c_str(), &parent) != 0) {
        return false;
    }
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

std::optional<std::uint64_t> FreeSpace(const std::string& folder)
{
    struct statvfs info{};
    if (::statvfs(folder.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

#else

// ---- Win32 ----

namespace
{
constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;

TFileTime FromFileTime(const FILETIME& ft)
{
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) -
        kUnixEpochIn100ns;
    std::int64_t seconds = ticks / 10000000;
    std::int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    return TFileTime{seconds, static_cast<std::uint32_t>(rest * 100)};
}

FILETIME ToFileTime(const TFileTime& t)
{
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(t.seconds * 10000000 + t.nanoseconds / 100 + kUnixEpochIn100ns);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

constexpr DWORD kNativeSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE;

bool IsLinkData(const WIN32_FIND_DATAW& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (data.dwReserved0 == IO_REPARSE_TAG_SYMLINK || data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

std::string Utf8(const std::wstring& wide)
{
    if (wide.empty()) {
        return {};
    }
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size, nullptr, nullptr);
    return out;
}
} // namespace

TFile::TFile(const std::string& path, TOpenMode mode) : m_path(path), m_handle(kNoHandle)
{
    const std::wstring wide = WidePath(path);
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD disposition = OPEN_EXISTING;
    if (mode == TOpenMode::ReadWriteShared) {
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            throw EFileError("Cannot open", path, ERROR_CANT_ACCESS_FILE, "it is a symbolic link");
        }
        access |= GENERIC_WRITE;
    } else if (mode == TOpenMode::CreateOrTruncate) {
        access |= GENERIC_WRITE;
        share = FILE_SHARE_READ;
        disposition = CREATE_ALWAYS;
    }
    m_handle = CreateFileW(wide.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_handle == kNoHandle) {
        throw EFileError("Cannot open", path, LastError());
    }
    if (mode == TOpenMode::ReadWriteShared && GetFileType(m_handle) != FILE_TYPE_DISK) {
        CloseHandle(m_handle);
        m_handle = kNoHandle;
        throw EFileError("Cannot open", path, ERROR_INVALID_FUNCTION, "not a regular file (a pipe or device)");
    }
}

TFile::~TFile()
{
    if (m_handle != kNoHandle) {
        CloseHandle(m_handle);
    }
}

std::uint64_t TFile::Size() const
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_handle, &size)) {
        throw EFileError("Cannot get the size of", m_path, LastError());
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

void TFile::Seek(std::uint64_t position)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    if (!SetFilePointerEx(m_handle, to, nullptr, FILE_BEGIN)) {
        throw EFileError("Cannot seek in", m_path, LastError());
    }
}

std::size_t TFile::Read(std::span<std::uint8_t> buffer)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        DWORD got = 0;
        const DWORD request = static_cast<DWORD>(std::min<std::size_t>(buffer.size() - done, 1u << 30));
        if (!ReadFile(m_handle, buffer.data() + done, request, &got, nullptr)) {
            throw EFileError("Cannot read", m_path, LastError());
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

void TFile::Write(std::span<const std::uint8_t> data)
{
    const std::uint8_t* at = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        DWORD put = 0;
        const DWORD request = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
        if (!WriteFile(m_handle, at, request, &put, nullptr)) {
            throw EFileError("Cannot write", m_path, LastError());
        }
        if (put == 0) {
            throw EFileError("Cannot write", m_path, ERROR_DISK_FULL);
        }
        at += put;
        left -= put;
    }
}

void TFile::Sync()
{
    if (!FlushFileBuffers(m_handle)) {
        throw EFileError("Cannot flush", m_path, LastError());
    }
}

void TFile::Close()
{
    if (m_handle == kNoHandle) {
        return;
    }
    const bool ok = CloseHandle(m_handle) != 0;
    const int error = LastError();
    m_handle = kNoHandle;
    if (!ok) {
        throw EFileError("Cannot close", m_path, error);
    }
}

std::uint64_t FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
        throw EFileError("Cannot get the size of", path, LastError());
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void RenameFile(const std::string& from, const std::string& to, TRenameMode mode)
{
    const DWORD flags = mode == TRenameMode::Replace ? MOVEFILE_REPLACE_EXISTING : 0;
    if (!MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), flags)) {
        throw EFileError("Cannot rename", from, LastError());
    }
}

void RemoveFile(const std::string& path)
{
    if (!DeleteFileW(WidePath(path).c_str())) {
        throw EFileError("Cannot delete", path, LastError());
    }
}

void RemoveFolder(const std::string& path)
{
    if (!RemoveDirectoryW(WidePath(path).c_str())) {
        throw EFileError("Cannot delete folder", path, LastError());
    }
}

std::uint32_t ReadFileAttributes(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw EFileError("Cannot read the attributes of", path, LastError());
    }
    return static_cast<std::uint32_t>(attributes);
}

void WriteFileAttributes(const std::string& path, std::uint32_t attributes)
{
    DWORD wanted = static_cast<DWORD>(attributes) & kNativeSettable;
    if (wanted == 0) {
        wanted = FILE_ATTRIBUTE_NORMAL;
    }
    if (!SetFileAttributesW(WidePath(path).c_str(), wanted)) {
        throw EFileError("Cannot set the attributes of", path, LastError());
    }
}

TFileTimes ReadFileTimes(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
        throw EFileError("Cannot read the times of", path, LastError());
    }
    TFileTimes times;
    times.lastWrite = FromFileTime(data.ftLastWriteTime);
    times.creation = FromFileTime(data.ftCreationTime);
    return times;
}

void RestoreFileTimes(const std::string& path, const TFileTimes& times)
{
    HANDLE handle = CreateFileW(WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == kNoHandle) {
        throw EFileError("Cannot set the times of", path, LastError());
    }
    const FILETIME lastWrite = ToFileTime(times.lastWrite);
    FILETIME creation{};
    if (times.creation) {
        creation = ToFileTime(*times.creation);
    }
    const bool ok = SetFileTime(handle, times.creation ? &creation : nullptr, nullptr, &lastWrite) != 0;
    const int error = LastError();
    CloseHandle(handle);
    if (!ok) {
        throw EFileError("Cannot set the times of", path, error);
    }
}

bool CanOpenExclusively(const std::string& path)
{
    HANDLE handle = kNoHandle;
    try {
        handle = CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    } catch (const EFileError&) {
        return false;
    }
    if (handle == kNoHandle) {
        return false;
    }
    CloseHandle(handle);
    return true;
}

std::optional<TFoundEntry> FindEntry(const std::string& path)
{
    if (path.empty() || EndsInSeparator(path)) {
        return std::nullopt;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = INVALID_HANDLE_VALUE;
    try {
        find = FindFirstFileW(WidePath(path).c_str(), &data);
    } catch (const EFileError&) {
        return std::nullopt;
    }
    if (find == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    FindClose(find);
    TFoundEntry entry;
    if (IsLinkData(data)) {
        entry.kind = TEntryKind::SymbolicLink;
    } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        entry.kind = TEntryKind::Directory;
    } else {
        entry.kind = TEntryKind::File;
    }
    entry.attributes = static_cast<std::uint32_t>(data.dwFileAttributes);
    entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return entry;
}

std::uint64_t HardLinkCount(const std::string& path)
{
    HANDLE handle = kNoHandle;
    try {
        handle = CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr);
    } catch (const EFileError&) {
        return 1;
    }
    if (handle == kNoHandle) {
        return 1;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return ok ? info.nNumberOfLinks : 1;
}

namespace
{
void ListInto(const std::string& folder, TTreeListing& out)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(WidePath(JoinPath(folder, "*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        out.unreadable.push_back(folder);
        return;
    }
    struct TItem
    {
        std::string name;
        bool folder;
        bool link;
    };
    std::vector<TItem> items;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            items.push_back({Utf8(name), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, IsLinkData(data)});
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(items.begin(), items.end(), [](const TItem& a, const TItem& b) { return a.name < b.name; });
    for (const TItem& item : items) {
        const std::string path = JoinPath(folder, item.name);
        if (item.folder && !item.link) {
            ListInto(path, out);
            out.folders.push_back(path);
        } else {
            out.files.push_back(path);
        }
    }
}
} // namespace

TTreeListing ListTree(const std::string& folder)
{
    TTreeListing out;
    ListInto(TrimSeparators(folder), out);
    return out;
}

bool IsVolumeRoot(const std::string& path)
{
    std::wstring wide;
    try {
        wide = WidePath(path);
    } catch (const EFileError&) {
        return false;
    }
    wchar_t volume[MAX_PATH + 1];
    if (!GetVolumePathNameW(wide.c_str(), volume, MAX_PATH + 1)) {
        return false;
    }
    std::wstring full(MAX_PATH + 1, L'\0');
    const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n > full.size()) {
        return false;
    }
    full.resize(n);
    if (!full.empty() && full.back() != L'\\') {
        full += L'\\';
    }
    return _wcsicmp(full.c_str(), volume) == 0;
}

std::optional<std::uint64_t> FreeSpace(const std::string& folder)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(WidePath(folder).c_str(), &available, nullptr, nullptr)) {
        return std::nullopt;
    }
    return available.QuadPart;
}

#endif
