// The Messenger object, its events, the contact list and the choice of
// handler for each conversation window.
#include <algorithm>
#include <cstdio>

#include "plugin/core/ContactMatch.h"
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
        if (self_.IsOnline()) {
            statsStore_->OpenAccount(self_.signInName.c_str());
            OnContactChanged(self_);
            offlineStore_->Load(self_.signInName.c_str());
            LoadPasswordDigest();
            OpenLogs();
            logManager_->OpenAccount(self_.signInName.c_str());
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
    self_.friendlyName = AnsiFromBstr(friendly.Get());
    self_.signInName = AnsiFromBstr(signIn.Get());
    self_.status = signedIn ? kContactOnline : kContactOffline;
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
    if (contactsLoaded_ || !messenger_ || !IsSignedIn()) return;
    try {
        ComPtr<IDispatch> contactsDispatch;
        Check(messenger_->get_MyContacts(contactsDispatch.Put()));
        ComPtr<IMessengerContacts> contacts;
        Check(QueryInterface(contactsDispatch, contacts));
        LONG count = 0;
        Check(contacts->get_Count(&count));
        contacts_.clear();
        for (LONG i = 0; i < count; ++i) {
            ComPtr<IDispatch> item;
            Check(contacts->Item(i, item.Put()));
            ComPtr<IMessengerContact> contact;
            Check(QueryInterface(item, contact));
            const CContactInfo record = AddContact(contact.Get());
            statsStore_->OnStatusChange(record.signInName, record.friendlyName, record.status, false);
            if (record.IsOnline() && HasPendingMessages(record.signInName)) OnContactChanged(record);
        }
        contactsLoaded_ = true;
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
        ComPtr<IDispatch> contactsDispatch;
        Check(messenger_->get_MyContacts(contactsDispatch.Put()));
        ComPtr<IMessengerContacts> contacts;
        Check(QueryInterface(contactsDispatch, contacts));
        LONG count = 0;
        Check(contacts->get_Count(&count));
        for (LONG i = 0; i < count; ++i) {
            ComPtr<IDispatch> item;
            Check(contacts->Item(i, item.Put()));
            ComPtr<IMessengerContact> contact;
            Check(QueryInterface(item, contact));
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
        current = contacts_;
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
    if (isSelf != VARIANT_FALSE) return self_;
    BstrHolder friendly, signIn;
    MISTATUS status = MISTATUS_UNKNOWN;
    Check(contact->get_FriendlyName(friendly.Put()));
    Check(contact->get_SigninName(signIn.Put()));
    Check(contact->get_Status(&status));
    // A contact deleted and added again is still one contact.
    CContactInfo* record = RecordOf(AnsiFromBstr(signIn.Get()));
    if (record && record != &self_) {
        record->friendlyName = AnsiFromBstr(friendly.Get());
        record->status = MapStatus(status);
        return *record;
    }
    contacts_.emplace_back(AnsiFromBstr(signIn.Get()), AnsiFromBstr(friendly.Get()), MapStatus(status));
    return contacts_.back();
}

CContactInfo CParleymanager::FindContact(IMessengerContact* contact) {
    BstrHolder signIn;
    Check(contact->get_SigninName(signIn.Put()));
    const CContactInfo* record = RecordOf(AnsiFromBstr(signIn.Get()));
    return record && record != &self_ ? *record : noContact_;
}

CContactInfo* CParleymanager::RecordOf(const std::string& signInName) {
    if (signInName.empty()) return nullptr;
    if (signInName == self_.signInName) return &self_;
    for (CContactInfo& record : contacts_)
        if (record.signInName == signInName) return &record;
    return nullptr;
}

CContactInfo CParleymanager::FindContactByText(const std::string& text) const {
    const ContactMatch match = MatchContactInText(text, contacts_);
    return match.named == NamedContacts::kOne ? contacts_[match.index] : noContact_;
}

HWND CParleymanager::ConversationOf(const CContactInfo& contact) {
    for (auto& entry : conversations_)
        if (entry.second->IsForContact(contact)) return entry.first;
    return nullptr;
}

bool CParleymanager::IsContactOnline(const std::string& signInName) {
    if (messenger_) {
        const std::wstring name = WideFromAnsi(signInName);
        BSTR signIn = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
        BSTR service = SysAllocString(L"");
        ComPtr<IDispatch> found;
        HRESULT hr = messenger_->GetContact(signIn, service, found.Put());
        SysFreeString(signIn);
        SysFreeString(service);
        ComPtr<IMessengerContact> contact;
        if (SUCCEEDED(hr) && found)
            hr = QueryInterface(found, contact);
        MISTATUS status = MISTATUS_UNKNOWN;
        if (SUCCEEDED(hr) && contact && SUCCEEDED(contact->get_Status(&status)))
            return MapStatus(status) == kContactOnline;
    }
    for (const CContactInfo& record : contacts_)
        if (record.signInName == signInName) return record.IsOnline();
    return false;
}

std::vector<HWND> CParleymanager::ConversationsOf(const CContactInfo& contact) {
    std::vector<HWND> windows;
    for (auto& entry : conversations_)
        if (entry.second->IsForContact(contact)) windows.push_back(entry.first);
    return windows;
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
    const std::vector<std::pair<HWND, int>> keptOpen = ReleaseConversationHandlers();
    const std::string before = self_.signInName;
    ReadSelf();
    offlineStore_->Save();
    offlineStore_->Load(self_.signInName.c_str());
    OpenLogs();
    logManager_->OpenAccount(self_.signInName.c_str());
    LoadPasswordDigest();
    contactsLoaded_ = false;
    contacts_.clear();
    RetrieveContacts();
    statsStore_->CloseAccount();
    statsStore_->OpenAccount(self_.signInName.c_str());
    OnContactChanged(self_);
    const bool sameAccount = !before.empty() && before == self_.signInName;
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
    self_.status = kContactOffline;
    OnContactChanged(self_);
    statsStore_->CloseAccount();
    offlineStore_->Save();
}

void CParleymanager::SaveLoggingHandlers() {
    std::vector<HWND> windows;
    for (auto& entry : conversations_) windows.push_back(entry.first);
    for (HWND window : windows)
        if (auto* logging = dynamic_cast<LoggingHandler*>(HandlerOf(window))) logging->Save();
}

std::vector<std::pair<HWND, int>> CParleymanager::ReleaseConversationHandlers() {
    std::vector<HWND> windows;
    for (auto& entry : conversations_) windows.push_back(entry.first);
    std::vector<std::pair<HWND, int>> released;
    for (HWND window : windows) {
        std::unique_ptr<ConversationHandler> handler = Untrack(window);
        if (!handler) continue;
        released.emplace_back(window, handler->GetConversationNumber());
        handler->Detach();
        handler.reset();
    }
    return released;
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
    CContactInfo* record = RecordOf(AnsiFromBstr(signIn.Get()));
    if (!record) {
        AddContact(messengerContact.Get());
        record = RecordOf(AnsiFromBstr(signIn.Get()));
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

    if (contact.IsOnline() && !contact.SameContact(self_) && HasPendingMessages(contact.signInName) &&
        !ConversationOf(contact) && messenger_) {
        VARIANT target;
        VariantInit(&target);
        target.vt = VT_BSTR;
        const std::wstring name = WideFromAnsi(contact.signInName);
        target.bstrVal = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
        ComPtr<IDispatch> windowObject;
        HRESULT hr = messenger_->InstantMessage(target, windowObject.Put());
        VariantClear(&target);
        LONG handle = 0;
        if (SUCCEEDED(hr)) {
            ComPtr<IMessengerWindow> window;
            hr = windowObject ? QueryInterface(windowObject, window)
                              : E_POINTER;
            if (SUCCEEDED(hr)) hr = window->get_HWND(&handle);
        }
        if (FAILED(hr)) {
            ShowCodeError(
                "Failed to send offline message. Unable to create messenger conversation window. Code: 0x%0X", hr);
            return false;
        }
        PostMessageA(mainWnd_ ? mainWnd_ : hiddenWnd_, WM_COMMAND, CMD_TRACK_WINDOW,
                     reinterpret_cast<LPARAM>(HwndFromMessengerLong(handle)));
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
    const CContactInfo* now = RecordOf(contact.signInName);
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
            AttachNew(window, CreateLogHandler(noContact_), conversationNumber);
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
