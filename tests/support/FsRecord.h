#pragma once
// The record that the file-system recording library writes: one entry per call that changed or
// flushed something inside the watched folder, in the order the calls returned.

#include <cstdint>

// Environment variables that the recording library reads.
inline constexpr const char* kFsRecordLogVar = "VX_FSRECORD_LOG";   // where the record goes
inline constexpr const char* kFsRecordRootVar = "VX_FSRECORD_ROOT"; // the watched folder, resolved

enum class TFsOp : std::uint8_t
{
    Open = 1,       // fd, flags (open flags, kFsOpenedFolder when a folder), path
    Close = 2,      // fd
    Write = 3,      // fd, offset, data
    Truncate = 4,   // fd, offset = new length
    Sync = 5,       // fd (fsync or fdatasync)
    SyncAll = 6,    // sync or syncfs
    Rename = 7,     // flags (renameat2 flags), path, path2
    Unlink = 8,     // path
    Link = 9,       // fd >= 0 links that open file's inode (O_TMPFILE), else path; path2 is the new name
    MakeDir = 10,   // path
    RemoveDir = 11, // path
    Dup = 12,       // fd is the old descriptor, flags the new one
};

inline constexpr std::int32_t kFsOpenedFolder = 1 << 30;

// Fixed part of an entry; `pathSize` bytes of path, `path2Size` bytes of the second path and
// `dataSize` bytes of written data follow it.
struct TFsRecordHead
{
    TFsOp op;
    std::uint8_t pad[3];
    std::int32_t fd;
    std::int32_t flags;
    std::uint32_t pathSize;
    std::uint32_t path2Size;
    std::uint32_t dataSize;
    std::int64_t offset;
};
