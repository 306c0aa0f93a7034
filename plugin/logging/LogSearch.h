#pragma once
// Finding text in logged conversations: case folding, matching, snippets and a
// search over many conversations that its caller feeds one at a time (so the
// viewer can run it in slices and the command-line reader in one go).
//
// Texts are UTF-8 as ReadRichText gives them: the log's bytes decoded through
// the code pages the rich text names, \uN characters as they are, one U+FFFC
// per embedded object.
//
// Case folding is simple one-to-one lower-casing of the letters of every
// script the Windows code pages hold: Latin (ASCII, Latin-1, Extended-A, the
// Vietnamese letters of Extended-B and Extended Additional, fullwidth),
// Greek with its accented capitals and final sigma, Cyrillic. The dotted
// capital I folds to i; under Turkish rules the dotless capital I folds to the
// dotless small one. Nothing else (sharp s, ligatures, other scripts) folds:
// it matches exactly.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plugin/logging/CodePage.h"
#include "plugin/logging/ConversationIndexCodec.h"

namespace parleym {

// How the letters of a language pair up: Turkish keeps I with dotless ı and
// dotted İ with i.
enum class CaseRules { kDefault, kTurkish };
// The rules of the language of an ANSI code page (kSystemCodePage: the system's).
CaseRules CaseRulesOf(int codePage);

std::uint32_t FoldCharacter(std::uint32_t code, CaseRules rules = CaseRules::kDefault);

// Text folded for matching; where a letter folds to another length, `origins`
// holds the byte offset in the original of each folded byte, then of the end.
struct FoldedText {
    std::string text;
    std::vector<std::uint32_t> origins;  // empty: every offset is the original's
};
void FoldCase(const std::string& utf8, FoldedText& folded, CaseRules rules = CaseRules::kDefault);
// Folded text alone, for a query.
void FoldCase(const std::string& utf8, std::string& folded, CaseRules rules = CaseRules::kDefault);

// UTF-8 plain text of a stored conversation from its content's text and
// is-RTF flag; `codePage` is the page of text that names none (plain text, or
// rich text without \ansicpg). Plain text has each CR LF as one break, as the
// control shows it.
std::string ConversationPlainText(const std::string& text, bool isRtf, int codePage = kSystemCodePage);

struct TextMatch {
    std::size_t offset = 0;     // bytes into the plain text
    std::size_t size = 0;       // bytes
    std::int32_t position = 0;  // where the control has it: UTF-16 units, an object is one
    std::int32_t length = 0;    // in the same units
};

class TextQuery {
public:
    explicit TextQuery(const std::string& utf8, CaseRules rules = CaseRules::kDefault);
    bool Empty() const { return folded_.empty(); }
    const std::string& Folded() const { return folded_; }
    CaseRules Rules() const { return rules_; }
    // Every match in `text`, in order, none overlapping, each whole characters.
    // `scratch` holds the folded text; pass the same one each time to save
    // allocations.
    std::vector<TextMatch> FindIn(const std::string& text, FoldedText& scratch) const;

private:
    std::string folded_;
    CaseRules rules_;
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
              std::size_t maxHits = kDefaultMaxHits, CaseRules rules = CaseRules::kDefault);

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
    FoldedText scratch_;
};

} // namespace parleym
