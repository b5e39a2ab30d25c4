// Permanent deletion of files and folder trees, and the removal of a folder emptied by shredding.
#pragma once

#include <string>
#include <vector>

// An entry that stayed, with a message that names it and the reason.
struct TPathFailure
{
    std::string path;
    std::string message;
};

// Deletes a file, a link or a whole folder tree permanently (no trash). Links are removed, never
// followed; a volume's root is refused. Goes on after an error and returns every entry that stayed.
// A path that no longer exists is nothing to do.
std::vector<TPathFailure> DeleteTree(const std::string& path);

// After every file below folder was shredded: removes the links, the hidden-name lists and every
// folder left empty, the folder itself last. Regular files (they were not shredded), FIFOs, sockets,
// devices and folders that cannot be listed stay, and keep their folders: they are returned.
std::vector<TPathFailure> RemoveShreddedFolder(const std::string& folder);
