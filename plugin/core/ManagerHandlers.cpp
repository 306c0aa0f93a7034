// Which handler class serves each kind, and which profile each client.
#include "plugin/core/BasicHandlers.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/logging/LogHandler.h"
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
    return std::make_unique<BasicConversationHandler>(kForwardHandlerKind, CContactInfo(), TRUE);
}

std::unique_ptr<CClientProfile> CParleymanager::CreateProfile(int clientKind) {
    if (clientKind == CLIENT_KIND_MSN_MESSENGER) return std::make_unique<CMsnMessengerProfile>();
    return std::make_unique<CWindowsMessengerProfile>();
}

} // namespace parleym
