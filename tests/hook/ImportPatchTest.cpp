// Import patching of this test program's own import table (PE32+ in the
// x86_64 build that runs the tests), and the three replacements.
#include "hook/ImportPatch.h"
#include "hook/PluginHost.h"
#include "tests/hook/RecordingPlugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using parleym::test::RecordingPlugin;

namespace {

// Every import address table entry of this executable, in order.
std::vector<void*> ImportTable() {
    std::vector<void*> entries;
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); d->Name; ++d)
        for (void** e = reinterpret_cast<void**>(base + d->FirstThunk); *e; ++e) entries.push_back(*e);
    return entries;
}

void* User32(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name));
}

// The compiler may keep an import entry in a register across calls; these
// read it afresh, as separate call sites of the messenger would.
__attribute__((noinline)) BOOL CallSetWindowTextA(HWND window, const char* text) {
    return SetWindowTextA(window, text);
}
__attribute__((noinline)) BOOL CallSetWindowTextW(HWND window, const wchar_t* text) {
    return SetWindowTextW(window, text);
}
__attribute__((noinline)) BOOL CallTrackPopupMenu(HMENU menu, HWND owner) {
    return TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, 20, 20, 0, owner, nullptr);
}

class ImportPatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "ImportPatchTestWindow";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "ImportPatchTestWindow", "", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                                 nullptr, windowClass.hInstance, nullptr);
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
    }
    void TearDown() override {
        parleym::RestoreMessengerImports(GetModuleHandleA(nullptr));
        parleym::SetCurrentPlugin(nullptr);
        DestroyWindow(window);
    }

    // Runs a one-item pop-up menu through the (possibly patched) import and
    // picks the item with the keyboard; returns what TrackPopupMenu returned.
    BOOL PickFromMenu(UINT id, bool cancel = false) {
        HMENU menu = CreatePopupMenu();
        AppendMenuA(menu, MF_STRING, id, "Item");
        PostMessageA(window, WM_KEYDOWN, cancel ? VK_ESCAPE : VK_DOWN, 0);
        if (!cancel) PostMessageA(window, WM_KEYDOWN, VK_RETURN, 0);
        const BOOL result = CallTrackPopupMenu(menu, window);
        DestroyMenu(menu);
        return result;
    }

    HWND window = nullptr;
    RecordingPlugin plugin;
};

TEST_F(ImportPatchTest, PatchChangesOnlyTheBoundEntryAndRestoreGivesTheTableBack) {
    const std::vector<void*> before = ImportTable();
    void* saved = nullptr;
    auto* replacement = reinterpret_cast<void*>(&parleym::HookedTrackPopupMenu);
    ASSERT_TRUE(parleym::PatchImport(GetModuleHandleA(nullptr), "user32.dll", "TrackPopupMenu", replacement, &saved));
    EXPECT_EQ(saved, User32("TrackPopupMenu"));

    const std::vector<void*> patched = ImportTable();
    ASSERT_EQ(patched.size(), before.size());
    size_t changed = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        if (patched[i] == before[i]) continue;
        ++changed;
        EXPECT_EQ(before[i], saved);
        EXPECT_EQ(patched[i], replacement);
    }
    EXPECT_EQ(changed, 1u);

    EXPECT_TRUE(parleym::RestoreImport(GetModuleHandleA(nullptr), replacement, saved));
    EXPECT_EQ(ImportTable(), before);
    // Nothing is left to restore a second time.
    EXPECT_FALSE(parleym::RestoreImport(GetModuleHandleA(nullptr), replacement, saved));
}

TEST_F(ImportPatchTest, RefusesBadArgumentsAndForeignMemory) {
    void* saved = nullptr;
    HMODULE self = GetModuleHandleA(nullptr);
    void* replacement = reinterpret_cast<void*>(&parleym::HookedSetWindowTextA);
    const std::vector<void*> before = ImportTable();
    EXPECT_FALSE(parleym::PatchImport(self, nullptr, "SetWindowTextA", replacement, &saved));
    EXPECT_FALSE(parleym::PatchImport(self, "", "SetWindowTextA", replacement, &saved));
    EXPECT_FALSE(parleym::PatchImport(self, "user32.dll", "", replacement, &saved));
    EXPECT_FALSE(parleym::PatchImport(self, "user32.dll", "NoSuchFunction", replacement, &saved));
    EXPECT_FALSE(parleym::PatchImport(self, "nosuchlibrary.dll", "SetWindowTextA", replacement, &saved));
    // Not imported by this program.
    EXPECT_FALSE(parleym::PatchImport(self, "user32.dll", "GetTabbedTextExtentW", replacement, &saved));
    // Memory that is no image, and an address nobody mapped.
    std::vector<char> junk(4096, 'Z');
    EXPECT_FALSE(parleym::PatchImport(reinterpret_cast<HMODULE>(junk.data()), "user32.dll", "SetWindowTextA",
                                      replacement, &saved));
    std::memcpy(junk.data(), "MZ", 2);
    EXPECT_FALSE(parleym::PatchImport(reinterpret_cast<HMODULE>(junk.data()), "user32.dll", "SetWindowTextA",
                                      replacement, &saved));
    EXPECT_FALSE(parleym::PatchImport(reinterpret_cast<HMODULE>(0x10), "user32.dll", "SetWindowTextA", replacement,
                                      &saved));
    EXPECT_EQ(saved, nullptr);
    EXPECT_EQ(ImportTable(), before);
}

TEST_F(ImportPatchTest, PopupMenuCommandsInRangeReachThePluginAndTheCaller) {
    parleym::SetCurrentPlugin(&plugin);
    parleym::PatchMessengerImports(GetModuleHandleA(nullptr));

    EXPECT_EQ(PickFromMenu(30004), 30004);
    EXPECT_EQ(plugin.calls, std::vector<std::string>{"OnCommand " + RecordingPlugin::Hex(window) + " 30004 " +
                                                     RecordingPlugin::Hex(nullptr)});
    plugin.calls.clear();
    EXPECT_EQ(PickFromMenu(30027), 30027);
    EXPECT_EQ(plugin.calls.size(), 1u);
    plugin.calls.clear();
    EXPECT_EQ(PickFromMenu(30028), 30028);
    EXPECT_EQ(PickFromMenu(29999), 29999);
    EXPECT_EQ(PickFromMenu(30004, true), 0);
    EXPECT_TRUE(plugin.calls.empty());
}

TEST_F(ImportPatchTest, TitlesAreReplacedOnlyWhenThePluginGivesOne) {
    parleym::SetCurrentPlugin(&plugin);
    parleym::PatchMessengerImports(GetModuleHandleA(nullptr));
    char text[64] = {};

    plugin.title = "Parleym - offline \xE9";
    EXPECT_TRUE(CallSetWindowTextA(window, "Messenger A"));
    GetWindowTextA(window, text, sizeof(text));
    EXPECT_STREQ(text, "Parleym - offline \xE9");
    EXPECT_TRUE(CallSetWindowTextW(window, L"Messenger W"));
    wchar_t wide[64] = {};
    GetWindowTextW(window, wide, 64);
    wchar_t expected[64] = {};
    MultiByteToWideChar(CP_ACP, 0, plugin.title, -1, expected, 64);
    EXPECT_STREQ(wide, expected);

    plugin.title = nullptr;
    EXPECT_TRUE(CallSetWindowTextA(window, "Messenger A"));
    GetWindowTextA(window, text, sizeof(text));
    EXPECT_STREQ(text, "Messenger A");
    EXPECT_TRUE(CallSetWindowTextW(window, L"Messenger W"));
    GetWindowTextW(window, wide, 64);
    EXPECT_STREQ(wide, L"Messenger W");
    EXPECT_EQ(plugin.calls.size(), 4u);

    // Once restored, the plug-in is no longer asked.
    parleym::RestoreMessengerImports(GetModuleHandleA(nullptr));
    plugin.calls.clear();
    CallSetWindowTextA(window, "Plain");
    EXPECT_TRUE(plugin.calls.empty());
}

} // namespace
