#pragma once
// What a power loss may leave of a folder, replayed from a record of the calls a program made in
// it (see FsRecord.h), in the manner of the published work on application crash consistency
// (Pillai et al., "All File Systems Are Not Created Equal", OSDI 2014, the ALICE tool).
//
// The persistence model is deliberately weak, as POSIX promises nothing more:
// - a file's bytes and length are on the disk only as of its last fsync/fdatasync (or sync);
//   writes since then may all be kept, all lost (back to the synced state), cut to the shortest
//   length a truncation gave it since, or kept in length but zero where they were not synced;
// - a create, rename, link, unlink, mkdir or rmdir is on the disk only once its folder has been
//   flushed (fsync on the folder, or sync); before that each one may independently be kept or
//   undone, a rename always whole. Flushing a file does not flush its name.

#include "tests/support/FsRecord.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

using TFolderBytes = std::map<std::string, std::vector<std::uint8_t>>; // name in the folder -> bytes

struct TFsEntry
{
    TFsOp op{};
    int fd = -1;
    std::int32_t flags = 0;
    std::int64_t offset = 0;
    std::string path;
    std::string path2;
    std::vector<std::uint8_t> data;
};

std::vector<TFsEntry> ReadFsRecord(const std::string& logPath);

// The regular files under a folder, by their names relative to it.
TFolderBytes SnapshotFolder(const std::string& folder);

struct TCrashState
{
    std::size_t prefix = 0;  // how many entries of the record had been made
    std::string description; // what was lost, for a failure message
    TFolderBytes files;
};

class TPowerLossReplay
{
public:
    // `root` is the resolved folder the record was made in; `initial` is its content before, all
    // taken as already on the disk.
    TPowerLossReplay(std::string root, const TFolderBytes& initial);

    // Replays the record and calls `visit` for every state a power loss before the first entry,
    // and after each entry, may leave. `visit` returns false to stop. Throws std::runtime_error
    // when the record does not fit the model (a call on a file the model never saw).
    void Replay(const std::vector<TFsEntry>& record, const std::function<bool(const TCrashState&)>& visit);

    // The folder as the replay has it now with nothing lost: must equal the real folder after a
    // complete replay, or the record missed a call.
    TFolderBytes Current() const;

private:
    struct TInode
    {
        std::vector<std::uint8_t> current;
        std::vector<std::uint8_t> synced;
        std::size_t shortestSinceSync = 0;
        bool folder = false;
    };
    struct TOpenFile
    {
        int inode = -1;
        std::string name; // the folder's name for a folder descriptor, else the name when opened
    };
    struct TDirOp
    {
        std::vector<std::pair<std::string, int>> changes; // name -> inode, -1 removes the name
        std::string text;
    };

    std::string Relative(const std::string& path) const;
    bool Inside(const std::string& path) const;
    int NewInode(bool folder);
    int InodeOf(const std::string& name, const TFsEntry& entry) const;
    void Apply(const TFsEntry& entry);
    void DoDirOp(TDirOp op);
    void FlushFolder(const std::string& folder);
    void FlushAll();
    std::string Describe(const TFsEntry& entry) const;
    bool VisitCrashes(std::size_t prefix, const std::string& after,
                      const std::function<bool(const TCrashState&)>& visit) const;

    std::string m_root;
    std::vector<TInode> m_inodes;
    std::map<std::string, int> m_names;   // as the running program sees them
    std::map<std::string, int> m_durable; // as the disk has them
    std::vector<TDirOp> m_pending;        // made since, not yet flushed, in order
    std::map<int, TOpenFile> m_open;
};
