// Command dispatch, the dialog gate and the menus the plug-in inserts.
#include <windows.h>
#include <commdlg.h>

#include <cstdio>

#include "framework/FrameWnd.h"
#include "plugin/about/AboutDlg.h"
#include "plugin/core/MessengerEvents.h"
#include "plugin/core/TextConvert.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/PluginMenus.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogFileKind.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/LogViewer.h"
#include "plugin/messaging/BroadcastMsgDlg.h"
#include "plugin/messaging/ContactSelectDlg.h"
#include "plugin/stats/StatsDlg.h"
#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

namespace parleym {
namespace {
constexpr char kNotSignedIn[] = "Messenger client is not signed in";

// Any process can post a command that names a window: only this messenger's own are acted on.
bool IsOwnWindow(HWND window) {
    DWORD process = 0;
    return window && GetWindowThreadProcessId(window, &process) && process == GetCurrentProcessId();
}

// Absolute, with long names, so two spellings of one file compare equal.
std::string FullPathOf(const std::string& path) {
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return path;
    char longer[MAX_PATH] = {};
    const DWORD longLength = GetLongPathNameA(full, longer, MAX_PATH);
    return longLength > 0 && longLength < MAX_PATH ? std::string(longer) : std::string(full);
}
} // namespace

void CParleymanager::OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    try {
        const UINT id = LOWORD(wParam);
        if (!IsPluginCommand(id) || !messenger_) return;
        DispatchCommand(window, id, lParam);
    } catch (...) {
        ReportSwallowed("plug-in OnCommand");
    }
}

void CParleymanager::DispatchCommand(HWND window, UINT id, LPARAM lParam) {
    if (locked_ && RefusedWhileLocked(id)) {
        BringLockDialogForward();
        return;
    }
    switch (id) {
    case CMD_SEND_OFFLINE_MESSAGE: {
        if (!CanOpenDialog(true)) return;
        CContactInfo chosen;
        bool confirmed = false;
        {
            const CDialogGate::Pass pass = DialogPass();
            confirmed = RunContactSelection(ContactSelectionMode::kOfflineMessage, chosen, std::string());
        }
        if (!confirmed) return;
        selectedContact_ = chosen;
        SendOfflineToSelected();
        return;
    }
    case CMD_ABOUT:
        if (!CanOpenDialog(false)) return;
        {
            const CDialogGate::Pass pass = DialogPass();
            RunAboutDialog();
        }
        return;
    case CMD_SEND_OFFLINE_TO_SELECTED:
        SendOfflineToSelected();
        return;
    case CMD_BROADCAST:
        if (!IsSignedIn()) {
            ShowError(kNotSignedIn, "Parleym");
        } else if (broadcastDialog_ && IsWindow(broadcastDialog_)) {
            SetForegroundWindow(broadcastDialog_);
            SendToLoader(LDR_SET_FOREGROUND, 0, reinterpret_cast<LPARAM>(broadcastDialog_));
        } else {
            OpenBroadcastDialog();
        }
        return;
    case CMD_FORWARD_CONVERSATION:
        ForwardConversation(window);
        return;
    case CMD_TRACK_WINDOW: {
        DeferredMessages errorsAfterward;
        HWND conversation = reinterpret_cast<HWND>(lParam);
        if (!profile_ || !IsOwnWindow(conversation) || profile_->ClassifyWindow(conversation) != kConversationWindow)
            return;
        if (!HandlerOf(conversation)) OnConversationWindow(conversation, FALSE, -1);
        return;
    }
    case CMD_HANDLER_COMMAND: {
        DeferredMessages errorsAfterward;
        HWND conversation = reinterpret_cast<HWND>(lParam);
        if (ConversationHandler* handler = HandlerOf(conversation))
            handler->OnCommand(conversation, static_cast<WPARAM>(id), lParam);
        return;
    }
    case CMD_SET_FOREGROUND:
        if (IsOwnWindow(reinterpret_cast<HWND>(lParam))) SetForegroundWindow(reinterpret_cast<HWND>(lParam));
        return;
    case CMD_RESELECT_HANDLER: {
        DeferredMessages errorsAfterward;
        std::unique_ptr<ConversationHandler> handler = Untrack(window);
        if (!handler) return;
        handler->Detach();
        const int number = handler->GetConversationNumber();
        handler.reset();
        OnConversationWindow(window, FALSE, number);
        return;
    }
    case CMD_LOCK_MESSENGER:
        LockMessenger(false);
        return;
    case CMD_AUTOLOCK_TIMER:
        LockMessenger(true);
        return;
    case CMD_STATISTICS:
        if (!CanOpenDialog(true)) return;
        {
            const CDialogGate::Pass pass = DialogPass();
            RunStatisticsDialog();
        }
        return;
    case CMD_TOGGLE_LOGGING:
        ToggleLogging();
        return;
    case CMD_VIEW_LOGS:
        ViewLogs();
        return;
    case CMD_SET_PASSWORD:
        if (!CanOpenDialog(true)) return;
        {
            const CDialogGate::Pass pass = DialogPass();
            RunSetPasswordDialog();
        }
        return;
    case CMD_AUTOLOCK_DISABLED:
    case CMD_AUTOLOCK_5:
    case CMD_AUTOLOCK_6:
    case CMD_AUTOLOCK_10:
    case CMD_AUTOLOCK_15:
        SetAutoLock(id);
        return;
    case CMD_SET_LOGS_PATH:
        ChooseLogsPath();
        return;
    case CMD_HISTORY_CHANGED:
        QueueHistoryChange(reinterpret_cast<HWND>(lParam));
        return;
    default:
        return;
    }
}

BOOL CParleymanager::CanOpenDialog(bool requireSignIn) {
    if (dialogs_.ForwardOpenDialog()) return FALSE;
    if (requireSignIn && !IsSignedIn()) {
        ShowError(kNotSignedIn, "Parleym");
        return FALSE;
    }
    dialogs_.MarkBusy();
    return TRUE;
}

void CParleymanager::SendOfflineToSelected() {
    HWND window = nullptr;
    if (FAILED(OpenConversation(selectedContact_.signInName, window))) return;
    PostMessageA(hiddenWnd_, WM_COMMAND, CMD_TRACK_WINDOW, reinterpret_cast<LPARAM>(window));
}

void CParleymanager::ForwardConversation(HWND window) {
    ConversationHandler* current = HandlerOf(window);
    if (!current) return;
    switch (current->GetKind()) {
    case kOfflineMessageHandlerKind:
        ShowError("You can not forward offline messages", "Error");
        return;
    case kLogHandlerKind:
        break;
    default:
        return;
    }
    if (!CanOpenDialog(false)) return;
    // The picker's modal loop lets the messenger's events run: the window may
    // close, its contact go offline, another account sign in. The forward
    // handler is made only once the choice is made, for what is there then.
    const CContactInfo source = profile_ ? profile_->FindConversationContact(*this, window) : book_.NoContact();
    const std::string account = book_.Self().signInName;
    CContactInfo chosen;
    bool confirmed = false;
    {
        const CDialogGate::Pass pass = DialogPass();
        confirmed = RunContactSelection(ContactSelectionMode::kForward, chosen, source.signInName);
    }
    if (!confirmed) return;
    // The old handler's save (when it goes) and the new one's start raise no box while they run;
    // the selection dialog above is left out so that its own errors show while it is open.
    DeferredMessages errorsAfterward;
    current = IsWindow(window) ? HandlerOf(window) : nullptr;
    if (!current || book_.Self().signInName != account) return;
    const CContactInfo sourceNow = profile_ ? profile_->FindConversationContact(*this, window) : book_.NoContact();
    if (!sourceNow.SameContact(source)) return;
    if (current->GetKind() == kOfflineMessageHandlerKind || (!IsNoContact(source) && !IsContactOnline(source.signInName))) {
        ShowError("You can not forward offline messages", "Error");
        return;
    }
    if (current->GetKind() != kLogHandlerKind) return;
    std::unique_ptr<ConversationHandler> forward = CreateForwardHandler();
    if (!forward) return;
    forward->Attach(this, window, current->GetConversationNumber());
    // Opening the forward window can run events of its own.
    const std::weak_ptr<const void> life = current->Life();
    if (!StartForwarding(*forward, chosen)) return;
    if (life.expired() || !IsWindow(window) || HandlerOf(window) != current) return;
    Untrack(window).reset();
    ConversationHandler* raw = forward.get();
    conversations_.Put(window, std::move(forward));
    ShowForwarding(*raw);
}

HRESULT CParleymanager::OpenConversation(const std::string& signInName, HWND& window) {
    window = nullptr;
    if (!messenger_) return E_POINTER;
    VariantHolder contact;
    contact.Get().vt = VT_BSTR;
    contact.Get().bstrVal = BstrFromAnsi(signInName);
    ComPtr<IDispatch> windowObject;
    HRESULT hr = messenger_->InstantMessage(contact.Get(), windowObject.Put());
    if (FAILED(hr)) return hr;
    if (!windowObject) return E_POINTER;
    ComPtr<IMessengerWindow> messengerWindow;
    hr = QueryInterface(windowObject, messengerWindow);
    if (FAILED(hr)) return hr;
    LONG handle = 0;
    hr = messengerWindow->get_HWND(&handle);
    if (FAILED(hr)) return hr;
    window = HwndFromMessengerLong(handle);
    return S_OK;
}

void CParleymanager::ToggleLogging() {
    if (!CanOpenDialog(true)) return;
    const CDialogGate::Pass pass = DialogPass();
    if (!logManager_->IsLoggingEnabled() && !conversations_.Empty()) {
        const int answer = ShowUserMessage(nullptr,
                                           "If you enable logging all current conversation will be logged (including "
                                           "content when logging was off). Are you sure you want to continue?",
                                           "Parleym", MB_TASKMODAL | MB_ICONQUESTION | MB_YESNO);
        if (answer != IDYES) return;
    }
    HMENU menuBar = mainWnd_ ? GetMenu(mainWnd_) : nullptr;
    if (!menuBar) return;
    const int count = GetMenuItemCount(menuBar);
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        GetMenuStringA(menuBar, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
        HMENU popup = GetSubMenu(menuBar, i);
        if (!popup || lstrcmpA(text, kParleymMenuText) != 0) continue;
        const bool enable = !logManager_->IsLoggingEnabled();
        CheckMenuItem(popup, CMD_TOGGLE_LOGGING, MF_BYCOMMAND | (enable ? MF_CHECKED : MF_UNCHECKED));
        logManager_->SetLoggingEnabled(enable ? 1 : 0);
    }
}

void CParleymanager::ViewLogs() {
    if (logViewer_ && logViewer_->GetSafeHwnd()) {
        SetForegroundWindow(logViewer_->GetSafeHwnd());
        SendToLoader(LDR_SET_FOREGROUND, 0, reinterpret_cast<LPARAM>(logViewer_->GetSafeHwnd()));
        return;
    }
    if (IsPasswordSet()) {
        if (!CanOpenDialog(true)) return;
        bool ok = false;
        {
            const CDialogGate::Pass pass = DialogPass();
            ok = RunViewLogsPasswordDialog();
        }
        if (!ok) return;
    }
    OpenLogViewer();
}

void CParleymanager::ChooseLogsPath() {
    if (!CanOpenDialog(true)) return;
    unsigned session = 0;
    std::string path;
    bool chosen = false;
    {
        const CDialogGate::Pass pass = DialogPass();
        SetOpenDialog(hiddenWnd_);
        session = accountSession_;
        chosen = AskLogsPath(path);
        SetOpenDialog(nullptr);
    }
    if (!chosen) return;
    // The path is the account's that chose it, not the one signed in after.
    if (session != accountSession_) {
        ShowError(kAccountChangedText, "Parleym");
        return;
    }
    if (!AcceptLogsPath(path)) return;
    SetLogsPath(path.c_str());
}

void CParleymanager::EndAccountWindows() {
    DestroyLogViewer();
    HWND dialog = dialogs_.OpenDialog();
    if (dialog && IsWindow(dialog)) SendMessageA(dialog, kAccountEndedMessage, 0, 0);
}

bool CParleymanager::AcceptLogsPath(const std::string& path) {
    // Nothing is deleted here: an existing logs file is used as it is, and any
    // other existing file is refused rather than lost.
    const std::string full = FullPathOf(path);
    const size_t slash = full.find_last_of('\\');
    const std::string folder = slash == std::string::npos ? std::string() : FullPathOf(full.substr(0, slash + 1));
    const std::string name = slash == std::string::npos ? full : full.substr(slash + 1);
    char text[MAX_PATH + 160];
    if (lstrcmpiA(folder.c_str(), FullPathOf(dataFolder_).c_str()) == 0) {
        for (const char* own : {"users.dat", "stats.dat", kObjectCacheFileName, "offlinemsg.dat", kHookLibraryName,
                                kPluginLibraryName, "ParleymLdr.exe"}) {
            if (lstrcmpiA(name.c_str(), own) != 0) continue;
            std::snprintf(text, sizeof(text),
                          "The file %s belongs to Parleym and cannot hold the logs. Choose another file.",
                          full.c_str());
            ShowError(text, "Parleym");
            return false;
        }
    }
    // The file the logs are written to now is held open by us.
    if (!logManager_->Path().empty() && lstrcmpiA(full.c_str(), FullPathOf(logManager_->Path()).c_str()) == 0)
        return true;
    switch (InspectLogFile(full)) {
    case LogFileKind::kMissing:
    case LogFileKind::kLogs:
        return true;
    case LogFileKind::kOther:
        std::snprintf(text, sizeof(text),
                      "The file %s is not a Parleym logs file. Choose a logs file or a new file name.", full.c_str());
        break;
    case LogFileKind::kUnreadable:
        std::snprintf(text, sizeof(text), "The file %s cannot be opened. Choose another file.", full.c_str());
        break;
    }
    ShowError(text, "Parleym");
    return false;
}

bool CParleymanager::AskLogsPath(std::string& path) {
    char file[MAX_PATH] = "logs.dat";
    OPENFILENAMEA ofn{};
    // The Windows 2000 layout (76 bytes in the 32-bit build); later fields stay unused.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = hiddenWnd_;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&ofn)) return false;
    path = file;
    return true;
}

// ---------------------------------------------------------------- menus

void CParleymanager::InsertMainPopup() {
    if (!mainWnd_) return;
    HMENU menuBar = GetMenu(mainWnd_);
    if (!menuBar || MenuBarHasParleymItem(menuBar)) return;
    HMENU popup = CreatePopupMenu();
    HMENU autoLock = AppendPluginMenuItems(popup, dispWnd_);
    if (!AppendParleymPopup(mainWnd_, popup)) return;
    autoLockMenu_ = autoLock;
    if (locked_) ShowLockOverlay(mainWnd_);
}

void CParleymanager::InsertConversationPopup(HWND window) { AppendParleymPopup(window, CreateConversationPopup()); }

void CParleymanager::OnInitMenu(HWND window, HMENU menu) {
    try {
        if (!profile_ || profile_->ClassifyWindow(window) != kGenericWindow) return;
        POINT cursor{};
        GetCursorPos(&cursor);
        HWND under = WindowFromPoint(cursor);
        char className[64] = {};
        if (!under || !GetClassNameA(under, className, sizeof(className)) ||
            lstrcmpiA(className, "SysListView32") != 0)
            return;
        bool found = false;
        const int count = GetMenuItemCount(menu);
        for (int i = 0; i < count && !found; ++i) {
            char text[129] = {};
            GetMenuStringA(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
            CContactInfo contact = FindContactByText(text);
            if (!IsNoContact(contact) && contact.status == kContactOffline) {
                selectedContact_ = contact;
                found = true;
            }
        }
        AppendSendOfflineItem(menu, found);
    } catch (...) {
        ReportSwallowed("plug-in OnInitMenu");
    }
}

// ---------------------------------------------------------------- features supplied elsewhere

bool CParleymanager::RunContactSelection(ContactSelectionMode mode, CContactInfo& chosen, const std::string& excluded) {
    CContactSelectDlg dialog(*this, [this] { return CurrentContacts(); },
                             mode == ContactSelectionMode::kForward ? kSelectForwardContact : kSelectOfflineContact);
    if (!excluded.empty()) dialog.Exclude(excluded);
    if (dialog.DoModal() != IDOK || dialog.Chosen().empty()) return false;
    chosen = dialog.Chosen().front();
    return true;
}
void CParleymanager::RunAboutDialog() {
    CAboutDlg about(*this, [this](HWND dialog) { SetLockExemptDialog(dialog); });
    about.DoModal();
}
void CParleymanager::RunStatisticsDialog() {
    CStatsDlg statistics(*this, *statsStore_, book_.Contacts());
    statistics.DoModal();
}
void CParleymanager::OpenLogViewer() { parleym::OpenLogViewer(*this); }
void CParleymanager::DestroyLogViewer() {
    CFrameWnd* viewer = logViewer_;
    logViewer_ = nullptr;
    if (viewer && viewer->GetSafeHwnd()) viewer->DestroyWindow();
}
void CParleymanager::RefreshLogViewer() { parleym::RefreshLogViewer(logViewer_); }
void CParleymanager::OpenBroadcastDialog() { CBroadcastMsgDlg::Open(*this); }
void CParleymanager::CloseBroadcastDialog() {
    // It closes once any box or picker it shows has ended.
    if (broadcastDialog_ && IsWindow(broadcastDialog_)) SendMessageA(broadcastDialog_, WM_CLOSE, 0, 0);
}
void CParleymanager::NotifyBroadcastContactOffline(const CContactInfo& contact) {
    if (broadcastDialog_ && IsWindow(broadcastDialog_))
        SendMessageA(broadcastDialog_, kBroadcastRemoveRecipient, 0, reinterpret_cast<LPARAM>(contact.signInName.c_str()));
}

} // namespace parleym
