#pragma once
// Entry points that Windows, COM or the messenger call catch everything, since
// nothing may unwind into the caller. They say here what they let go, so tests
// see a failure that the user would never notice.

namespace parleym {

// where: the entry point's fixed name; what: the exception's text, "" when it
// was no std::exception.
using SwallowedSink = void (*)(const char* where, const char* what);

// Only tests install one: without a sink a report does nothing at all.
void SetSwallowedSink(SwallowedSink sink);

// Call inside the catch handler, which this leaves unchanged.
void ReportSwallowed(const char* where) noexcept;

} // namespace parleym
