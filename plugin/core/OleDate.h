#pragma once
// Dates as the stores keep them: OLE dates in local time, whole seconds.
#include <windows.h>

namespace parleym {

double CurrentOleDate();
// 0 for a time the file does not keep (zero) or that cannot be converted.
double OleDateOf(const FILETIME& utc);

} // namespace parleym
