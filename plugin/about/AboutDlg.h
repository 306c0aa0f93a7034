#pragma once
// "About Parleym...": the product's name and version with links to the
// product's and the maker's web pages.
#include "plugin/core/ParleymDlg.h"

namespace parleym {

// Placeholders until the maker supplies the real addresses and line.
constexpr char kProductWebAddress[] = "https://parleym.example/";
constexpr char kMakerWebAddress[] = "https://maker.parleym.example/";

class CAboutDlg : public CParleymDlg {
public:
    explicit CAboutDlg(CParleymanager* manager);

    // How a link is opened; tests replace it. Returns the previous opener.
    using UrlOpener = void (*)(HWND owner, const char* url);
    static UrlOpener SetUrlOpener(UrlOpener opener);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    void OnDestroy() override;
};

} // namespace parleym
