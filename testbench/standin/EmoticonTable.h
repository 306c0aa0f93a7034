#pragma once
// The messengers' emoticon text codes and the stand-in's own picture for each of them.
// Plain C++: the tokenizer and the artwork are tested natively too.
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

constexpr int kEmoticonPictureCount = 43;
constexpr int kEmoticonSize = 19;  // pixels, square

// First (canonical) code of a picture, e.g. ":-)"; empty for an unknown picture.
std::string EmoticonCode(int picture);
// The picture a code stands for, or -1.
int EmoticonPictureOf(const std::string& code);

struct TextPiece {
    std::string text;  // plain text when picture < 0
    int picture = -1;  // emoticon otherwise; text then holds the code as typed
};
// Splits text into plain runs and emoticon codes, longest code first at each position.
std::vector<TextPiece> SplitEmoticons(const std::string& text);

// The picture data an emoticon object saves as its CONTENTS stream, and its parse.
std::vector<uint8_t> EmoticonContents(int picture);
// Picture number from CONTENTS data, or -1 when the data is not ours or is damaged.
int ParseEmoticonContents(const std::vector<uint8_t>& data);
// Top-down 24-bit BGR pixels, kEmoticonSize squared.
std::vector<uint8_t> EmoticonPixels(int picture);

}  // namespace standin
