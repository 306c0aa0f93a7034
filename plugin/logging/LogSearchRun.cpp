#include "plugin/logging/LogSearchRun.h"

#include <windows.h>

#include <string>

#include "plugin/logging/LogManager.h"
#include "plugin/storage/MessageContent.h"

namespace parleym {

double MonotonicMs() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart > 0 ? static_cast<double>(frequency.QuadPart) / 1000.0 : 1.0;
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

CLogSearchRun::CLogSearchRun(CLogManager& store, const std::string& queryUtf8)
    : store_(store), search_(queryUtf8, store.Index(), LogSearch::kDefaultMaxHits, CaseRulesOf(kSystemCodePage)) {}

bool CLogSearchRun::Step(double budgetMs) {
    const double until = MonotonicMs() + budgetMs;
    LogTextCache& cache = store_.TextCache();
    while (!search_.Done()) {
        const std::int32_t number = search_.Next().number;
        if (const std::string* text = cache.Find(number)) {
            ++fromCache_;
            search_.Feed(*text);
        } else {
            CMessageContent content;
            // Without an open account nothing can be read (S_FALSE): nothing to find.
            const HRESULT hr = store_.LoadConversation(std::to_string(number).c_str(), content);
            if (hr == S_OK) search_.Feed(cache.Put(number, ConversationPlainText(content.text, content.isRtf != 0)));
            else search_.Skip();
        }
        if (MonotonicMs() >= until) break;
    }
    return search_.Done();
}

} // namespace parleym
