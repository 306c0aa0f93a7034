#pragma once
// A line in the script of each Windows ANSI code page, with the bytes Rich
// Edit writes for it and the text a reader must make of them, and a word to
// find in it. Shared by the reader, Find, export and parleym-logs tests.
#include <cstdint>
#include <string>

namespace parleym_test {

struct CodePageSample {
    int page;
    int charset;         // the \fcharset of a font of that script
    const char* escapes; // the line as Rich Edit writes it: \'hh per byte
    const char* utf8;    // the line as the control shows it
    const char* query;   // a word of the line, in another case where the script has cases
    int matches;         // how often the query is found in the line
};

// Vietnamese in 1258 is letters and combining tone marks; 932 and 950 have
// characters whose second byte is a backslash's (ソ, 表, 許, 功, 蓋).
inline const CodePageSample kCodePageSamples[] = {
    {1250, 238, "Za\\'bf\\'f3\\'b3\\'e6 g\\'ea\\'9cl\\'b9 ja\\'9f\\'f1, \\'a3\\'d3D\\'8f",
     "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84, \xC5\x81\xC3\x93" "D\xC5\xB9",
     "\xC5\x82\xC3\xB3" "d\xC5\xBA", 1},
    {1251, 204, "\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2, \\'ea\\'e0\\'ea \\'e4\\'e5\\'eb\\'e0? \\'cf\\'d0\\'c8\\'c2\\'c5\\'d2!",
     "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBA\xD0\xB0\xD0\xBA \xD0\xB4\xD0\xB5\xD0\xBB\xD0\xB0? "
     "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2!",
     "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 2},
    {1252, 0, "Caf\\'e9 cr\\'e8me, l'\\'9cuvre \\'97 \\'c9T\\'c9",
     "Caf\xC3\xA9 cr\xC3\xA8me, l'\xC5\x93uvre \xE2\x80\x94 \xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", 1},
    {1253, 161,
     "\\'ca\\'e1\\'eb\\'e7\\'ec\\'dd\\'f1\\'e1, \\'f4\\'e9 \\'ea\\'dc\\'ed\\'e5\\'e9\\'f2; "
     "\\'ca\\'c1\\'cb\\'c7\\'cc\\'b8\\'d1\\'c1",
     "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1, \xCF\x84\xCE\xB9 "
     "\xCE\xBA\xCE\xAC\xCE\xBD\xCE\xB5\xCE\xB9\xCF\x82; \xCE\x9A\xCE\x91\xCE\x9B\xCE\x97\xCE\x9C\xCE\x88\xCE\xA1\xCE\x91",
     "\xCE\xBA\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1", 2},
    {1254, 162, "G\\'fcnayd\\'fdn \\'ddstanbul, ILIK \\'feeker",
     "G\xC3\xBCnayd\xC4\xB1n \xC4\xB0stanbul, ILIK \xC5\x9F" "eker", "istanbul", 1},
    {1255, 177, "\\'f9\\'ec\\'e5\\'ed, \\'ee\\'e4 \\'f9\\'ec\\'e5\\'ee\\'ea?",
     "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D, \xD7\x9E\xD7\x94 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9E\xD7\x9A?",
     "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D", 1},
    {1256, 178, "\\'e3\\'d1\\'cd\\'c8\\'c7\\'a1 \\'df\\'ed\\'dd \\'cd\\'c7\\'e1\\'df\\'bf",
     "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7\xD8\x8C \xD9\x83\xD9\x8A\xD9\x81 \xD8\xAD\xD8\xA7\xD9\x84\xD9\x83\xD8\x9F",
     "\xD8\xAD\xD8\xA7\xD9\x84\xD9\x83", 1},
    {1257, 186, "Labas rytas, \\'e0\\'feuolas \\'d0IAULIAI",
     "Labas rytas, \xC4\x85\xC5\xBEuolas \xC5\xA0IAULIAI", "\xC5\xA1iauliai", 1},
    {1258, 163, "Xin ch\\'e0o, ba\\'f2n kho\\'d2e kh\\'f4ng? CH\\'c0O",
     "Xin ch\xC3\xA0o, ba\xCC\xA3n kho\xCC\x89" "e kh\xC3\xB4ng? CH\xC3\x80O", "ch\xC3\xA0o", 2},
    {874, 222,
     "\\'ca\\'c7\\'d1\\'ca\\'b4\\'d5\\'a4\\'c3\\'d1\\'ba \\'e0\\'bb\\'e7\\'b9\\'cd\\'c2\\'e8\\'d2\\'a7\\'e4\\'c3\\'ba"
     "\\'e9\\'d2\\'a7",
     "\xE0\xB8\xAA\xE0\xB8\xA7\xE0\xB8\xB1\xE0\xB8\xAA\xE0\xB8\x94\xE0\xB8\xB5\xE0\xB8\x84\xE0\xB8\xA3\xE0\xB8\xB1"
     "\xE0\xB8\x9A \xE0\xB9\x80\xE0\xB8\x9B\xE0\xB9\x87\xE0\xB8\x99\xE0\xB8\xAD\xE0\xB8\xA2\xE0\xB9\x88\xE0\xB8\xB2"
     "\xE0\xB8\x87\xE0\xB9\x84\xE0\xB8\xA3\xE0\xB8\x9A\xE0\xB9\x89\xE0\xB8\xB2\xE0\xB8\x87",
     "\xE0\xB8\x84\xE0\xB8\xA3\xE0\xB8\xB1\xE0\xB8\x9A", 1},
    {932, 128,
     "\\'82\\'b1\\'82\\'f1\\'82\\'c9\\'82\\'bf\\'82\\'cd\\'81\\'41\\'83\\'5c\\'83\\'74\\'83\\'67\\'95\\'5c\\'8e\\'a6"
     "\\'82\\'c5\\'82\\'b7",
     "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\xE3\x80\x81\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88"
     "\xE8\xA1\xA8\xE7\xA4\xBA\xE3\x81\xA7\xE3\x81\x99",
     "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88", 1},
    {936, 134, "\\'c4\\'e3\\'ba\\'c3\\'a3\\'ac\\'d7\\'ee\\'bd\\'fc\\'d4\\'f5\\'c3\\'b4\\'d1\\'f9\\'a3\\'bf",
     "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE6\x9C\x80\xE8\xBF\x91\xE6\x80\x8E\xE4\xB9\x88\xE6\xA0\xB7\xEF\xBC\x9F",
     "\xE6\x9C\x80\xE8\xBF\x91", 1},
    {949, 129, "\\'be\\'c8\\'b3\\'e7\\'c7\\'cf\\'bc\\'bc\\'bf\\'e4, \\'c0\\'df \\'c1\\'f6\\'b3\\'bb\\'bf\\'e4?",
     "\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94, \xEC\x9E\x98 \xEC\xA7\x80\xEB\x82\xB4\xEC\x9A\x94?",
     "\xEC\xA7\x80\xEB\x82\xB4\xEC\x9A\x94", 1},
    {950, 136,
     "\\'a7\\'41\\'a6\\'6e\\'a1\\'41\\'b3\\'5c\\'a5\\'5c\\'bb\\'5c\\'ab\\'e7\\'bb\\'f2\\'bc\\'cb\\'a1\\'48",
     "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE8\xA8\xB1\xE5\x8A\x9F\xE8\x93\x8B\xE6\x80\x8E\xE9\xBA\xBC\xE6\xA8\xA3"
     "\xEF\xBC\x9F",
     "\xE8\xA8\xB1\xE5\x8A\x9F\xE8\x93\x8B", 1},
};

// A history as Windows' Rich Edit streams it out: the header naming
// `ansicpg` (0: none), a font of `charset` (-1: none given) or of code page
// `cpg` (0: none), the grey "Bob says:" line in a Western font, then `body`.
inline std::string RichEditHistory(int ansicpg, int charset, int cpg, const std::string& body) {
    std::string font = "{\\f0\\fnil";
    if (charset >= 0) font += "\\fcharset" + std::to_string(charset);
    if (cpg > 0) font += "\\cpg" + std::to_string(cpg);
    font += " Tahoma;}";
    return std::string("{\\rtf1\\ansi") + (ansicpg > 0 ? "\\ansicpg" + std::to_string(ansicpg) : "") +
           "\\deff0\\deflang1033{\\fonttbl" + font + "{\\f1\\fswiss\\fcharset0 Tahoma;}}\r\n"
           "{\\colortbl ;\\red128\\green128\\blue128;}\r\n"
           "{\\*\\generator Msftedit 5.41.15.1507;}\\viewkind4\\uc1\\pard\\cf1\\f1\\fs20 Bob says:\\par\r\n"
           "\\cf0\\f0 " + body + "\\par\r\n}\r\n";
}

// What the control shows of RichEditHistory(..., `line`).
inline std::string HistoryText(const std::string& line) { return "Bob says:\n" + line + "\n"; }

// The bytes an escaped line stands for: \'hh as its byte, \\ \{ \} as theirs.
inline std::string BytesOf(const std::string& escapes) {
    std::string bytes;
    for (std::size_t at = 0; at < escapes.size(); ++at) {
        if (escapes[at] == '\\' && at + 3 < escapes.size() && escapes[at + 1] == '\'') {
            bytes += static_cast<char>(std::stoi(escapes.substr(at + 2, 2), nullptr, 16));
            at += 3;
        } else if (escapes[at] == '\\' && at + 1 < escapes.size()) {
            bytes += escapes[++at];
        } else {
            bytes += escapes[at];
        }
    }
    return bytes;
}

// Characters as the control counts them (UTF-16 units) in UTF-8 `text`.
inline std::int32_t ControlLength(const std::string& text) {
    std::int32_t units = 0;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

} // namespace parleym_test
