// The file layer on POSIX systems: opens, renames, attributes, times, locks and folder walks.
#ifndef _WIN32
#include "platform/Files.h"
#include "platform/FilesInternal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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

#endif
