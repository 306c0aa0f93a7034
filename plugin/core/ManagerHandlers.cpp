// Which handler class serves each kind, and which profile each client.
#include "plugin/core/Parleymanager.h"
#include "plugin/logging/LogHandler.h"
#include "plugin/messaging/ForwardHandler.h"
#include "plugin/offline/OfflineMessageHandler.h"
#include "shared/Protocol.h"

namespace parleym {

std::unique_ptr<ConversationHandler> CParleymanager::CreateLogHandler(const CContactInfo& contact) {
    return std::make_unique<LogHandler>(contact);
}

std::unique_ptr<ConversationHandler> CParleymanager::CreateOfflineMessageHandler(const CContactInfo& contact) {
    return std::make_unique<OfflineMessageHandler>(contact);
}

std::unique_ptr<ConversationHandler> CParleymanager::CreateForwardHandler() {
    return std::make_unique<ForwardHandler>();
}

bool CParleymanager::StartForwarding(ConversationHandler& forward, const CContactInfo& target) {
    ForwardHandler* handler = dynamic_cast<ForwardHandler*>(&forward);
    return handler && handler->StartForward(target);
}

void CParleymanager::ShowForwarding(ConversationHandler& forward) {
    if (ForwardHandler* handler = dynamic_cast<ForwardHandler*>(&forward)) handler->ShowForwarding();
}

std::unique_ptr<CClientProfile> CParleymanager::CreateProfile(int clientKind) {
    if (clientKind == CLIENT_KIND_MSN_MESSENGER) return std::make_unique<CMsnMessengerProfile>();
    return std::make_unique<CWindowsMessengerProfile>();
}

} // namespace parleym
