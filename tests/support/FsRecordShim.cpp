// A library preloaded into a program under test that records, at the C library's boundary, every
// call that creates, writes, flushes, renames or removes something inside one folder.
//
// It sits below whatever the program's own file layer does (paths or folder descriptors, temporary
// names or not), so a power-loss replay sees exactly what the kernel was asked. Paths are resolved
// when the call is made (the folder descriptor of an *at call through /proc/self/fd), so a later
// rename cannot make an entry ambiguous. Only calls that succeeded are recorded.
#undef _FORTIFY_SOURCE
#include "tests/support/FsRecord.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <stdio.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace
{
template <class F> F Real(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

using TOpen = int (*)(const char*, int, ...);
using TOpenAt = int (*)(int, const char*, int, ...);
using TWrite = ssize_t (*)(int, const void*, size_t);

constexpr int kMaxTracked = 1 << 16;

struct TRecorder
{
    std::mutex lock;
    int logFd = -1;
    std::string root;
    std::vector<bool> tracked = std::vector<bool>(kMaxTracked, false);
    TWrite write = Real<TWrite>("write");

    TRecorder()
    {
        const char* log = std::getenv(kFsRecordLogVar);
        const char* root_ = std::getenv(kFsRecordRootVar);
        if (log == nullptr || root_ == nullptr) {
            return;
        }
        root = root_;
        logFd = Real<TOpen>("open")(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
};

TRecorder& Recorder()
{
    static TRecorder recorder;
    return recorder;
}

// Set while the library itself works, so that nothing it calls is recorded.
thread_local bool t_busy = false;

class TSaveErrno
{
public:
    TSaveErrno() : m_errno(errno) {}
    ~TSaveErrno() { errno = m_errno; }
    TSaveErrno(const TSaveErrno&) = delete;
    TSaveErrno& operator=(const TSaveErrno&) = delete;

private:
    int m_errno;
};

bool Active()
{
    return !t_busy && Recorder().logFd >= 0;
}

std::string FdPath(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The absolute path that `path` relative to `dirFd` names now, its folder resolved through links
// and its last component kept as it is (a rename or unlink acts on the link, not on its target).
std::string Resolve(int dirFd, const char* path)
{
    if (path == nullptr) {
        return {};
    }
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::string base;
        if (dirFd == AT_FDCWD) {
            char cwd[PATH_MAX];
            base = ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "";
        } else {
            base = FdPath(dirFd);
        }
        full = full.empty() ? base : base + "/" + full;
    }
    while (full.size() > 1 && full.back() == '/') {
        full.pop_back();
    }
    const std::size_t slash = full.rfind('/');
    const std::string last = full.substr(slash + 1);
    const std::string parent = slash == 0 ? "/" : full.substr(0, slash);
    char resolved[PATH_MAX];
    if (last == "." || last == ".." || last.empty()) {
        return ::realpath(full.c_str(), resolved) != nullptr ? resolved : full;
    }
    if (::realpath(parent.c_str(), resolved) == nullptr) {
        return full;
    }
    const std::string folder = resolved;
    return (folder == "/" ? "" : folder) + "/" + last;
}

bool Inside(const std::string& path)
{
    const std::string& root = Recorder().root;
    return path == root ||
           (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/');
}

bool Tracked(int fd)
{
    return fd >= 0 && fd < kMaxTracked && Recorder().tracked[static_cast<std::size_t>(fd)];
}

void Append(std::vector<char>& out, const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

void Emit(TFsOp op, int fd, std::int32_t flags, const std::string& path, const std::string& path2, const void* data,
          std::size_t dataSize, std::int64_t offset)
{
    TRecorder& r = Recorder();
    TFsRecordHead head{};
    head.op = op;
    head.fd = fd;
    head.flags = flags;
    head.pathSize = static_cast<std::uint32_t>(path.size());
    head.path2Size = static_cast<std::uint32_t>(path2.size());
    head.dataSize = static_cast<std::uint32_t>(dataSize);
    head.offset = offset;
    std::vector<char> entry;
    Append(entry, &head, sizeof head);
    Append(entry, path.data(), path.size());
    Append(entry, path2.data(), path2.size());
    if (dataSize != 0) {
        Append(entry, data, dataSize);
    }
    // One write per entry on an O_APPEND descriptor, so entries never interleave.
    std::size_t done = 0;
    while (done < entry.size()) {
        const ssize_t put = r.write(r.logFd, entry.data() + done, entry.size() - done);
        if (put <= 0) {
            if (put < 0 && errno == EINTR) {
                continue;
            }
            std::abort(); // a record with a hole would make every replay after it wrong
        }
        done += static_cast<std::size_t>(put);
    }
}

class TBusy
{
public:
    TBusy() : m_lock(Recorder().lock) { t_busy = true; }
    ~TBusy() { t_busy = false; }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

private:
    std::lock_guard<std::mutex> m_lock;
    TSaveErrno m_errno;
};

void Track(int fd, bool on)
{
    if (fd >= 0 && fd < kMaxTracked) {
        Recorder().tracked[static_cast<std::size_t>(fd)] = on;
    }
}

// After an open that succeeded: `asked` is the resolved path it was given, used for O_TMPFILE,
// whose descriptor has no name yet.
void RecordOpen(int fd, int flags, const std::string& asked)
{
    if (fd < 0 || !Active()) {
        return;
    }
    TBusy busy;
    Track(fd, false);
    const bool tmpFile = (flags & O_TMPFILE) == O_TMPFILE;
    const std::string path = tmpFile ? asked : FdPath(fd);
    if (!Inside(path)) {
        return;
    }
    struct stat st
    {
    };
    const bool folder = !tmpFile && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    Track(fd, true);
    Emit(TFsOp::Open, fd, flags | (folder ? kFsOpenedFolder : 0), path, {}, nullptr, 0, 0);
}

void RecordFd(TFsOp op, int fd, std::int64_t offset = 0, const void* data = nullptr, std::size_t size = 0)
{
    if (!Active() || !Tracked(fd)) {
        return;
    }
    TBusy busy;
    Emit(op, fd, 0, {}, {}, data, size, offset);
}

void RecordWritten(int fd, ssize_t put, std::int64_t offset, const void* data)
{
    if (put > 0) {
        RecordFd(TFsOp::Write, fd, offset, data, static_cast<std::size_t>(put));
    }
}

// Where the bytes of a write() that returned `put` began: the position it left, less what it wrote
// (right for O_APPEND too).
std::int64_t StartOfWrite(int fd, ssize_t put)
{
    if (put <= 0 || !Active() || !Tracked(fd)) {
        return 0;
    }
    return static_cast<std::int64_t>(::lseek(fd, 0, SEEK_CUR)) - put;
}

std::vector<char> Gather(const struct iovec* iov, int count, ssize_t put)
{
    std::vector<char> data;
    for (int i = 0; i < count && static_cast<ssize_t>(data.size()) < put; ++i) {
        const std::size_t take = std::min(iov[i].iov_len, static_cast<std::size_t>(put) - data.size());
        Append(data, iov[i].iov_base, take);
    }
    return data;
}

void RecordPaths(TFsOp op, const std::string& path, const std::string& path2 = {}, std::int32_t flags = 0, int fd = -1)
{
    if (Inside(path) || Inside(path2)) {
        Emit(op, fd, flags, path, path2, nullptr, 0, 0);
    }
}

mode_t ModeArgument(int flags, va_list args)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

// `name` is the C library's function to call: an open (no folder argument) or an openat.
int DoOpen(const char* name, bool at, int dirFd, const char* path, int flags, mode_t mode)
{
    std::string asked;
    if (Active() && (flags & O_TMPFILE) == O_TMPFILE) {
        TBusy busy;
        asked = Resolve(dirFd, path);
    }
    const int fd = at ? Real<TOpenAt>(name)(dirFd, path, flags, mode) : Real<TOpen>(name)(path, flags, mode);
    const TSaveErrno keep;
    RecordOpen(fd, flags, asked);
    return fd;
}

int DoMkstemp(int fd)
{
    RecordOpen(fd, O_RDWR | O_CREAT | O_EXCL, {});
    return fd;
}

int DoDup(int oldFd, int newFd)
{
    if (newFd >= 0 && Active()) {
        TBusy busy;
        const bool from = Tracked(oldFd);
        if (Tracked(newFd)) {
            Emit(TFsOp::Close, newFd, 0, {}, {}, nullptr, 0, 0);
        }
        Track(newFd, from);
        if (from) {
            Emit(TFsOp::Dup, oldFd, newFd, {}, {}, nullptr, 0, 0);
        }
    }
    return newFd;
}
} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return DoOpen("open", false, AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return DoOpen("open64", false, AT_FDCWD, path, flags, mode);
}

int openat(int dirFd, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return DoOpen("openat", true, dirFd, path, flags, mode);
}

int openat64(int dirFd, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return DoOpen("openat64", true, dirFd, path, flags, mode);
}

int creat(const char* path, mode_t mode)
{
    return DoOpen("open", false, AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

int creat64(const char* path, mode_t mode)
{
    return DoOpen("open64", false, AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

int mkstemp(char* pattern)
{
    return DoMkstemp(Real<int (*)(char*)>("mkstemp")(pattern));
}

int mkostemp(char* pattern, int flags)
{
    return DoMkstemp(Real<int (*)(char*, int)>("mkostemp")(pattern, flags));
}

int mkstemps(char* pattern, int suffix)
{
    return DoMkstemp(Real<int (*)(char*, int)>("mkstemps")(pattern, suffix));
}

int mkostemps(char* pattern, int suffix, int flags)
{
    return DoMkstemp(Real<int (*)(char*, int, int)>("mkostemps")(pattern, suffix, flags));
}

int close(int fd)
{
    if (Active() && Tracked(fd)) {
        TBusy busy;
        Track(fd, false);
        Emit(TFsOp::Close, fd, 0, {}, {}, nullptr, 0, 0);
    }
    return Real<int (*)(int)>("close")(fd);
}

ssize_t write(int fd, const void* data, size_t size)
{
    const ssize_t put = Recorder().write(fd, data, size);
    const TSaveErrno keep;
    RecordWritten(fd, put, StartOfWrite(fd, put), data);
    return put;
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset)
{
    const ssize_t put = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(fd, data, size, offset);
    const TSaveErrno keep;
    RecordWritten(fd, put, offset, data);
    return put;
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset)
{
    const ssize_t put = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64")(fd, data, size, offset);
    const TSaveErrno keep;
    RecordWritten(fd, put, offset, data);
    return put;
}

ssize_t writev(int fd, const struct iovec* iov, int count)
{
    const ssize_t put = Real<ssize_t (*)(int, const struct iovec*, int)>("writev")(fd, iov, count);
    const TSaveErrno keep;
    if (put > 0 && Active() && Tracked(fd)) {
        const std::vector<char> data = Gather(iov, count, put);
        RecordWritten(fd, put, StartOfWrite(fd, put), data.data());
    }
    return put;
}

ssize_t pwritev(int fd, const struct iovec* iov, int count, off_t offset)
{
    const ssize_t put = Real<ssize_t (*)(int, const struct iovec*, int, off_t)>("pwritev")(fd, iov, count, offset);
    const TSaveErrno keep;
    if (put > 0 && Active() && Tracked(fd)) {
        const std::vector<char> data = Gather(iov, count, put);
        RecordWritten(fd, put, offset, data.data());
    }
    return put;
}

int ftruncate(int fd, off_t length)
{
    const int rc = Real<int (*)(int, off_t)>("ftruncate")(fd, length);
    const TSaveErrno keep;
    if (rc == 0) {
        RecordFd(TFsOp::Truncate, fd, length);
    }
    return rc;
}

int ftruncate64(int fd, off_t length)
{
    const int rc = Real<int (*)(int, off_t)>("ftruncate64")(fd, length);
    const TSaveErrno keep;
    if (rc == 0) {
        RecordFd(TFsOp::Truncate, fd, length);
    }
    return rc;
}

int fsync(int fd)
{
    const int rc = Real<int (*)(int)>("fsync")(fd);
    const TSaveErrno keep;
    if (rc == 0) {
        RecordFd(TFsOp::Sync, fd);
    }
    return rc;
}

int fdatasync(int fd)
{
    const int rc = Real<int (*)(int)>("fdatasync")(fd);
    const TSaveErrno keep;
    if (rc == 0) {
        RecordFd(TFsOp::Sync, fd);
    }
    return rc;
}

int syncfs(int fd)
{
    const int rc = Real<int (*)(int)>("syncfs")(fd);
    if (rc == 0 && Active()) {
        TBusy busy;
        Emit(TFsOp::SyncAll, fd, 0, {}, {}, nullptr, 0, 0);
    }
    return rc;
}

void sync()
{
    Real<void (*)()>("sync")();
    if (Active()) {
        TBusy busy;
        Emit(TFsOp::SyncAll, -1, 0, {}, {}, nullptr, 0, 0);
    }
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags)
{
    std::string a;
    std::string b;
    if (Active()) {
        TBusy busy;
        a = Resolve(fromDir, from);
        b = Resolve(toDir, to);
    }
    const int rc =
        Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(fromDir, from, toDir, to, flags);
    if (rc == 0 && Active()) {
        TBusy busy;
        RecordPaths(TFsOp::Rename, a, b, static_cast<std::int32_t>(flags));
    }
    return rc;
}

int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    std::string a;
    std::string b;
    if (Active()) {
        TBusy busy;
        a = Resolve(fromDir, from);
        b = Resolve(toDir, to);
    }
    const int rc = Real<int (*)(int, const char*, int, const char*)>("renameat")(fromDir, from, toDir, to);
    if (rc == 0 && Active()) {
        TBusy busy;
        RecordPaths(TFsOp::Rename, a, b);
    }
    return rc;
}

int rename(const char* from, const char* to)
{
    std::string a;
    std::string b;
    if (Active()) {
        TBusy busy;
        a = Resolve(AT_FDCWD, from);
        b = Resolve(AT_FDCWD, to);
    }
    const int rc = Real<int (*)(const char*, const char*)>("rename")(from, to);
    if (rc == 0 && Active()) {
        TBusy busy;
        RecordPaths(TFsOp::Rename, a, b);
    }
    return rc;
}

int unlinkat(int dirFd, const char* path, int flags)
{
    std::string a;
    if (Active()) {
        TBusy busy;
        a = Resolve(dirFd, path);
    }
    const int rc = Real<int (*)(int, const char*, int)>("unlinkat")(dirFd, path, flags);
    if (rc == 0 && Active()) {
        TBusy busy;
        RecordPaths((flags & AT_REMOVEDIR) != 0 ? TFsOp::RemoveDir : TFsOp::Unlink, a);
    }
    return rc;
}

int unlink(const char* path)
{
    return unlinkat(AT_FDCWD, path, 0);
}

int rmdir(const char* path)
{
    return unlinkat(AT_FDCWD, path, AT_REMOVEDIR);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags)
{
    std::string a;
    std::string b;
    int fromFd = -1;
    if (Active()) {
        TBusy busy;
        b = Resolve(toDir, to);
        int procFd = -1;
        if ((flags & AT_EMPTY_PATH) != 0 && from[0] == '\0') {
            fromFd = fromDir;
        } else if (std::sscanf(from, "/proc/self/fd/%d", &procFd) == 1) {
            fromFd = procFd;
        } else {
            a = Resolve(fromDir, from);
        }
    }
    const int rc = Real<int (*)(int, const char*, int, const char*, int)>("linkat")(fromDir, from, toDir, to, flags);
    if (rc == 0 && Active()) {
        TBusy busy;
        if (fromFd >= 0) {
            if (Tracked(fromFd) && Inside(b)) {
                Emit(TFsOp::Link, fromFd, 0, {}, b, nullptr, 0, 0);
            }
        } else {
            RecordPaths(TFsOp::Link, a, b);
        }
    }
    return rc;
}

int link(const char* from, const char* to)
{
    return linkat(AT_FDCWD, from, AT_FDCWD, to, 0);
}

int mkdirat(int dirFd, const char* path, mode_t mode)
{
    std::string a;
    if (Active()) {
        TBusy busy;
        a = Resolve(dirFd, path);
    }
    const int rc = Real<int (*)(int, const char*, mode_t)>("mkdirat")(dirFd, path, mode);
    if (rc == 0 && Active()) {
        TBusy busy;
        RecordPaths(TFsOp::MakeDir, a);
    }
    return rc;
}

int mkdir(const char* path, mode_t mode)
{
    return mkdirat(AT_FDCWD, path, mode);
}

int dup(int fd)
{
    return DoDup(fd, Real<int (*)(int)>("dup")(fd));
}

int dup2(int fd, int to)
{
    const int rc = Real<int (*)(int, int)>("dup2")(fd, to);
    return rc >= 0 && rc != fd ? DoDup(fd, rc) : rc;
}

int dup3(int fd, int to, int flags)
{
    return DoDup(fd, Real<int (*)(int, int, int)>("dup3")(fd, to, flags));
}

int fcntl(int fd, int cmd, ...)
{
    va_list args;
    va_start(args, cmd);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int rc = Real<int (*)(int, int, void*)>("fcntl")(fd, cmd, arg);
    if (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) {
        const TSaveErrno keep;
        return DoDup(fd, rc);
    }
    return rc;
}

int fcntl64(int fd, int cmd, ...)
{
    va_list args;
    va_start(args, cmd);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int rc = Real<int (*)(int, int, void*)>("fcntl64")(fd, cmd, arg);
    if (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) {
        const TSaveErrno keep;
        return DoDup(fd, rc);
    }
    return rc;
}
}
