// The file layer on Win32: the same operations through wide-character paths and handles.
#ifdef _WIN32
#include "platform/Files.h"
#include "platform/FilesInternal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>

#include <windows.h>

using namespace vx_files_detail;

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

TFileIdentity IdentityOfHandle(HANDLE handle, DWORD* attributes = nullptr)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        return {};
    }
    if (attributes != nullptr) {
        *attributes = info.dwFileAttributes;
    }
    return TFileIdentity{info.dwVolumeSerialNumber,
                         (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// The entry itself, a reparse point included (never what it points to), for its identity.
HANDLE OpenEntry(const std::string& path)
{
    return CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

std::optional<TFileIdentity> IdentityOfPath(const std::string& path)
{
    HANDLE handle = OpenEntry(path);
    if (handle == kNoHandle) {
        return std::nullopt;
    }
    const TFileIdentity identity = IdentityOfHandle(handle);
    CloseHandle(handle);
    return identity;
}

constexpr const char* kReplacedReason = "it was replaced since it was listed";

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

std::shared_ptr<const TFolder> TFolder::Open(const std::string& path)
{
    HANDLE handle = CreateFileW(WidePath(path.empty() ? "." : path).c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == kNoHandle) {
        throw EFileError("Cannot open folder", path.empty() ? "." : path, LastError());
    }
    return std::shared_ptr<const TFolder>(new TFolder(path, handle));
}

TFolder::~TFolder()
{
    CloseHandle(m_handle);
}

std::shared_ptr<const TFolder> TFolder::OpenSub(const std::string& name,
                                                const std::optional<TFileIdentity>& expected) const
{
    const std::string path = PathOf(name);
    // The entry itself: a junction or link in the folder's place is refused, not followed.
    HANDLE handle = CreateFileW(WidePath(path).c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == kNoHandle) {
        throw EFileError("Cannot open folder", path, LastError());
    }
    std::shared_ptr<const TFolder> sub(new TFolder(path, handle));
    DWORD attributes = 0;
    const TFileIdentity identity = IdentityOfHandle(handle, &attributes);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        throw EFileError("Cannot open folder", path, ERROR_DIRECTORY, "not a folder (a link or a file)");
    }
    if (expected && identity != *expected) {
        throw EFileError("Cannot open folder", path, ERROR_FILE_NOT_FOUND, kReplacedReason);
    }
    return sub;
}

std::string TFolder::PathOf(const std::string& name) const
{
    return JoinPath(m_path, name);
}

TFileIdentity TFolder::Identity() const
{
    return IdentityOfHandle(m_handle);
}

std::optional<TFoundEntry> TFolder::Find(const std::string& name) const
{
    auto entry = FindEntry(PathOf(name));
    if (entry) {
        if (const auto identity = IdentityOfPath(PathOf(name))) {
            entry->identity = *identity;
        }
        entry->links = HardLinkCount(PathOf(name));
    }
    return entry;
}

void TFolder::Rename(const std::string& from, const std::string& to, TRenameMode mode) const
{
    RenameFile(PathOf(from), PathOf(to), mode);
}

void TFolder::Remove(const std::string& name) const
{
    RemoveFile(PathOf(name));
}

void TFolder::RemoveFolder(const std::string& name) const
{
    ::RemoveFolder(PathOf(name));
}

void TFolder::Sync() const
{
}

TFileRef AnchorPath(const std::string& path)
{
    const std::string trimmed = TrimSeparators(path);
    const std::string last = NameOfPath(trimmed);
    const bool self = last.empty() || last == "." || last == "..";
    const std::shared_ptr<const TFolder> folder = TFolder::Open(self ? trimmed : FolderOfPath(trimmed));
    const std::string name = self ? std::string(".") : last;
    const auto identity = IdentityOfPath(folder->PathOf(name));
    if (!identity) {
        throw EFileError("Cannot open", path, LastError());
    }
    return TFileRef{std::move(folder), name, *identity};
}

TFile::TFile(const TFileRef& file, TOpenMode mode) : TFile(file.Path(), mode)
{
    if (IdentityOfHandle(m_handle) != file.identity) {
        CloseHandle(m_handle);
        m_handle = kNoHandle;
        throw EFileError("Cannot open", m_path, ERROR_FILE_NOT_FOUND, kReplacedReason);
    }
}

std::uint32_t ReadFileAttributes(const TFileRef& file)
{
    return ReadFileAttributes(file.Path());
}

void WriteFileAttributes(const TFileRef& file, std::uint32_t attributes)
{
    if (IdentityOfPath(file.Path()) != file.identity) {
        throw EFileError("Cannot set the attributes of", file.Path(), ERROR_FILE_NOT_FOUND, kReplacedReason);
    }
    WriteFileAttributes(file.Path(), attributes);
}

TFileTimes ReadFileTimes(const TFileRef& file)
{
    return ReadFileTimes(file.Path());
}

void RestoreFileTimes(const TFileRef& file, const TFileTimes& times)
{
    if (IdentityOfPath(file.Path()) != file.identity) {
        throw EFileError("Cannot set the times of", file.Path(), ERROR_FILE_NOT_FOUND, kReplacedReason);
    }
    RestoreFileTimes(file.Path(), times);
}

std::optional<std::string> WhyInUse(const TFileRef& file)
{
    HANDLE handle = CreateFileW(WidePath(file.Path()).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == kNoHandle) {
        const int error = LastError();
        if (error == ERROR_ACCESS_DENIED) {
            return "cannot be opened: " + SystemErrorText(error);
        }
        return std::string("in use by another program");
    }
    const bool same = IdentityOfHandle(handle) == file.identity;
    CloseHandle(handle);
    if (!same) {
        return std::string(kReplacedReason);
    }
    return std::nullopt;
}

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
    // The search takes wildcards, and no file can have them in its name: "folder\*" would
    // otherwise describe whatever entry it met first.
    if (NameOfPath(path).find_first_of("*?") != std::string::npos) {
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
void WalkInto(const std::shared_ptr<const TFolder>& folder, TTreeVisitor& visitor)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(WidePath(folder->PathOf("*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        visitor.Unreadable(folder->Path());
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
        const auto identity = IdentityOfPath(folder->PathOf(item.name));
        if (!identity) {
            continue; // gone meanwhile
        }
        if (item.folder && !item.link) {
            std::shared_ptr<const TFolder> sub;
            try {
                sub = folder->OpenSub(item.name, *identity);
            } catch (const EFileError&) {
                visitor.Unreadable(folder->PathOf(item.name));
                continue;
            }
            WalkInto(sub, visitor);
            sub.reset();
            visitor.FolderDone(folder, item.name, *identity);
        } else {
            visitor.File(TFileRef{folder, item.name, *identity});
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
        if (name.empty() || name == "." || name == "..") {
            top = TFolder::Open(root);
        } else {
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
