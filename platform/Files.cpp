// Path names: the folder, name and extension parts, the same rules on every system.
#include "platform/Files.h"
#include "platform/FilesInternal.h"

using namespace vx_files_detail;

std::string FolderOfPath(const std::string& path)
{
    const std::size_t at = LastSeparator(path);
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string NameOfPath(const std::string& path)
{
    const std::size_t at = LastSeparator(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string ExtensionOfPath(const std::string& path)
{
    const std::string name = NameOfPath(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}
