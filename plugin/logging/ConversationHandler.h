#pragma once
// One handler per tracked messenger conversation window. The manager keeps them
// in its window map and talks to every kind through these slots only; their
// order is fixed because other code relies on it.
#include <windows.h>

#include <memory>

#include "plugin/lock/LockOverlay.h"

namespace parleym {

class CParleymanager;
class CContactInfo;

enum ConversationHandlerKind {
    kLogHandlerKind = 0,
    kOfflineMessageHandlerKind = 1,
    kForwardHandlerKind = 2,
};

class ConversationHandler {
public:
    ConversationHandler() = default;
    ConversationHandler(const ConversationHandler&) = delete;
    ConversationHandler& operator=(const ConversationHandler&) = delete;

    // Slot 0. Takes the lock overlay off first, so a replaced or closed
    // handler never leaves its window disabled.
    virtual ~ConversationHandler();
    // Slot 1. conversationNumber -1 asks for a new number from the log store.
    virtual BOOL Attach(CParleymanager* manager, HWND conversationWindow, int conversationNumber) = 0;
    virtual void Detach() = 0;                                                   // 2
    virtual const char* GetTitle() = 0;                                          // 3: null = keep the messenger's title
    virtual void OnKeyDown(UINT virtualKey, HWND control) = 0;                   // 4
    virtual void OnButton(HWND control) = 0;                                     // 5
    virtual void OnSize() = 0;                                                   // 6
    virtual void OnCommand(HWND window, WPARAM command, LPARAM parameter) = 0;   // 7
    virtual BOOL OnContactStatus(const CContactInfo& contact) = 0;               // 8: non-zero = keep this handler
    virtual BOOL IsForContact(const CContactInfo& contact) = 0;                  // 9: by sign-in name
    virtual int GetKind() = 0;                                                   // 10
    virtual void OnHistoryChanged(HWND control) = 0;                             // 11
    virtual void OnEditChange(HWND control) = 0;                                 // 12
    // After the fixed slots: the number travels to a replacement handler.
    virtual int GetConversationNumber() const = 0;                               // 13
    // 14: the contact this handler is for (same sign-in name) has new data,
    // e.g. a new friendly name. Handlers that show or keep the name update it.
    virtual void UpdateContact(const CContactInfo&) {}

    // Expires when the handler is deleted. A call that can run the messenger's
    // events (a synchronous click, a box) may end the handler making it: its
    // caller holds this to know whether the handler is still there afterwards.
    std::weak_ptr<const void> Life() const { return life_; }

    // Lock overlay over this handler's conversation window.
    void ShowLockOverlay(HWND window) { lockOverlay_.Show(window); }
    void RemoveLockOverlay() { lockOverlay_.Remove(); }
    // The window moved, changed size, or was shown, hidden, minimised or restored.
    void FollowLockOverlay() { lockOverlay_.Follow(); }
    bool HasLockOverlay() const { return lockOverlay_.IsShown(); }
    const CLockOverlay& LockOverlay() const { return lockOverlay_; }

private:
    // The locked window, whether the lock disabled it, and the panel.
    CLockOverlay lockOverlay_;
    std::shared_ptr<const void> life_ = std::make_shared<char>(0);
};

} // namespace parleym
