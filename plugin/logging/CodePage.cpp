#include "plugin/logging/CodePage.h"

#include <memory>
#include <utility>

#include "plugin/logging/Utf8.h"

namespace parleym {

namespace {

// Pages once asked for, read or not (null): the logs are read on one thread.
std::map<int, std::unique_ptr<CodePage>>& Loaded() {
    static std::map<int, std::unique_ptr<CodePage>> pages;
    return pages;
}

// The pages logs are written in, and Latin-1 which rich text may name: a text
// cannot make the reader load any other the system knows.
bool IsLogPage(int page) {
    return page == 874 || page == 932 || page == 936 || page == 949 || page == 950 || (page >= 1250 && page <= 1258) ||
           page == 28591;
}

} // namespace

CodePage::CodePage(int number, Data data) : number_(number), rows_(std::move(data.rows)) {
    for (int byte = 0; byte < 256; ++byte) {
        single_[byte] = data.single[byte];
        rowOf_[byte] = -1;
    }
    for (std::size_t row = 0; row < data.leads.size() && (row + 1) * 256 <= rows_.size(); ++row)
        rowOf_[data.leads[row]] = static_cast<std::int16_t>(row);
}

const CodePage* CodePage::Find(int page) {
    if (page == kSystemCodePage) page = SystemCodePage();
    if (page <= 0 || page == kUtf8CodePage || (!IsLogPage(page) && page != SystemCodePage())) return nullptr;
    auto& pages = Loaded();
    const auto known = pages.find(page);
    if (known != pages.end()) return known->second.get();
    Data data;
    std::unique_ptr<CodePage> loaded;
    if (LoadCodePage(page, data)) loaded.reset(new CodePage(page, std::move(data)));
    return pages.emplace(page, std::move(loaded)).first->second.get();
}

const CodePage& CodePage::FindOrDefault(int page) {
    if (const CodePage* found = Find(page)) return *found;
    if (const CodePage* system = Find(kSystemCodePage)) return *system;
    if (const CodePage* western = Find(1252)) return *western;
    // Without even that, bytes stand for the first 256 characters.
    static const CodePage latin1 = [] {
        Data data;
        for (int byte = 0; byte < 256; ++byte) data.single[byte] = static_cast<std::uint16_t>(byte);
        return CodePage(28591, std::move(data));
    }();
    return latin1;
}

bool CodePage::Encode(std::uint32_t code, std::string& out) const {
    if (code < 0x80 && single_[code] == code) {
        out += static_cast<char>(code);
        return true;
    }
    if (encoder_.empty()) {
        // The first bytes that read as a character are its bytes. Trail bytes
        // from 0x40 come first: below that no page here pairs, and the pairs
        // that read as the default character must not stand for it.
        for (int byte = 1; byte < 256; ++byte)
            if (rowOf_[byte] < 0) encoder_.emplace(single_[byte], static_cast<std::uint16_t>(byte));
        for (int lead = 0; lead < 256; ++lead) {
            if (rowOf_[lead] < 0) continue;
            for (int step = 0; step < 255; ++step) {
                const int trail = step < 0xC0 ? 0x40 + step : step - 0xC0 + 1;
                if (const std::uint16_t pair = Pair(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)))
                    encoder_.emplace(pair, static_cast<std::uint16_t>(lead << 8 | trail));
            }
        }
        encoder_.emplace(0, 0);  // never empty again
    }
    if (code == 0 || code > 0xFFFF) return false;
    const auto found = encoder_.find(static_cast<std::uint16_t>(code));
    if (found == encoder_.end()) return false;
    const std::uint16_t bytes = found->second;
    if (bytes > 0xFF) out += static_cast<char>(bytes >> 8);
    out += static_cast<char>(bytes & 0xFF);
    return true;
}

int CodePageOfCharset(int charset) {
    switch (charset) {
    case 0: return 1252;    // ANSI_CHARSET
    case 2: return 1252;    // SYMBOL_CHARSET: its bytes as they are
    case 128: return 932;   // SHIFTJIS_CHARSET
    case 129: return 949;   // HANGEUL_CHARSET
    case 134: return 936;   // GB2312_CHARSET
    case 136: return 950;   // CHINESEBIG5_CHARSET
    case 161: return 1253;  // GREEK_CHARSET
    case 162: return 1254;  // TURKISH_CHARSET
    case 163: return 1258;  // VIETNAMESE_CHARSET
    case 177: return 1255;  // HEBREW_CHARSET
    case 178: return 1256;  // ARABIC_CHARSET
    case 186: return 1257;  // BALTIC_CHARSET
    case 204: return 1251;  // RUSSIAN_CHARSET
    case 222: return 874;   // THAI_CHARSET
    case 238: return 1250;  // EASTEUROPE_CHARSET
    default: return 0;      // DEFAULT_CHARSET, and sets of pages not read here
    }
}

std::string Utf8FromCodePage(const std::string& bytes, int page) {
    const CodePage& codePage = CodePage::FindOrDefault(page);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(bytes[at]);
        if (byte == 0) continue;
        std::uint16_t code = codePage.Single(byte);
        if (codePage.IsLeadByte(byte) && at + 1 < bytes.size()) {
            if (const std::uint16_t pair = codePage.Pair(byte, static_cast<unsigned char>(bytes[at + 1]))) {
                code = pair;
                ++at;
            }
        }
        AppendUtf8(out, code);
    }
    return out;
}

} // namespace parleym
