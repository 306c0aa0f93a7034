#pragma once
// Conversions between the ANSI code page, UTF-16 and the transcript's quoted form.
#include <windows.h>
#include <string>

namespace standin {

std::wstring Widen(const std::string& text);
// Scenarios and transcripts are UTF-8; the stand-in, as the messengers, works in
// the system's ANSI code page (what the page lacks becomes "?").
std::string AnsiFromUtf8(const std::string& text);
std::string Utf8FromAnsi(const std::string& text);
std::string Narrow(const std::wstring& text);
std::string Narrow(const wchar_t* text);
// C-style quoting with \n, \t, \\ and \" so one observation stays on one line.
std::string Quote(const std::string& text);
std::string Hex32(unsigned long value);
std::string WindowText(HWND window);
std::string ClassNameOf(HWND window);
// Case-insensitive ASCII equality, as the window manager compares class names.
bool SameText(const std::string& a, const std::string& b);

}  // namespace standin
