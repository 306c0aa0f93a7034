// Drives an open log viewer from another process, as a user would with the
// mouse: switches the grouping, opens a group and selects a conversation, then
// writes what the conversation pane shows into a file.
//   logviewer_pilot [group-user|group-date] [select GROUP ITEM] [pane FILE]
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
            const int length = static_cast<int>(SendMessageA(g_pane, WM_GETTEXTLENGTH, 0, 0));
            std::string text(static_cast<size_t>(length) + 1, '\0');
            const int copied = static_cast<int>(SendMessageA(g_pane, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0])));
            text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
            FILE* out = std::fopen(argv[++i], "wb");
            if (!out) return 5;
            std::fwrite(text.data(), 1, text.size(), out);
            std::fclose(out);
        } else {
            return 1;
        }
    }
    return 0;
}
