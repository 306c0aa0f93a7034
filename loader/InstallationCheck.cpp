#include "loader/InstallationCheck.h"

#include "loader/LoaderMessage.h"
#include "loader/LoaderResources.h"
#include "shared/SwallowedFailure.h"

#include <stdio.h>
#include <string>
#include <vector>

namespace parleym {
namespace {

constexpr const char kMsnServerKey[] = "CLSID\\{F81CD990-910B-4bbf-9CB3-6A77F3D697B3}\\LocalServer32";
constexpr const char kWindowsMessengerServerKey[] = "CLSID\\{B69003B3-C55E-4b48-836C-BC5946FC3B28}\\LocalServer32";
constexpr const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char kLayersKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
constexpr const char kLayerValue[] = "WIN2000";

class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Read access only: a limited user cannot open the machine's keys for writing,
    // and nothing here writes to them.
    bool Open(HKEY root, const char* path) {
        Close();
        return RegOpenKeyExA(root, path, 0, KEY_READ, &key_) == ERROR_SUCCESS;
    }
    // The per-user Layers key: its value is read and written, nothing more.
    bool Create(HKEY root, const char* path) {
        Close();
        return RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr) ==
               ERROR_SUCCESS;
    }
    void Close() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY Get() const { return key_; }

    // A string value of at most `capacity` bytes, terminated even when stored without.
    bool ReadString(const char* name, DWORD capacity, std::string& value) const {
        std::vector<char> buffer(capacity + 1, '\0');
        DWORD size = capacity;
        DWORD type = 0;
        if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
            ERROR_SUCCESS)
            return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
        value.assign(buffer.data());
        return true;
    }

private:
    HKEY key_ = nullptr;
};

bool KeyExists(HKEY root, const char* path) {
    RegKey key;
    return key.Open(root, path);
}

void ShowUninstallError(HWND owner, const char* text) {
    ShowLoaderMessage(owner, text, "Error", MB_OK | MB_ICONERROR);
}

// Runs a command line through the command interpreter, as the C library's
// system() does, and waits for it to end.
void RunThroughShell(const std::string& command) {
    char interpreter[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("COMSPEC", interpreter, sizeof(interpreter)) || !interpreter[0])
        lstrcpynA(interpreter, "cmd.exe", sizeof(interpreter));
    std::string commandLine = std::string("\"") + interpreter + "\" /c " + command;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

INT_PTR CALLBACK UninstallChoiceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    try {
        switch (message) {
        case WM_INITDIALOG:
            SendDlgItemMessageA(dialog, IDC_UNINSTALL_ICON, STM_SETICON,
                                reinterpret_cast<WPARAM>(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_WARNING))), 0);
            CheckRadioButton(dialog, IDC_UNINSTALL_WINDOWS_MESSENGER, IDC_UNINSTALL_MSN_MESSENGER,
                             IDC_UNINSTALL_WINDOWS_MESSENGER);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                EndDialog(dialog, IsDlgButtonChecked(dialog, IDC_UNINSTALL_MSN_MESSENGER) == BST_CHECKED
                                      ? IDC_UNINSTALL_MSN_MESSENGER
                                      : IDC_UNINSTALL_WINDOWS_MESSENGER);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
        }
    } catch (...) {
        ReportSwallowed("uninstall choice dialog procedure");
        return FALSE;
    }
}

} // namespace

BOOL CheckMessengerInstallation(HWND owner) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version)) return TRUE;
    return CheckMessengerInstallationOn(owner, version.dwMajorVersion, version.dwMinorVersion);
}

BOOL CheckMessengerInstallationOn(HWND owner, DWORD systemMajor, DWORD systemMinor) {
    if (systemMajor != 5 || systemMinor != 1) return TRUE;

    RegKey msnServer;
    if (!msnServer.Open(HKEY_CLASSES_ROOT, kMsnServerKey)) return TRUE;

    if (KeyExists(HKEY_CLASSES_ROOT, kWindowsMessengerServerKey)) {
        const INT_PTR choice = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_UNINSTALL_CHOICE),
                                               owner, UninstallChoiceProc, 0);
        if (choice == IDC_UNINSTALL_WINDOWS_MESSENGER) {
            if (!UninstallWindowsMessenger(owner)) return FALSE;
        } else if (choice == IDC_UNINSTALL_MSN_MESSENGER) {
            // Our handle must not keep the key alive through its removal.
            msnServer.Close();
            if (!UninstallMsnMessenger(owner)) return FALSE;
            if (!msnServer.Open(HKEY_CLASSES_ROOT, kMsnServerKey)) return TRUE;
        } else {
            return FALSE;
        }
    }

    std::string executable;
    const bool haveExecutable = msnServer.ReadString(nullptr, MAX_PATH, executable);
    msnServer.Close();
    // A quoted command line names the same file as the bare path.
    if (haveExecutable && executable.size() > 1 && executable[0] == '"') {
        const size_t closing = executable.find('"', 1);
        executable = executable.substr(1, closing == std::string::npos ? std::string::npos : closing - 1);
    }
    if (!haveExecutable || executable.empty()) return TRUE;

    RegKey layers;
    if (!layers.Create(HKEY_CURRENT_USER, kLayersKey)) return TRUE;
    if (RegQueryValueExA(layers.Get(), executable.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        RegSetValueExA(layers.Get(), executable.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(kLayerValue),
                       sizeof(kLayerValue));
        HANDLE file = CreateFileA(executable.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_ARCHIVE, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_SHARING_VIOLATION)
                ShowLoaderMessage(nullptr,
                                  "MSN Messenger configuration has been updated in order to work with Parleym. "
                                  "You must restart MSN Messenger to enable Parleym extension.",
                                  "Warning", MB_OK | MB_ICONWARNING);
        } else {
            CloseHandle(file);
        }
    }
    return TRUE;
}

BOOL UninstallMsnMessenger(HWND owner) {
    RegKey uninstall;
    if (!uninstall.Open(HKEY_LOCAL_MACHINE, kUninstallKey)) {
        ShowUninstallError(owner, "Failed to uninstall MSN Messenger. Registry error");
        return FALSE;
    }
    std::string productCode;
    for (DWORD index = 0;; ++index) {
        char name[128] = {};
        DWORD nameLength = sizeof(name);
        const LONG found = RegEnumKeyExA(uninstall.Get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        // A name too long for a product code is some other entry, not the end of the list.
        if (found == ERROR_MORE_DATA) continue;
        if (found != ERROR_SUCCESS) break;
        RegKey entry;
        if (!entry.Open(uninstall.Get(), name)) {
            ShowUninstallError(owner, "Failed to uninstall MSN Messenger. Unable to get uninstall string");
            return FALSE;
        }
        std::string displayName;
        if (entry.ReadString("DisplayName", 255, displayName) &&
            lstrcmpiA(displayName.c_str(), "MSN Messenger 5.0") == 0) {
            productCode = name;
            break;
        }
    }
    uninstall.Close();
    if (productCode.empty()) {
        ShowUninstallError(owner, "Failed to uninstall MSN Messenger. Unable to get uninstall information.");
        return FALSE;
    }
    RunThroughShell("msiexec /x " + productCode);
    if (KeyExists(HKEY_CLASSES_ROOT, kMsnServerKey)) {
        ShowUninstallError(owner, "MSN Messenger uninstall failed or cancelled.");
        return FALSE;
    }
    return TRUE;
}

BOOL UninstallWindowsMessenger(HWND owner) {
    char systemFolder[MAX_PATH] = {};
    char windowsFolder[MAX_PATH] = {};
    GetSystemDirectoryA(systemFolder, sizeof(systemFolder));
    GetWindowsDirectoryA(windowsFolder, sizeof(windowsFolder));
    RunThroughShell(std::string(systemFolder) + "\\rundll32.exe advpack.dll,LaunchINFSection " + windowsFolder +
                    "\\INF\\msmsgs.inf,BLC.Remove");
    if (KeyExists(HKEY_CLASSES_ROOT, kWindowsMessengerServerKey)) {
        ShowUninstallError(owner, "Windows Messenger uninstall failed or cancelled.");
        return FALSE;
    }
    return TRUE;
}

} // namespace parleym
