#include "plugin/messaging/ContactSelectDlg.h"

#include <commctrl.h>

#include <utility>

#include "plugin/core/UserMessage.h"
#include "plugin/messaging/ContactStateImages.h"
#include "plugin/messaging/ListViewSort.h"
#include "plugin/messaging/MessagingResources.h"

namespace parleym {
namespace {

struct ModeTexts {
    const char* title;
    const char* prompt;
    const char* nobody;
};

const ModeTexts kModes[] = {
    {"Send offline message", "Select user to send offline message to",
     "You don't have any offline users in your contacts list"},
    {"Forward conversation", "Select user to forward conversation to",
     "You don't have any online users in your contacts list"},
    {"Broadcast message", "Select users to broadcast message to",
     "You don't have any users in your contact list to broadcast messages to"},
};

constexpr int kOnlineImage = 0;
constexpr int kOfflineImage = 1;

const ModeTexts& TextsOf(int mode) { return kModes[mode >= 0 && mode <= 2 ? mode : 0]; }

} // namespace

CContactSelectDlg::CContactSelectDlg(IDialogHost& host, ContactSource contacts, int mode)
    : CParleymDlg(IDD_CONTACT_SELECT, &host), contacts_(std::move(contacts)), mode_(mode) {}

bool CContactSelectDlg::Offers(const CContactInfo& contact) const {
    if (mode_ == kSelectOfflineContact) return contact.status != kContactOnline;
    return contact.status != kContactOffline && excluded_.count(contact.signInName) == 0;
}

BOOL CContactSelectDlg::OnInitDialog() {
    const BOOL result = CParleymDlg::OnInitDialog();
    HWND self = GetSafeHwnd();
    prompt_ = GetItem(IDC_CONTACT_PROMPT);
    list_.Attach(GetItem(IDC_CONTACT_LIST));

    list_.InsertColumn(0, "Name", 160);
    list_.InsertColumn(1, "E-mail", 230);
    list_.SetExtendedStyle(LVS_EX_FULLROWSELECT);

    images_ = AttachContactStateImages(list_.GetSafeHwnd());

    const ModeTexts& texts = TextsOf(mode_);
    SetWindowTextA(self, texts.title);
    SetWindowTextA(prompt_, texts.prompt);
    if (mode_ != kSelectBroadcastContacts) {
        HWND list = list_.GetSafeHwnd();
        SetWindowLongPtrA(list, GWL_STYLE, GetWindowLongPtrA(list, GWL_STYLE) | LVS_SINGLESEL);
    }

    const int image = mode_ == kSelectOfflineContact ? kOfflineImage : kOnlineImage;
    if (contacts_) {
        for (const CContactInfo& contact : contacts_()) {
            if (!Offers(contact)) continue;
            const int row = list_.InsertItem(0, contact.friendlyName, image, image);
            if (row >= 0) list_.SetItemText(row, 1, contact.signInName);
        }
    }

    if (list_.GetItemCount() == 0) {
        ShowUserMessage(self, texts.nobody, "Error", MB_ICONERROR | MB_OK);
        EndDialog(IDCANCEL);
        return result;
    }
    SendMessageA(list_.GetSafeHwnd(), WM_SETREDRAW, FALSE, 0);
    SortListViewRows(list_.GetSafeHwnd(), 0, true);
    SendMessageA(list_.GetSafeHwnd(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_.GetSafeHwnd(), nullptr, TRUE);
    return result;
}

void CContactSelectDlg::OnOK() {
    chosen_.clear();
    // A contact that left the list while the dialog was open is not offered back;
    // one that changed its name or status meanwhile is taken as it is now.
    const std::vector<CContactInfo> current = contacts_ ? contacts_() : std::vector<CContactInfo>();
    for (int row : list_.GetSelectedRows()) {
        const std::string signInName = list_.GetItemText(row, 1);
        for (const CContactInfo& contact : current) {
            if (contact.signInName != signInName) continue;
            chosen_.push_back(contact);
            break;
        }
    }
    if (mode_ == kSelectBroadcastContacts && chosen_.size() < 2) {
        ShowUserMessage(GetSafeHwnd(), "You must select at least 2 users", "Error", MB_ICONERROR | MB_OK);
        return;
    }
    EndDialog(IDOK);
}

void CContactSelectDlg::OnDestroy() {
    SendMessageA(list_.GetSafeHwnd(), LVM_SETIMAGELIST, LVSIL_SMALL, 0);
    if (images_) {
        ImageList_Destroy(images_);
        images_ = nullptr;
    }
    CParleymDlg::OnDestroy();
}

} // namespace parleym
