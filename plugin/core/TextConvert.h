#pragma once
// ANSI inside the plug-in, UTF-16 at COM boundaries.
#include <windows.h>
#include <oleauto.h>

#include <string>

namespace parleym {

std::wstring WideFromAnsi(const std::string& text);
std::string AnsiFromWide(const wchar_t* text, int length = -1);
inline std::string AnsiFromBstr(BSTR text) { return text ? AnsiFromWide(text, static_cast<int>(SysStringLen(text))) : std::string(); }

// Owns a BSTR filled by an out-parameter.
class BstrHolder {
public:
    BstrHolder() = default;
    ~BstrHolder() { SysFreeString(value_); }
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;
    BSTR* Put() {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    std::string Ansi() const { return AnsiFromBstr(value_); }

private:
    BSTR value_ = nullptr;
};

} // namespace parleym
