#include "framework/Dialog.h"

#include <vector>

#include "shared/SwallowedFailure.h"

namespace parleym {

CDialog::CDialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

CDialog::~CDialog() {
    // A modeless dialog still on screen would call into a freed object.
    HWND window = GetSafeHwnd();
    if (window && IsWindow(window)) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        ::DestroyWindow(window);
    }
    Detach();
}

INT_PTR CDialog::DoModal() {
    modal_ = true;
    const INT_PTR result = DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_), parent_,
                                           &CDialog::StaticDialogProc, reinterpret_cast<LPARAM>(this));
    modal_ = false;
    Detach();
    return result;
}

bool CDialog::Create(HWND parent) {
    if (parent) parent_ = parent;
    modal_ = false;
    HWND window = CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_), parent_,
                                     &CDialog::StaticDialogProc, reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

void CDialog::EndDialog(INT_PTR result) {
    if (!GetSafeHwnd()) return;
    if (modal_)
        ::EndDialog(GetSafeHwnd(), result);
    else
        DestroyWindow();
}

bool CDialog::DestroyWindow() {
    HWND window = GetSafeHwnd();
    if (!window) return false;
    return ::DestroyWindow(window) != FALSE;
}

std::string CDialog::GetItemText(int id) const {
    HWND item = GetItem(id);
    if (!item) return std::string();
    const int length = GetWindowTextLengthA(item);
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(item, buffer.data(), length + 1);
    return std::string(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0));
}

void CDialog::SetItemText(int id, const std::string& text) const { SetDlgItemTextA(GetSafeHwnd(), id, text.c_str()); }

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnCommand(WORD id, WORD, HWND) {
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

bool CDialog::OnDialogMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

INT_PTR CALLBACK CDialog::StaticDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        CDialog* self = nullptr;
        if (message == WM_INITDIALOG) {
            self = reinterpret_cast<CDialog*>(lParam);
            SetWindowLongPtrA(window, DWLP_USER, lParam);
            if (self) self->SetHandle(window);
        } else {
            self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
        }
        if (!self) return FALSE;
        const INT_PTR result = self->DialogProc(message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrA(window, DWLP_USER, 0);
            self->Detach();
            self->PostNcDestroy();
        }
        return result;
    } catch (...) {
        ReportSwallowed("dialog procedure");
        return FALSE;
    }
}

INT_PTR CDialog::DialogProc(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = 0;
    if (OnDialogMessage(message, wParam, lParam, result)) return result;
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
        LRESULT notifyResult = 0;
        if (OnNotify(reinterpret_cast<NMHDR*>(lParam), notifyResult)) {
            SetWindowLongPtrA(GetSafeHwnd(), DWLP_MSGRESULT, notifyResult);
            return TRUE;
        }
        return FALSE;
    }
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        return FALSE;
    case WM_CLOSE:
        OnCancel();
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace parleym
