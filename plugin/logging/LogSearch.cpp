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

std::uint32_t FoldCharacter(std::uint32_t code) {
    if (code < 0x80) return code >= 'A' && code <= 'Z' ? code + 0x20 : code;
    if (code >= 0xC0 && code <= 0xDE) return code == 0xD7 ? code : code + 0x20;
    if (code >= 0x100 && code <= 0x17F) {
        // Pairs of capital and small letter; the dotted and dotless I fold to a
        // letter of another length and are left alone, as is the long s.
        if (code == 0x130 || code == 0x131 || code == 0x138 || code == 0x149 || code == 0x17F) return code;
        if (code == 0x178) return 0xFF;
        const bool oddCapitals = (code >= 0x139 && code <= 0x148) || (code >= 0x179 && code <= 0x17E);
        const bool capital = oddCapitals ? (code & 1) != 0 : (code & 1) == 0;
        return capital ? code + 1 : code;
    }
    if (code >= 0x391 && code <= 0x3AB) return code == 0x3A2 ? code : code + 0x20;
    if (code >= 0x400 && code <= 0x40F) return code + 0x50;
    if (code >= 0x410 && code <= 0x42F) return code + 0x20;
    return code;
}

void FoldCase(const std::string& utf8, std::string& folded) {
    folded.resize(utf8.size());
    const std::size_t size = utf8.size();
    std::size_t at = 0;
    while (at < size) {
        const unsigned char lead = static_cast<unsigned char>(utf8[at]);
        if (lead < 0x80) {
            folded[at] = static_cast<char>(lead >= 'A' && lead <= 'Z' ? lead + 0x20 : lead);
            ++at;
            continue;
        }
        // Every folded letter has a two-byte form; longer sequences are copied.
        if (lead >= 0xC2 && lead <= 0xDF && at + 1 < size && IsContinuation(static_cast<unsigned char>(utf8[at + 1]))) {
            const unsigned char trail = static_cast<unsigned char>(utf8[at + 1]);
            const std::uint32_t code = FoldCharacter((static_cast<std::uint32_t>(lead & 0x1F) << 6) | (trail & 0x3F));
            folded[at] = static_cast<char>(0xC0 | (code >> 6));
            folded[at + 1] = static_cast<char>(0x80 | (code & 0x3F));
            at += 2;
            continue;
        }
        folded[at] = utf8[at];
        ++at;
    }
}

std::string Utf8FromWindows1252(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) AppendUtf8(out, Windows1252ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string ConversationPlainText(const std::string& text, bool isRtf) {
    if (isRtf) return ReadRichText(text).text;
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (byte == '\r') {
            // The control keeps one paragraph mark for CR LF.
            if (at + 1 < text.size() && text[at + 1] == '\n') ++at;
            out += '\n';
        } else if (byte != 0) {
            AppendUtf8(out, Windows1252ToUnicode(byte));
        }
    }
    return out;
}

TextQuery::TextQuery(const std::string& utf8) { FoldCase(utf8, folded_); }

std::vector<TextMatch> TextQuery::FindIn(const std::string& text, std::string& scratch) const {
    std::vector<TextMatch> matches;
    if (folded_.empty() || text.size() < folded_.size()) return matches;
    FoldCase(text, scratch);
    std::size_t counted = 0;     // bytes whose units are in `position`
    std::int32_t position = 0;
    std::size_t at = scratch.find(folded_);
    while (at != std::string::npos) {
        TextMatch match;
        match.offset = at;
        match.size = folded_.size();
        position += ControlUnits(text, counted, at);
        match.position = position;
        match.length = ControlUnits(text, at, at + match.size);
        position += match.length;
        counted = at + match.size;
        matches.push_back(match);
        at = scratch.find(folded_, counted);
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

LogSearch::LogSearch(const std::string& queryUtf8, std::vector<LogEntry> conversations, std::size_t maxHits)
    : query_(queryUtf8), conversations_(std::move(conversations)), maxHits_(maxHits) {
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
