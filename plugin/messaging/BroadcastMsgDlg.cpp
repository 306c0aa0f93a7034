#include "plugin/messaging/BroadcastMsgDlg.h"

#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "plugin/core/ClientProfile.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserMessage.h"
#include "plugin/messaging/ContactSelectDlg.h"
#include "plugin/messaging/ContactStateImages.h"
#include "plugin/messaging/MessagingResources.h"
#include "shared/Protocol.h"

namespace parleym {
namespace {

constexpr int kOnlineImage = 0;
constexpr int kOfflineImage = 1;

void ShowDialogError(HWND owner, const char* text) { ShowUserMessage(owner, text, "Error", MB_ICONERROR | MB_OK); }

class ManagerSession : public IBroadcastSession {
public:
    explicit ManagerSession(CParleymanager& manager) : manager_(manager) {}
    bool BeginPicker() override {
        if (!manager_.CanOpenDialog(true)) return false;
        pass_.reset(new CDialogGate::Pass(manager_.DialogPass()));
        return true;
    }
    void EndPicker() override { pass_.reset(); }
    std::vector<CContactInfo> CurrentContacts() override { return manager_.CurrentContacts(); }
    bool IsContactOnline(const std::string& signInName) override { return manager_.IsContactOnline(signInName); }
    CClientProfile* Profile() override { return manager_.Profile(); }
    HRESULT OpenConversation(const std::string& signInName, HWND& window) override {
        return manager_.OpenConversation(signInName, window);
    }
    void DialogGone() override { manager_.SetBroadcastDialog(nullptr); }

private:
    CParleymanager& manager_;
    std::unique_ptr<CDialogGate::Pass> pass_;
};

} // namespace

class CBroadcastMsgDlg::ModalLoop {
public:
    explicit ModalLoop(CBroadcastMsgDlg& dialog) : dialog_(dialog) { ++dialog_.modalLoops_; }
    ~ModalLoop() { --dialog_.modalLoops_; }
    ModalLoop(const ModalLoop&) = delete;
    ModalLoop& operator=(const ModalLoop&) = delete;

private:
    CBroadcastMsgDlg& dialog_;
};

CBroadcastMsgDlg::CBroadcastMsgDlg(IDialogHost& host, std::unique_ptr<IBroadcastSession> session)
    : CParleymDlg(IDD_BROADCAST, &host, nullptr, 0), session_(std::move(session)) {}

bool CBroadcastMsgDlg::Open(CParleymanager& manager) {
    auto dialog = std::make_unique<CBroadcastMsgDlg>(manager, std::make_unique<ManagerSession>(manager));
    if (!dialog->Create(manager.BroadcastWindow())) return false;
    // From here the window owns the object: it is deleted after WM_NCDESTROY.
    CBroadcastMsgDlg* shown = dialog.release();
    manager.SetBroadcastDialog(shown->GetSafeHwnd());
    ShowWindow(shown->GetSafeHwnd(), SW_SHOW);
    return true;
}

BOOL CBroadcastMsgDlg::OnInitDialog() {
    CParleymDlg::OnInitDialog();
    HWND self = GetSafeHwnd();

    recipients_.Attach(GetItem(IDC_BROADCAST_RECIPIENTS));
    message_ = GetItem(IDC_BROADCAST_MESSAGE);
    recipients_.InsertColumn(0, "Name", 160);
    recipients_.InsertColumn(1, "E-mail", 230);
    recipients_.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    images_ = AttachContactStateImages(recipients_.GetSafeHwnd());
    keyboard_.Start(self);
    return TRUE;
}

void CBroadcastMsgDlg::OnOK() { Send(); }

void CBroadcastMsgDlg::OnCancel() { Close(); }

void CBroadcastMsgDlg::Close() {
    if (modalLoops_ > 0) {
        closeWanted_ = true;
        if (picker_) picker_->EndDialog(IDCANCEL);
        return;
    }
    DestroyWindow();
}

bool CBroadcastMsgDlg::ClosedAfterModalLoop() {
    if (modalLoops_ > 0 || !closeWanted_) return false;
    DestroyWindow();
    return true;
}

bool CBroadcastMsgDlg::OnCommand(WORD id, WORD code, HWND control) {
    if (id == IDC_BROADCAST_SELECT) {
        SelectUsers();
        return true;
    }
    return CParleymDlg::OnCommand(id, code, control);
}

bool CBroadcastMsgDlg::OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (message != kBroadcastRemoveRecipient) return CParleymDlg::OnDialogMessage(message, wParam, lParam, result);
    if (lParam) RemoveRecipient(reinterpret_cast<const char*>(lParam));
    result = 0;
    return true;
}

void CBroadcastMsgDlg::OnDestroy() {
    keyboard_.Stop();
    DeleteAllRows();
    SendMessageA(recipients_.GetSafeHwnd(), LVM_SETIMAGELIST, LVSIL_SMALL, 0);
    if (images_) {
        ImageList_Destroy(images_);
        images_ = nullptr;
    }
    CParleymDlg::OnDestroy();
}

void CBroadcastMsgDlg::PostNcDestroy() {
    session_->DialogGone();
    delete this;
}

BroadcastTarget* CBroadcastMsgDlg::TargetOf(int row) const {
    return reinterpret_cast<BroadcastTarget*>(recipients_.GetItemData(row));
}

void CBroadcastMsgDlg::SetTarget(int row, BroadcastTarget* target) const {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.lParam = reinterpret_cast<LPARAM>(target);
    SendMessageA(recipients_.GetSafeHwnd(), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void CBroadcastMsgDlg::DeleteRow(int row) {
    delete TargetOf(row);
    SetTarget(row, nullptr);
    recipients_.DeleteItem(row);
}

void CBroadcastMsgDlg::DeleteAllRows() {
    for (int row = recipients_.GetItemCount() - 1; row >= 0; --row) DeleteRow(row);
}

void CBroadcastMsgDlg::SelectUsers() {
    if (!session_->BeginPicker()) return;
    CContactSelectDlg select(*Host(), [this] { return session_->CurrentContacts(); }, kSelectBroadcastContacts);
    const bool hadRecipients = recipients_.GetItemCount() > 0;
    // The picker is not owned by this dialog; Send must wait until it is done.
    EnableWindow(GetSafeHwnd(), FALSE);
    INT_PTR chosen = IDCANCEL;
    {
        ModalLoop loop(*this);
        picker_ = &select;
        chosen = select.DoModal();
        picker_ = nullptr;
    }
    // Before the dialog may go with its session (the session holds the pass).
    session_->EndPicker();
    if (ClosedAfterModalLoop()) return;
    EnableWindow(GetSafeHwnd(), TRUE);
    if (chosen != IDOK) {
        // The last recipients left while it was up.
        if (recipients_.GetItemCount() == 0 && hadRecipients) PostMessageA(GetSafeHwnd(), WM_CLOSE, 0, 0);
        return;
    }
    DeleteAllRows();
    int row = 0;
    for (const CContactInfo& contact : select.Chosen()) {
        const int image = contact.status == kContactOffline ? kOfflineImage : kOnlineImage;
        const int inserted = recipients_.InsertItem(row, contact.friendlyName, 0, image);
        if (inserted < 0) continue;
        recipients_.SetItemText(inserted, 1, contact.signInName);
        ++row;
    }
}

void CBroadcastMsgDlg::Send() {
    HWND self = GetSafeHwnd();
    if (recipients_.GetItemCount() == 0) {
        {
            ModalLoop loop(*this);
            ShowDialogError(self, "You must select users before sending the message");
        }
        ClosedAfterModalLoop();
        return;
    }
    const std::string text = GetItemText(IDC_BROADCAST_MESSAGE);
    if (text.empty()) return;
    // By name, not by row: rows go while a box is up (a recipient signs out).
    std::vector<std::pair<std::string, std::string>> recipients;
    for (int row = 0; row < recipients_.GetItemCount(); ++row)
        recipients.emplace_back(recipients_.GetItemText(row, 1), recipients_.GetItemText(row, 0));
    std::string notReached;
    for (const auto& recipient : recipients) {
        const int row = RowOf(recipient.first);
        Sent sent = Sent::kOffline;
        if (row >= 0) {
            ModalLoop loop(*this);
            sent = SendTo(row, text);
        }
        if (ClosedAfterModalLoop()) return;
        if (sent == Sent::kOffline) notReached += "\n" + recipient.second + " <" + recipient.first + ">";
    }
    SetForegroundWindow(self);
    SetItemText(IDC_BROADCAST_MESSAGE, "");
    SetFocus(message_);
    // The last recipients left while a box was up.
    if (recipients_.GetItemCount() == 0) PostMessageA(self, WM_CLOSE, 0, 0);
    if (notReached.empty()) return;
    const std::string says = "The message was not sent to these users, who are offline:\n" + notReached;
    {
        ModalLoop loop(*this);
        ShowUserMessage(self, says.c_str(), "Parleym", MB_ICONWARNING | MB_OK);
    }
    ClosedAfterModalLoop();
}

CBroadcastMsgDlg::Sent CBroadcastMsgDlg::SendTo(int row, const std::string& text) {
    const std::string signInName = recipients_.GetItemText(row, 1);
    // Offline now (gone while the picker was open, or never told): the messenger
    // would only say so in a window of its own.
    const bool online = session_->IsContactOnline(signInName);
    SetImage(row, online ? kOnlineImage : kOfflineImage);
    if (!online) return Sent::kOffline;
    BroadcastTarget* target = TargetOf(row);
    if (!target) {
        target = new BroadcastTarget();
        SetTarget(row, target);
    }
    CClientProfile* profile = session_->Profile();
    const bool open = target->input && IsWindow(target->input) && profile &&
                      profile->ClassifyWindow(GetParent(target->input)) != kOtherWindow;
    if (!open) {
        HWND window = nullptr;
        HRESULT hr = E_FAIL;
        try {
            hr = session_->OpenConversation(signInName, window);
        } catch (...) {
            ShowDialogError(GetSafeHwnd(), "Failed to create messenger window. Unknown error");
            return Sent::kNoWindow;
        }
        if (FAILED(hr) || !window) {
            char message[96];
            std::snprintf(message, sizeof(message), "Failed to create conversation window. Code: 0x%08lX",
                          static_cast<unsigned long>(hr));
            ShowDialogError(GetSafeHwnd(), message);
            return Sent::kNoWindow;
        }
        // The call may have let the messenger's events run: the row may have gone.
        row = RowOf(signInName);
        if (row < 0) return Sent::kOffline;
        target = TargetOf(row);
        if (!target) {
            target = new BroadcastTarget();
            SetTarget(row, target);
        }
        PostMessageA(window, WM_COMMAND, CMD_TRACK_WINDOW, reinterpret_cast<LPARAM>(window));
        const ConversationControls controls =
            profile ? profile->FindConversationControls(window) : ConversationControls();
        target->input = controls.input;
        target->sendButton = controls.sendButton;
        target->sendId = controls.sendButton ? GetDlgCtrlID(controls.sendButton) : 0;
        if (!target->input) return Sent::kNoWindow;
    }
    SetWindowTextA(target->input, text.c_str());
    PostMessageA(GetParent(target->input), WM_COMMAND, MAKEWPARAM(target->sendId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(target->sendButton));
    return Sent::kSent;
}

int CBroadcastMsgDlg::RowOf(const std::string& signInName) const {
    for (int row = 0; row < recipients_.GetItemCount(); ++row)
        if (recipients_.GetItemText(row, 1) == signInName) return row;
    return -1;
}

void CBroadcastMsgDlg::SetImage(int row, int image) const {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iImage = image;
    SendMessageA(recipients_.GetSafeHwnd(), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void CBroadcastMsgDlg::RemoveRecipient(const char* signInName) {
    const int row = RowOf(signInName);
    if (row < 0) return;
    DeleteRow(row);
    // With the picker up the user is choosing new recipients: the list being
    // empty then is decided once it has ended.
    if (recipients_.GetItemCount() == 0 && modalLoops_ == 0) PostMessageA(GetSafeHwnd(), WM_CLOSE, 0, 0);
}

} // namespace parleym
