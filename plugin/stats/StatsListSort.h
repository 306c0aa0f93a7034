#pragma once
// Sorting the statistics list by one column's text.
#include <windows.h>

namespace parleym {

// Sorts rows low..high (-1: the last row) by the text in `column`, compared
// without regard to case in the system's multibyte code page. Rows move
// whole: every column's text, image, state and item data.
void SortListByText(HWND list, int column, bool ascending, int low, int high);

} // namespace parleym
