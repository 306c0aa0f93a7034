#pragma once
// Storage failures are shown to the user as task-modal error boxes captioned
// "Error"; the text is formatted printf-style by the caller's own message.
#include <objbase.h>

namespace parleym {

void ReportStorageError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// HRESULTs are printed as eight upper-case hex digits.
inline unsigned HexCode(HRESULT hr) { return static_cast<unsigned>(hr); }

} // namespace parleym
