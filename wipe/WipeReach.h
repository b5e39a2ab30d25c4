// Whether overwriting a file in place can reach its old data: the file system and the device under it.
#pragma once

#include <cstdint>
#include <optional>
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

// The block device's own report (for a partition, its disk's): 1 rotational, 0 not, -1 unknown.
int BlockDeviceRotational(unsigned major, unsigned minor, const std::string& sysRoot = "/sys");

// One line of the mount table (/proc/self/mountinfo).
struct TMountEntry
{
    std::string mountPoint;
    // "ext4", "nfs4", "fuse.sshfs": FUSE file systems are told apart only by this name.
    std::string fsType;
    // "/dev/sda1", "server:/export", "user@host:/home".
    std::string source;
};

// The mount table's lines, with the kernel's octal escapes in names undone; lines it cannot read
// are left out.
std::vector<TMountEntry> ParseMountInfo(const std::string& text);
// The mount that holds path (absolute, without links): the longest mount point at or above it,
// the one mounted last where several share it, since it hides the others.
std::optional<TMountEntry> MountHolding(const std::string& path, const std::vector<TMountEntry>& mounts);

// What the system tells about the volume a file lies on.
struct TVolumeFacts
{
    // Files with one device number lie on one volume.
    std::uint64_t device = 0;
    // statfs f_type.
    std::uint64_t fsMagic = 0;
    // See BlockDeviceRotational; -1 also where the volume has no block device (tmpfs, network).
    int rotational = -1;
    // The block device's name ("sda1", "nvme0n1p2"); empty without one.
    std::string blockDevice;
    TMountEntry mount;
};

// Why overwriting in place may not reach old data on such a volume; None when nothing is known
// against it. RAM (tmpfs, ramfs, zram and ram disks) is not warned about: an overwrite there reaches
// the very pages, and nothing outlives a power-off.
TReachNote JudgeVolume(const TVolumeFacts& facts);
// The facts for the volume of path (links followed); empty when path cannot be examined.
std::optional<TVolumeFacts> VolumeFactsOf(const std::string& path);

// Why overwriting path in place may leave its old data readable; None when nothing is known
// against it. Raises nothing.
TReachNote CheckWipeReach(const std::string& path);

// One warning for each distinct volume among paths where overwriting in place may not reach the
// old data, naming the volume, its file system, the first of the paths on it and why; empty when
// none. Give one path per volume where that is known: each distinct device is examined once.
std::vector<std::string> ReachWarnings(const std::vector<std::string>& paths,
                                       std::optional<TVolumeFacts> (*probe)(const std::string&) = &VolumeFactsOf);

// What the shred confirmation uses; tests replace it to pin the answer.
extern TReachNote (*WipeReachProbe)(const std::string& path);

// One plain sentence for the user about the places the notes name, e.g. "Overwriting in place may
// not destroy the old data here: the selection lies on a copy-on-write or log-structured file
// system (btrfs)."; empty when no note limits anything.
std::string ReachSentence(const std::vector<TReachNote>& notes);
