// The Messenger object, its events, the contact list and the choice of
// handler for each conversation window.
#include <algorithm>
#include <cstdio>

#include "plugin/core/MessengerEvents.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/PluginMenus.h"
#include "plugin/core/TextConvert.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/LoggingHandler.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/RichEditBridge.h"
#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

namespace parleym {
namespace {

// A failed COM call; carries its code to the one place that reports it.
struct ComFailure {
    HRESULT code;
};

void Check(HRESULT hr) {
    if (FAILED(hr)) throw ComFailure{hr};
}

// The messenger's contact list and its length; a failed call throws.
ComPtr<IMessengerContacts> ListedContacts(IMessenger* messenger, LONG& count) {
    ComPtr<IDispatch> contactsDispatch;
    Check(messenger->get_MyContacts(contactsDispatch.Put()));
    ComPtr<IMessengerContacts> contacts;
    Check(QueryInterface(contactsDispatch, contacts));
    Check(contacts->get_Count(&count));
    return contacts;
}

ComPtr<IMessengerContact> ListedContact(IMessengerContacts* contacts, LONG index) {
    ComPtr<IDispatch> item;
    Check(contacts->Item(index, item.Put()));
    ComPtr<IMessengerContact> contact;
    Check(QueryInterface(item, contact));
    return contact;
}

void ShowCodeError(const char* format, HRESULT hr) {
    char text[256];
    std::snprintf(text, sizeof(text), format, static_cast<unsigned>(hr));
    ShowError(text, "Error");
}

} // namespace

void CParleymanager::CreateMessengerObject(int clientIndex) {
    if (messenger_) return;
    const char* uiManagerClass = clientIndex == 0 ? kWindowsMessengerUiManagerClass : kMsnMessengerUiManagerClass;
    if (!FindWindowA(uiManagerClass, "")) {
        // The messenger is still starting: the loader reloads us once its window exists.
        HWND loader = FindWindowA(kLoaderClassName, kLoaderWindowTitle);
        if (loader) PostMessageA(loader, WM_COMMAND, ID_RESTART_HOOKS, clientIndex);
        return;
    }
    try {
        ComPtr<IUnknown> unknown;
        Check(CoCreateInstance(CLSID_Messenger, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(unknown.Put())));
        Check(OleRun(unknown.Get()));
        ComPtr<IMessenger> messenger;
        Check(QueryInterface(unknown, messenger));
        messenger_ = messenger;
        ReadSelf();
        if (book_.Self().IsOnline()) {
            statsStore_->OpenAccount(book_.Self().signInName.c_str());
            OnContactChanged(book_.Self());
            offlineStore_->Load(book_.Self().signInName.c_str());
            LoadPasswordDigest();
            OpenLogs();
            logManager_->OpenAccount(book_.Self().signInName.c_str());
        }
        ConnectEvents();
    } catch (const ComFailure& failure) {
        ShowCodeError("CParleymanager: Failed to create Messenger object. Error code 0x%0X", failure.code);
        return;
    }
    RetrieveContacts();
}

void CParleymanager::ReadSelf() {
    const bool signedIn = IsSignedIn() != FALSE;
    BstrHolder friendly, signIn;
    Check(messenger_->get_MyFriendlyName(friendly.Put()));
    Check(messenger_->get_MySigninName(signIn.Put()));
    book_.Self().friendlyName = AnsiFromBstr(friendly.Get());
    book_.Self().signInName = AnsiFromBstr(signIn.Get());
    book_.Self().status = signedIn ? kContactOnline : kContactOffline;
}

void CParleymanager::OpenLogs() {
    logManager_->OpenConfiguredOrDefault(GetLogsPath(), dataFolder_ + "logs.dat");
}

void CParleymanager::ConnectEvents() {
    ComPtr<IConnectionPointContainer> container;
    Check(QueryInterface(messenger_, container));
    ComPtr<IConnectionPoint> point;
    Check(container->FindConnectionPoint(DIID_DMessengerEvents, point.Put()));
    events_->SetManager(this);
    Check(point->Advise(events_, &eventsCookie_));
}

void CParleymanager::DisconnectEvents() {
    if (!messenger_ || !eventsCookie_) return;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(QueryInterface(messenger_, container)) &&
        SUCCEEDED(container->FindConnectionPoint(DIID_DMessengerEvents, point.Put())))
        point->Unadvise(eventsCookie_);
    eventsCookie_ = 0;
}

BOOL CParleymanager::IsSignedIn() {
    if (!messenger_) return FALSE;
    MISTATUS status = MISTATUS_UNKNOWN;
    if (FAILED(messenger_->get_MyStatus(&status))) return FALSE;
    return MapStatus(status) == kContactOnline;
}

void CParleymanager::RetrieveContacts() {
    if (book_.Loaded() || !messenger_ || !IsSignedIn()) return;
    try {
        LONG count = 0;
        const ComPtr<IMessengerContacts> contacts = ListedContacts(messenger_.Get(), count);
        book_.Clear();
        for (LONG i = 0; i < count; ++i) {
            const ComPtr<IMessengerContact> contact = ListedContact(contacts.Get(), i);
            const CContactInfo record = AddContact(contact.Get());
            statsStore_->OnStatusChange(record.signInName, record.friendlyName, record.status, false);
            if (record.IsOnline() && HasPendingMessages(record.signInName)) OnContactChanged(record);
        }
        book_.SetLoaded();
    } catch (const ComFailure& failure) {
        ShowCodeError("Failed to retrieve contacts list. Code: 0x%0X", failure.code);
    }
}

std::vector<CContactInfo> CParleymanager::CurrentContacts() {
    // Deleted contacts send no more events and a re-added one comes back as
    // another record: the messenger's own list says who is there now.
    std::vector<CContactInfo> current;
    try {
        if (!messenger_ || !IsSignedIn()) throw ComFailure{E_FAIL};
        LONG count = 0;
        const ComPtr<IMessengerContacts> contacts = ListedContacts(messenger_.Get(), count);
        for (LONG i = 0; i < count; ++i) {
            const ComPtr<IMessengerContact> contact = ListedContact(contacts.Get(), i);
            VARIANT_BOOL isSelf = VARIANT_FALSE;
            BstrHolder friendly, signIn;
            MISTATUS status = MISTATUS_UNKNOWN;
            Check(contact->get_IsSelf(&isSelf));
            if (isSelf != VARIANT_FALSE) continue;
            Check(contact->get_FriendlyName(friendly.Put()));
            Check(contact->get_SigninName(signIn.Put()));
            Check(contact->get_Status(&status));
            current.emplace_back(AnsiFromBstr(signIn.Get()), AnsiFromBstr(friendly.Get()), MapStatus(status));
        }
    } catch (const ComFailure&) {
        // What the events told us is the best there is.
        current = book_.Contacts();
    }
    std::vector<CContactInfo> unique;
    for (const CContactInfo& contact : current) {
        bool seen = contact.signInName.empty();
        for (const CContactInfo& kept : unique) seen = seen || kept.SameContact(contact);
        if (!seen) unique.push_back(contact);
    }
    return unique;
}

CContactInfo CParleymanager::AddContact(IMessengerContact* contact) {
    VARIANT_BOOL isSelf = VARIANT_FALSE;
    Check(contact->get_IsSelf(&isSelf));
    if (isSelf != VARIANT_FALSE) return book_.Self();
    BstrHolder friendly, signIn;
    MISTATUS status = MISTATUS_UNKNOWN;
    Check(contact->get_FriendlyName(friendly.Put()));
    Check(contact->get_SigninName(signIn.Put()));
    Check(contact->get_Status(&status));
    return book_.Note(AnsiFromBstr(signIn.Get()), AnsiFromBstr(friendly.Get()), MapStatus(status));
}

CContactInfo CParleymanager::FindContact(IMessengerContact* contact) {
    BstrHolder signIn;
    Check(contact->get_SigninName(signIn.Put()));
    return book_.Find(AnsiFromBstr(signIn.Get()));
}

HWND CParleymanager::ConversationOf(const CContactInfo& contact) { return conversations_.FirstOf(contact); }

bool CParleymanager::IsContactOnline(const std::string& signInName) {
    if (messenger_) {
        BstrHolder signIn, service;
        *signIn.Put() = BstrFromAnsi(signInName);
        *service.Put() = SysAllocString(L"");
        ComPtr<IDispatch> found;
        HRESULT hr = messenger_->GetContact(signIn.Get(), service.Get(), found.Put());
        ComPtr<IMessengerContact> contact;
        if (SUCCEEDED(hr) && found)
            hr = QueryInterface(found, contact);
        MISTATUS status = MISTATUS_UNKNOWN;
        if (SUCCEEDED(hr) && contact && SUCCEEDED(contact->get_Status(&status)))
            return MapStatus(status) == kContactOnline;
    }
    const CContactInfo* record = book_.Listed(signInName);
    return record && record->IsOnline();
}

std::vector<HWND> CParleymanager::ConversationsOf(const CContactInfo& contact) {
    return conversations_.AllOf(contact);
}

bool CParleymanager::HasPendingMessages(const std::string& signInName) {
    const auto* messages = offlineStore_->GetMessages(signInName);
    return messages && !messages->empty();
}

// ---------------------------------------------------------------- events

void CParleymanager::OnSignIn(long hr) {
    if (hr != 0 || !messenger_) return;
    ++accountSession_;
    EndAccountWindows();
    // The windows the messenger kept open belong to the account before: their
    // handlers go (a last save into that account, if it is still open), and
    // the windows are tracked again under this one. The broadcast dialog's
    // recipients were picked under the account before: it must not send from this one.
    CloseBroadcastDialog();
    const std::vector<std::pair<HWND, int>> keptOpen = conversations_.DetachAll();
    const std::string before = book_.Self().signInName;
    ReadSelf();
    offlineStore_->Save();
    offlineStore_->Load(book_.Self().signInName.c_str());
    OpenLogs();
    logManager_->OpenAccount(book_.Self().signInName.c_str());
    LoadPasswordDigest();
    book_.Forget();
    RetrieveContacts();
    statsStore_->CloseAccount();
    statsStore_->OpenAccount(book_.Self().signInName.c_str());
    OnContactChanged(book_.Self());
    const bool sameAccount = !before.empty() && before == book_.Self().signInName;
    for (const auto& kept : keptOpen) {
        HWND window = kept.first;
        if (!IsWindow(window) || HandlerOf(window)) continue;
        int number = -1;
        if (sameAccount) {
            // The same conversation goes on, unless it never reached the log.
            const auto& index = logManager_->Index();
            if (std::any_of(index.begin(), index.end(), [&](const LogEntry& e) { return e.number == kept.second; }))
                number = kept.second;
        } else {
            // What the window shows so far was said under the account before, which logged it.
            SetHistoryStart(window, HistoryLengthOf(window));
        }
        OnConversationWindow(window, FALSE, number);
    }
    LockIfPending();
}

void CParleymanager::OnSignOut() {
    // Its recipients were picked from this account's list: it must not send from the next one.
    CloseBroadcastDialog();
    ++accountSession_;
    EndAccountWindows();
    // Everything the windows show goes into the account that signs out; with
    // its account closed the log store then takes nothing until the next sign-in.
    SaveLoggingHandlers();
    logManager_->CloseAccount();
    book_.Self().status = kContactOffline;
    OnContactChanged(book_.Self());
    statsStore_->CloseAccount();
    offlineStore_->Save();
}

void CParleymanager::SaveLoggingHandlers() {
    for (HWND window : conversations_.Windows())
        if (auto* logging = dynamic_cast<LoggingHandler*>(HandlerOf(window))) logging->Save();
}

LONG CParleymanager::HistoryStartOf(HWND window) const {
    auto it = historyStarts_.find(window);
    return it == historyStarts_.end() ? 0 : it->second;
}

void CParleymanager::SetHistoryStart(HWND window, LONG start) {
    if (start > 0)
        historyStarts_[window] = start;
    else
        historyStarts_.erase(window);
}

LONG CParleymanager::HistoryLengthOf(HWND window) {
    HWND history = profile_ ? profile_->FindConversationControls(window).history : nullptr;
    return HistoryTextLength(history);
}

void CParleymanager::OnContactListAdd(long hr, IDispatch* contact) {
    if (hr != 0 || !contact) return;
    ComPtr<IMessengerContact> messengerContact;
    Check(QueryInterface(contact, messengerContact));
    AddContact(messengerContact.Get());
}

void CParleymanager::OnContactStatusChange(IDispatch* contact, long) {
    if (!contact) return;
    ComPtr<IMessengerContact> messengerContact;
    Check(QueryInterface(contact, messengerContact));
    BstrHolder signIn, friendly;
    MISTATUS status = MISTATUS_UNKNOWN;
    Check(messengerContact->get_SigninName(signIn.Put()));
    Check(messengerContact->get_FriendlyName(friendly.Put()));
    Check(messengerContact->get_Status(&status));
    // One record per sign-in name: a renamed contact keeps its record (and its
    // windows their handlers), with the new friendly name.
    CContactInfo* record = book_.RecordOf(AnsiFromBstr(signIn.Get()));
    if (!record) {
        AddContact(messengerContact.Get());
        record = book_.RecordOf(AnsiFromBstr(signIn.Get()));
        if (!record) return;
    }
    record->friendlyName = AnsiFromBstr(friendly.Get());
    record->status = MapStatus(status);
    OnContactChanged(*record);
}

void CParleymanager::OnContactChanged(const CContactInfo& changed) {
    // A copy: the steps below may grow the contact list the argument lives in.
    const CContactInfo contact = changed;
    if (!NoteContactChange(contact)) return;
    // Every window with this contact gets its handler decided, not only the first.
    for (HWND window : ConversationsOf(contact)) DecideHandler(window, contact);
}

bool CParleymanager::NoteContactChange(const CContactInfo& contact) {
    if (contact.status == kContactOffline) NotifyBroadcastContactOffline(contact);
    statsStore_->OnStatusChange(contact.signInName, contact.friendlyName, contact.status, false);
    if (logViewer_) RefreshLogViewer();

    if (contact.IsOnline() && !contact.SameContact(book_.Self()) && HasPendingMessages(contact.signInName) &&
        !ConversationOf(contact) && messenger_) {
        HWND window = nullptr;
        const HRESULT hr = OpenConversation(contact.signInName, window);
        if (FAILED(hr)) {
            ShowCodeError(
                "Failed to send offline message. Unable to create messenger conversation window. Code: 0x%0X", hr);
            return false;
        }
        PostMessageA(mainWnd_ ? mainWnd_ : hiddenWnd_, WM_COMMAND, CMD_TRACK_WINDOW, reinterpret_cast<LPARAM>(window));
    }
    return true;
}

void CParleymanager::DecideHandler(HWND window, const CContactInfo& contact) {
    ConversationHandler* handler = HandlerOf(window);
    if (!handler || !handler->IsForContact(contact)) return;
    handler->UpdateContact(contact);
    const int number = handler->GetConversationNumber();
    if (contact.status == kContactOffline) {
        switch (handler->GetKind()) {
        case kOfflineMessageHandlerKind:
            return;
        case kLogHandlerKind:
            Untrack(window).reset();
            OnConversationWindow(window, FALSE, number);
            return;
        case kForwardHandlerKind: {
            std::unique_ptr<ConversationHandler> old = Untrack(window);
            old->Detach();
            old.reset();
            OnConversationWindow(window, FALSE, number);
            return;
        }
        default: {
            std::unique_ptr<ConversationHandler> old = Untrack(window);
            old->Detach();
            return;
        }
        }
    }
    const std::weak_ptr<const void> life = handler->Life();
    if (handler->OnContactStatus(contact)) return;
    // Its clicks may have run events that ended or replaced it.
    if (life.expired() || HandlerOf(window) != handler) return;
    std::unique_ptr<ConversationHandler> old = Untrack(window);
    old->Detach();
    old.reset();
    // Gone offline again meanwhile: the window takes offline messages.
    const CContactInfo* now = book_.RecordOf(contact.signInName);
    if (now && !now->IsOnline()) {
        OnConversationWindow(window, FALSE, number);
        return;
    }
    AttachNew(window, CreateLogHandler(contact), number);
}

void CParleymanager::OnConversationWindow(HWND window, BOOL insertMenu, int conversationNumber) {
    try {
        if (!profile_ || !window) return;
        if (insertMenu) InsertConversationPopup(window);
        const CContactInfo contact = profile_->FindConversationContact(*this, window);
        if (IsNoContact(contact)) {
            AttachNew(window, CreateLogHandler(book_.NoContact()), conversationNumber);
            return;
        }
        if (contact.IsOnline()) {
            if (!HandlerOf(window)) AttachNew(window, CreateOfflineMessageHandler(contact), conversationNumber);
            // The handler is decided for this window, whatever other windows the contact has.
            if (NoteContactChange(contact)) DecideHandler(window, contact);
            return;
        }
        if (!HandlerOf(window)) AttachNew(window, CreateOfflineMessageHandler(contact), conversationNumber);
    } catch (...) {
        ReportSwallowed("plug-in OnConversationWindow");
    }
}

} // namespace parleym
