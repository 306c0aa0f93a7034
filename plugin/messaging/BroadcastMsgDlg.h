#pragma once
// The modeless dialog that sends one typed line to several online contacts,
// each through their own messenger conversation window. The manager holds at
// most one; it deletes itself when its window goes.
#include <windows.h>

#include <string>

#include "framework/Dialog.h"
#include "framework/ListView.h"
#include "plugin/messaging/ModelessKeyboard.h"

namespace parleym {

class CParleymanager;

// Where a recipient's messages go; opened on the first send, reused after.
struct BroadcastTarget {
    HWND input = nullptr;
    HWND sendButton = nullptr;
    int sendId = 0;
};

// Sent by the manager with a sign-in name that went offline.
constexpr UINT kBroadcastRemoveRecipient = WM_USER + 1;

class CBroadcastMsgDlg : public CDialog {
public:
    explicit CBroadcastMsgDlg(CParleymanager* manager);

    // Creates the dialog under the manager's broadcast window, records it in
    // the manager and shows it; false when it cannot be created.
    static bool Open(CParleymanager& manager);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;      // Send
    void OnCancel() override;  // Close
    bool OnCommand(WORD id, WORD code, HWND control) override;
    bool OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void OnDestroy() override;
    void PostNcDestroy() override;

private:
    void SelectUsers();
    void Send();
    void SendTo(int row, const std::string& text);
    void RemoveRecipient(const char* signInName);
    BroadcastTarget* TargetOf(int row) const;
    void SetTarget(int row, BroadcastTarget* target) const;
    void DeleteRow(int row);
    void DeleteAllRows();

    CParleymanager* manager_;
    CListView recipients_;
    HWND message_ = nullptr;
    HIMAGELIST images_ = nullptr;
    CModelessKeyboard keyboard_;
};

} // namespace parleym
