#pragma once
// Finding text in logged conversations: case folding, matching, snippets and a
// search over many conversations that its caller feeds one at a time (so the
// viewer can run it in slices and the command-line reader in one go).
//
// Texts are UTF-8 as ReadRichText gives them: the log's bytes decoded through
// the code page the rich text names (Windows-1252), \uN characters as they
// are, one U+FFFC per embedded object.
//
// Case folding is simple one-to-one lower-casing: A-Z; the letters of
// Windows-1252 (Latin-1 U+00C0-U+00DE except U+00D7, and Š Œ Ž Ÿ); Latin
// Extended-A (U+0100-U+017F, but not the dotted/dotless I); Greek U+0391-U+03AB;
// Cyrillic U+0400-U+042F. Each folds to a letter of the same UTF-8 length, so
// folded text keeps every byte offset. Nothing else (ß, ligatures, other
// scripts) is folded: it matches exactly.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plugin/logging/ConversationIndexCodec.h"

namespace parleym {

std::uint32_t FoldCharacter(std::uint32_t code);
// `folded` gets `utf8` lower-cased as above: same length, same offsets.
void FoldCase(const std::string& utf8, std::string& folded);

// UTF-8 plain text of a stored conversation from its content's text and
// is-RTF flag. Plain text (Windows-1252) has each CR LF as one break, as the
// control shows it.
std::string ConversationPlainText(const std::string& text, bool isRtf);

// Windows-1252 bytes (a query typed into an ANSI control) as UTF-8.
std::string Utf8FromWindows1252(const std::string& text);

struct TextMatch {
    std::size_t offset = 0;     // bytes into the plain text
    std::size_t size = 0;       // bytes
    std::int32_t position = 0;  // where the control has it: UTF-16 units, an object is one
    std::int32_t length = 0;    // in the same units
};

class TextQuery {
public:
    explicit TextQuery(const std::string& utf8);
    bool Empty() const { return folded_.empty(); }
    const std::string& Folded() const { return folded_; }
    // Every match in `text`, in order, none overlapping. `scratch` holds the
    // folded text; pass the same string each time to save allocations.
    std::vector<TextMatch> FindIn(const std::string& text, std::string& scratch) const;

private:
    std::string folded_;
};

// One line of text around the match: the match's line (breaks, tabs and
// objects as spaces) cut to about `width` characters, "..." where cut.
// `matchOffset` gets the match's byte offset in the snippet.
std::string MakeSnippet(const std::string& text, const TextMatch& match, std::size_t& matchOffset,
                        std::size_t width = 100);

struct SearchHit {
    LogEntry entry;
    TextMatch match;
    std::string snippet;  // UTF-8, one line
    std::size_t snippetMatchOffset = 0;
};

// Conversation number -> plain text, for conversations already read. The
// owner forgets a conversation whenever it is saved again.
class LogTextCache {
public:
    const std::string* Find(std::int32_t number) const;
    const std::string& Put(std::int32_t number, std::string text);
    void Forget(std::int32_t number);
    void Clear();
    std::size_t Count() const { return texts_.size(); }
    std::size_t Bytes() const { return bytes_; }

private:
    std::map<std::int32_t, std::string> texts_;
    std::size_t bytes_ = 0;
};

// A search over a list of conversations. The caller reads each one (Next)
// and hands over its text (Feed) or reports it unreadable (Skip).
class LogSearch {
public:
    static constexpr std::size_t kDefaultMaxHits = 5000;

    LogSearch(const std::string& queryUtf8, std::vector<LogEntry> conversations,
              std::size_t maxHits = kDefaultMaxHits);

    bool Done() const { return next_ >= conversations_.size(); }
    const LogEntry& Next() const { return conversations_[next_]; }
    void Feed(const std::string& plainText);
    void Skip();

    const TextQuery& Query() const { return query_; }
    std::size_t Searched() const { return next_; }
    std::size_t Total() const { return conversations_.size(); }
    std::size_t Unreadable() const { return unreadable_; }
    // Every match counted; only the first maxHits are kept.
    std::size_t MatchCount() const { return matchCount_; }
    const std::vector<SearchHit>& Hits() const { return hits_; }
    bool Truncated() const { return matchCount_ > hits_.size(); }

private:
    TextQuery query_;
    std::vector<LogEntry> conversations_;
    std::size_t maxHits_;
    std::size_t next_ = 0;
    std::size_t unreadable_ = 0;
    std::size_t matchCount_ = 0;
    std::vector<SearchHit> hits_;
    std::string scratch_;
};

} // namespace parleym
