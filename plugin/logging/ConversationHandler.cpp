#include "plugin/logging/ConversationHandler.h"

namespace parleym {

ConversationHandler::~ConversationHandler() {
    try {
        RemoveLockOverlay();
    } catch (...) {
    }
}

} // namespace parleym
