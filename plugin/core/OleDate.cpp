#include "plugin/core/OleDate.h"

#include <oleauto.h>

namespace parleym {

namespace {
double OleDateOfLocal(SYSTEMTIME time) {
    time.wMilliseconds = 0;
    double date = 0;
    return SystemTimeToVariantTime(&time, &date) ? date : 0;
}
} // namespace

double CurrentOleDate() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return OleDateOfLocal(now);
}

double OleDateOf(const FILETIME& utc) {
    if (utc.dwLowDateTime == 0 && utc.dwHighDateTime == 0) return 0;
    FILETIME local;
    SYSTEMTIME time;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time)) return 0;
    return OleDateOfLocal(time);
}

} // namespace parleym
