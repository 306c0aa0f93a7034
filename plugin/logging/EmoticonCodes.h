#pragma once
// The messenger's standard emoticons: which cache key holds which picture, and
// the text codes each picture is typed as. Offline messages travel as text, so
// stored content is converted between embedded pictures and these codes.
#include <map>
#include <string>
#include <vector>

namespace parleym {

class CMessageContent;

struct EmoticonCode {
    const char* code;
    const char* digest;  // MD5 of the picture's CONTENTS stream
};

// Every code in search order; several codes of one picture follow each other.
const std::vector<EmoticonCode>& EmoticonTable();

// The code written for the picture stored under `key` (keys 2 to 44), or null.
const char* EmoticonCodeForKey(const std::string& key);

// Replaces each embedded object that has a code by that code, then drops all
// object references. Positions are character indexes into plain text; a
// reference outside the text is dropped without touching the text.
void ConvertObjectsToCodes(CMessageContent& content);

// Turns the first occurrence of each code into a placeholder with an object
// reference to the picture's key (looked up in `digests`, digest -> key).
// A code whose picture is not in the cache stays as text.
void ConvertCodesToObjects(CMessageContent& content, const std::map<std::string, std::string>& digests);

} // namespace parleym
