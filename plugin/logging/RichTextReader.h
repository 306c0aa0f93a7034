#pragma once
// Reads the rich text a log stores (as Rich Edit writes it) into UTF-8 plain
// text, keeping the places of embedded objects. Font, colour and style tables,
// document information and ignorable destinations are left out; an embedded
// object or picture becomes one U+FFFC character, as it is one character in
// the control.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
};

// A byte of Windows-1252 text as a Unicode character (the holes as Windows
// maps them, to the C1 codes).
std::uint32_t Windows1252ToUnicode(unsigned char byte);

// Appends one Unicode character (up to U+10FFFF) to `out` as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t code);

// Never fails: damaged or foreign input gives whatever text could be read.
RichText ReadRichText(const std::string& rtf);

// Byte offset in UTF-8 `text` of the character at control position
// `position`; text.size() when the position lies at or past the end.
std::size_t Utf8OffsetOf(const std::string& text, std::int32_t position);

} // namespace parleym
