#include "plugin/logging/RichTextReader.h"

#include <cstring>
#include <limits>
#include <map>

namespace parleym {

namespace {

// Deeper groups than this share their parent's state: a hostile text cannot
// make the state stack grow without bound.
constexpr std::size_t kMaxDepth = 256;
constexpr std::uint32_t kObjectCharacter = 0xFFFC;
constexpr std::uint32_t kReplacement = 0xFFFD;

enum class Destination : unsigned char { kText, kSkipped, kFontTable };

struct GroupState {
    Destination destination = Destination::kText;
    int unicodeSkip = 1;  // \ucN: fallback bytes after each \uN
    int font = -1;        // \fN; -1: the document's default font
};

struct Font {
    int charset = -1;  // \fcharsetN
    int codePage = 0;  // \cpgN
};

// Destinations whose contents are never text the user reads.
bool IsSkippedDestination(const char* word) {
    static const char* const kSkipped[] = {
        "colortbl", "stylesheet", "info", "header", "headerl", "headerr", "headerf",
        "footer", "footerl", "footerr", "footerf", "footnote", "listtable", "listoverridetable",
        "revtbl", "rsidtbl", "generator", "xmlnstbl", "themedata", "colorschememapping",
        "datastore", "latentstyles", "pntext", "pntxta", "pntxtb", "pn", "fldinst",
        "nonshppict", "bkmkstart", "bkmkend", "filetbl", "mmathPr", "title", "author",
        "operator", "keywords", "comment", "doccomm", "subject", "company", "category"};
    for (const char* name : kSkipped)
        if (std::strcmp(word, name) == 0) return true;
    return false;
}

struct Symbol {
    const char* word;
    std::uint32_t code;
};

// Control words that stand for one character.
constexpr Symbol kSymbols[] = {
    {"tab", '\t'},         {"par", '\n'},        {"line", '\n'},       {"sect", '\n'},
    {"page", '\n'},        {"row", '\n'},        {"cell", '\t'},       {"emdash", 0x2014},
    {"endash", 0x2013},    {"emspace", 0x2003},  {"enspace", 0x2002},  {"qmspace", 0x2005},
    {"bullet", 0x2022},    {"lquote", 0x2018},   {"rquote", 0x2019},   {"ldblquote", 0x201C},
    {"rdblquote", 0x201D}, {"zwj", 0x200D},      {"zwnj", 0x200C},     {"ltrmark", 0x200E},
    {"rtlmark", 0x200F}};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Reader {
public:
    Reader(const std::string& rtf, int codePage) : in_(rtf), documentPage_(codePage) {}

    RichText Run() {
        while (at_ < in_.size()) {
            const unsigned char c = static_cast<unsigned char>(in_[at_++]);
            if (c == '{') {
                OpenGroup();
            } else if (c == '}') {
                if (!CloseGroup()) break;
            } else if (c == '\\') {
                ControlSequence();
            } else if (c == '\r' || c == '\n') {
                // Line breaks in the source are layout only, also between the
                // two bytes of a character.
            } else if (c == '\t') {
                Character('\t');
            } else if (c >= 0x20) {
                Byte(c);
            }
        }
        FlushLead();
        FlushSurrogate();
        if (depth_ != 0) out_.wellFormed = false;
        return std::move(out_);
    }

private:
    GroupState& State() { return stack_.back(); }

    bool Skipping() const { return stack_.back().destination == Destination::kSkipped || overflowSkip_ != 0; }

    // Groups past the depth limit have no state of their own, so a skip that
    // starts in one is remembered by its depth.
    void SkipGroup() {
        if (overflow_ == 0) State().destination = Destination::kSkipped;
        else if (overflowSkip_ == 0) overflowSkip_ = depth_;
    }

    void OpenGroup() {
        FlushLead();
        pendingSkip_ = 0;
        ++depth_;
        if (stack_.size() < kMaxDepth) stack_.push_back(stack_.back());
        else ++overflow_;
    }

    // False once the outermost group has closed: what follows is not the document.
    bool CloseGroup() {
        FlushLead();
        pendingSkip_ = 0;
        if (depth_ == 0) {
            out_.wellFormed = false;
            return true;
        }
        --depth_;
        if (depth_ < overflowSkip_) overflowSkip_ = 0;
        if (overflow_ > 0) --overflow_;
        else if (stack_.size() > 1) stack_.pop_back();
        return depth_ != 0;
    }

    // Everything after the backslash.
    void ControlSequence() {
        if (at_ >= in_.size()) {
            out_.wellFormed = false;
            return;
        }
        const char c = in_[at_];
        if (IsLetter(c)) {
            ControlWord();
            return;
        }
        ++at_;
        switch (c) {
        case '\'': HexEscape(); return;
        case '\\': case '{': case '}': Byte(static_cast<unsigned char>(c)); return;  // may be a trail byte
        case '~': Character(0x00A0); return;
        case '_': Character(0x2011); return;
        case '-': Fallback(); return;  // optional hyphen: not shown
        case '*': ignorable_ = true; return;
        case '\r': case '\n': Character('\n'); return;  // an escaped line break is a paragraph
        case '\t': Character('\t'); return;
        default: Fallback(); return;
        }
    }

    void ControlWord() {
        char word[33];
        std::size_t length = 0;
        while (at_ < in_.size() && IsLetter(in_[at_])) {
            if (length < sizeof(word) - 1) word[length++] = in_[at_];
            ++at_;
        }
        word[length] = '\0';
        bool hasParameter = false;
        bool negative = false;
        std::int64_t value = 0;
        if (at_ + 1 < in_.size() && in_[at_] == '-' && IsDigit(in_[at_ + 1])) {
            negative = true;
            ++at_;
        }
        while (at_ < in_.size() && IsDigit(in_[at_])) {
            hasParameter = true;
            // Saturate: digits past the range are consumed but change nothing.
            if (value < (std::int64_t{1} << 40)) value = value * 10 + (in_[at_] - '0');
            ++at_;
        }
        if (at_ < in_.size() && in_[at_] == ' ') ++at_;
        if (negative) value = -value;
        const std::int32_t parameter = static_cast<std::int32_t>(
            value > std::numeric_limits<std::int32_t>::max()   ? std::numeric_limits<std::int32_t>::max()
            : value < std::numeric_limits<std::int32_t>::min() ? std::numeric_limits<std::int32_t>::min()
                                                               : value);
        const bool ignorable = ignorable_;
        ignorable_ = false;
        // A character's two bytes come one after the other, never around a word.
        FlushLead();
        Word(word, hasParameter, parameter, ignorable);
    }

    void Word(const char* word, bool hasParameter, std::int32_t parameter, bool ignorable) {
        if (std::strcmp(word, "bin") == 0) {
            // Raw bytes follow; they are never text.
            const std::size_t count = hasParameter && parameter > 0 ? static_cast<std::size_t>(parameter) : 0;
            at_ += count < in_.size() - at_ ? count : in_.size() - at_;
            return;
        }
        if (std::strcmp(word, "u") == 0 && hasParameter) {
            Unicode(parameter);
            return;
        }
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        if (Skipping()) return;
        if (State().destination == Destination::kFontTable) {
            FontTableWord(word, hasParameter, parameter, ignorable);
            return;
        }
        if (std::strcmp(word, "uc") == 0) {
            State().unicodeSkip = hasParameter && parameter >= 0 ? (parameter > 16 ? 16 : parameter) : 1;
            return;
        }
        if (std::strcmp(word, "ansicpg") == 0) {
            if (hasParameter && parameter > 0) {
                documentPage_ = parameter;
                out_.codePage = parameter;
                page_ = nullptr;
            }
            return;
        }
        if (std::strcmp(word, "deff") == 0) {
            defaultFont_ = hasParameter ? parameter : -1;
            page_ = nullptr;
            return;
        }
        if (std::strcmp(word, "f") == 0) {
            State().font = hasParameter ? parameter : -1;
            return;
        }
        if (std::strcmp(word, "plain") == 0) {
            State().font = -1;
            return;
        }
        if (std::strcmp(word, "fonttbl") == 0) {
            // Past the depth limit a group has no state to hold it: no table there.
            if (overflow_ == 0) State().destination = Destination::kFontTable;
            else SkipGroup();
            return;
        }
        if (std::strcmp(word, "object") == 0 || std::strcmp(word, "pict") == 0 ||
            std::strcmp(word, "shppict") == 0) {
            // One character in the control; the rest of the group describes it.
            Object();
            SkipGroup();
            return;
        }
        if (ignorable || IsSkippedDestination(word)) {
            SkipGroup();
            return;
        }
        for (const Symbol& symbol : kSymbols) {
            if (std::strcmp(word, symbol.word) == 0) {
                Emit(symbol.code);
                return;
            }
        }
        // Formatting and anything unknown: no text.
    }

    // Inside the font table only the fonts' numbers and code pages matter.
    void FontTableWord(const char* word, bool hasParameter, std::int32_t parameter, bool ignorable) {
        if (ignorable) {
            SkipGroup();  // \*\panose, \*\falt and the like
            return;
        }
        if (!hasParameter) return;
        if (std::strcmp(word, "f") == 0) {
            tableFont_ = parameter;
            fonts_[parameter];
        } else if (std::strcmp(word, "fcharset") == 0 && tableFont_ != kNoFont) {
            fonts_[tableFont_].charset = parameter;
        } else if (std::strcmp(word, "cpg") == 0 && tableFont_ != kNoFont) {
            fonts_[tableFont_].codePage = parameter;
        } else {
            return;
        }
        page_ = nullptr;
    }

    void Unicode(std::int32_t parameter) {
        FlushLead();
        if (pendingSkip_ > 0) {
            // A \u inside another's fallback counts as one fallback character.
            --pendingSkip_;
            return;
        }
        if (Skipping() || State().destination == Destination::kFontTable) return;
        std::uint32_t unit = parameter < 0 ? static_cast<std::uint32_t>(parameter + 65536)
                                           : static_cast<std::uint32_t>(parameter);
        if (parameter < -32768 || unit > 0xFFFF) unit = kReplacement;
        Emit(unit);
        pendingSkip_ = State().unicodeSkip;
    }

    void HexEscape() {
        int value = 0;
        int digits = 0;
        while (digits < 2 && at_ < in_.size() && HexValue(in_[at_]) >= 0) {
            value = value * 16 + HexValue(in_[at_]);
            ++at_;
            ++digits;
        }
        if (digits == 0) {
            Fallback();
            return;
        }
        Byte(static_cast<unsigned char>(value));
    }

    // A byte of text in the code page of the current font: a lead byte waits
    // for the byte after it.
    void Byte(unsigned char byte) {
        if (pendingSkip_ > 0) {
            // \ucN counts the fallback in bytes.
            --pendingSkip_;
            return;
        }
        if (Skipping() || State().destination == Destination::kFontTable) return;
        const CodePage& page = CurrentPage();
        if (lead_ >= 0) {
            if (leadPage_ == &page) {
                if (const std::uint16_t pair = page.Pair(static_cast<unsigned char>(lead_), byte)) {
                    lead_ = -1;
                    Emit(pair);
                    return;
                }
            }
            FlushLead();
        }
        if (page.IsLeadByte(byte)) {
            lead_ = byte;
            leadPage_ = &page;
            return;
        }
        Emit(page.Single(byte));
    }

    // A lead byte with no byte after it reads as the page's default character.
    void FlushLead() {
        if (lead_ < 0) return;
        const unsigned char lead = static_cast<unsigned char>(lead_);
        lead_ = -1;
        Emit(leadPage_->Single(lead));
    }

    const CodePage& CurrentPage() {
        const int font = State().font >= 0 ? State().font : defaultFont_;
        if (page_ && font == pageFont_) return *page_;
        int page = 0;
        const auto found = fonts_.find(font);
        if (found != fonts_.end()) {
            if (found->second.codePage > 0 && CodePage::Find(found->second.codePage)) page = found->second.codePage;
            else if (found->second.charset >= 0) page = CodePageOfCharset(found->second.charset);
        }
        if (page == 0 || !CodePage::Find(page)) page = documentPage_;
        page_ = &CodePage::FindOrDefault(page);
        pageFont_ = font;
        return *page_;
    }

    // A character of the text: dropped while a \uN fallback is being skipped.
    void Character(std::uint32_t code) {
        FlushLead();
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        if (Skipping() || State().destination == Destination::kFontTable) return;
        Emit(code);
    }

    // Something that would count as a fallback character but shows nothing.
    void Fallback() {
        FlushLead();
        if (pendingSkip_ > 0) --pendingSkip_;
    }

    void Object() {
        FlushSurrogate();
        RichTextObject object;
        object.position = out_.characters;
        object.offset = out_.text.size();
        out_.objects.push_back(object);
        Append(kObjectCharacter);
        Count(1);
    }

    // One UTF-16 unit of text (surrogate halves are paired up here).
    void Emit(std::uint32_t unit) {
        if (unit == 0) return;  // a NUL would cut the text short for C callers
        if (unit >= 0xD800 && unit < 0xDC00) {
            FlushSurrogate();
            highSurrogate_ = unit;
            Count(1);
            return;
        }
        if (unit >= 0xDC00 && unit < 0xE000) {
            Count(1);
            if (highSurrogate_) {
                Append(0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00));
                highSurrogate_ = 0;
            } else {
                Append(kReplacement);
            }
            return;
        }
        FlushSurrogate();
        Append(unit);
        Count(1);
    }

    void FlushSurrogate() {
        if (!highSurrogate_) return;
        highSurrogate_ = 0;
        Append(kReplacement);
    }

    void Count(std::int32_t units) {
        if (out_.characters <= std::numeric_limits<std::int32_t>::max() - units) out_.characters += units;
    }

    void Append(std::uint32_t code) { AppendUtf8(out_.text, code); }

    static constexpr int kNoFont = std::numeric_limits<int>::min();

    const std::string& in_;
    std::size_t at_ = 0;
    std::vector<GroupState> stack_{GroupState{}};
    std::size_t depth_ = 0;
    std::size_t overflow_ = 0;
    std::size_t overflowSkip_ = 0;  // depth of the skipped group past the limit
    int pendingSkip_ = 0;
    bool ignorable_ = false;
    int documentPage_;
    int defaultFont_ = -1;
    int tableFont_ = kNoFont;
    std::map<int, Font> fonts_;
    const CodePage* page_ = nullptr;  // the current font's page, found again when fonts change
    int pageFont_ = -1;
    int lead_ = -1;  // a lead byte waiting for its trail byte
    const CodePage* leadPage_ = nullptr;
    std::uint32_t highSurrogate_ = 0;
    RichText out_;
};

} // namespace

RichText ReadRichText(const std::string& rtf, int codePage) {
    return Reader(rtf, codePage).Run();
}

int NamedCodePage(const std::string& rtf) {
    // Rich Edit names it in the header; a look at the start is enough.
    const std::string head = rtf.substr(0, 1024);
    for (std::size_t at = head.find("\\ansicpg"); at != std::string::npos; at = head.find("\\ansicpg", at + 1)) {
        if (at > 0 && head[at - 1] == '\\') continue;  // an escaped backslash and text
        int page = 0;
        std::size_t digit = at + 8;
        while (digit < head.size() && IsDigit(head[digit]) && page < 100000) page = page * 10 + (head[digit++] - '0');
        if (page > 0) return page;
    }
    return 0;
}

std::string ReadPlainText(const std::string& bytes, int codePage, std::vector<std::size_t>* positions) {
    const CodePage& page = CodePage::FindOrDefault(codePage);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    if (positions) positions->clear();
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(bytes[at]);
        if (byte == 0) continue;
        if (positions) positions->push_back(out.size());
        if (byte == '\r') {
            // The control keeps one paragraph mark for CR LF.
            if (at + 1 < bytes.size() && bytes[at + 1] == '\n') ++at;
            out += '\n';
            continue;
        }
        std::uint16_t code = page.Single(byte);
        if (page.IsLeadByte(byte) && at + 1 < bytes.size()) {
            if (const std::uint16_t pair = page.Pair(byte, static_cast<unsigned char>(bytes[at + 1]))) {
                code = pair;
                ++at;
            }
        }
        AppendUtf8(out, code);
    }
    if (positions) positions->push_back(out.size());
    return out;
}

std::size_t Utf8OffsetOf(const std::string& text, std::int32_t position) {
    std::size_t at = 0;
    std::int32_t units = 0;
    while (at < text.size() && units < position) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        units += length == 4 ? 2 : 1;
        at += length;
    }
    return at < text.size() ? at : text.size();
}

} // namespace parleym
