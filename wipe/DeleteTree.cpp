// Recursive deletion that never follows a link and collects its errors instead of stopping.
#include "wipe/DeleteTree.h"

#include "platform/Files.h"

#include <algorithm>
#include <exception>

namespace {
// A link to a folder is a folder entry on Win32 (a junction) and goes with the folder call there.
void RemoveEntry(const std::string& path)
{
    const auto entry = FindEntry(path);
    if (!entry) {
        return;
    }
    if (entry->kind == TEntryKind::Directory ||
        (entry->kind == TEntryKind::SymbolicLink && (entry->attributes & kAttrDirectory) != 0)) {
        RemoveFolder(path);
    } else {
        RemoveFile(path);
    }
}

bool Below(const std::string& path, const std::string& folder)
{
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) {
        return false;
    }
    const char separator = path[folder.size()];
#ifdef _WIN32
    return separator == '/' || separator == '\\';
#else
    return separator == '/';
#endif
}

// True when a failure was already recorded at or below folder: its own removal then fails only
// because that entry is still inside, and saying so again adds nothing.
bool HoldsFailure(const std::vector<TPathFailure>& failures, const std::string& folder)
{
    return std::any_of(failures.begin(), failures.end(),
                       [&](const TPathFailure& f) { return f.path == folder || Below(f.path, folder); });
}

void TryRemove(const std::string& path, std::vector<TPathFailure>& failures)
{
    try {
        RemoveEntry(path);
    } catch (const std::exception& e) {
        failures.push_back({path, e.what()});
    }
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}
} // namespace

std::vector<TPathFailure> DeleteTree(const std::string& path)
{
    std::vector<TPathFailure> failures;
    const auto entry = FindEntry(path);
    if (!entry) {
        return failures;
    }
    if (entry->kind != TEntryKind::Directory) {
        TryRemove(path, failures);
        return failures;
    }
    if (IsVolumeRoot(path)) {
        failures.push_back({path, Quoted(path) + " is the root of a mounted volume: not deleted"});
        return failures;
    }
    const TTreeListing tree = ListTree(path);
    for (const std::string& folder : tree.unreadable) {
        failures.push_back({folder, Quoted(folder) + " cannot be listed: what it holds was not deleted"});
    }
    for (const std::string& file : tree.files) {
        TryRemove(file, failures);
    }
    for (const std::string& other : tree.others) {
        TryRemove(other, failures);
    }
    std::vector<std::string> folders = tree.folders;
    folders.push_back(path);
    for (const std::string& folder : folders) {
        if (HoldsFailure(failures, folder)) {
            continue;
        }
        TryRemove(folder, failures);
    }
    return failures;
}

std::vector<TPathFailure> RemoveShreddedFolder(const std::string& folder)
{
    std::vector<TPathFailure> kept;
    const TTreeListing tree = ListTree(folder);
    for (const std::string& name : tree.unreadable) {
        kept.push_back({name, Quoted(name) + " cannot be listed: its files were not shredded"});
    }
    for (const std::string& file : tree.files) {
        const auto entry = FindEntry(file);
        if (!entry) {
            continue;
        }
        if (entry->kind == TEntryKind::SymbolicLink || NameOfPath(file) == kHiddenListName) {
            try {
                RemoveEntry(file);
            } catch (const std::exception& e) {
                kept.push_back({file, e.what()});
            }
        } else {
            kept.push_back({file, Quoted(file) + " was not shredded: it was not there when its folder was searched"});
        }
    }
    for (const std::string& other : tree.others) {
        kept.push_back({other, Quoted(other) + " is not a regular file (a FIFO, socket or device): not opened"});
    }
    std::vector<std::string> folders = tree.folders;
    folders.push_back(folder);
    for (const std::string& name : folders) {
        if (HoldsFailure(kept, name)) {
            continue;
        }
        // A folder the system refuses to remove simply stays; its files are gone already.
        try {
            RemoveFolder(name);
        } catch (const std::exception&) {
        }
    }
    return kept;
}
