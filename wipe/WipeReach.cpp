// Finds the places where an in-place overwrite lands on new blocks instead of the old ones.
#include "wipe/WipeReach.h"

#include <algorithm>
#include <fstream>

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

bool BlockDeviceIsFlash(unsigned major, unsigned minor, const std::string& sysRoot)
{
    const std::string device = sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    // A partition has no queue of its own: its disk is the folder above it.
    std::string queue = device + "/queue/rotational";
    if (!Exists(queue) && Exists(device + "/partition")) {
        queue = device + "/../queue/rotational";
    }
    return ReadFirstLine(queue) == "0";
}

TReachNote CheckWipeReach(const std::string& path)
{
#ifdef _WIN32
    (void)path;
    return {};
#else
    struct statfs fs
    {
    };
    if (::statfs(path.c_str(), &fs) == 0) {
        const TReachNote note = ClassifyFileSystem(static_cast<std::uint64_t>(static_cast<unsigned long>(fs.f_type)));
        if (note.limit != TReachLimit::None) {
            return note;
        }
    }
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0 || ::major(st.st_dev) == 0) {
        return {};
    }
    if (BlockDeviceIsFlash(::major(st.st_dev), ::minor(st.st_dev))) {
        char target[4096];
        const std::string link =
            "/sys/dev/block/" + std::to_string(::major(st.st_dev)) + ":" + std::to_string(::minor(st.st_dev));
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        std::string name;
        if (n > 0) {
            name.assign(target, static_cast<std::size_t>(n));
            name = name.substr(name.find_last_of('/') + 1);
        }
        return {TReachLimit::Flash, name};
    }
    return {};
#endif
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
