#pragma once
// What the three exported hook procedures do; each returns the next hook's result
// and never lets anything escape.
#include <windows.h>

namespace parleym {

bool IsUserActivityMessage(UINT message);

LRESULT DispatchCallWndProc(int code, WPARAM wParam, LPARAM lParam);
LRESULT DispatchCallWndRetProc(int code, WPARAM wParam, LPARAM lParam);
LRESULT DispatchGetMsgProc(int code, WPARAM wParam, LPARAM lParam);

} // namespace parleym
