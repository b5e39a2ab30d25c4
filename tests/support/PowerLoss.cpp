#include "tests/support/PowerLoss.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <stdio.h>

namespace
{
using TBytes = std::vector<std::uint8_t>;

std::string ParentOf(const std::string& name)
{
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

// The ways a power loss may leave the bytes of a file written since its last flush.
enum class TDataFate
{
    Kept,  // everything reached the disk
    Lost,  // nothing since the last flush did
    Cut,   // a truncation since did, the writes after it did not
    Zeros, // the new length did, the new bytes did not
};

const char* FateName(TDataFate fate)
{
    switch (fate) {
    case TDataFate::Kept:
        return "kept";
    case TDataFate::Lost:
        return "lost";
    case TDataFate::Cut:
        return "cut";
    case TDataFate::Zeros:
        return "zeros";
    }
    return "?";
}

// The sets of unflushed folder operations to keep: all of them when they are few, else the
// extremes, every prefix (what an ordered journal keeps), and each one alone kept or undone.
std::vector<std::vector<bool>> KeptSets(std::size_t count)
{
    std::set<std::vector<bool>> sets;
    if (count <= 6) {
        for (std::size_t mask = 0; mask < (std::size_t{1} << count); ++mask) {
            std::vector<bool> keep(count);
            for (std::size_t i = 0; i < count; ++i) {
                keep[i] = ((mask >> i) & 1) != 0;
            }
            sets.insert(keep);
        }
    } else {
        for (std::size_t i = 0; i <= count; ++i) {
            std::vector<bool> prefix(count, false);
            std::fill(prefix.begin(), prefix.begin() + static_cast<std::ptrdiff_t>(i), true);
            sets.insert(prefix);
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::vector<bool> allBut(count, true);
            allBut[i] = false;
            sets.insert(allBut);
            std::vector<bool> only(count, false);
            only[i] = true;
            sets.insert(only);
        }
    }
    return {sets.begin(), sets.end()};
}

std::vector<std::vector<TDataFate>> FateSets(std::size_t count)
{
    static constexpr TDataFate kAll[] = {TDataFate::Kept, TDataFate::Lost, TDataFate::Cut, TDataFate::Zeros};
    std::vector<std::vector<TDataFate>> sets;
    if (count <= 2) {
        std::size_t total = 1;
        for (std::size_t i = 0; i < count; ++i) {
            total *= 4;
        }
        for (std::size_t n = 0; n < total; ++n) {
            std::vector<TDataFate> fates(count);
            std::size_t rest = n;
            for (std::size_t i = 0; i < count; ++i) {
                fates[i] = kAll[rest % 4];
                rest /= 4;
            }
            sets.push_back(fates);
        }
    } else {
        for (const TDataFate fate : kAll) {
            sets.emplace_back(count, fate);
        }
    }
    return sets;
}
} // namespace

std::vector<TFsEntry> ReadFsRecord(const std::string& logPath)
{
    std::ifstream in(logPath, std::ios::binary);
    std::vector<TFsEntry> record;
    if (!in) {
        return record; // nothing was recorded
    }
    for (;;) {
        TFsRecordHead head{};
        if (!in.read(reinterpret_cast<char*>(&head), sizeof head)) {
            break;
        }
        TFsEntry entry;
        entry.op = head.op;
        entry.fd = head.fd;
        entry.flags = head.flags;
        entry.offset = head.offset;
        entry.path.resize(head.pathSize);
        entry.path2.resize(head.path2Size);
        entry.data.resize(head.dataSize);
        in.read(entry.path.data(), static_cast<std::streamsize>(head.pathSize));
        in.read(entry.path2.data(), static_cast<std::streamsize>(head.path2Size));
        in.read(reinterpret_cast<char*>(entry.data.data()), static_cast<std::streamsize>(head.dataSize));
        if (!in) {
            throw std::runtime_error("the file-system record " + logPath + " ends inside an entry");
        }
        record.push_back(std::move(entry));
    }
    return record;
}

TFolderBytes SnapshotFolder(const std::string& folder)
{
    TFolderBytes files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        if (item.is_regular_file() && !item.is_symlink()) {
            std::ifstream in(item.path(), std::ios::binary);
            files[std::filesystem::relative(item.path(), folder).string()] =
                TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return files;
}

TPowerLossReplay::TPowerLossReplay(std::string root, const TFolderBytes& initial) : m_root(std::move(root))
{
    for (const auto& [name, bytes] : initial) {
        const int inode = NewInode(false);
        m_inodes[static_cast<std::size_t>(inode)].current = bytes;
        m_inodes[static_cast<std::size_t>(inode)].synced = bytes;
        m_names[name] = inode;
    }
    m_durable = m_names;
}

bool TPowerLossReplay::Inside(const std::string& path) const
{
    return path == m_root ||
           (path.size() > m_root.size() && path.compare(0, m_root.size(), m_root) == 0 && path[m_root.size()] == '/');
}

std::string TPowerLossReplay::Relative(const std::string& path) const
{
    return path == m_root ? std::string() : path.substr(m_root.size() + 1);
}

int TPowerLossReplay::NewInode(bool folder)
{
    m_inodes.push_back(TInode{});
    m_inodes.back().folder = folder;
    return static_cast<int>(m_inodes.size()) - 1;
}

int TPowerLossReplay::InodeOf(const std::string& name, const TFsEntry& entry) const
{
    const auto it = m_names.find(name);
    if (it == m_names.end()) {
        throw std::runtime_error("the record does not fit the replay: " + Describe(entry) + " names \"" + name +
                                 "\", which the replay does not have");
    }
    return it->second;
}

void TPowerLossReplay::DoDirOp(TDirOp op)
{
    for (const auto& [name, inode] : op.changes) {
        if (inode < 0) {
            m_names.erase(name);
        } else {
            m_names[name] = inode;
        }
    }
    m_pending.push_back(std::move(op));
}

void TPowerLossReplay::FlushFolder(const std::string& folder)
{
    std::vector<TDirOp> still;
    for (TDirOp& op : m_pending) {
        const bool touches = std::any_of(op.changes.begin(), op.changes.end(),
                                         [&](const auto& change) { return ParentOf(change.first) == folder; });
        if (!touches) {
            still.push_back(std::move(op));
            continue;
        }
        for (const auto& [name, inode] : op.changes) {
            if (inode < 0) {
                m_durable.erase(name);
            } else {
                m_durable[name] = inode;
            }
        }
    }
    m_pending = std::move(still);
}

void TPowerLossReplay::FlushAll()
{
    for (TInode& inode : m_inodes) {
        inode.synced = inode.current;
        inode.shortestSinceSync = inode.current.size();
    }
    m_durable = m_names;
    m_pending.clear();
}

std::string TPowerLossReplay::Describe(const TFsEntry& entry) const
{
    const auto fdName = [&] {
        const auto it = m_open.find(entry.fd);
        if (it == m_open.end()) {
            return "fd " + std::to_string(entry.fd);
        }
        return it->second.inode < 0 && it->second.name.empty() ? std::string("the folder")
                                                               : "\"" + it->second.name + "\"";
    };
    switch (entry.op) {
    case TFsOp::Open:
        if (entry.path == m_root) {
            return "open the folder";
        }
        return "open \"" + Relative(entry.path) + "\"" + ((entry.flags & O_CREAT) != 0 ? " (create)" : "") +
               ((entry.flags & O_TRUNC) != 0 ? " (truncate)" : "");
    case TFsOp::Close:
        return "close " + fdName();
    case TFsOp::Write:
        return "write " + std::to_string(entry.data.size()) + " bytes at " + std::to_string(entry.offset) + " of " +
               fdName();
    case TFsOp::Truncate:
        return "truncate " + fdName() + " to " + std::to_string(entry.offset);
    case TFsOp::Sync:
        return "flush " + fdName();
    case TFsOp::SyncAll:
        return "flush everything";
    case TFsOp::Rename:
        return "rename \"" + Relative(entry.path) + "\" to \"" + Relative(entry.path2) + "\"";
    case TFsOp::Unlink:
        return "unlink \"" + Relative(entry.path) + "\"";
    case TFsOp::Link:
        return "link \"" + (entry.fd >= 0 ? fdName() : Relative(entry.path)) + "\" as \"" + Relative(entry.path2) +
               "\"";
    case TFsOp::MakeDir:
        return "mkdir \"" + Relative(entry.path) + "\"";
    case TFsOp::RemoveDir:
        return "rmdir \"" + Relative(entry.path) + "\"";
    case TFsOp::Dup:
        return "dup " + fdName();
    }
    return "?";
}

void TPowerLossReplay::Apply(const TFsEntry& entry)
{
    const auto openFile = [&]() -> TOpenFile& {
        const auto it = m_open.find(entry.fd);
        if (it == m_open.end()) {
            throw std::runtime_error("the record does not fit the replay: " + Describe(entry) +
                                     " on a descriptor never opened");
        }
        return it->second;
    };
    const auto fileOf = [&]() -> TInode& {
        const TOpenFile& file = openFile();
        if (file.inode < 0) {
            throw std::runtime_error("the record does not fit the replay: " + Describe(entry) + " on a folder");
        }
        return m_inodes[static_cast<std::size_t>(file.inode)];
    };
    switch (entry.op) {
    case TFsOp::Open: {
        const std::string name = Relative(entry.path);
        if ((entry.flags & kFsOpenedFolder) != 0) {
            m_open[entry.fd] = TOpenFile{-1, name};
            return;
        }
        if ((entry.flags & O_TMPFILE) == O_TMPFILE) {
            m_open[entry.fd] = TOpenFile{NewInode(false), name + "/(unnamed)"};
            return;
        }
        const bool exists = m_names.count(name) != 0;
        if (exists && (entry.flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)) {
            throw std::runtime_error("the record does not fit the replay: " + Describe(entry) +
                                     " made a new file where the replay has one");
        }
        if (!exists && (entry.flags & O_CREAT) == 0) {
            InodeOf(name, entry); // throws
        }
        int inode = exists ? m_names.at(name) : -1;
        if (!exists) {
            inode = NewInode(false);
            DoDirOp(TDirOp{{{name, inode}}, "create \"" + name + "\""});
        }
        TInode& file = m_inodes[static_cast<std::size_t>(inode)];
        if ((entry.flags & O_TRUNC) != 0 && (entry.flags & O_ACCMODE) != O_RDONLY) {
            file.current.clear();
            file.shortestSinceSync = 0;
        }
        m_open[entry.fd] = TOpenFile{inode, name};
        return;
    }
    case TFsOp::Close:
        m_open.erase(entry.fd);
        return;
    case TFsOp::Dup:
        m_open[entry.flags] = openFile();
        return;
    case TFsOp::Write: {
        TInode& file = fileOf();
        const auto end = static_cast<std::size_t>(entry.offset) + entry.data.size();
        if (file.current.size() < end) {
            file.current.resize(end, 0);
        }
        std::copy(entry.data.begin(), entry.data.end(),
                  file.current.begin() + static_cast<std::ptrdiff_t>(entry.offset));
        return;
    }
    case TFsOp::Truncate: {
        TInode& file = fileOf();
        file.current.resize(static_cast<std::size_t>(entry.offset), 0);
        file.shortestSinceSync = std::min(file.shortestSinceSync, file.current.size());
        return;
    }
    case TFsOp::Sync: {
        const TOpenFile& open = openFile();
        if (open.inode < 0) {
            FlushFolder(open.name);
            return;
        }
        TInode& file = m_inodes[static_cast<std::size_t>(open.inode)];
        file.synced = file.current;
        file.shortestSinceSync = file.current.size();
        return;
    }
    case TFsOp::SyncAll:
        FlushAll();
        return;
    case TFsOp::Rename: {
        const bool from = Inside(entry.path);
        const bool to = Inside(entry.path2);
        if (!from) {
            throw std::runtime_error("the record does not fit the replay: " + Describe(entry) +
                                     " brings in a file from outside the folder");
        }
        const std::string a = Relative(entry.path);
        const int inode = InodeOf(a, entry);
        TDirOp op{{}, Describe(entry)};
        if ((entry.flags & RENAME_EXCHANGE) != 0) {
            const std::string b = Relative(entry.path2);
            op.changes = {{a, InodeOf(b, entry)}, {b, inode}};
        } else if (!to) {
            op.changes = {{a, -1}};
        } else {
            const std::string b = Relative(entry.path2);
            op.changes = {{a, -1}, {b, inode}};
            if (m_names.count(b) != 0 && m_names.at(b) == inode) {
                return; // two names of one file: the rename does nothing
            }
        }
        DoDirOp(std::move(op));
        return;
    }
    case TFsOp::Unlink:
    case TFsOp::RemoveDir: {
        const std::string a = Relative(entry.path);
        InodeOf(a, entry);
        DoDirOp(TDirOp{{{a, -1}}, Describe(entry)});
        return;
    }
    case TFsOp::Link: {
        const int inode = entry.fd >= 0 ? openFile().inode : InodeOf(Relative(entry.path), entry);
        DoDirOp(TDirOp{{{Relative(entry.path2), inode}}, Describe(entry)});
        return;
    }
    case TFsOp::MakeDir: {
        const std::string a = Relative(entry.path);
        DoDirOp(TDirOp{{{a, NewInode(true)}}, Describe(entry)});
        return;
    }
    }
    throw std::runtime_error("the record holds an entry of unknown kind " + std::to_string(static_cast<int>(entry.op)));
}

bool TPowerLossReplay::VisitCrashes(std::size_t prefix, const std::string& after,
                                    const std::function<bool(const TCrashState&)>& visit) const
{
    for (const std::vector<bool>& keep : KeptSets(m_pending.size())) {
        std::map<std::string, int> names = m_durable;
        std::string undone;
        for (std::size_t i = 0; i < m_pending.size(); ++i) {
            if (!keep[i]) {
                undone += (undone.empty() ? "" : "; ") + m_pending[i].text;
                continue;
            }
            for (const auto& [name, inode] : m_pending[i].changes) {
                if (inode < 0) {
                    names.erase(name);
                } else {
                    names[name] = inode;
                }
            }
        }
        // Only the files that a name still reaches can show what their lost writes did.
        std::vector<int> unflushed;
        for (const auto& [name, inode] : names) {
            const TInode& file = m_inodes[static_cast<std::size_t>(inode)];
            if (!file.folder && file.current != file.synced &&
                std::find(unflushed.begin(), unflushed.end(), inode) == unflushed.end()) {
                unflushed.push_back(inode);
            }
        }
        for (const std::vector<TDataFate>& fates : FateSets(unflushed.size())) {
            TCrashState state;
            state.prefix = prefix;
            state.description = "power lost " + after +
                                "; folder changes undone: " + (undone.empty() ? "none" : undone) + "; unflushed data:";
            std::map<int, TBytes> content;
            for (std::size_t i = 0; i < unflushed.size(); ++i) {
                const TInode& file = m_inodes[static_cast<std::size_t>(unflushed[i])];
                TBytes bytes;
                switch (fates[i]) {
                case TDataFate::Kept:
                    bytes = file.current;
                    break;
                case TDataFate::Lost:
                    bytes = file.synced;
                    break;
                case TDataFate::Cut:
                    bytes.assign(file.synced.begin(),
                                 file.synced.begin() +
                                     static_cast<std::ptrdiff_t>(std::min(file.shortestSinceSync, file.synced.size())));
                    break;
                case TDataFate::Zeros:
                    bytes = file.current;
                    for (std::size_t b = 0; b < bytes.size(); ++b) {
                        if (b >= file.synced.size() || file.synced[b] != bytes[b]) {
                            bytes[b] = 0;
                        }
                    }
                    break;
                }
                content[unflushed[i]] = std::move(bytes);
            }
            for (const auto& [name, inode] : names) {
                const TInode& file = m_inodes[static_cast<std::size_t>(inode)];
                if (file.folder) {
                    continue;
                }
                const auto it = content.find(inode);
                if (it != content.end()) {
                    const auto at = std::find(unflushed.begin(), unflushed.end(), inode) - unflushed.begin();
                    state.description += " \"" + name + "\" " + FateName(fates[static_cast<std::size_t>(at)]);
                }
                state.files[name] = it != content.end() ? it->second : file.current;
            }
            if (unflushed.empty()) {
                state.description += " none";
            }
            if (!visit(state)) {
                return false;
            }
        }
    }
    return true;
}

void TPowerLossReplay::Replay(const std::vector<TFsEntry>& record, const std::function<bool(const TCrashState&)>& visit)
{
    if (!VisitCrashes(0, "before the first call", visit)) {
        return;
    }
    for (std::size_t i = 0; i < record.size(); ++i) {
        const std::string text = Describe(record[i]);
        Apply(record[i]);
        if (!VisitCrashes(i + 1, "after call " + std::to_string(i + 1) + " (" + text + ")", visit)) {
            return;
        }
    }
}

TFolderBytes TPowerLossReplay::Current() const
{
    TFolderBytes files;
    for (const auto& [name, inode] : m_names) {
        if (!m_inodes[static_cast<std::size_t>(inode)].folder) {
            files[name] = m_inodes[static_cast<std::size_t>(inode)].current;
        }
    }
    return files;
}
