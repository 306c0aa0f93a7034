#include "plugin/core/TextConvert.h"

namespace parleym {

std::wstring WideFromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string AnsiFromWide(const wchar_t* text, int length) {
    if (!text || length == 0) return std::string();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string ansi(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &ansi[0], bytes, nullptr, nullptr);
    if (length < 0 && !ansi.empty() && ansi.back() == '\0') ansi.pop_back();
    return ansi;
}

BSTR BstrFromAnsi(const std::string& text) {
    const std::wstring wide = WideFromAnsi(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

} // namespace parleym
