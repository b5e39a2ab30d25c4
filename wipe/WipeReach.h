// Whether overwriting a file in place can reach its old data: the file system and the device under it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TReachLimit
{
    None,
    // Copy-on-write and log-structured file systems write every change to new blocks.
    CopyOnWrite,
    // A layered file system keeps the original in a lower layer when a file is first written.
    Layered,
    // Where the data lies is the server's business.
    Network,
    // Wear levelling remaps writes; the kernel reports the device as not rotational.
    Flash,
};

struct TReachNote
{
    TReachLimit limit = TReachLimit::None;
    // The file system's name ("btrfs", "nfs") or the device's ("vda"); may be empty.
    std::string name;
};

// The file system kind for a statfs f_type, with its name; None for kinds that overwrite in place.
TReachNote ClassifyFileSystem(std::uint64_t magic);

// True when the block device major:minor (or, for a partition, its disk) reports itself as not
// rotational under sysRoot ("/sys", or a copy in tests). False when unknown.
bool BlockDeviceIsFlash(unsigned major, unsigned minor, const std::string& sysRoot = "/sys");

// Why overwriting path in place may leave its old data readable; None when nothing is known
// against it. Raises nothing.
TReachNote CheckWipeReach(const std::string& path);

// What the shred confirmation uses; tests replace it to pin the answer.
extern TReachNote (*WipeReachProbe)(const std::string& path);

// One plain sentence for the user about the places the notes name, e.g. "Overwriting in place may
// not destroy the old data here: the selection lies on a copy-on-write or log-structured file
// system (btrfs)."; empty when no note limits anything.
std::string ReachSentence(const std::vector<TReachNote>& notes);
