#include "plugin/about/AboutDlg.h"

#include <shellapi.h>

#include "plugin/about/Hyperlink.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/PluginResources.h"

namespace parleym {
namespace {

void OpenWithShell(HWND owner, const char* url) { ShellExecuteA(owner, "open", url, nullptr, nullptr, SW_SHOWNORMAL); }

CAboutDlg::UrlOpener g_opener = &OpenWithShell;

} // namespace

CAboutDlg::CAboutDlg(CParleymanager* manager) : CParleymDlg(IDD_ABOUT, manager) {}

CAboutDlg::UrlOpener CAboutDlg::SetUrlOpener(UrlOpener opener) {
    UrlOpener previous = g_opener;
    g_opener = opener ? opener : &OpenWithShell;
    return previous;
}

BOOL CAboutDlg::OnInitDialog() {
    const BOOL result = CParleymDlg::OnInitDialog();
    MakeHyperlink(GetSafeHwnd(), IDC_ABOUT_PRODUCT_LINK);
    MakeHyperlink(GetSafeHwnd(), IDC_ABOUT_MAKER_LINK);
    // It shows nothing of the user's: a locked messenger leaves it usable.
    if (Manager()) Manager()->SetLockExemptDialog(GetSafeHwnd());
    return result;
}

void CAboutDlg::OnDestroy() {
    if (Manager()) Manager()->SetLockExemptDialog(nullptr);
    CParleymDlg::OnDestroy();
}

bool CAboutDlg::OnCommand(WORD id, WORD code, HWND control) {
    // A double click reports itself after its first click, which has opened the page already.
    if (code == STN_CLICKED && id == IDC_ABOUT_PRODUCT_LINK)
        g_opener(GetSafeHwnd(), kProductWebAddress);
    else if (code == STN_CLICKED && id == IDC_ABOUT_MAKER_LINK)
        g_opener(GetSafeHwnd(), kMakerWebAddress);
    return CParleymDlg::OnCommand(id, code, control);
}

} // namespace parleym
