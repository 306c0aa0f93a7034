#include "shared/SwallowedFailure.h"

#include <atomic>
#include <exception>

namespace parleym {

namespace {
// Hook callbacks run on any thread of the messenger.
std::atomic<SwallowedSink> g_sink{nullptr};
} // namespace

void SetSwallowedSink(SwallowedSink sink) { g_sink.store(sink); }

void ReportSwallowed(const char* where) noexcept {
    const SwallowedSink sink = g_sink.load();
    if (!sink) return;
    try {
        if (!std::current_exception()) {
            sink(where, "");
            return;
        }
        // Rethrowing the exception being handled is the one way to its text.
        try {
            throw;
        } catch (const std::exception& caught) {
            sink(where, caught.what());
        } catch (...) {
            sink(where, "");
        }
    } catch (...) {
    }
}

} // namespace parleym
