// Path helpers that both halves of the file layer share; not part of its interface.
#pragma once

#include "platform/FileStream.h"

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vx_files_detail
{
#ifdef _WIN32
inline const TNativeHandle kNoHandle = INVALID_HANDLE_VALUE;

inline int LastError()
{
    return static_cast<int>(GetLastError());
}

inline bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}
#else
constexpr TNativeHandle kNoHandle = -1;

inline bool IsSeparator(char c)
{
    return c == '/';
}
#endif

inline std::size_t LastSeparator(const std::string& path)
{
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1])) {
            return i - 1;
        }
#ifdef _WIN32
        if (path[i - 1] == ':') {
            return i - 1;
        }
#endif
    }
    return std::string::npos;
}

inline bool EndsInSeparator(const std::string& path)
{
    return !path.empty() && IsSeparator(path.back());
}

inline std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || EndsInSeparator(folder)) {
        return folder + name;
    }
    return folder + "/" + name;
}

// Without trailing separators, so that "a/b/" names b; the root stays as it is.
inline std::string TrimSeparators(std::string path)
{
    while (path.size() > 1 && EndsInSeparator(path)) {
        path.pop_back();
    }
    return path;
}
} // namespace vx_files_detail
