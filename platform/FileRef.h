// Open folders and files named inside them: the anchors that keep a run inside the tree it was given.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#ifdef _WIN32
using TNativeHandle = void*;
#else
using TNativeHandle = int;
#endif

// Which file an entry is, whatever its name: device and inode (volume serial and file index on
// Win32). Two names with one identity are links to the same data.
struct TFileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const TFileIdentity&) const = default;
};

enum class TEntryKind
{
    File,
    Directory,
    SymbolicLink,
    Other, // FIFO, socket, device
};

struct TFoundEntry
{
    TEntryKind kind = TEntryKind::Other;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    TFileIdentity identity;
    std::uint64_t links = 1;
};

enum class TRenameMode
{
    Replace,
    // Fails with "exists" instead of replacing another file, as a rename on Win32 does.
    NoReplace,
};

// An open folder. Everything done through it by name happens in this very folder, even when its
// path is renamed or swapped for a link meanwhile: on POSIX it holds the folder's descriptor and
// works with openat, renameat, unlinkat and fstatat, never following a link in the name. (The
// Win32 backend works by path and checks identities through handles instead.) Raises EFileError.
class TFolder
{
public:
    // The folder at path; links in the path are followed, as the user named it.
    static std::shared_ptr<const TFolder> Open(const std::string& path);
    ~TFolder();
    TFolder(const TFolder&) = delete;
    TFolder& operator=(const TFolder&) = delete;

    // A subfolder by name, never through a link; refused unless it is still the folder `expected`.
    std::shared_ptr<const TFolder> OpenSub(const std::string& name,
                                           const std::optional<TFileIdentity>& expected = {}) const;
    const std::string& Path() const { return m_path; }
    std::string PathOf(const std::string& name) const;
    TNativeHandle Handle() const { return m_handle; }
    TFileIdentity Identity() const;

    // The entry itself, never what a link points to; empty when there is none. Raises nothing.
    std::optional<TFoundEntry> Find(const std::string& name) const;
    void Rename(const std::string& from, const std::string& to, TRenameMode mode) const;
    void Remove(const std::string& name) const;
    void RemoveFolder(const std::string& name) const;
    // Makes the folder's own entry list durable (creations, renames, deletions in it).
    void Sync() const;

private:
    TFolder(std::string path, TNativeHandle handle) : m_path(std::move(path)), m_handle(handle) {}

    std::string m_path;
    TNativeHandle m_handle;
};

// A file as it was admitted to a run: its folder, its name there and which file it was. Every
// later open by the ref is refused when the name no longer holds that file.
struct TFileRef
{
    std::shared_ptr<const TFolder> folder;
    std::string name;
    TFileIdentity identity;

    std::string Path() const { return folder->PathOf(name); }
};

// The entry at path, anchored in its folder (opened by the path's folder part). Raises EFileError
// when it does not exist.
TFileRef AnchorPath(const std::string& path);
