#pragma once
// ANSI inside the plug-in, UTF-16 at COM boundaries.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "plugin/storage/Scoped.h"

namespace parleym {

std::wstring WideFromAnsi(const std::string& text);
std::string AnsiFromWide(const wchar_t* text, int length = -1);
// A new BSTR the caller owns (a BstrHolder, or a VARIANT that is cleared).
BSTR BstrFromAnsi(const std::string& text);
inline std::string AnsiFromBstr(BSTR text) { return text ? AnsiFromWide(text, static_cast<int>(SysStringLen(text))) : std::string(); }

} // namespace parleym
