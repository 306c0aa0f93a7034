#pragma once
// The handler of each tracked conversation window. A handler saves into the
// stores as it goes, so taking handlers out (and in which order) is decided here.
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "plugin/logging/ConversationHandler.h"

namespace parleym {

class CContactInfo;

class CConversationMap {
public:
    CConversationMap() = default;
    CConversationMap(const CConversationMap&) = delete;
    CConversationMap& operator=(const CConversationMap&) = delete;

    ConversationHandler* HandlerOf(HWND window) const;
    // The handler of the window a control belongs to.
    ConversationHandler* HandlerOfParent(HWND control) const;
    bool Tracks(HWND window) const { return handlers_.count(window) != 0; }
    size_t Size() const { return handlers_.size(); }
    bool Empty() const { return handlers_.empty(); }
    // The windows now: handlers run window messages, which may change the map.
    std::vector<HWND> Windows() const;
    // The first tracked window whose handler is for the contact; every one.
    HWND FirstOf(const CContactInfo& contact) const;
    std::vector<HWND> AllOf(const CContactInfo& contact) const;

    // Takes the window's handler out, still attached; null when it has none.
    std::unique_ptr<ConversationHandler> Untrack(HWND window);
    // The window's handler from now on; one it had goes without being detached.
    void Put(HWND window, std::unique_ptr<ConversationHandler> handler);

    // Every handler goes, in window order: each is out of the map before
    // `release` sees it, so events it runs while it goes do not find it.
    void ReleaseAll(const std::function<void(HWND, std::unique_ptr<ConversationHandler>)>& release);
    // Detaches every handler tracked now; the windows with their conversation numbers.
    std::vector<std::pair<HWND, int>> DetachAll();
    // Without detaching: for the destructor, where the windows may be gone.
    void Clear() { handlers_.clear(); }

private:
    std::map<HWND, std::unique_ptr<ConversationHandler>> handlers_;
};

} // namespace parleym
