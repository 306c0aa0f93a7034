#pragma once
// Sorting a report-view list by one column's text, ignoring letter case, by
// exchanging whole rows (texts, image, item data and state).
#include <windows.h>

namespace parleym {

// Sorts rows first..last (last -1: the list's last row). A column the header
// does not have leaves the list as it is.
void SortListViewRows(HWND list, int column, bool ascending, int first = 0, int last = -1);

} // namespace parleym
