#include "plugin/storage/StorageErrors.h"

#include <cstdarg>
#include <cstdio>

#include "plugin/core/UserMessage.h"

namespace parleym {

void ReportStorageError(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ShowError(text, "Error");
}

} // namespace parleym
