#include "hook/ClientDetection.h"

#include "shared/Protocol.h"

#include <string.h>

namespace parleym {

int ClassifyMessengerClient(const char* exeName, WORD fileMajor, WORD fileMinor,
                            DWORD systemMajor, DWORD systemMinor) {
    if (!exeName) return CLIENT_KIND_NONE;
    if (lstrcmpiA(exeName, "msmsgs.exe") == 0) {
        if (fileMajor == 4 && fileMinor == 7 && systemMajor >= 5 && systemMinor >= 1)
            return CLIENT_KIND_WINDOWS_MESSENGER;
    } else if (lstrcmpiA(exeName, "msnmsgr.exe") == 0) {
        if (fileMajor == 5 && fileMinor == 0 && (systemMinor == 0 || systemMajor < 5))
            return CLIENT_KIND_MSN_MESSENGER;
    }
    return CLIENT_KIND_NONE;
}

namespace {

bool ReadFileVersion(const char* path, WORD& major, WORD& minor) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return false;
    // The process heap, not the C++ library: this runs in every process with a window.
    void* data = HeapAlloc(GetProcessHeap(), 0, size);
    if (!data) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    const bool found = GetFileVersionInfoA(path, 0, size, data) &&
                       VerQueryValueA(data, "\\", reinterpret_cast<void**>(&info), &length) && info &&
                       length >= sizeof(VS_FIXEDFILEINFO);
    if (found) {
        major = HIWORD(info->dwFileVersionMS);
        minor = LOWORD(info->dwFileVersionMS);
    }
    HeapFree(GetProcessHeap(), 0, data);
    return found;
}

} // namespace

int DetectMessengerClient() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return CLIENT_KIND_NONE;
    const char* slash = strrchr(path, '\\');
    const char* name = slash ? slash + 1 : path;
    // Cheap name test first: every process with a window maps this library.
    if (lstrcmpiA(name, "msmsgs.exe") != 0 && lstrcmpiA(name, "msnmsgr.exe") != 0)
        return CLIENT_KIND_NONE;
    WORD major = 0, minor = 0;
    if (!ReadFileVersion(path, major, minor)) return CLIENT_KIND_NONE;
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version)) return CLIENT_KIND_NONE;
    return ClassifyMessengerClient(name, major, minor, version.dwMajorVersion, version.dwMinorVersion);
}

} // namespace parleym
