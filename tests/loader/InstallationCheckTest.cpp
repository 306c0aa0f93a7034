// The installation checks against registry fixtures in the test prefix, with
// stand-ins for both uninstallers: a test msiexec first on the path and an
// INF with a BLC.Remove section for advpack. The uninstall choice dialog is
// real and answered from another thread.
#include "loader/InstallationCheck.h"
#include "loader/LoaderMessage.h"
#include "hook/ImportPatch.h"
#include "tests/hook/WineTestSupport.h"
#include "tests/support/MessageCapture.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

using namespace parleym;
using namespace parleym::test;
using Lines = std::vector<std::string>;

namespace {

constexpr const char kMsnClsid[] = "CLSID\\{F81CD990-910B-4bbf-9CB3-6A77F3D697B3}";
constexpr const char kWindowsMessengerClsid[] = "CLSID\\{B69003B3-C55E-4b48-836C-BC5946FC3B28}";
constexpr const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char kProductCode[] = "{5B5B0D51-0000-4AAA-9999-PARLEYMTEST}";
constexpr const char kLayers[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

void SetString(HKEY root, const std::string& path, const char* name, const std::string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The Layers value named by `path`, or "(none)".
std::string LayerFor(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kLayers, 0, KEY_READ, &key) != ERROR_SUCCESS) return "(none)";
    char data[64] = {};
    DWORD size = sizeof(data) - 1;
    DWORD type = 0;
    const LONG result = RegQueryValueExA(key, path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return "(none)";
    return std::string(type == REG_SZ ? "" : "(not REG_SZ) ") + data + "/" + std::to_string(size);
}

// A limited user: the machine's keys open for reading only. Every registry open of
// this program goes through its import table, which is patched while one lives.
class LimitedUser {
public:
    LimitedUser() {
        PatchImport(GetModuleHandleA(nullptr), "advapi32.dll", "RegOpenKeyExA",
                    reinterpret_cast<void*>(&LimitedOpen), &original_);
    }
    ~LimitedUser() {
        if (original_) RestoreImport(GetModuleHandleA(nullptr), reinterpret_cast<void*>(&LimitedOpen), original_);
        original_ = nullptr;
    }
    static int refused;

private:
    static LONG WINAPI LimitedOpen(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
        const REGSAM writing = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;
        if (root != HKEY_CURRENT_USER && (access & writing)) {
            ++refused;
            return ERROR_ACCESS_DENIED;
        }
        return reinterpret_cast<decltype(&RegOpenKeyExA)>(original_)(root, path, options, access, key);
    }
    static void* original_;
};
int LimitedUser::refused = 0;
void* LimitedUser::original_ = nullptr;

class InstallationCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        msnExe = folder / "msnmsgr.exe";
        HANDLE file = CreateFileA(msnExe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        CloseHandle(file);
        // The test msiexec, found before the system's.
        CreateDirectoryA((folder / "bin").c_str(), nullptr);
        ASSERT_TRUE(CopyInto(PARLEYM_FAKE_MSIEXEC, folder / "bin\\msiexec.exe"));
        char path[8192] = {};
        GetEnvironmentVariableA("PATH", path, sizeof(path));
        savedPath = path;
        SetEnvironmentVariableA("PATH", (folder / "bin;" + savedPath).c_str());
        char windows[MAX_PATH] = {};
        GetWindowsDirectoryA(windows, sizeof(windows));
        infPath = std::string(windows) + "\\INF\\msmsgs.inf";
    }
    void TearDown() override {
        SetEnvironmentVariableA("PATH", savedPath.c_str());
        SHDeleteKeyA(HKEY_CLASSES_ROOT, kMsnClsid);
        SHDeleteKeyA(HKEY_CLASSES_ROOT, kWindowsMessengerClsid);
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstall) + "\\" + kProductCode).c_str());
        HKEY layers = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kLayers, 0, KEY_ALL_ACCESS, &layers) == ERROR_SUCCESS) {
            RegDeleteValueA(layers, msnExe.c_str());
            RegDeleteValueA(layers, (folder / "quoted.exe").c_str());
            RegCloseKey(layers);
        }
        DeleteFileA(infPath.c_str());
    }

    void RegisterMsn(const std::string& command) { SetString(HKEY_CLASSES_ROOT, std::string(kMsnClsid) + "\\LocalServer32", nullptr, command); }
    void RegisterMsn() { RegisterMsn(msnExe); }
    void RegisterWindowsMessenger() {
        SetString(HKEY_CLASSES_ROOT, std::string(kWindowsMessengerClsid) + "\\LocalServer32", nullptr,
                  "C:\\Program Files\\Messenger\\msmsgs.exe");
    }
    void AddUninstallEntry(const char* displayName) {
        SetString(HKEY_LOCAL_MACHINE, std::string(kUninstall) + "\\" + kProductCode, "DisplayName", displayName);
    }
    void WriteInf(bool removes) {
        std::ofstream inf(infPath, std::ios::binary);
        inf << "[Version]\r\nSignature=\"$Windows NT$\"\r\n\r\n[BLC.Remove]\r\n";
        if (removes) {
            inf << "DelReg=BLC.Remove.Reg\r\n\r\n[BLC.Remove.Reg]\r\nHKCR,\"" << kWindowsMessengerClsid
                << "\\LocalServer32\"\r\nHKCR,\"" << kWindowsMessengerClsid << "\"\r\n";
        }
    }
    // Runs the check on Windows XP, answering the choice dialog with `choice`
    // (the radio button to click, or IDCANCEL).
    BOOL CheckAnswering(int choice, int* dialogs = nullptr) {
        BoxAnswerer answerer([choice](HWND box, const SeenBox&) {
            if (choice != IDCANCEL) BoxAnswerer::Press(box, choice);
            BoxAnswerer::Press(box, choice == IDCANCEL ? IDCANCEL : IDOK);
        });
        const BOOL result = CheckMessengerInstallationOn(nullptr, 5, 1);
        if (dialogs) *dialogs = static_cast<int>(answerer.Seen().size());
        return result;
    }
    Lines MessageTexts() {
        Lines texts;
        for (const auto& message : Messages()) texts.push_back(message.text);
        return texts;
    }
    std::vector<ShownMessage>& Messages() { return messages_.Messages(); }

    TempFolder folder{"parleym-install"};
    MessageCapture messages_{&SetLoaderMessageSink};
    std::string msnExe;
    std::string savedPath;
    std::string infPath;
};

TEST_F(InstallationCheckTest, OnlyWindowsXpIsChecked) {
    RegisterMsn();
    RegisterWindowsMessenger();
    BoxAnswerer dialogs;
    for (DWORD minor : {0u, 2u}) EXPECT_TRUE(CheckMessengerInstallationOn(nullptr, 5, minor));
    EXPECT_TRUE(CheckMessengerInstallationOn(nullptr, 6, 1));
    Sleep(300);
    EXPECT_TRUE(dialogs.Seen().empty());
    EXPECT_EQ(LayerFor(msnExe), "(none)");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(InstallationCheckTest, WindowsMessengerAloneNeedsNothing) {
    RegisterWindowsMessenger();
    int dialogs = -1;
    EXPECT_TRUE(CheckAnswering(IDCANCEL, &dialogs));
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(LayerFor(msnExe), "(none)");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(InstallationCheckTest, MsnMessengerGetsTheLayerOnceAndAWarningOnlyWhileRunning) {
    RegisterMsn();
    int dialogs = -1;
    EXPECT_TRUE(CheckAnswering(IDCANCEL, &dialogs));
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(LayerFor(msnExe), "WIN2000/8");
    EXPECT_TRUE(Messages().empty());

    // An existing value is left as it is.
    SetString(HKEY_CURRENT_USER, kLayers, msnExe.c_str(), "KEEP");
    EXPECT_TRUE(CheckMessengerInstallationOn(nullptr, 5, 1));
    EXPECT_EQ(LayerFor(msnExe), "KEEP/5");

    // MSN Messenger running (its executable held open): the user must restart it.
    HKEY layers = nullptr;
    RegOpenKeyExA(HKEY_CURRENT_USER, kLayers, 0, KEY_ALL_ACCESS, &layers);
    RegDeleteValueA(layers, msnExe.c_str());
    RegCloseKey(layers);
    HANDLE running = CreateFileA(msnExe.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CheckMessengerInstallationOn(nullptr, 5, 1));
    CloseHandle(running);
    EXPECT_EQ(LayerFor(msnExe), "WIN2000/8");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text,
              "MSN Messenger configuration has been updated in order to work with Parleym. You must restart MSN "
              "Messenger to enable Parleym extension.");
    EXPECT_EQ(Messages()[0].caption, "Warning");
}

TEST_F(InstallationCheckTest, AQuotedServerCommandNamesTheBareExecutable) {
    const std::string quoted = folder / "quoted.exe";
    RegisterMsn("\"" + quoted + "\"");
    EXPECT_TRUE(CheckMessengerInstallationOn(nullptr, 5, 1));
    EXPECT_EQ(LayerFor(quoted), "WIN2000/8");
}

TEST_F(InstallationCheckTest, CancelInTheChoiceClosesWithoutChanges) {
    RegisterMsn();
    RegisterWindowsMessenger();
    AddUninstallEntry("MSN Messenger 5.0");
    int dialogs = -1;
    EXPECT_FALSE(CheckAnswering(IDCANCEL, &dialogs));
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kMsnClsid));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kWindowsMessengerClsid));
    EXPECT_EQ(LayerFor(msnExe), "(none)");
    EXPECT_TRUE(ReadLines(folder / "bin\\msiexec.log").empty());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(InstallationCheckTest, RemovingMsnMessengerRunsMsiexecWithItsProductCode) {
    RegisterMsn();
    RegisterWindowsMessenger();
    AddUninstallEntry("msn messenger 5.0");
    std::ofstream(folder / "bin\\remove").put('1');
    EXPECT_TRUE(CheckAnswering(1003));
    EXPECT_EQ(ReadLines(folder / "bin\\msiexec.log"), Lines{std::string("/x ") + kProductCode});
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kMsnClsid) + "\\LocalServer32"));
    // Gone, so no layer is needed.
    EXPECT_EQ(LayerFor(msnExe), "(none)");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(InstallationCheckTest, EveryWayRemovingMsnMessengerCanFail) {
    RegisterMsn();
    RegisterWindowsMessenger();

    // The uninstaller ran but the client is still registered (cancelled or failed).
    AddUninstallEntry("MSN Messenger 5.0");
    EXPECT_FALSE(CheckAnswering(1003));
    EXPECT_EQ(ReadLines(folder / "bin\\msiexec.log").size(), 1u);

    // No uninstall entry for it.
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstall) + "\\" + kProductCode).c_str());
    AddUninstallEntry("MSN Messenger 4.7");
    EXPECT_FALSE(CheckAnswering(1003));

    // No uninstall list at all (only possible here when the prefix has no other entries).
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kUninstall) + "\\" + kProductCode).c_str());
    HKEY uninstall = nullptr;
    DWORD subkeys = 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ, &uninstall) == ERROR_SUCCESS) {
        RegQueryInfoKeyA(uninstall, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(uninstall);
        if (subkeys == 0) SHDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstall);
    } else {
        subkeys = 0;
    }
    if (subkeys == 0) {
        EXPECT_FALSE(CheckAnswering(1003));
        HKEY recreated = nullptr;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstall, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &recreated, nullptr);
        if (recreated) RegCloseKey(recreated);
    }

    Lines expected = {
        "MSN Messenger uninstall failed or cancelled.",
        "Failed to uninstall MSN Messenger. Unable to get uninstall information.",
    };
    if (subkeys == 0) expected.push_back("Failed to uninstall MSN Messenger. Registry error");
    EXPECT_EQ(MessageTexts(), expected) << "uninstall list emptied: " << (subkeys == 0);
    for (const auto& message : Messages()) EXPECT_EQ(message.caption, "Error");
    EXPECT_EQ(ReadLines(folder / "bin\\msiexec.log").size(), 1u);
    EXPECT_EQ(LayerFor(msnExe), "(none)");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kMsnClsid));
}

TEST_F(InstallationCheckTest, RemovingWindowsMessengerRunsItsInfSectionThenSetsUpMsn) {
    RegisterMsn();
    RegisterWindowsMessenger();
    WriteInf(/*removes=*/false);
    EXPECT_FALSE(CheckAnswering(1002));
    EXPECT_EQ(MessageTexts(), Lines{"Windows Messenger uninstall failed or cancelled."});
    EXPECT_EQ(LayerFor(msnExe), "(none)");

    Messages().clear();
    WriteInf(/*removes=*/true);
    EXPECT_TRUE(CheckAnswering(1002));
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kWindowsMessengerClsid) + "\\LocalServer32"));
    EXPECT_EQ(LayerFor(msnExe), "WIN2000/8");
}

TEST_F(InstallationCheckTest, ALimitedUserGetsTheSameChecks) {
    LimitedUser limited;
    RegisterMsn();
    EXPECT_TRUE(CheckMessengerInstallationOn(nullptr, 5, 1));
    EXPECT_EQ(LayerFor(msnExe), "WIN2000/8");

    RegisterWindowsMessenger();
    AddUninstallEntry("MSN Messenger 5.0");
    int dialogs = -1;
    EXPECT_FALSE(CheckAnswering(IDCANCEL, &dialogs));
    EXPECT_EQ(dialogs, 1);

    std::ofstream(folder / "bin\\remove").put('1');
    EXPECT_TRUE(CheckAnswering(1003));
    EXPECT_EQ(ReadLines(folder / "bin\\msiexec.log"), Lines{std::string("/x ") + kProductCode});
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(LimitedUser::refused, 0);
}

} // namespace
