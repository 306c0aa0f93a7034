#include "tests/support/TempFolder.h"

#include <windows.h>

namespace parleym::test {

TempFolder::TempFolder(const std::string& prefix, const std::string& under) {
    std::string base = under;
    if (base.empty()) {
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof(temp), temp);
        base = temp;
    }
    if (base.back() != '\\') base += '\\';
    for (int attempt = 0;; ++attempt) {
        path_ = base + prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) +
                "-" + std::to_string(attempt) + "\\";
        if (CreateDirectoryA(path_.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void TempFolder::RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(folder + name + "\\");
            else DeleteFileA((folder + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace parleym::test
