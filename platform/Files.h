// The file layer: opens, renames, attributes, times, the in-use test and folder walks.
#pragma once

#include "platform/FileRef.h"
#include "platform/FileStream.h"

#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Everything here raises EFileError (path and the system's reason) when the system refuses, unless
// it says otherwise. Paths are UTF-8.

// The attribute bits that the rest of the program reads and writes. On POSIX, read-only is the
// owner-write permission bit, hidden is a line in the folder's `.hidden` list, and system and
// archive have no counterpart (archive is reported for every regular file).
constexpr std::uint32_t kAttrReadOnly = 1;
constexpr std::uint32_t kAttrHidden = 2;
constexpr std::uint32_t kAttrSystem = 4;
constexpr std::uint32_t kAttrDirectory = 16;
constexpr std::uint32_t kAttrArchive = 32;

enum class TOpenMode
{
    Read,
    // Reading and writing an existing regular file while others may have it open too. Refused, as
    // a denied open is on Win32, while another open file holds an exclusive lock on it; a symbolic
    // link is never opened through, and FIFOs, devices and sockets are refused.
    ReadWriteShared,
    CreateOrTruncate,
};

// An open file without buffering of its own: the wiping methods need every write to reach the
// system as they issue it. Closed on destruction; Close() reports what the close found.
class TFile final
{
public:
    TFile(const std::string& path, TOpenMode mode);
    // The admitted file in its folder: never through a link, and refused when the name holds
    // another file by now. ReadWriteShared gives a read-only file its owner's write permission
    // first (it is about to be wiped), and gives it back when the open is refused.
    TFile(const TFileRef& file, TOpenMode mode);
    ~TFile();
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    std::uint64_t Size() const;
    void Seek(std::uint64_t position);
    // Fills as much of buffer as the file still holds; 0 only at the end.
    std::size_t Read(std::span<std::uint8_t> buffer);
    // Writes all of data or raises: a short write that cannot be completed is an error.
    void Write(std::span<const std::uint8_t> data);
    // Makes what was written durable (fsync, FlushFileBuffers).
    void Sync();
    void Close();
    const std::string& Path() const { return m_path; }
    TNativeHandle Handle() const { return m_handle; }

private:
    std::string m_path;
    TNativeHandle m_handle;
};

std::uint64_t FileSize(const std::string& path);

void RenameFile(const std::string& from, const std::string& to, TRenameMode mode);
// Plain deletion, no recycle bin. A symbolic link is removed itself, never its target.
void RemoveFile(const std::string& path);
// Removes an empty folder.
void RemoveFolder(const std::string& path);

// The per-folder list of hidden names that stands in for the hidden attribute on POSIX.
inline constexpr const char* kHiddenListName = ".hidden";

std::uint32_t ReadFileAttributes(const std::string& path);
std::uint32_t ReadFileAttributes(const TFileRef& file);
// Sets read-only and hidden as asked; the other bits are the system's (Win32) or ignored (POSIX).
// The `.hidden` list is rewritten only when it changes, through a temporary file and a rename, and
// removed when its last line goes.
void WriteFileAttributes(const std::string& path, std::uint32_t attributes);
void WriteFileAttributes(const TFileRef& file, std::uint32_t attributes);

// Seconds and nanoseconds since 1970-01-01 UTC.
struct TFileTime
{
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    auto operator<=>(const TFileTime&) const = default;
};

struct TFileTimes
{
    TFileTime lastWrite;
    // Empty where the file system does not report a birth time.
    std::optional<TFileTime> creation;
};

TFileTimes ReadFileTimes(const std::string& path);
TFileTimes ReadFileTimes(const TFileRef& file);
// Sets the last-write time, and the creation time where the system can set it (not on Linux).
void RestoreFileTimes(const std::string& path, const TFileTimes& times);
void RestoreFileTimes(const TFileRef& file, const TFileTimes& times);

// The in-use test: true when the existing file can be opened for reading and writing with no one
// else holding it (share mode 0 on Win32; on POSIX an exclusive flock and an exclusive
// open-file-description lock, both non-blocking, must be granted). Raises nothing: any refusal
// answers false.
bool CanOpenExclusively(const std::string& path);
// The same test with its reason: empty when the file is free, else why it is not ("cannot be read:
// Permission denied", "in use by another program"). On POSIX it needs only read access and changes
// nothing: the locks it takes go with the descriptor it closes.
std::optional<std::string> WhyInUse(const TFileRef& file);

// The directory search for one path: describes the entry itself, never what a link points to.
// Empty when nothing matches, which includes any path that ends in a separator. Raises nothing.
std::optional<TFoundEntry> FindEntry(const std::string& path);

// How many names the file's data has (hard links). 1 where the system cannot tell.
std::uint64_t HardLinkCount(const std::string& path);

// Everything below a folder, hidden entries included, links never followed.
struct TTreeListing
{
    std::vector<std::string> files;      // regular files and symbolic links, in the order met
    std::vector<std::string> others;     // FIFOs, sockets, devices: never opened
    std::vector<std::string> folders;    // the subfolders, each after everything inside it
    std::vector<std::string> unreadable; // folders that could not be listed
    // The entries of `files`, one for one, anchored in their open folders (which stay open as
    // long as the listing holds them), so that the work on them cannot leave the tree.
    std::vector<TFileRef> fileRefs;
};
TTreeListing ListTree(const std::string& folder);

// A walk that hands each entry over while its folder is open, so that the work done on it stays
// inside the tree whatever happens to the paths meanwhile. Subfolders are opened by name without
// following links and checked to be the folders that were listed.
class TTreeVisitor
{
public:
    virtual ~TTreeVisitor() = default;
    // Regular files and symbolic links.
    virtual void File(const TFileRef& file) = 0;
    // FIFOs, sockets, devices: never opened.
    virtual void Other(const std::string& path) { (void)path; }
    virtual void Unreadable(const std::string& path) { (void)path; }
    // A subfolder after everything inside it, named in its parent.
    virtual void FolderDone(const std::shared_ptr<const TFolder>& parent, const std::string& name,
                            const TFileIdentity& identity)
    {
        (void)parent;
        (void)name;
        (void)identity;
    }
};
// The root itself is opened without following a link; it is not passed to FolderDone.
void WalkTree(const std::string& folder, TTreeVisitor& visitor);

// Bytes that an unprivileged user may still write on the folder's volume; empty when unknown.
std::optional<std::uint64_t> FreeSpace(const std::string& folder);

// True for "/" and the root of every mounted volume (a drive root on Win32).
bool IsVolumeRoot(const std::string& path);

// Everything up to and including the last separator ("" when there is none).
std::string FolderOfPath(const std::string& path);
std::string NameOfPath(const std::string& path);
// From the last dot of the file name on, dot included ("" when the name has none).
std::string ExtensionOfPath(const std::string& path);
