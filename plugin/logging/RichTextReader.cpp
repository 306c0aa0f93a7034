#include "plugin/logging/RichTextReader.h"

#include <cstring>
#include <limits>

namespace parleym {

namespace {

// Deeper groups than this share their parent's state: a hostile text cannot
// make the state stack grow without bound.
constexpr std::size_t kMaxDepth = 256;
constexpr std::uint32_t kObjectCharacter = 0xFFFC;
constexpr std::uint32_t kReplacement = 0xFFFD;

// Windows-1252 for 0x80..0x9F; the holes map to the C1 code as Windows maps them.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct GroupState {
    bool skip = false;     // inside a destination whose text is not shown
    int unicodeSkip = 1;   // \ucN: fallback characters after each \uN
};

// Destinations whose contents are never text the user reads.
bool IsSkippedDestination(const char* word) {
    static const char* const kSkipped[] = {
        "fonttbl", "colortbl", "stylesheet", "info", "header", "headerl", "headerr", "headerf",
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

class Reader {
public:
    explicit Reader(const std::string& rtf) : in_(rtf) {}

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
                // Line breaks in the source are layout only.
            } else if (c == '\t') {
                Character('\t');
            } else if (c >= 0x20) {
                Character(Decode(c));
            }
        }
        FlushSurrogate();
        if (depth_ != 0) out_.wellFormed = false;
        return std::move(out_);
    }

private:
    GroupState& State() { return stack_.back(); }

    bool Skipping() const { return stack_.back().skip || overflowSkip_ != 0; }

    // Groups past the depth limit have no state of their own, so a skip that
    // starts in one is remembered by its depth.
    void SkipGroup() {
        if (overflow_ == 0) State().skip = true;
        else if (overflowSkip_ == 0) overflowSkip_ = depth_;
    }

    void OpenGroup() {
        pendingSkip_ = 0;
        ++depth_;
        if (stack_.size() < kMaxDepth) stack_.push_back(stack_.back());
        else ++overflow_;
    }

    // False once the outermost group has closed: what follows is not the document.
    bool CloseGroup() {
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
        case '\\': case '{': case '}': Character(static_cast<unsigned char>(c)); return;
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
        if (std::strcmp(word, "uc") == 0) {
            State().unicodeSkip = hasParameter && parameter >= 0 ? (parameter > 16 ? 16 : parameter) : 1;
            return;
        }
        if (std::strcmp(word, "ansicpg") == 0) {
            codePage_ = parameter;
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

    void Unicode(std::int32_t parameter) {
        if (pendingSkip_ > 0) {
            // A \u inside another's fallback counts as one fallback character.
            --pendingSkip_;
            return;
        }
        if (Skipping()) return;
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
        Character(Decode(static_cast<unsigned char>(value)));
    }

    // Bytes through the document's code page. Pages other than 1252 and
    // Latin-1 are read as 1252, which keeps ASCII and Western letters right.
    std::uint32_t Decode(unsigned char byte) const {
        return codePage_ == 28591 ? byte : Windows1252ToUnicode(byte);
    }

    // A character of the text: dropped while a \uN fallback is being skipped.
    void Character(std::uint32_t code) {
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        if (Skipping()) return;
        Emit(code);
    }

    // Something that would count as a fallback character but shows nothing.
    void Fallback() {
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

    static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static int HexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    const std::string& in_;
    std::size_t at_ = 0;
    std::vector<GroupState> stack_{GroupState{}};
    std::size_t depth_ = 0;
    std::size_t overflow_ = 0;
    std::size_t overflowSkip_ = 0;  // depth of the skipped group past the limit
    int pendingSkip_ = 0;
    bool ignorable_ = false;
    std::int32_t codePage_ = 1252;
    std::uint32_t highSurrogate_ = 0;
    RichText out_;
};

} // namespace

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

std::uint32_t Windows1252ToUnicode(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

RichText ReadRichText(const std::string& rtf) {
    return Reader(rtf).Run();
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
