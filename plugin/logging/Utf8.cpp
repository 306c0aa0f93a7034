#include "plugin/logging/Utf8.h"

namespace parleym {

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::uint32_t DecodeUtf8(const std::string& text, std::size_t at, std::size_t& length) {
    length = 1;
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return lead;
    std::size_t size = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return kNotUtf8;
    }
    if (text.size() - at < size) return kNotUtf8;
    for (std::size_t i = 1; i < size; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return kNotUtf8;
        code = code << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no characters.
    if (code < least || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return kNotUtf8;
    length = size;
    return code;
}

} // namespace parleym
