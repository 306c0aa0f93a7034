#include "plugin/about/AboutDlg.h"

#include <shellapi.h>

#include <utility>

#include "plugin/about/Hyperlink.h"
#include "plugin/core/PluginResources.h"

namespace parleym {
namespace {

void OpenWithShell(HWND owner, const char* url) { ShellExecuteA(owner, "open", url, nullptr, nullptr, SW_SHOWNORMAL); }

CAboutDlg::UrlOpener g_opener = &OpenWithShell;

} // namespace

CAboutDlg::CAboutDlg(IDialogHost& host, std::function<void(HWND dialog)> setLockExempt)
    : CParleymDlg(IDD_ABOUT, &host), setLockExempt_(std::move(setLockExempt)) {}

CAboutDlg::UrlOpener CAboutDlg::SetUrlOpener(UrlOpener opener) {
    UrlOpener previous = g_opener;
    g_opener = opener ? opener : &OpenWithShell;
    return previous;
}

BOOL CAboutDlg::OnInitDialog() {
    const BOOL result = CParleymDlg::OnInitDialog();
    MakeHyperlink(GetSafeHwnd(), IDC_ABOUT_PRODUCT_LINK);
    MakeHyperlink(GetSafeHwnd(), IDC_ABOUT_MAKER_LINK);
    if (setLockExempt_) setLockExempt_(GetSafeHwnd());
    return result;
}

void CAboutDlg::OnDestroy() {
    if (setLockExempt_) setLockExempt_(nullptr);
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
