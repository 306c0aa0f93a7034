#pragma once
// "Find": asks for the text to find in the logged conversations.
#include <string>

#include "plugin/core/ParleymDlg.h"

namespace parleym {

class CFindDialog : public CParleymDlg {
public:
    // `text` is offered first (the last text searched for). The dialog is the
    // host's open dialog: the loader must not unload the plug-in under its loop.
    CFindDialog(IDialogHost* host, HWND owner, const std::string& text);
    // What the user typed, ANSI; meaningful after IDOK.
    const std::string& Text() const { return text_; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    std::string text_;
};

} // namespace parleym
