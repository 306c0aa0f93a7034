#include "plugin/core/Parleymanager.h"

#include "framework/Window.h"
#include "plugin/core/MessengerEvents.h"
#include "plugin/core/PluginMenus.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/stats/StatsManager.h"
#include "shared/Protocol.h"
#include "shared/SwallowedFailure.h"

namespace parleym {
namespace {

CParleymanager* g_processInstance = nullptr;

// Long enough for a loader that is merely busy; a hung one must not hold the messenger.
constexpr UINT kLoaderTimeoutMs = 1000;
// Posted to the dispatch window: save the histories changed since it was posted.
constexpr UINT kSaveQueuedHistories = WM_APP + 27;
// Posted to the dispatch window: run what waits for the messenger's own handling.
constexpr UINT kRunAfterwards = WM_APP + 30;

HINSTANCE PluginModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&PluginModule), &module);
    return module;
}

std::string FolderOfHookLibrary() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA(kHookLibraryName), path, MAX_PATH);
    std::string folder(path);
    const size_t slash = folder.find_last_of('\\');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

StatsIdentity IdentityOf(const CContactInfo& contact) {
    StatsIdentity identity;
    identity.signInName = contact.signInName;
    identity.friendlyName = contact.friendlyName;
    identity.status = contact.status;
    return identity;
}

} // namespace

CParleymanager::CParleymanager()
    : dialogs_([this](UINT message, WPARAM wParam, LPARAM lParam) { SendToLoader(message, wParam, lParam); }) {
    events_ = new CMessengerEvents();
    objectCache_ = std::make_unique<CObjectCache>(this);
    statsStore_ = std::make_unique<CStatsManager>([this] { return IdentityOf(book_.Self()); });
    offlineStore_ = std::make_unique<COfflineMessageStore>();
    logManager_ = std::make_unique<CLogManager>(this);
}

CParleymanager::~CParleymanager() {
    if (g_processInstance == this) g_processInstance = nullptr;
    try {
        if (events_) {
            events_->SetManager(nullptr);
            events_->Release();
            events_ = nullptr;
        }
        // Handlers save into the stores as they go, so they go first.
        conversations_.Clear();
        profile_.reset();
        objectCache_.reset();
        statsStore_.reset();
        offlineStore_.reset();
        logManager_.reset();
        messenger_.Reset();
    } catch (...) {
        ReportSwallowed("plug-in destructor");
    }
}

// ---------------------------------------------------------------- start-up

BOOL CParleymanager::Init(int clientKind) {
    try {
        loaderWnd_ = FindWindowA(kLoaderClassName, kLoaderWindowTitle);
        locked_ = 0;
        dialogs_.ForgetOpenDialog();
        comInitialized_ = SUCCEEDED(CoInitialize(nullptr));

        profile_.reset();
        clientIndex_ = 0;
        if (clientKind != CLIENT_KIND_WINDOWS_MESSENGER && clientKind != CLIENT_KIND_MSN_MESSENGER) return FALSE;
        if (clientKind == CLIENT_KIND_MSN_MESSENGER) clientIndex_ = 1;
        profile_ = CreateProfile(clientKind);

        richEditModule_ = LoadLibraryA("RichEd20.dll");
        dataFolder_ = dataFolderOverride_.empty() ? FolderOfHookLibrary() : dataFolderOverride_;
        accounts_.SetDataFolder(dataFolder_);
        if (!accounts_.ReadUserSettings()) throw InitAborted{};
        OpenStores();
        CreateHiddenWindows();
        lockPending_ = SendToLoader(LDR_SET_PLUGIN_WINDOW, 0, reinterpret_cast<LPARAM>(dispWnd_)) ==
                       kLoaderLockOutlivedPlugin;
        autoLock_.Start();
        // A crash then loses at most these minutes of statistics.
        if (dispWnd_) SetTimer(dispWnd_, kStatsSaveTimerId, kStatsSavePeriodMs, &CParleymanager::StatsSaveTimerProc);
        CreateMessengerObject(clientIndex_);
        mainWnd_ = profile_->FindMainWindow();
        if (mainWnd_) {
            InsertMainPopup();
            TrackExistingConversations();
        }
        LockIfPending();
        return TRUE;
    } catch (const InitAborted&) {
        // The whole system stops: the loader removes its hooks and exits.
        if (loaderWnd_ && IsWindow(loaderWnd_)) PostMessageA(loaderWnd_, WM_CLOSE, 0, 0);
        return FALSE;
    } catch (...) {
        ReportSwallowed("plug-in Init");
        ShowError("Failed to initialize Parleym", "Error");
        return FALSE;
    }
}

void CParleymanager::OpenStores() {
    if (!offlineStore_->Open((dataFolder_ + "offlinemsg.dat").c_str()))
        ShowError("Failed to load offline messages", "Parleym");
    objectCache_->Open((dataFolder_ + kObjectCacheFileName).c_str());
    if (!objectCache_->IsOpen()) {
        ShowError("Failed to initalize object cache", "Parleym");
        throw InitAborted{};
    }
    if (!statsStore_->OpenStatsFile((dataFolder_ + "stats.dat").c_str()))
        ShowError("Failed to initialize statistics", "Parleym");
}

void CParleymanager::CreateHiddenWindows() {
    HINSTANCE module = PluginModule();
    struct HiddenWindow {
        const char* name;
        WNDPROC proc;
        HWND* handle;
    } windows[] = {
        {kPluginHiddenWndClass, DefWindowProcA, &hiddenWnd_},
        {kPluginLockWndClass, DefWindowProcA, &lockWnd_},
        {kPluginBroadcastWndClass, DefWindowProcA, &broadcastWnd_},
        {kPluginDispatchWndClass, &CParleymanager::DispatchWindowProc, &dispWnd_},
    };
    for (const HiddenWindow& window : windows) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = window.proc;
        wc.hInstance = module;
        wc.lpszClassName = window.name;
        RegisterClassA(&wc);
        *window.handle = CreateWindowExA(0, window.name, window.name, 0, 0, 0, 0, 0, nullptr, nullptr, module,
                                         window.proc == DefWindowProcA ? nullptr : this);
    }
}

struct CParleymanager::WindowCollector {
    CParleymanager* manager;
    std::vector<HWND> windows;
};

BOOL CALLBACK CParleymanager::CollectConversationWindow(HWND window, LPARAM lParam) {
    try {
        auto* collector = reinterpret_cast<WindowCollector*>(lParam);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() &&
            collector->manager->profile_->ClassifyWindow(window) == kConversationWindow)
            collector->windows.push_back(window);
        return TRUE;
    } catch (...) {
        ReportSwallowed("conversation window enumeration");
        return FALSE;
    }
}

void CParleymanager::TrackExistingConversations() {
    DeferredMessages errorsAfterward;
    WindowCollector collector{this, {}};
    EnumWindows(&CParleymanager::CollectConversationWindow, reinterpret_cast<LPARAM>(&collector));
    for (HWND window : collector.windows) OnConversationWindow(window, TRUE, -1);
}

// ---------------------------------------------------------------- shut-down

void CParleymanager::Uninit() {
    // Each step runs even when an earlier one failed: the files must be closed.
    auto step = [](auto&& action) {
        try {
            action();
        } catch (...) {
            ReportSwallowed("plug-in Uninit step");
        }
    };
    step([&] { SendToLoader(LDR_SET_PLUGIN_WINDOW, 0, 0); });
    step([&] {
        autoLock_.Stop();
        if (dispWnd_) KillTimer(dispWnd_, kStatsSaveTimerId);
    });
    step([&] { DestroyLogViewer(); });
    step([&] {
        if (mainWnd_) RemoveParleymPopup(mainWnd_, false);
        mainWnd_ = nullptr;
        autoLockMenu_ = nullptr;
    });
    step([&] {
        if (broadcastDialog_ && IsWindow(broadcastDialog_)) DestroyWindow(broadcastDialog_);
        broadcastDialog_ = nullptr;
    });
    // What waited for the messenger lets go now, while the object cache is open.
    step([&] { afterwards_.clear(); });
    // Each handler makes its last save as it goes.
    queuedHistories_.clear();
    conversations_.ReleaseAll([&](HWND window, std::unique_ptr<ConversationHandler> handler) {
        step([&] {
            handler->Detach();
            RemoveParleymPopup(window, true);
        });
        step([&] { handler.reset(); });
    });
    step([&] { DisconnectEvents(); });
    step([&] { offlineStore_->Close(); });
    step([&] { objectCache_->Close(); });
    step([&] { statsStore_->Shutdown(); });
    step([&] { logManager_->Close(); });
    step([&] { DestroyHiddenWindows(); });
    step([&] {
        if (richEditModule_) FreeLibrary(richEditModule_);
        richEditModule_ = nullptr;
    });
    step([&] {
        if (!comInitialized_) return;
        // The Messenger object belongs to this apartment: let go before it closes.
        messenger_.Reset();
        comInitialized_ = false;
        CoUninitialize();
    });
}

void CParleymanager::ShutdownAtProcessExit() {
    auto step = [](auto&& action) {
        try {
            action();
        } catch (...) {
            ReportSwallowed("shutdown at process exit step");
        }
    };
    // Each handler saves its conversation as it goes.
    conversations_.ReleaseAll([&](HWND, std::unique_ptr<ConversationHandler> handler) {
        step([&] { handler->Detach(); });
        step([&] { handler.reset(); });
    });
    step([&] { offlineStore_->Close(); });
    step([&] { objectCache_->Close(); });
    step([&] { statsStore_->Shutdown(); });
    step([&] { logManager_->Close(); });
    // Without waiting for an answer: the loader may be hung.
    step([&] {
        HWND loader = FindWindowA(kLoaderClassName, kLoaderWindowTitle);
        if (loader) PostMessageA(loader, LDR_SET_PLUGIN_WINDOW, 0, 0);
    });
    // The Messenger object may live in another apartment or process, which cannot be
    // called while this one ends: its references go with the process. Without it no
    // command runs any more.
    messenger_.Detach();
    if (events_) events_->SetManager(nullptr);
    events_ = nullptr;
    autoLock_.Abandon();
}

CParleymanager* CParleymanager::ProcessInstance() { return g_processInstance; }
void CParleymanager::SetProcessInstance(CParleymanager* manager) { g_processInstance = manager; }

void CParleymanager::DestroyHiddenWindows() {
    HWND* windows[] = {&hiddenWnd_, &lockWnd_, &dispWnd_, &broadcastWnd_};
    for (HWND* window : windows) {
        if (*window && IsWindow(*window)) DestroyWindow(*window);
        *window = nullptr;
    }
    HINSTANCE module = PluginModule();
    const char* classes[] = {kPluginHiddenWndClass, kPluginLockWndClass, kPluginDispatchWndClass,
                             kPluginBroadcastWndClass};
    for (const char* name : classes) UnregisterClassA(name, module);
}

// ---------------------------------------------------------------- loader, timer, dispatch window

LRESULT CParleymanager::SendToLoader(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND loader = FindWindowA(kLoaderClassName, kLoaderWindowTitle);
    DWORD_PTR result = 0;
    if (!loader ||
        !SendMessageTimeoutA(loader, message, wParam, lParam, SMTO_ABORTIFHUNG, kLoaderTimeoutMs, &result))
        return 0;
    return static_cast<LRESULT>(result);
}

LRESULT CALLBACK CParleymanager::DispatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_CREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            return 0;
        }
        auto* manager = reinterpret_cast<CParleymanager*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == PLG_GET_AUTOLOCK) return static_cast<LRESULT>(CAutoLockTimer::Choice());
        if (message == PLG_GET_LOGGING) return manager ? manager->logManager_->IsLoggingEnabled() : 0;
        if (message == kSaveQueuedHistories) {
            if (manager) manager->SaveQueuedHistories();
            return 0;
        }
        if (message == kRunAfterwards) {
            if (manager) manager->RunAfterwards();
            return 0;
        }
        if (message == kLockPendingMessage) {
            if (manager && manager->lockPending_ && manager->IsPasswordSet()) manager->LockMessenger(true);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    } catch (...) {
        ReportSwallowed("dispatch window procedure");
        return 0;
    }
}

void CALLBACK CParleymanager::StatsSaveTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
    try {
        auto* manager = reinterpret_cast<CParleymanager*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (manager && manager->statsStore_) manager->statsStore_->Checkpoint();
    } catch (...) {
        ReportSwallowed("statistics save timer");
    }
}

void CParleymanager::SetAutoLock(UINT id) {
    if (!CanOpenDialog(true)) return;
    const CDialogGate::Pass pass = DialogPass();
    if (id != CAutoLockTimer::Choice()) {
        if (!IsPasswordSet() && id != CMD_AUTOLOCK_DISABLED) {
            ShowError("You must set a password first", "Error");
        } else {
            if (autoLockMenu_) {
                CheckMenuItem(autoLockMenu_, CAutoLockTimer::Choice(), MF_BYCOMMAND | MF_UNCHECKED);
                CheckMenuItem(autoLockMenu_, id, MF_BYCOMMAND | MF_CHECKED);
            }
            CAutoLockTimer::Choose(id);
        }
    }
}

// ---------------------------------------------------------------- window events

BOOL CParleymanager::IsMessengerWindow(HWND window, BOOL notifyShown) {
    try {
        if (notifyShown) OnWindowShown(window);
        if (window && window == mainWnd_) return TRUE;
        if (conversations_.Tracks(window)) return TRUE;
        return profile_ && profile_->ClassifyWindow(window) != kOtherWindow;
    } catch (...) {
        ReportSwallowed("plug-in IsMessengerWindow");
        return FALSE;
    }
}

void CParleymanager::OnWindowShown(HWND window) {
    try {
        if (!profile_) return;
        switch (profile_->ClassifyWindow(window)) {
        case kMainWindow:
            mainWnd_ = window;
            InsertMainPopup();
            break;
        case kConversationWindow:
            InsertConversationPopup(window);
            PostMessageA(window, WM_COMMAND, CMD_TRACK_WINDOW, reinterpret_cast<LPARAM>(window));
            break;
        default:
            break;
        }
    } catch (...) {
        ReportSwallowed("plug-in OnWindowShown");
    }
}

void CParleymanager::OnWindowDestroyed(HWND window) {
    try {
        DeferredMessages errorsAfterward;
        if (window && window == mainWnd_) {
            RemoveLockOverlay();
            RemoveParleymPopup(mainWnd_, false);
            mainWnd_ = nullptr;
            autoLockMenu_ = nullptr;
            return;
        }
        historyStarts_.erase(window);
        std::unique_ptr<ConversationHandler> handler = Untrack(window);
        if (!handler) return;
        handler->Detach();
        RemoveParleymPopup(window, true);
    } catch (...) {
        ReportSwallowed("plug-in OnWindowDestroyed");
    }
}

const char* CParleymanager::GetWindowTitle(HWND window) {
    try {
        ConversationHandler* handler = HandlerOf(window);
        return handler ? handler->GetTitle() : nullptr;
    } catch (...) {
        ReportSwallowed("plug-in GetWindowTitle");
        return nullptr;
    }
}

void CParleymanager::OnButtonClicked(HWND control) {
    try {
        DeferredMessages errorsAfterward;
        if (ConversationHandler* handler = HandlerOfParent(control)) handler->OnButton(control);
    } catch (...) {
        ReportSwallowed("plug-in OnButtonClicked");
    }
}

void CParleymanager::OnKeyDown(UINT virtualKey, HWND control) {
    try {
        DeferredMessages errorsAfterward;
        if (virtualKey != VK_RETURN) return;
        if (ConversationHandler* handler = HandlerOfParent(control)) handler->OnKeyDown(VK_RETURN, control);
    } catch (...) {
        ReportSwallowed("plug-in OnKeyDown");
    }
}

void CParleymanager::OnWindowSized(HWND window) {
    try {
        DeferredMessages errorsAfterward;
        if (ConversationHandler* handler = HandlerOf(window)) handler->OnSize();
    } catch (...) {
        ReportSwallowed("plug-in OnWindowSized");
    }
}

void CParleymanager::OnHistoryChanged(HWND control) {
    try {
        DeferredMessages errorsAfterward;
        if (ConversationHandler* handler = HandlerOfParent(control)) handler->OnHistoryChanged(control);
    } catch (...) {
        ReportSwallowed("plug-in OnHistoryChanged");
    }
}

void CParleymanager::QueueHistoryChange(HWND control) {
    if (!control) return;
    // Every insertion into a history posts a change, several per message; the
    // save posted behind the first one comes after those already queued and
    // captures them all. Without the window to carry it, the save is made now.
    if (queuedHistories_.empty() && (!dispWnd_ || !PostMessageA(dispWnd_, kSaveQueuedHistories, 0, 0))) {
        OnHistoryChanged(control);
        return;
    }
    queuedHistories_.insert(control);
}

void CParleymanager::AfterCurrentMessage(std::function<void()> action) {
    if (!action) return;
    afterwards_.push_back(std::move(action));
    if (afterwards_.size() == 1 && (!dispWnd_ || !PostMessageA(dispWnd_, kRunAfterwards, 0, 0))) RunAfterwards();
}

void CParleymanager::RunAfterwards() {
    // Actions queued while these run wait for a message of their own.
    std::deque<std::function<void()>> due;
    due.swap(afterwards_);
    for (auto& action : due) {
        try {
            action();
        } catch (...) {
            ReportSwallowed("run-afterwards action");
        }
    }
}

void CParleymanager::SaveQueuedHistories() {
    // Changes arriving during these saves queue a save of their own.
    std::set<HWND> controls;
    controls.swap(queuedHistories_);
    for (HWND control : controls) OnHistoryChanged(control);
}

void CParleymanager::OnEditChanged(HWND control) {
    try {
        DeferredMessages errorsAfterward;
        if (ConversationHandler* handler = HandlerOfParent(control)) handler->OnEditChange(control);
    } catch (...) {
        ReportSwallowed("plug-in OnEditChanged");
    }
}

void CParleymanager::OnUserActivity() {
    CAutoLockTimer::OnActivity();
    noPasswordBoxShownWhileIdle_ = false;
}

// ---------------------------------------------------------------- conversation map

void CParleymanager::AttachNew(HWND window, std::unique_ptr<ConversationHandler> handler, int number) {
    if (!handler) return;
    ConversationHandler* raw = handler.get();
    conversations_.Put(window, std::move(handler));
    raw->Attach(this, window, number);
    if (locked_) raw->ShowLockOverlay(window);
}

} // namespace parleym
