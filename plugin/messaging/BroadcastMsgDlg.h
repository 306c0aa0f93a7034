#pragma once
// The modeless dialog that sends one typed line to several online contacts,
// each through their own messenger conversation window. The manager holds at
// most one; it deletes itself when its window goes.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/ListView.h"
#include "plugin/core/ContactInfo.h"
#include "plugin/core/ParleymDlg.h"
#include "plugin/messaging/ModelessKeyboard.h"

namespace parleym {

class CClientProfile;
class CContactSelectDlg;
class CParleymanager;

// What the broadcast asks of the messenger session it sends in.
class IBroadcastSession {
public:
    virtual ~IBroadcastSession() = default;
    // Around "Select users": false when the picker may not open now (another
    // dialog is open, or nobody is signed in; the user has been told).
    virtual bool BeginPicker() = 0;
    virtual void EndPicker() = 0;
    virtual std::vector<CContactInfo> CurrentContacts() = 0;
    virtual bool IsContactOnline(const std::string& signInName) = 0;
    virtual CClientProfile* Profile() = 0;
    virtual HRESULT OpenConversation(const std::string& signInName, HWND& window) = 0;
    // The dialog's window has gone.
    virtual void DialogGone() = 0;
};

// Where a recipient's messages go; opened on the first send, reused after.
struct BroadcastTarget {
    HWND input = nullptr;
    HWND sendButton = nullptr;
    int sendId = 0;
};

// Sent by the manager with a sign-in name that went offline.
constexpr UINT kBroadcastRemoveRecipient = WM_USER + 1;

class CBroadcastMsgDlg : public CParleymDlg {
public:
    CBroadcastMsgDlg(IDialogHost& host, std::unique_ptr<IBroadcastSession> session);

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
    // The picker and the boxes run modal loops in which the messenger's events
    // go on: a recipient may leave (and with the last one the dialog would
    // close), the user may sign out. While one runs, closing waits for its end.
    class ModalLoop;
    enum class Sent { kSent, kOffline, kNoWindow };

    void SelectUsers();
    void Send();
    Sent SendTo(int row, const std::string& text);
    void RemoveRecipient(const char* signInName);
    // Destroys the dialog now, or once the modal loops running for it have ended.
    void Close();
    // After a modal loop: true when the dialog has been destroyed meanwhile
    // (the object is gone: the caller returns at once).
    bool ClosedAfterModalLoop();
    int RowOf(const std::string& signInName) const;
    BroadcastTarget* TargetOf(int row) const;
    void SetTarget(int row, BroadcastTarget* target) const;
    void SetImage(int row, int image) const;
    void DeleteRow(int row);
    void DeleteAllRows();

    std::unique_ptr<IBroadcastSession> session_;
    CListView recipients_;
    HWND message_ = nullptr;
    HIMAGELIST images_ = nullptr;
    CModelessKeyboard keyboard_;
    int modalLoops_ = 0;
    bool closeWanted_ = false;
    CContactSelectDlg* picker_ = nullptr;  // while "Select users" runs
};

} // namespace parleym
