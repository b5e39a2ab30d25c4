// Finds the places where an in-place overwrite lands on new blocks instead of the old ones.
#include "wipe/WipeReach.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {
struct TKnownFileSystem
{
    std::uint64_t magic;
    TReachLimit limit;
    const char* name;
};

// f_type values as Linux reports them (linux/magic.h and the file systems' own sources).
constexpr TKnownFileSystem kKnown[] = {
    {0x9123683E, TReachLimit::CopyOnWrite, "btrfs"},
    {0x2FC12FC1, TReachLimit::CopyOnWrite, "zfs"},
    {0xCA451A4E, TReachLimit::CopyOnWrite, "bcachefs"},
    {0xF2F52010, TReachLimit::CopyOnWrite, "f2fs"},
    {0x3434, TReachLimit::CopyOnWrite, "nilfs"},
    {0x72B6, TReachLimit::CopyOnWrite, "jffs2"},
    {0x24051905, TReachLimit::CopyOnWrite, "ubifs"},
    {0x794C7630, TReachLimit::Layered, "overlay"},
    {0x6969, TReachLimit::Network, "nfs"},
    {0x517B, TReachLimit::Network, "smb"},
    {0xFF534D42, TReachLimit::Network, "cifs"},
    {0xFE534D42, TReachLimit::Network, "smb2"},
    {0x00C36400, TReachLimit::Network, "ceph"},
    {0x5346414F, TReachLimit::Network, "afs"},
    {0x6B414653, TReachLimit::Network, "afs"},
    {0x73757245, TReachLimit::Network, "coda"},
    {0x01021997, TReachLimit::Network, "9p"},
    {0x564C, TReachLimit::Network, "ncp"},
};

// The same kinds by the mount table's type, for kernels whose magic numbers are not in the table
// above and for FUSE, whose magic is one number for every file system it carries: a FUSE file
// system that keeps files on another machine is known by its type alone.
struct TKnownType
{
    const char* type;
    TReachLimit limit;
};

constexpr TKnownType kKnownTypes[] = {
    {"btrfs", TReachLimit::CopyOnWrite},
    {"zfs", TReachLimit::CopyOnWrite},
    {"bcachefs", TReachLimit::CopyOnWrite},
    {"f2fs", TReachLimit::CopyOnWrite},
    {"nilfs2", TReachLimit::CopyOnWrite},
    {"jffs2", TReachLimit::CopyOnWrite},
    {"ubifs", TReachLimit::CopyOnWrite},
    {"overlay", TReachLimit::Layered},
    {"nfs", TReachLimit::Network},
    {"nfs4", TReachLimit::Network},
    {"cifs", TReachLimit::Network},
    {"smb3", TReachLimit::Network},
    {"smbfs", TReachLimit::Network},
    {"9p", TReachLimit::Network},
    {"ceph", TReachLimit::Network},
    {"afs", TReachLimit::Network},
    {"coda", TReachLimit::Network},
    {"ncpfs", TReachLimit::Network},
    {"glusterfs", TReachLimit::Network},
    {"fuse.sshfs", TReachLimit::Network},
    {"fuse.rclone", TReachLimit::Network},
    {"fuse.s3fs", TReachLimit::Network},
    {"fuse.gcsfuse", TReachLimit::Network},
    {"fuse.curlftpfs", TReachLimit::Network},
    {"fuse.gvfsd-fuse", TReachLimit::Network},
    {"fuse.smbnetfs", TReachLimit::Network},
    {"fuse.glusterfs", TReachLimit::Network},
    {"fuse.ceph-fuse", TReachLimit::Network},
    {"fuse.davfs2", TReachLimit::Network},
    {"davfs", TReachLimit::Network},
};

// Block devices that are memory, though they report themselves as not rotational.
bool IsRamDevice(const std::string& name)
{
    return name.rfind("zram", 0) == 0 || name.rfind("ram", 0) == 0;
}

bool IsOctal(char c)
{
    return c >= '0' && c <= '7';
}

// The mount table writes space, tab, newline and backslash in names as \ooo.
std::string Unescape(const std::string& field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 4 <= field.size() && IsOctal(field[i + 1]) && IsOctal(field[i + 2]) &&
            IsOctal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::string Why(TReachLimit limit)
{
    switch (limit) {
    case TReachLimit::CopyOnWrite:
        return "a copy-on-write or log-structured file system writes every change to new blocks, and the old "
               "ones may stay readable";
    case TReachLimit::Layered:
        return "a layered file system copies a file up when it is first written and keeps the original in the "
               "lower layer";
    case TReachLimit::Network:
        return "on a network file system the server decides where the data lies, and it may keep copies";
    case TReachLimit::Flash:
        return "flash storage puts new writes in new places (wear levelling), and the old ones stay until the "
               "device erases them";
    case TReachLimit::None:
        break;
    }
    return {};
}

std::string ReadFirstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool Exists(const std::string& path)
{
    std::ifstream in(path);
    return in.good();
}

std::string Describe(const TReachNote& note)
{
    const std::string name = note.name.empty() ? std::string() : " (" + note.name + ")";
    switch (note.limit) {
    case TReachLimit::CopyOnWrite:
        return "a copy-on-write or log-structured file system" + name;
    case TReachLimit::Layered:
        return "a layered file system" + name + " that keeps the original in a lower layer";
    case TReachLimit::Network:
        return "a network file system" + name;
    case TReachLimit::Flash:
        return "flash storage" + name + " that puts new writes in new places";
    case TReachLimit::None:
        break;
    }
    return {};
}
} // namespace

TReachNote ClassifyFileSystem(std::uint64_t magic)
{
    for (const TKnownFileSystem& known : kKnown) {
        if (known.magic == magic) {
            return {known.limit, known.name};
        }
    }
    return {};
}

int BlockDeviceRotational(unsigned major, unsigned minor, const std::string& sysRoot)
{
    const std::string device = sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    // A partition has no queue of its own: its disk is the folder above it.
    std::string queue = device + "/queue/rotational";
    if (!Exists(queue) && Exists(device + "/partition")) {
        queue = device + "/../queue/rotational";
    }
    const std::string flag = ReadFirstLine(queue);
    return flag == "0" ? 0 : flag == "1" ? 1 : -1;
}

bool BlockDeviceIsFlash(unsigned major, unsigned minor, const std::string& sysRoot)
{
    return BlockDeviceRotational(major, minor, sysRoot) == 0;
}

std::vector<TMountEntry> ParseMountInfo(const std::string& text)
{
    // ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [OPTIONAL FIELDS...] - TYPE SOURCE SUPEROPTIONS
    std::vector<TMountEntry> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) {
            fields.push_back(word);
        }
        const auto dash =
            std::find(fields.begin() + std::min<std::ptrdiff_t>(6, std::ssize(fields)), fields.end(), "-");
        if (dash == fields.end() || fields.end() - dash < 3) {
            continue;
        }
        mounts.push_back({Unescape(fields[4]), Unescape(*(dash + 1)), Unescape(*(dash + 2))});
    }
    return mounts;
}

std::optional<TMountEntry> MountHolding(const std::string& path, const std::vector<TMountEntry>& mounts)
{
    const TMountEntry* best = nullptr;
    for (const TMountEntry& mount : mounts) {
        const std::string& point = mount.mountPoint;
        const bool holds = !point.empty() && path.compare(0, point.size(), point) == 0 &&
                           (path.size() == point.size() || point.back() == '/' || path[point.size()] == '/');
        if (holds && (best == nullptr || point.size() >= best->mountPoint.size())) {
            best = &mount;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    return *best;
}

TReachNote JudgeVolume(const TVolumeFacts& facts)
{
    const TReachNote byMagic = ClassifyFileSystem(facts.fsMagic);
    if (byMagic.limit != TReachLimit::None) {
        return byMagic;
    }
    for (const TKnownType& known : kKnownTypes) {
        if (facts.mount.fsType == known.type) {
            return {known.limit, facts.mount.fsType};
        }
    }
    if (facts.rotational == 0 && !IsRamDevice(facts.blockDevice)) {
        return {TReachLimit::Flash, facts.blockDevice};
    }
    return {};
}

std::optional<TVolumeFacts> VolumeFactsOf(const std::string& path)
{
#ifdef _WIN32
    (void)path;
    return std::nullopt;
#else
    struct stat st
    {
    };
    struct statfs fs
    {
    };
    if (::stat(path.c_str(), &st) != 0 || ::statfs(path.c_str(), &fs) != 0) {
        return std::nullopt;
    }
    TVolumeFacts facts;
    facts.device = static_cast<std::uint64_t>(st.st_dev);
    facts.fsMagic = static_cast<std::uint64_t>(static_cast<unsigned long>(fs.f_type));
    // Major 0 is the kernel's own numbering for volumes without a block device.
    if (::major(st.st_dev) != 0) {
        facts.rotational = BlockDeviceRotational(::major(st.st_dev), ::minor(st.st_dev));
        char target[4096];
        const std::string link =
            "/sys/dev/block/" + std::to_string(::major(st.st_dev)) + ":" + std::to_string(::minor(st.st_dev));
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0) {
            const std::string name(target, static_cast<std::size_t>(n));
            facts.blockDevice = name.substr(name.find_last_of('/') + 1);
        }
    }
    // The mount is found by the folder's real path: the one the kernel's table names.
    std::error_code error;
    const std::filesystem::path where(path);
    const std::filesystem::path folder = std::filesystem::canonical(
        S_ISDIR(st.st_mode) ? where : (where.has_parent_path() ? where.parent_path() : std::filesystem::path(".")),
        error);
    if (!error) {
        std::ifstream table("/proc/self/mountinfo");
        const std::string text((std::istreambuf_iterator<char>(table)), std::istreambuf_iterator<char>());
        if (auto mount = MountHolding(folder.string(), ParseMountInfo(text))) {
            facts.mount = std::move(*mount);
        }
    }
    return facts;
#endif
}

TReachNote CheckWipeReach(const std::string& path)
{
    const std::optional<TVolumeFacts> facts = VolumeFactsOf(path);
    return facts ? JudgeVolume(*facts) : TReachNote{};
}

std::vector<std::string> ReachWarnings(const std::vector<std::string>& paths,
                                       std::optional<TVolumeFacts> (*probe)(const std::string&))
{
    std::vector<std::string> warnings;
    std::vector<std::uint64_t> seen;
    for (const std::string& path : paths) {
        const std::optional<TVolumeFacts> facts = probe(path);
        if (!facts || std::find(seen.begin(), seen.end(), facts->device) != seen.end()) {
            continue;
        }
        seen.push_back(facts->device);
        const TReachNote note = JudgeVolume(*facts);
        if (note.limit == TReachLimit::None) {
            continue;
        }
        const TMountEntry& mount = facts->mount;
        std::vector<std::string> named;
        named.push_back(mount.fsType.empty() ? note.name : mount.fsType);
        if (mount.source != mount.fsType) {
            named.push_back(mount.source);
        }
        if (note.limit == TReachLimit::Flash && !note.name.empty() &&
            mount.source.find(note.name) == std::string::npos) {
            named.push_back("device " + note.name);
        }
        std::string kind;
        for (const std::string& name : named) {
            if (!name.empty()) {
                kind += (kind.empty() ? "" : ", ") + name;
            }
        }
        std::string volume = mount.mountPoint.empty() ? std::string("its volume") : "the volume at " + mount.mountPoint;
        if (!kind.empty()) {
            volume += " (" + kind + ")";
        }
        warnings.push_back("warning: shredding may not destroy the old data on " + volume + ", which holds \"" + path +
                           "\": " + Why(note.limit) + ".");
    }
    return warnings;
}

TReachNote (*WipeReachProbe)(const std::string& path) = &CheckWipeReach;

std::string ReachSentence(const std::vector<TReachNote>& notes)
{
    std::vector<std::string> places;
    bool someReachable = false;
    for (const TReachNote& note : notes) {
        const std::string place = Describe(note);
        if (place.empty()) {
            someReachable = true;
        } else if (std::find(places.begin(), places.end(), place) == places.end()) {
            places.push_back(place);
        }
    }
    if (places.empty()) {
        return {};
    }
    // Saying "the selection" when only some of it is affected would overstate the warning.
    std::string sentence = "Overwriting in place may not destroy the old data here: ";
    sentence += someReachable ? "part of the selection lies on " : "the selection lies on ";
    for (std::size_t i = 0; i < places.size(); ++i) {
        if (i > 0) {
            sentence += " and on ";
        }
        sentence += places[i];
    }
    return sentence + ".";
}
