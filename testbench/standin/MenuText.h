#pragma once
// Reading menus the way the transcript shows them and the way scenarios name items.
#include <windows.h>

#include <string>
#include <vector>

namespace standin {

std::string MenuItemText(HMENU menu, int position);
// An item named in a scenario matches its text exactly or with the '&' marks removed.
bool MenuItemMatches(const std::string& itemText, const std::string& wanted);
// "File[Sign In...|-|*Checked|~Grayed|Sub[...]] Help[...]": '-' separator, '*' checked,
// '~' grayed, nested brackets for sub-menus.
std::string DescribeMenu(HMENU menu);

struct MenuItemFound {
    bool found = false;
    UINT id = 0;
    bool grayed = false;
    std::vector<HMENU> opened;  // the menus passed through, top first
};
// Follows a path of item texts from a menu bar or popup; the last names a command.
MenuItemFound FindMenuItem(HMENU menu, const std::vector<std::string>& path);

}  // namespace standin
