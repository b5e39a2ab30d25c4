// The file layer on POSIX systems: opens, renames, attributes, times, locks and folder walks.
#ifndef _WIN32
#include "platform/Files.h"
#include "platform/FilesInternal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/Clock.h"

using namespace vx_files_detail;

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

constexpr const char* kReplacedReason = "it was replaced since it was listed";

TFileIdentity IdentityOf(const struct stat& st)
{
    return TFileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// Opens the admitted file by name in its folder, never through a link, and checks that the name
// still holds that file. O_NONBLOCK only so that a FIFO put in its place cannot hang the open.
int OpenRef(const TFileRef& file, int flags)
{
    const int fd = ::openat(file.folder->Handle(), file.name.c_str(),
                            flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP) {
            throw EFileError("Cannot open", file.Path(), ELOOP, "it is a symbolic link");
        }
        throw EFileError("Cannot open", file.Path(), error);
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        throw EFileError("Cannot open", file.Path(), error);
    }
    if (IdentityOf(st) != file.identity) {
        ::close(fd);
        throw EFileError("Cannot open", file.Path(), ESTALE, kReplacedReason);
    }
    ClearNonBlocking(fd);
    return fd;
}

// chmod of the entry itself: never through a link, even one that took the name a moment ago.
void ChangeMode(const TFileRef& file, mode_t mode)
{
    if (::fchmodat(file.folder->Handle(), file.name.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0) {
        return;
    }
    if (errno != ENOTSUP && errno != EOPNOTSUPP) {
        throw EFileError("Cannot set the attributes of", file.Path(), errno);
    }
    const int fd = OpenRef(file, O_RDONLY);
    const int rc = ::fchmod(fd, mode);
    const int error = errno;
    ::close(fd);
    if (rc != 0) {
        throw EFileError("Cannot set the attributes of", file.Path(), error);
    }
}

bool IsSelfOrParent(const std::string& name)
{
    return name.empty() || name == "." || name == ".." || name == "/";
}

bool ReadHiddenList(int folder, std::vector<std::string>& lines)
{
    lines.clear();
    const int fd = ::openat(folder, kHiddenListName, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        return errno == ENOENT;
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

bool ListedHidden(const TFolder& folder, const std::string& name)
{
    std::vector<std::string> lines;
    if (IsSelfOrParent(name) || !ReadHiddenList(folder.Handle(), lines)) {
        return false;
    }
    return std::find(lines.begin(), lines.end(), name) != lines.end();
}

// A fresh file beside the list, created by name in the open folder and never through a link.
int CreateTemporary(const TFolder& folder, std::string& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = std::string(kHiddenListName) + "." + std::to_string(::getpid()) + "." +
               std::to_string(TickCount()) + "." + std::to_string(attempt);
        const int fd = ::openat(folder.Handle(), name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

void WriteHiddenList(const TFolder& folder, const std::vector<std::string>& lines)
{
    const std::string listPath = folder.PathOf(kHiddenListName);
    const bool empty = std::all_of(lines.begin(), lines.end(), [](const std::string& l) { return l.empty(); });
    if (empty) {
        if (::unlinkat(folder.Handle(), kHiddenListName, 0) != 0 && errno != ENOENT) {
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
    std::string tempName;
    const int fd = CreateTemporary(folder, tempName);
    if (fd < 0) {
        throw EFileError("Cannot create", folder.PathOf(tempName), errno);
    }
    const std::string tempPath = folder.PathOf(tempName);
    bool open = true;
    try {
        struct stat old{};
        const mode_t mode =
            ::fstatat(folder.Handle(), kHiddenListName, &old, AT_SYMLINK_NOFOLLOW) == 0 ? (old.st_mode & 07777) : 0644;
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
        ::unlinkat(folder.Handle(), tempName.c_str(), 0);
        throw;
    }
    if (::renameat(folder.Handle(), tempName.c_str(), folder.Handle(), kHiddenListName) != 0) {
        const int error = errno;
        ::unlinkat(folder.Handle(), tempName.c_str(), 0);
        throw EFileError("Cannot replace", listPath, error);
    }
}

void SetListedHidden(const TFolder& folder, const std::string& name, bool hidden)
{
    if (IsSelfOrParent(name)) {
        return;
    }
    // The list is read, changed and written back: two threads marking files of one folder at once
    // would each write their own version and lose the other's line.
    static std::mutex listMutex;
    const std::lock_guard lock(listMutex);
    std::vector<std::string> lines;
    if (!ReadHiddenList(folder.Handle(), lines)) {
        throw EFileError("Cannot read", folder.PathOf(kHiddenListName), errno);
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
    WriteHiddenList(folder, lines);
}

std::uint32_t AttributesOf(const TFolder& folder, const std::string& name, const struct stat& st)
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
    if (ListedHidden(folder, name)) {
        attributes |= kAttrHidden;
    }
    return attributes;
}

TFileTime FromStatx(const struct statx_timestamp& t)
{
    return TFileTime{t.tv_sec, t.tv_nsec};
}
} // namespace

std::shared_ptr<const TFolder> TFolder::Open(const std::string& path)
{
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw EFileError("Cannot open folder", path.empty() ? "." : path, errno);
    }
    return std::shared_ptr<const TFolder>(new TFolder(path, fd));
}

TFolder::~TFolder()
{
    ::close(m_handle);
}

std::shared_ptr<const TFolder> TFolder::OpenSub(const std::string& name,
                                                const std::optional<TFileIdentity>& expected) const
{
    const std::string path = PathOf(name);
    const int fd = ::openat(m_handle, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // A link in the folder's place fails as "not a directory" or "too many links".
        throw EFileError("Cannot open folder", path, errno);
    }
    std::shared_ptr<const TFolder> sub(new TFolder(path, fd));
    if (expected && sub->Identity() != *expected) {
        throw EFileError("Cannot open folder", path, ESTALE, kReplacedReason);
    }
    return sub;
}

std::string TFolder::PathOf(const std::string& name) const
{
    return JoinPath(m_path, name);
}

TFileIdentity TFolder::Identity() const
{
    struct stat st{};
    if (::fstat(m_handle, &st) != 0) {
        throw EFileError("Cannot read the identity of", m_path, errno);
    }
    return IdentityOf(st);
}

std::optional<TFoundEntry> TFolder::Find(const std::string& name) const
{
    struct stat st{};
    if (name.empty() || ::fstatat(m_handle, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
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
    entry.attributes = AttributesOf(*this, name, st);
    entry.size = static_cast<std::uint64_t>(st.st_size);
    entry.identity = IdentityOf(st);
    entry.links = static_cast<std::uint64_t>(st.st_nlink);
    return entry;
}

void TFolder::Rename(const std::string& from, const std::string& to, TRenameMode mode) const
{
    const char* a = from.c_str();
    const char* b = to.c_str();
    if (mode == TRenameMode::Replace) {
        if (::renameat(m_handle, a, m_handle, b) != 0) {
            throw EFileError("Cannot rename", PathOf(from), errno);
        }
        return;
    }
    if (::renameat2(m_handle, a, m_handle, b, RENAME_NOREPLACE) == 0) {
        return;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        throw EFileError("Cannot rename", PathOf(from), errno);
    }
    // The file system cannot refuse a replacement by itself: a hard link can, where links exist.
    if (::linkat(m_handle, a, m_handle, b, 0) == 0) {
        if (::unlinkat(m_handle, a, 0) != 0) {
            const int error = errno;
            ::unlinkat(m_handle, b, 0);
            throw EFileError("Cannot rename", PathOf(from), error);
        }
        return;
    }
    if (errno == EEXIST) {
        throw EFileError("Cannot rename", PathOf(from), EEXIST);
    }
    struct stat st{};
    if (::fstatat(m_handle, b, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        throw EFileError("Cannot rename", PathOf(from), EEXIST);
    }
    if (::renameat(m_handle, a, m_handle, b) != 0) {
        throw EFileError("Cannot rename", PathOf(from), errno);
    }
}

void TFolder::Remove(const std::string& name) const
{
    if (::unlinkat(m_handle, name.c_str(), 0) != 0) {
        throw EFileError("Cannot delete", PathOf(name), errno);
    }
}

void TFolder::RemoveFolder(const std::string& name) const
{
    if (::unlinkat(m_handle, name.c_str(), AT_REMOVEDIR) != 0) {
        throw EFileError("Cannot delete folder", PathOf(name), errno);
    }
}

void TFolder::Sync() const
{
    // Some file systems refuse fsync on a folder; the data itself was already synced.
    if (::fsync(m_handle) != 0 && errno != EINVAL && errno != ENOTSUP) {
        throw EFileError("Cannot flush folder", m_path.empty() ? "." : m_path, errno);
    }
}

TFileRef AnchorPath(const std::string& path)
{
    const std::string trimmed = TrimSeparators(path);
    std::string name = NameOfPath(trimmed);
    std::shared_ptr<const TFolder> folder;
    if (IsSelfOrParent(name) || trimmed == "/") {
        folder = TFolder::Open(trimmed);
        name = ".";
    } else {
        folder = TFolder::Open(FolderOfPath(trimmed));
    }
    struct stat st{};
    if (::fstatat(folder->Handle(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        throw EFileError("Cannot open", path, errno);
    }
    return TFileRef{std::move(folder), name, IdentityOf(st)};
}

TFile::TFile(const TFileRef& file, TOpenMode mode) : m_path(file.Path()), m_handle(kNoHandle)
{
    if (mode == TOpenMode::CreateOrTruncate) {
        throw std::invalid_argument("an admitted file is opened, never created");
    }
    if (mode == TOpenMode::Read) {
        m_handle = OpenRef(file, O_RDONLY);
        return;
    }
    // Read-only on POSIX is the missing owner-write bit: the file is about to be wiped, so it gets
    // the bit now, through the checked entry, and gets its mode back if the open is refused.
    struct stat st{};
    if (::fstatat(file.folder->Handle(), file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        IdentityOf(st) == file.identity && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
        try {
            ChangeMode(file, (st.st_mode | S_IWUSR) & 07777);
        } catch (const EFileError&) {
        }
    }
    try {
        m_handle = OpenRef(file, O_RDWR);
        struct stat opened{};
        if (::fstat(m_handle, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            throw EFileError("Cannot open", m_path, EINVAL, "not a regular file (a FIFO, socket or device)");
        }
        if (LockConflicts(m_handle, false)) {
            throw EFileError("Cannot open", m_path, EWOULDBLOCK, "it is locked by another program");
        }
    } catch (...) {
        if (m_handle != kNoHandle) {
            ::close(m_handle);
            m_handle = kNoHandle;
        }
        if ((st.st_mode & S_IWUSR) == 0 && IdentityOf(st) == file.identity) {
            try {
                ChangeMode(file, st.st_mode & 07777);
            } catch (const EFileError&) {
            }
        }
        throw;
    }
}

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
    return ReadFileAttributes(AnchorPath(path));
}

std::uint32_t ReadFileAttributes(const TFileRef& file)
{
    const auto entry = file.folder->Find(file.name);
    if (!entry) {
        throw EFileError("Cannot read the attributes of", file.Path(), ENOENT);
    }
    return entry->attributes;
}

void WriteFileAttributes(const std::string& path, std::uint32_t attributes)
{
    WriteFileAttributes(AnchorPath(path), attributes);
}

void WriteFileAttributes(const TFileRef& file, std::uint32_t attributes)
{
    struct stat st{};
    if (::fstatat(file.folder->Handle(), file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        throw EFileError("Cannot set the attributes of", file.Path(), errno);
    }
    if (IdentityOf(st) != file.identity) {
        throw EFileError("Cannot set the attributes of", file.Path(), ESTALE, kReplacedReason);
    }
    // A link has no permissions of its own, and chmod would reach through it to the target.
    if (!S_ISLNK(st.st_mode)) {
        const bool readOnly = (attributes & kAttrReadOnly) != 0;
        const bool writable = (st.st_mode & S_IWUSR) != 0;
        if (readOnly == writable) {
            const mode_t mode = readOnly ? (st.st_mode & ~S_IWUSR) : (st.st_mode | S_IWUSR);
            ChangeMode(file, mode & 07777);
        }
    }
    SetListedHidden(*file.folder, file.name, (attributes & kAttrHidden) != 0);
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

TFileTimes ReadFileTimes(const TFileRef& file)
{
    struct statx sx{};
    if (::statx(file.folder->Handle(), file.name.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT,
                STATX_MTIME | STATX_BTIME | STATX_INO, &sx) != 0) {
        if (errno == ENOSYS) {
            return ReadFileTimes(file.Path());
        }
        throw EFileError("Cannot read the times of", file.Path(), errno);
    }
    TFileTimes times;
    times.lastWrite = FromStatx(sx.stx_mtime);
    if ((sx.stx_mask & STATX_BTIME) != 0) {
        times.creation = FromStatx(sx.stx_btime);
    }
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

void RestoreFileTimes(const TFileRef& file, const TFileTimes& times)
{
    const int fd = OpenRef(file, O_RDONLY);
    struct timespec both[2]{};
    both[0].tv_nsec = UTIME_OMIT;
    both[1].tv_sec = static_cast<time_t>(times.lastWrite.seconds);
    both[1].tv_nsec = static_cast<long>(times.lastWrite.nanoseconds);
    const int rc = ::futimens(fd, both);
    const int error = errno;
    ::close(fd);
    if (rc != 0) {
        throw EFileError("Cannot set the times of", file.Path(), error);
    }
}

bool CanOpenExclusively(const std::string& path)
{
    try {
        return !WhyInUse(AnchorPath(path));
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::string> WhyInUse(const TFileRef& file)
{
    // Reading is all a run needs of the file; a write permission is given only to a file about to
    // be wiped, and only then.
    const int fd = ::openat(file.folder->Handle(), file.name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return "cannot be read: " + SystemErrorText(errno);
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || IdentityOf(st) != file.identity) {
        ::close(fd);
        return std::string(kReplacedReason);
    }
    // Nothing on a read-only volume can take an output or be wiped: as a refused exclusive open.
    struct statvfs volume{};
    if (::fstatvfs(fd, &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0) {
        ::close(fd);
        return "cannot be written: " + SystemErrorText(EROFS);
    }
    bool conflict = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && LockRefused(errno);
    if (!conflict) {
        // A write lock cannot be taken through a read-only descriptor; asking whether one would be
        // granted needs none, and takes nothing.
        struct flock lock{};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        conflict = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    }
    ::close(fd);
    if (conflict) {
        return std::string("in use by another program");
    }
    return std::nullopt;
}

std::optional<TFoundEntry> FindEntry(const std::string& path)
{
    if (path.empty() || EndsInSeparator(path)) {
        return std::nullopt;
    }
    try {
        const TFileRef ref = AnchorPath(path);
        return ref.folder->Find(ref.name);
    } catch (const std::exception&) {
        return std::nullopt;
    }
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
void WalkInto(const std::shared_ptr<const TFolder>& folder, TTreeVisitor& visitor)
{
    DIR* dir = nullptr;
    const int listing = ::openat(folder->Handle(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing >= 0) {
        dir = ::fdopendir(listing);
        if (dir == nullptr) {
            ::close(listing);
        }
    }
    if (dir == nullptr) {
        visitor.Unreadable(folder->Path());
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
        struct stat st{};
        if (::fstatat(folder->Handle(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue; // gone meanwhile
        }
        if (S_ISDIR(st.st_mode)) {
            std::shared_ptr<const TFolder> sub;
            try {
                sub = folder->OpenSub(name, IdentityOf(st));
            } catch (const EFileError&) {
                visitor.Unreadable(folder->PathOf(name));
                continue;
            }
            WalkInto(sub, visitor);
            sub.reset();
            visitor.FolderDone(folder, name, IdentityOf(st));
        } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            visitor.File(TFileRef{folder, name, IdentityOf(st)});
        } else {
            visitor.Other(folder->PathOf(name));
        }
    }
}
} // namespace

void WalkTree(const std::string& folder, TTreeVisitor& visitor)
{
    const std::string root = TrimSeparators(folder);
    std::shared_ptr<const TFolder> top;
    try {
        const std::string name = NameOfPath(root);
        if (IsSelfOrParent(name) || root == "/") {
            top = TFolder::Open(root);
        } else {
            // The root too is opened by name in its parent, so that a link put in its place is
            // refused rather than followed.
            top = TFolder::Open(FolderOfPath(root))->OpenSub(name);
        }
    } catch (const EFileError&) {
        visitor.Unreadable(root);
        return;
    }
    WalkInto(top, visitor);
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

#endif
