#pragma once
// Wine shows the Linux root as drive Z:. Build outputs and python's files arrive as
// Linux paths; the code under test wants Windows ones.
#include <string>

namespace parleym::test {

inline std::string WinPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

inline std::string UnixPath(std::string path) {
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') path.erase(0, 2);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

} // namespace parleym::test
