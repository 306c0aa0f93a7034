#pragma once
// "About Parleym...": the product's name and version with links to the
// product's and the maker's web pages.
#include <functional>

#include "plugin/core/ParleymDlg.h"

namespace parleym {

// Placeholders until the maker supplies the real addresses and line.
constexpr char kProductWebAddress[] = "https://parleym.example/";
constexpr char kMakerWebAddress[] = "https://maker.parleym.example/";

class CAboutDlg : public CParleymDlg {
public:
    // It shows nothing of the user's: `setLockExempt` gets the dialog while it
    // exists (nullptr after), for a locked messenger to leave it usable.
    CAboutDlg(IDialogHost& host, std::function<void(HWND dialog)> setLockExempt);

    // How a link is opened; tests replace it. Returns the previous opener.
    using UrlOpener = void (*)(HWND owner, const char* url);
    static UrlOpener SetUrlOpener(UrlOpener opener);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    void OnDestroy() override;

private:
    std::function<void(HWND dialog)> setLockExempt_;
};

} // namespace parleym
