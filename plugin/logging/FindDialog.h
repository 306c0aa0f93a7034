#pragma once
// "Find": asks for the text to find in the logged conversations.
#include <string>

#include "framework/Dialog.h"

namespace parleym {

class CParleymanager;

class CFindDialog : public CDialog {
public:
    // `text` is offered first (the last text searched for).
    CFindDialog(CParleymanager* manager, HWND owner, const std::string& text);
    // What the user typed, ANSI; meaningful after IDOK.
    const std::string& Text() const { return text_; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnDestroy() override;

private:
    CParleymanager* manager_;
    std::string text_;
};

} // namespace parleym
