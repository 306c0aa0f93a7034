#pragma once
// The plug-in's single manager: what the hook library calls through IPlugin,
// and the owner of every store, window, handler and contact record.
#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "plugin/core/ClientProfile.h"
#include "plugin/core/ContactBook.h"
#include "plugin/core/ContactInfo.h"
#include "plugin/core/ConversationMap.h"
#include "plugin/core/DialogGate.h"
#include "plugin/core/DialogHost.h"
#include "plugin/core/MessengerApi.h"
#include "plugin/core/UserAccounts.h"
#include "plugin/lock/AutoLockTimer.h"
#include "plugin/logging/ConversationHandler.h"
#include "plugin/storage/Scoped.h"
#include "shared/IPlugin.h"

namespace parleym {

class CLogManager;
class CObjectCache;
class CStatsManager;
class COfflineMessageStore;
class CMessengerEvents;
class CFrameWnd;

// Hands a conversation window to the manager.
class IConversationSink {
public:
    virtual void OnConversationWindow(HWND window, BOOL insertMenu, int conversationNumber) = 0;

protected:
    ~IConversationSink() = default;
};

// What the contact selection is asked for.
enum class ContactSelectionMode { kOfflineMessage, kForward };

class CParleymanager : public IPlugin, public IConversationSink, public IDialogHost {
public:
    CParleymanager();
    ~CParleymanager() override;

    // ---- IPlugin, in slot order
    BOOL Init(int clientKind) override;
    void Uninit() override;
    BOOL IsMessengerWindow(HWND window, BOOL notifyShown) override;
    void OnWindowShown(HWND window) override;
    void OnWindowDestroyed(HWND window) override;
    void OnInitMenu(HWND window, HMENU menu) override;
    void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) override;
    const char* GetWindowTitle(HWND window) override;
    void OnButtonClicked(HWND control) override;
    void OnKeyDown(UINT virtualKey, HWND control) override;
    void OnWindowSized(HWND window) override;
    void OnHistoryChanged(HWND control) override;
    void OnEditChanged(HWND control) override;
    void OnUserActivity() override;

    // The process ends with the plug-in running: runs from the plug-in library's own
    // detach, which comes before the hook library's. Saves and closes the stores and
    // leaves windows, COM objects and the loader alone.
    void ShutdownAtProcessExit();
    // The manager GetInstance made, until it is deleted.
    static CParleymanager* ProcessInstance();
    static void SetProcessInstance(CParleymanager* manager);

    // ---- IConversationSink
    void OnConversationWindow(HWND window, BOOL insertMenu, int conversationNumber) override;

    // ---- Messenger session
    BOOL IsSignedIn();
    void RetrieveContacts();
    CContactInfo AddContact(IMessengerContact* contact);
    // The contact list as the messenger has it now, one record per sign-in name
    // (the events' list when the messenger cannot say).
    std::vector<CContactInfo> CurrentContacts();
    CContactInfo FindContact(IMessengerContact* contact);
    // The one contact the text names as a whole address (ContactMatch.h); the
    // empty record for nobody or for several people.
    CContactInfo FindContactByText(const std::string& text) const { return book_.FindByText(text); }
    HWND ConversationOf(const CContactInfo& contact);
    // Asks the messenger now; the contact list's record when the messenger cannot say.
    bool IsContactOnline(const std::string& signInName);
    // Every tracked window whose handler is for the contact.
    std::vector<HWND> ConversationsOf(const CContactInfo& contact);
    void OnContactChanged(const CContactInfo& contact);
    // Events of the messenger, as the event sink delivers them.
    void OnSignIn(long hr);
    void OnSignOut();
    void OnContactListAdd(long hr, IDispatch* contact);
    void OnContactStatusChange(IDispatch* contact, long status);

    // Runs `action` once the message handled now, and the messenger's own
    // handling of it, are done: after a key or click the plug-in saw first.
    void AfterCurrentMessage(std::function<void()> action);

    // Opens (or finds) the messenger's conversation window with the contact.
    HRESULT OpenConversation(const std::string& signInName, HWND& window);

    // ---- dialogs and the loader
    BOOL CanOpenDialog(bool requireSignIn);
    // Held by whoever got CanOpenDialog's yes, until its dialog is done.
    CDialogGate::Pass DialogPass() { return dialogs_.ClearWhenDone(); }
    void SetOpenDialog(HWND dialog) override { dialogs_.SetOpenDialog(dialog); }
    HWND OpenDialog() const override { return dialogs_.OpenDialog(); }
    int DialogBusy() const { return dialogs_.Busy(); }
    HWND HiddenWindow() const override { return hiddenWnd_; }
    HWND LockWindow() const { return lockWnd_; }
    HWND DispatchWindow() const { return dispWnd_; }
    HWND BroadcastWindow() const { return broadcastWnd_; }
    unsigned AccountSession() const override { return accountSession_; }
    // Looked up each time.
    LRESULT SendToLoader(UINT message, WPARAM wParam, LPARAM lParam) override;

    // ---- settings and passwords (users.dat)
    CUserAccounts& Accounts() { return accounts_; }
    bool LoadPasswordDigest() { return accounts_.LoadPasswordDigest(book_.Self().signInName); }
    bool IsPasswordSet() const { return accounts_.IsPasswordSet(); }
    bool VerifyPassword(const std::string& text) const { return accounts_.VerifyPassword(text); }
    bool ChangePassword(const std::string& current, const std::string& next) {
        return accounts_.ChangePassword(book_.Self().signInName, current, next);
    }
    std::string GetLogsPath() { return accounts_.GetLogsPath(book_.Self().signInName); }
    void SetLogsPath(const char* path) { accounts_.SetLogsPath(book_.Self().signInName, path); }

    // ---- what other parts of the plug-in read
    const CContactInfo& Self() const { return book_.Self(); }
    const CContactInfo& NoContact() const { return book_.NoContact(); }
    bool IsNoContact(const CContactInfo& contact) const { return book_.IsNoContact(contact); }
    const std::vector<CContactInfo>& Contacts() const { return book_.Contacts(); }
    const CContactInfo& SelectedContact() const { return selectedContact_; }
    IMessenger* Messenger() const { return messenger_.Get(); }
    CClientProfile* Profile() const { return profile_.get(); }
    const std::string& DataFolder() const { return dataFolder_; }
    int ClientIndex() const { return clientIndex_; }
    HWND MainWindow() const { return mainWnd_; }
    HMENU AutoLockMenu() const { return autoLockMenu_; }
    bool IsLocked() const { return locked_ != 0; }
    size_t TrackedWindowCount() const { return conversations_.Size(); }
    // Where the signed-in account's part of a conversation window's history
    // begins (a character position): after another account's sign-in, what the
    // window showed before belongs to the account before and is not logged again.
    LONG HistoryStartOf(HWND window) const;
    void SetHistoryStart(HWND window, LONG start);
    ConversationHandler* HandlerOf(HWND window) const { return conversations_.HandlerOf(window); }
    CLogManager& LogStore() { return *logManager_; }
    CObjectCache& ObjectCache() { return *objectCache_; }
    CStatsManager& Statistics() { return *statsStore_; }
    COfflineMessageStore& OfflineStore() { return *offlineStore_; }
    // The open log viewer; the viewer clears it when its window goes.
    void SetLogViewer(CFrameWnd* viewer) { logViewer_ = viewer; }
    CFrameWnd* LogViewer() const { return logViewer_; }
    void SetBroadcastDialog(HWND dialog) { broadcastDialog_ = dialog; }
    HWND BroadcastDialog() const { return broadcastDialog_; }

    // The auto-lock choice (30020-30024) and the idle counter, one per process.
    static UINT AutoLockChoice() { return CAutoLockTimer::Choice(); }
    static int IdleSeconds() { return CAutoLockTimer::IdleSeconds(); }
    void SetAutoLock(UINT id);
    // The one-second idle timer's procedure.
    static void CALLBACK AutoLockTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time) {
        CAutoLockTimer::TimerProc(window, message, id, time);
    }
    // The dispatch window's timer that writes the statistics while signed in,
    // every kStatsSavePeriodMs; `window` is the dispatch window.
    static void CALLBACK StatsSaveTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
    static constexpr UINT_PTR kStatsSaveTimerId = 1;
    static constexpr UINT kStatsSavePeriodMs = 5 * 60 * 1000;
    // Posted to the dispatch window: lock now, as the loader remembers a lock.
    static constexpr UINT kLockPendingMessage = WM_APP + 28;

    // ---- the lock
    // Panels on (or off) every tracked conversation window and the main window.
    void SetLocked(bool on);
    // The main window's panel, with the steps of the handlers' own.
    void ShowLockOverlay(HWND window);
    void RemoveLockOverlay();
    const CLockOverlay& MainLockOverlay() const { return mainLockOverlay_; }
    bool IsLockDialogShowing() const { return lockDialogShowing_; }
    // The unlock dialog while it exists, so that refused commands can bring it forward.
    void SetLockDialog(HWND dialog) { lockDialog_ = dialog; }
    HWND LockDialog() const { return lockDialog_; }
    // A dialog that shows nothing of the user's (About) and stays usable while locked.
    void SetLockExemptDialog(HWND dialog) { lockExemptDialog_ = dialog; }
    // What a locked messenger leaves usable: the unlock dialog, the panels, the About box.
    bool IsUsableWhileLocked(HWND window) const;
    // A window of the messenger moved, changed size, or was shown or hidden while locked.
    void OnLockedWindowChanged(HWND window);
    // The panel over a window that is neither the main window nor a conversation.
    const CLockOverlay* OtherLockOverlay(HWND window) const;
    // The loader remembers a lock that outlived the messenger: the next sign-in locks.
    bool IsLockPending() const { return lockPending_; }

    // Where users.dat and the other data files live; by default the folder of
    // the hook library. Set before Init to use another folder.
    void SetDataFolder(const std::string& folder) { dataFolderOverride_ = folder; }

protected:
    // Handlers of each kind; the feature that owns a kind supplies it.
    virtual std::unique_ptr<ConversationHandler> CreateLogHandler(const CContactInfo& contact);
    virtual std::unique_ptr<ConversationHandler> CreateOfflineMessageHandler(const CContactInfo& contact);
    virtual std::unique_ptr<ConversationHandler> CreateForwardHandler();
    virtual std::unique_ptr<CClientProfile> CreateProfile(int clientKind);
    // Forwarding of a window's conversation: the attached forward handler takes
    // the chosen target (false when its window cannot be opened), and once it
    // serves the window it shows so in title and menu.
    virtual bool StartForwarding(ConversationHandler& forward, const CContactInfo& target);
    virtual void ShowForwarding(ConversationHandler& forward);

    // The contact picker for one contact (never `excluded`); false when cancelled
    // or nobody was chosen.
    virtual bool RunContactSelection(ContactSelectionMode mode, CContactInfo& chosen, const std::string& excluded);
    // Dialogs and actions that belong to other features. Each returns or acts
    // only once its feature exists; until then they do nothing.
    virtual void RunStatisticsDialog();
    virtual void RunSetPasswordDialog();
    virtual bool RunViewLogsPasswordDialog();
    virtual void OpenLogViewer();
    virtual void OpenBroadcastDialog();
    virtual void LockMessenger(bool fromTimer);
    virtual void RunAboutDialog();
    // The save-file dialog of "Set logs path..."; false when cancelled.
    virtual bool AskLogsPath(std::string& path);
    virtual void RefreshLogViewer();
    // Whether offline messages wait for the contact.
    virtual bool HasPendingMessages(const std::string& signInName);
    virtual void NotifyBroadcastContactOffline(const CContactInfo& contact);
    virtual void CloseBroadcastDialog();

private:
    friend class CMessengerEvents;
    struct InitAborted {};

    // start-up pieces
    void OpenStores();
    void CreateHiddenWindows();
    void DestroyHiddenWindows();
    void CreateMessengerObject(int clientIndex);
    void ConnectEvents();
    void DisconnectEvents();
    void OpenLogs();
    void ReadSelf();
    void TrackExistingConversations();

    // contact session
    // What every status change does before the windows: broadcast, statistics,
    // viewer, pending offline messages. False when it had to stop.
    bool NoteContactChange(const CContactInfo& contact);
    // Sign-out: every logging handler saves now, into the account still open.
    void SaveLoggingHandlers();
    // Characters in the window's history control now.
    LONG HistoryLengthOf(HWND window);
    // Keeps or replaces the handler of one window with this contact.
    void DecideHandler(HWND window, const CContactInfo& contact);

    // menus and commands
    void InsertMainPopup();
    void InsertConversationPopup(HWND window);
    void DispatchCommand(HWND window, UINT id, LPARAM lParam);
    void SendOfflineToSelected();
    void ForwardConversation(HWND window);
    void ToggleLogging();
    void ViewLogs();
    void DestroyLogViewer();
    // Sign-out or another account's sign-in: what shows or acts on the account
    // before (the log viewer, the dialog opened for it) goes.
    void EndAccountWindows();
    void ChooseLogsPath();
    // Refuses (with a message) a file that must not become the logs file.
    bool AcceptLogsPath(const std::string& path);

    // History changes already queued when the first of them is handled make
    // one save per control: the save runs once the queue has passed them.
    void QueueHistoryChange(HWND control);
    void SaveQueuedHistories();
    void RunAfterwards();

    // conversation map
    std::unique_ptr<ConversationHandler> Untrack(HWND window) { return conversations_.Untrack(window); }
    ConversationHandler* HandlerOfParent(HWND control) const { return conversations_.HandlerOfParent(control); }
    void AttachNew(HWND window, std::unique_ptr<ConversationHandler> handler, int number);

    struct WindowCollector;
    static BOOL CALLBACK CollectConversationWindow(HWND window, LPARAM lParam);
    static LRESULT CALLBACK DispatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // lock
    bool RefusedWhileLocked(UINT id) const;
    void BringLockDialogForward();
    bool ShouldCoverOther(HWND window) const;
    void CoverOther(HWND window);
    struct OtherWindows;
    static BOOL CALLBACK CollectOtherWindow(HWND window, LPARAM lParam);
    // Locks (from the message loop) when a lock is pending and can begin now.
    void LockIfPending();

    CUserAccounts accounts_;
    CDialogGate dialogs_;
    unsigned accountSession_ = 0;
    HWND hiddenWnd_ = nullptr;
    bool lockDialogShowing_ = false;
    CAutoLockTimer autoLock_;
    HMENU autoLockMenu_ = nullptr;
    std::string dataFolder_;
    std::string dataFolderOverride_;
    int clientIndex_ = 0;
    ComPtr<IMessenger> messenger_;
    CMessengerEvents* events_ = nullptr;
    DWORD eventsCookie_ = 0;
    std::unique_ptr<CClientProfile> profile_;
    HWND mainWnd_ = nullptr;
    // The main window's was-enabled flag and panel.
    CLockOverlay mainLockOverlay_;
    HWND lockWnd_ = nullptr;
    HWND dispWnd_ = nullptr;
    HWND broadcastWnd_ = nullptr;
    CConversationMap conversations_;
    std::set<HWND> queuedHistories_;  // changed since the queued save was posted
    std::deque<std::function<void()>> afterwards_;
    std::map<HWND, LONG> historyStarts_;
    CContactBook book_;
    CContactInfo selectedContact_;
    std::unique_ptr<CObjectCache> objectCache_;
    std::unique_ptr<CStatsManager> statsStore_;
    std::unique_ptr<COfflineMessageStore> offlineStore_;
    std::unique_ptr<CLogManager> logManager_;
    CFrameWnd* logViewer_ = nullptr;
    HMODULE richEditModule_ = nullptr;
    HWND broadcastDialog_ = nullptr;
    int locked_ = 0;
    HWND lockDialog_ = nullptr;
    HWND lockExemptDialog_ = nullptr;
    std::map<HWND, std::unique_ptr<CLockOverlay>> otherLockOverlays_;
    bool lockPending_ = false;
    // "You must set a password first" for an auto-lock request: on screen now,
    // and shown since the user was last active.
    bool noPasswordBoxShowing_ = false;
    bool noPasswordBoxShownWhileIdle_ = false;
    HWND loaderWnd_ = nullptr;
    bool comInitialized_ = false;
};

} // namespace parleym
