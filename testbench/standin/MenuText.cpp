#include "testbench/standin/MenuText.h"

namespace standin {

std::string MenuItemText(HMENU menu, int position) {
    char buffer[256] = {};
    GetMenuStringA(menu, static_cast<UINT>(position), buffer, sizeof buffer, MF_BYPOSITION);
    return buffer;
}

namespace {

std::string WithoutMnemonics(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            out += text[++i];
            continue;
        }
        if (text[i] == '\t') break;  // accelerator text
        out += text[i];
    }
    return out;
}

}  // namespace

bool MenuItemMatches(const std::string& itemText, const std::string& wanted) {
    return itemText == wanted || WithoutMnemonics(itemText) == wanted;
}

std::string DescribeMenu(HMENU menu) {
    std::string out;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOA item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU;
        GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &item);
        if (i) out += "|";
        if (item.fType & MFT_SEPARATOR) {
            out += "-";
            continue;
        }
        if (item.fState & MFS_CHECKED) out += "*";
        if (item.fState & (MFS_GRAYED | MFS_DISABLED)) out += "~";
        out += WithoutMnemonics(MenuItemText(menu, i));
        if (item.hSubMenu) out += "[" + DescribeMenu(item.hSubMenu) + "]";
    }
    return out;
}

MenuItemFound FindMenuItem(HMENU menu, const std::vector<std::string>& path) {
    MenuItemFound result;
    for (size_t level = 0; level < path.size() && menu; ++level) {
        result.opened.push_back(menu);
        int count = GetMenuItemCount(menu);
        HMENU next = nullptr;
        bool matched = false;
        for (int i = 0; i < count && !matched; ++i) {
            if (!MenuItemMatches(MenuItemText(menu, i), path[level])) continue;
            matched = true;
            MENUITEMINFOA item = {};
            item.cbSize = sizeof item;
            item.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
            GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &item);
            if (level + 1 == path.size()) {
                result.found = !item.hSubMenu;
                result.id = item.wID;
                result.grayed = (item.fState & (MFS_GRAYED | MFS_DISABLED)) != 0;
            } else {
                next = item.hSubMenu;
            }
        }
        if (!matched) return result;
        menu = next;
    }
    return result;
}

}  // namespace standin
