// Reads arbitrary bytes as a log's rich text: the text must come out as valid
// UTF-8 with every object's marker where its offset says, in order, whatever
// code page a text that names none is read in (the first byte chooses it);
// folded for Find, every folded byte must lead back into the text, in order.
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin/logging/LogSearch.h"
#include "plugin/logging/RichTextReader.h"

namespace {

bool ValidUtf8(const std::string& s) {
    std::size_t at = 0;
    while (at < s.size()) {
        const unsigned char lead = static_cast<unsigned char>(s[at]);
        std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                           : (lead & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0 || at + length > s.size()) return false;
        for (std::size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(s[at + i]) & 0xC0) != 0x80) return false;
        at += length;
    }
    return true;
}

} // namespace

constexpr int kPages[] = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string rtf(reinterpret_cast<const char*>(data), size);
    const int page = size > 0 ? kPages[data[0] % (sizeof(kPages) / sizeof(kPages[0]))] : 1252;
    const parleym::RichText read = parleym::ReadRichText(rtf, page);
    if (!ValidUtf8(read.text)) std::abort();
    if (std::memchr(read.text.data(), 0, read.text.size())) std::abort();
    if (read.characters < 0 || static_cast<std::size_t>(read.characters) > read.text.size()) std::abort();
    std::int32_t lastPosition = -1;
    for (const parleym::RichTextObject& object : read.objects) {
        if (object.position <= lastPosition || object.position >= read.characters) std::abort();
        if (read.text.compare(object.offset, 3, "\xEF\xBF\xBC") != 0) std::abort();
        if (parleym::Utf8OffsetOf(read.text, object.position) != object.offset) std::abort();
        lastPosition = object.position;
    }
    if (parleym::Utf8OffsetOf(read.text, read.characters) != read.text.size()) std::abort();

    parleym::FoldedText folded;
    parleym::FoldCase(read.text, folded, page == 1254 ? parleym::CaseRules::kTurkish : parleym::CaseRules::kDefault);
    if (!ValidUtf8(folded.text)) std::abort();
    if (folded.origins.empty()) {
        if (folded.text.size() != read.text.size()) std::abort();
    } else {
        if (folded.origins.size() != folded.text.size() + 1 || folded.origins.back() != read.text.size()) std::abort();
        for (std::size_t i = 1; i < folded.origins.size(); ++i)
            if (folded.origins[i] < folded.origins[i - 1]) std::abort();
    }
    return 0;
}
