#include "plugin/core/ConversationMap.h"

namespace parleym {

ConversationHandler* CConversationMap::HandlerOf(HWND window) const {
    auto it = handlers_.find(window);
    return it == handlers_.end() ? nullptr : it->second.get();
}

ConversationHandler* CConversationMap::HandlerOfParent(HWND control) const {
    return control ? HandlerOf(GetParent(control)) : nullptr;
}

std::vector<HWND> CConversationMap::Windows() const {
    std::vector<HWND> windows;
    for (const auto& entry : handlers_) windows.push_back(entry.first);
    return windows;
}

HWND CConversationMap::FirstOf(const CContactInfo& contact) const {
    for (const auto& entry : handlers_)
        if (entry.second->IsForContact(contact)) return entry.first;
    return nullptr;
}

std::vector<HWND> CConversationMap::AllOf(const CContactInfo& contact) const {
    std::vector<HWND> windows;
    for (const auto& entry : handlers_)
        if (entry.second->IsForContact(contact)) windows.push_back(entry.first);
    return windows;
}

std::unique_ptr<ConversationHandler> CConversationMap::Untrack(HWND window) {
    auto it = handlers_.find(window);
    if (it == handlers_.end()) return nullptr;
    std::unique_ptr<ConversationHandler> handler = std::move(it->second);
    handlers_.erase(it);
    return handler;
}

void CConversationMap::Put(HWND window, std::unique_ptr<ConversationHandler> handler) {
    handlers_[window] = std::move(handler);
}

void CConversationMap::ReleaseAll(
    const std::function<void(HWND, std::unique_ptr<ConversationHandler>)>& release) {
    while (!handlers_.empty()) {
        auto it = handlers_.begin();
        HWND window = it->first;
        std::unique_ptr<ConversationHandler> handler = std::move(it->second);
        handlers_.erase(it);
        release(window, std::move(handler));
    }
}

std::vector<std::pair<HWND, int>> CConversationMap::DetachAll() {
    std::vector<std::pair<HWND, int>> released;
    for (HWND window : Windows()) {
        std::unique_ptr<ConversationHandler> handler = Untrack(window);
        if (!handler) continue;
        released.emplace_back(window, handler->GetConversationNumber());
        handler->Detach();
        handler.reset();
    }
    return released;
}

} // namespace parleym
