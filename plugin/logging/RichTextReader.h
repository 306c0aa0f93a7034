#pragma once
// Reads the rich text a log stores (as Rich Edit writes it) into UTF-8 plain
// text, keeping the places of embedded objects. Bytes are read in the code
// page of their font (\fcharsetN, \cpgN) or of the document (\ansicpgN),
// double-byte characters as one; font, colour and style tables, document
// information and ignorable destinations are left out; an embedded object or
// picture becomes one U+FFFC character, as it is one character in the control.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/logging/CodePage.h"
#include "plugin/logging/Utf8.h"

namespace parleym {

struct RichTextObject {
    std::int32_t position = 0;  // character position as the control counts (UTF-16 units)
    std::size_t offset = 0;     // byte offset of its U+FFFC in the text
};

struct RichText {
    std::string text;  // UTF-8; paragraph and line breaks as '\n'
    std::vector<RichTextObject> objects;
    std::int32_t characters = 0;  // length as the control counts it
    bool wellFormed = true;       // false for unbalanced braces or input cut short
    int codePage = 0;             // what \ansicpg names; 0 when the text names none
};

// Never fails: damaged or foreign input gives whatever text could be read.
// `codePage` is the page of a text that names none (the system's by default).
RichText ReadRichText(const std::string& rtf, int codePage = kSystemCodePage);

// The \ansicpg a rich text names near its start, 0 when none.
int NamedCodePage(const std::string& rtf);

// Stored plain text (bytes of `codePage`) as the control shows it, UTF-8:
// CR LF is one break. `positions`, when given, gets the byte offset in the
// result of each character the control counts, then of the end.
std::string ReadPlainText(const std::string& bytes, int codePage, std::vector<std::size_t>* positions = nullptr);

// Byte offset in UTF-8 `text` of the character at control position
// `position`; text.size() when the position lies at or past the end.
std::size_t Utf8OffsetOf(const std::string& text, std::int32_t position);

} // namespace parleym
