// Drives an open log viewer from another process, as a user would with the
// mouse: switches the grouping, opens a group and selects a conversation, then
// writes what the conversation pane shows (UTF-8; a double-byte text may not
// come across processes), or where its selection is ("START END" in
// characters), into a file.
//   logviewer_pilot [group-user|group-date] [select GROUP ITEM] [pane FILE] [selection FILE]
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND g_tree = nullptr;
HWND g_pane = nullptr;

BOOL CALLBACK FindParts(HWND child, LPARAM) {
    char name[64] = {};
    GetClassNameA(child, name, sizeof(name));
    if (!std::strcmp(name, WC_TREEVIEWA)) g_tree = child;
    if (!std::strcmp(name, "RichEdit20A")) g_pane = child;
    return TRUE;
}

std::wstring Widen(const std::string& ansi) {
    std::wstring wide(ansi.size(), L'\0');
    const int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0],
                                         static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(size > 0 ? size : 0));
    return wide;
}

// `prefix`, then `text` as UTF-8, written to `path`.
bool WriteUtf8(const char* path, const std::string& prefix, const std::wstring& text) {
    std::string utf8;
    const int wide = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size > 0 ? size : 0));
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, &utf8[0], size, nullptr, nullptr);
    FILE* out = std::fopen(path, "wb");
    if (!out) return false;
    std::fwrite(prefix.data(), 1, prefix.size(), out);
    std::fwrite(utf8.data(), 1, utf8.size(), out);
    return std::fclose(out) == 0;
}

HTREEITEM Next(HTREEITEM item, UINT relation) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(g_tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM Nth(HTREEITEM parent, int position) {
    HTREEITEM item = Next(parent, TVGN_CHILD);
    while (item && position-- > 0) item = Next(item, TVGN_NEXT);
    return item;
}

} // namespace

int main(int argc, char** argv) {
    HWND viewer = nullptr;
    for (int attempt = 0; attempt < 50 && !viewer; ++attempt) {
        viewer = FindWindowA(nullptr, "Log viewer");
        if (!viewer) Sleep(100);
    }
    if (!viewer) return 2;
    EnumChildWindows(viewer, FindParts, 0);
    if (!g_tree || !g_pane) return 3;

    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "group-user" || word == "group-date") {
            SendMessageA(viewer, WM_COMMAND, word == "group-user" ? 4012 : 4011, 0);
        } else if (word == "select" && i + 2 < argc) {
            HTREEITEM root = Next(nullptr, TVGN_ROOT);
            HTREEITEM group = Nth(root, std::atoi(argv[i + 1]));
            SendMessageA(g_tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(group));
            HTREEITEM item = group ? Nth(group, std::atoi(argv[i + 2])) : nullptr;
            if (!item) return 4;
            SendMessageA(g_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
            i += 2;
        } else if (word == "pane" && i + 1 < argc) {
            // Two bytes a character: Wine's control gives nothing when a double-byte text does not fit.
            const int length = 2 * static_cast<int>(SendMessageA(g_pane, WM_GETTEXTLENGTH, 0, 0));
            std::string text(static_cast<size_t>(length) + 1, '\0');
            const int copied = static_cast<int>(SendMessageA(g_pane, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0])));
            text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
            if (!WriteUtf8(argv[++i], "", Widen(text))) return 5;
        } else if (word == "selection" && i + 1 < argc) {
            // The numbers in the result: pointers and the selected text are not carried across processes.
            const DWORD range = static_cast<DWORD>(SendMessageA(g_pane, EM_GETSEL, 0, 0));
            const std::string where = std::to_string(LOWORD(range)) + " " + std::to_string(HIWORD(range)) + "\n";
            if (!WriteUtf8(argv[++i], where, std::wstring())) return 5;
        } else {
            return 1;
        }
    }
    return 0;
}
