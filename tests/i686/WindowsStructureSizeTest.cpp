// The sizes of the structures the deliverables hand to Windows, against what
// Windows 2000 and XP accept (32-bit) or Windows x64 expects. A version macro
// raised, a header that grew or a packing that leaked would change them and
// make calls fail quietly on the users' systems (no tray icon, no menu, no font).
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>
#include <richole.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

namespace {

struct Layout {
    const char* name;
    size_t ours;
    size_t i686;
    size_t x86_64;
};

TEST(WindowsStructureSizes, MatchWhatTheSystemExpects) {
    const Layout layouts[] = {
        // Size fields the system checks.
        {"OPENFILENAME_SIZE_VERSION_400A (Set logs path...)", OPENFILENAME_SIZE_VERSION_400A, 76, 136},
        {"NOTIFYICONDATAA_V1_SIZE (tray icon)", NOTIFYICONDATAA_V1_SIZE, 88, 104},
        {"NONCLIENTMETRICSA (find pane font)", sizeof(NONCLIENTMETRICSA), 340, 340},
        {"MENUITEMINFOA (Parleym menu)", sizeof(MENUITEMINFOA), 48, 80},
        {"FLASHWINFO", sizeof(FLASHWINFO), 20, 32},
        {"WNDCLASSEXA", sizeof(WNDCLASSEXA), 48, 80},
        {"STARTUPINFOA", sizeof(STARTUPINFOA), 68, 104},
        {"REOBJECT", sizeof(REOBJECT), 56, 72},
        {"INITCOMMONCONTROLSEX", sizeof(INITCOMMONCONTROLSEX), 8, 8},
        // Read or filled by the system through a pointer.
        {"EDITSTREAM", sizeof(EDITSTREAM), 12, 20},
        {"LVITEMA", sizeof(LVITEMA), 52, 72},
        {"LVCOLUMNA", sizeof(LVCOLUMNA), 32, 40},
        {"TVINSERTSTRUCTA", sizeof(TVINSERTSTRUCTA), 64, 96},
        {"BROWSEINFOA", sizeof(BROWSEINFOA), 32, 64},
        {"CHARRANGE", sizeof(CHARRANGE), 8, 8},
        {"SETTEXTEX", sizeof(SETTEXTEX), 8, 8},
        {"GETTEXTLENGTHEX", sizeof(GETTEXTLENGTHEX), 8, 8},
        {"NMHDR", sizeof(NMHDR), 12, 24},
        {"NMLISTVIEW", sizeof(NMLISTVIEW), 44, 64},
        {"NMTREEVIEWA", sizeof(NMTREEVIEWA), 104, 152},
        // What the hook procedures find behind lParam.
        {"MSG", sizeof(MSG), 28, 48},
        {"CWPSTRUCT", sizeof(CWPSTRUCT), 16, 32},
        {"CWPRETSTRUCT", sizeof(CWPRETSTRUCT), 20, 40},
    };
    const bool i686 = sizeof(void*) == 4;
    for (const Layout& layout : layouts)
        EXPECT_EQ(layout.ours, i686 ? layout.i686 : layout.x86_64) << layout.name;
}

} // namespace
