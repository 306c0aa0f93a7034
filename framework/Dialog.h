#pragma once
// Dialogs built from resource templates, modal or modeless, with their
// messages routed to virtual handlers of the object.
#include "framework/Window.h"

namespace parleym {

class CDialog : public CWindow {
public:
    CDialog(UINT templateId, HWND parent = nullptr);
    ~CDialog() override;

    // Runs the dialog; returns the EndDialog value, or -1 when it cannot be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless (not shown unless the template says so).
    bool Create(HWND parent = nullptr);
    void EndDialog(INT_PTR result);
    bool DestroyWindow() override;
    bool IsModal() const { return modal_; }

    UINT TemplateId() const { return templateId_; }
    HWND Parent() const { return parent_; }
    HWND GetItem(int id) const { return GetDlgItem(GetSafeHwnd(), id); }
    std::string GetItemText(int id) const;
    void SetItemText(int id, const std::string& text) const;

protected:
    // Return FALSE when the focus was set by the handler.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // Default: IDOK -> OnOK, IDCANCEL -> OnCancel.
    bool OnCommand(WORD id, WORD code, HWND control) override;
    // Any message the typed handlers do not take; return true with the result set.
    virtual bool OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

private:
    static INT_PTR CALLBACK StaticDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND parent_;
    bool modal_ = false;
};

} // namespace parleym
