#include "plugin/logging/LogSearch.h"

#include <utility>

#include "plugin/logging/RichTextReader.h"

namespace parleym {

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// UTF-16 units the control counts for text[from, to): one per character, two
// for one beyond the first plane.
std::int32_t ControlUnits(const std::string& text, std::size_t from, std::size_t to) {
    std::int32_t units = 0;
    for (std::size_t at = from; at < to; ++at) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (!IsContinuation(byte)) units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

// The object placeholder U+FFFC in UTF-8.
bool IsObjectAt(const std::string& text, std::size_t at) {
    return at + 2 < text.size() && static_cast<unsigned char>(text[at]) == 0xEF &&
           static_cast<unsigned char>(text[at + 1]) == 0xBF && static_cast<unsigned char>(text[at + 2]) == 0xBC;
}

std::size_t PreviousCharacter(const std::string& text, std::size_t at) {
    if (at == 0) return 0;
    --at;
    while (at > 0 && IsContinuation(static_cast<unsigned char>(text[at]))) --at;
    return at;
}

std::size_t NextCharacter(const std::string& text, std::size_t at) {
    if (at >= text.size()) return text.size();
    ++at;
    while (at < text.size() && IsContinuation(static_cast<unsigned char>(text[at]))) ++at;
    return at;
}

} // namespace

CaseRules CaseRulesOf(int codePage) {
    if (codePage == kSystemCodePage) codePage = SystemCodePage();
    return codePage == 1254 ? CaseRules::kTurkish : CaseRules::kDefault;
}

std::uint32_t FoldCharacter(std::uint32_t code, CaseRules rules) {
    if (code < 0x80) {
        if (code < 'A' || code > 'Z') return code;
        return code == 'I' && rules == CaseRules::kTurkish ? 0x131 : code + 0x20;
    }
    if (code < 0x100) return code >= 0xC0 && code <= 0xDE && code != 0xD7 ? code + 0x20 : code;
    if (code < 0x180) {
        // Pairs of capital and small letter, with these exceptions.
        if (code == 0x130) return 'i';  // İ is the capital of i in every language
        if (code == 0x17F) return 's';  // the long s
        if (code == 0x131 || code == 0x138 || code == 0x149) return code;
        if (code == 0x178) return 0xFF;
        const bool oddCapitals = (code >= 0x139 && code <= 0x148) || (code >= 0x179 && code <= 0x17E);
        const bool capital = oddCapitals ? (code & 1) != 0 : (code & 1) == 0;
        return capital ? code + 1 : code;
    }
    if (code < 0x370) {
        // Vietnamese horned O and U; Romanian S and T with comma.
        if (code == 0x1A0 || code == 0x1AF) return code + 1;
        if (code >= 0x218 && code <= 0x21B) return code | 1;
        return code;
    }
    if (code < 0x400) {
        if (code == 0x386) return 0x3AC;
        if (code >= 0x388 && code <= 0x38A) return code + 0x25;
        if (code == 0x38C) return 0x3CC;
        if (code == 0x38E || code == 0x38F) return code + 0x3F;
        if (code >= 0x391 && code <= 0x3AB) return code == 0x3A2 ? code : code + 0x20;
        if (code == 0x3C2) return 0x3C3;  // final sigma
        return code;
    }
    if (code < 0x530) {
        if (code <= 0x40F) return code + 0x50;
        if (code <= 0x42F) return code + 0x20;
        if (code == 0x4C0) return 0x4CF;
        if (code >= 0x4C1 && code <= 0x4CE) return (code & 1) != 0 ? code + 1 : code;
        const bool paired = (code >= 0x460 && code <= 0x481) || (code >= 0x48A && code <= 0x4BF) || code >= 0x4D0;
        return paired ? code | 1 : code;
    }
    if (code >= 0x1E00 && code <= 0x1EFF) {
        if (code == 0x1E9E) return 0xDF;  // capital sharp s
        return code <= 0x1E95 || code >= 0x1EA0 ? code | 1 : code;
    }
    if (code >= 0xFF21 && code <= 0xFF3A) return code + 0x20;  // fullwidth Latin
    return code;
}

namespace {

// The folds of the two-byte characters (below U+0800), the same by both rules:
// most letters beyond ASCII, looked up instead of worked out.
const std::uint16_t* TwoByteFolds() {
    static const std::vector<std::uint16_t> folds = [] {
        std::vector<std::uint16_t> table(0x800);
        for (std::uint32_t code = 0; code < 0x800; ++code)
            table[code] = static_cast<std::uint16_t>(FoldCharacter(code, CaseRules::kDefault));
        return table;
    }();
    return folds.data();
}

// Folds into folded.text; origins only when asked for and a letter changes length.
void Fold(const std::string& utf8, std::string& out, std::vector<std::uint32_t>* origins, CaseRules rules) {
    const std::size_t size = utf8.size();
    // Only the Turkish I grows (one byte to two); every other fold keeps or
    // shortens its letter, so the room is made once.
    const bool turkish = rules == CaseRules::kTurkish;
    out.resize(turkish ? 2 * size : size);
    if (origins) origins->clear();
    bool mapped = false;
    std::size_t written = 0;
    char* to = &out[0];
    const std::uint16_t* const twoByteFolds = TwoByteFolds();
    std::string encoded;
    std::size_t at = 0;
    const unsigned char ownI = turkish ? 'I' : 0x80;  // an ASCII letter that folds beyond ASCII
    while (at < size) {
        unsigned char lead = static_cast<unsigned char>(utf8[at]);
        if (!mapped) {
            // Runs of ASCII, the bulk of most logs, in a loop of their own.
            const unsigned char* from = reinterpret_cast<const unsigned char*>(utf8.data());
            while (lead < 0x80 && lead != ownI) {
                to[written++] = static_cast<char>(static_cast<unsigned>(lead - 'A') < 26u ? lead + 0x20 : lead);
                if (++at == size) break;
                lead = from[at];
            }
            if (at == size) break;
        } else if (lead < 0x80 && lead != ownI) {
            to[written++] = static_cast<char>(static_cast<unsigned>(lead - 'A') < 26u ? lead + 0x20 : lead);
            origins->push_back(static_cast<std::uint32_t>(at));
            ++at;
            continue;
        }
        // Most letters beyond ASCII are two bytes and fold to two bytes.
        if (lead >= 0xC2 && lead <= 0xDF && at + 1 < size && IsContinuation(static_cast<unsigned char>(utf8[at + 1]))) {
            const std::uint32_t folded = twoByteFolds[(lead & 0x1F) << 6 | (utf8[at + 1] & 0x3F)];
            if (folded >= 0x80 && folded < 0x800) {
                to[written++] = static_cast<char>(0xC0 | (folded >> 6));
                to[written++] = static_cast<char>(0x80 | (folded & 0x3F));
                if (mapped) origins->insert(origins->end(), 2, static_cast<std::uint32_t>(at));
                at += 2;
                continue;
            }
        }
        std::size_t length = 1;
        const std::uint32_t code = DecodeUtf8(utf8, at, length);
        const std::uint32_t folded = code == kNotUtf8 ? code : FoldCharacter(code, rules);
        const char* bytes = utf8.data() + at;
        std::size_t count = length;
        if (folded != code) {
            encoded.clear();
            AppendUtf8(encoded, folded);
            bytes = encoded.data();
            count = encoded.size();
            if (count != length && origins && !mapped) {
                // Up to here every offset was the original's.
                mapped = true;
                origins->reserve(size + 1);
                for (std::size_t i = 0; i < written; ++i) origins->push_back(static_cast<std::uint32_t>(i));
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            to[written++] = bytes[i];
            if (mapped) origins->push_back(static_cast<std::uint32_t>(at));
        }
        at += length;
    }
    out.resize(written);
    if (mapped) origins->push_back(static_cast<std::uint32_t>(size));
}

} // namespace

void FoldCase(const std::string& utf8, FoldedText& folded, CaseRules rules) {
    Fold(utf8, folded.text, &folded.origins, rules);
}

void FoldCase(const std::string& utf8, std::string& folded, CaseRules rules) { Fold(utf8, folded, nullptr, rules); }

std::string ConversationPlainText(const std::string& text, bool isRtf, int codePage) {
    return isRtf ? ReadRichText(text, codePage).text : ReadPlainText(text, codePage);
}

TextQuery::TextQuery(const std::string& utf8, CaseRules rules) : rules_(rules) { FoldCase(utf8, folded_, rules); }

std::vector<TextMatch> TextQuery::FindIn(const std::string& text, FoldedText& scratch) const {
    std::vector<TextMatch> matches;
    if (folded_.empty()) return matches;
    FoldCase(text, scratch, rules_);
    const std::string& folded = scratch.text;
    const std::vector<std::uint32_t>& origins = scratch.origins;
    std::size_t counted = 0;     // bytes of `text` whose units are in `position`
    std::int32_t position = 0;
    std::size_t at = folded.find(folded_);
    while (at != std::string::npos) {
        const std::size_t end = at + folded_.size();
        // A query that is no whole characters must not match inside one.
        if (IsContinuation(static_cast<unsigned char>(folded[at])) ||
            (end < folded.size() && IsContinuation(static_cast<unsigned char>(folded[end])))) {
            at = folded.find(folded_, at + 1);
            continue;
        }
        TextMatch match;
        match.offset = origins.empty() ? at : origins[at];
        match.size = (origins.empty() ? end : origins[end]) - match.offset;
        position += ControlUnits(text, counted, match.offset);
        match.position = position;
        match.length = ControlUnits(text, match.offset, match.offset + match.size);
        position += match.length;
        counted = match.offset + match.size;
        matches.push_back(match);
        at = folded.find(folded_, end);
    }
    return matches;
}

std::string MakeSnippet(const std::string& text, const TextMatch& match, std::size_t& matchOffset,
                        std::size_t width) {
    const std::size_t matchEnd = match.offset + match.size <= text.size() ? match.offset + match.size : text.size();
    const std::size_t matchStart = match.offset <= matchEnd ? match.offset : matchEnd;
    // About a third of the room before the match, the rest after it.
    std::size_t before = width / 3;
    std::size_t start = matchStart;
    while (start > 0 && before > 0 && text[start - 1] != '\n') {
        start = PreviousCharacter(text, start);
        --before;
    }
    std::size_t after = width > width / 3 + 20 ? width - width / 3 : 20;
    std::size_t end = matchEnd;
    while (end < text.size() && after > 0 && text[end] != '\n') {
        end = NextCharacter(text, end);
        --after;
    }
    const bool cutBefore = start > 0 && text[start - 1] != '\n';
    // Leading blanks of the line say nothing.
    while (start < matchStart && (text[start] == ' ' || text[start] == '\t')) ++start;
    const bool cutAfter = end < text.size() && text[end] != '\n';

    std::string snippet;
    if (cutBefore) snippet += "...";
    for (std::size_t at = start; at < end;) {
        if (at == matchStart) matchOffset = snippet.size();
        const char c = text[at];
        if (c == '\n' || c == '\t' || c == '\r') {
            snippet += ' ';
            ++at;
        } else if (IsObjectAt(text, at)) {
            snippet += ' ';
            at += 3;
        } else {
            snippet += c;
            ++at;
        }
    }
    if (matchStart >= end) matchOffset = snippet.size();
    if (cutAfter) snippet += "...";
    return snippet;
}

const std::string* LogTextCache::Find(std::int32_t number) const {
    const auto found = texts_.find(number);
    return found == texts_.end() ? nullptr : &found->second;
}

const std::string& LogTextCache::Put(std::int32_t number, std::string text) {
    Forget(number);
    bytes_ += text.size();
    return texts_.emplace(number, std::move(text)).first->second;
}

void LogTextCache::Forget(std::int32_t number) {
    const auto found = texts_.find(number);
    if (found == texts_.end()) return;
    bytes_ -= found->second.size();
    texts_.erase(found);
}

void LogTextCache::Clear() {
    texts_.clear();
    bytes_ = 0;
}

LogSearch::LogSearch(const std::string& queryUtf8, std::vector<LogEntry> conversations, std::size_t maxHits,
                     CaseRules rules)
    : query_(queryUtf8, rules), conversations_(std::move(conversations)), maxHits_(maxHits) {
    // Nothing can match an empty query.
    if (query_.Empty()) next_ = conversations_.size();
}

void LogSearch::Feed(const std::string& plainText) {
    if (Done()) return;
    const LogEntry& entry = conversations_[next_];
    for (const TextMatch& match : query_.FindIn(plainText, scratch_)) {
        ++matchCount_;
        if (hits_.size() >= maxHits_) continue;
        SearchHit hit;
        hit.entry = entry;
        hit.match = match;
        hit.snippet = MakeSnippet(plainText, match, hit.snippetMatchOffset);
        hits_.push_back(std::move(hit));
    }
    ++next_;
}

void LogSearch::Skip() {
    if (Done()) return;
    ++unreadable_;
    ++next_;
}

} // namespace parleym
