#pragma once
// The Windows ANSI code pages conversations are logged in, read into Unicode
// and written back for file names. On Windows the system converts
// (MultiByteToWideChar); elsewhere tables made from Wine's code page files
// do. Both fill the same tables, so every reader of the logs decodes alike.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace parleym {

// The system's ANSI code page (Windows' CP_ACP).
constexpr int kSystemCodePage = 0;
// UTF-8: names for a file system that takes it; no ANSI page.
constexpr int kUtf8CodePage = 65001;

class CodePage {
public:
    // The page (kSystemCodePage: the system's), or null when it is none this
    // program reads: 874, 932, 936, 949, 950, 1250-1258, 28591 and the
    // system's own. Each page is loaded once and kept.
    static const CodePage* Find(int page);
    // `page` when it can be read, else the system's page, else Windows-1252.
    static const CodePage& FindOrDefault(int page);

    int Number() const { return number_; }
    bool IsDoubleByte() const { return !rows_.empty(); }
    bool IsLeadByte(unsigned char byte) const { return rowOf_[byte] >= 0; }
    // One byte's character; a lead byte alone gives the page's default character.
    std::uint16_t Single(unsigned char byte) const { return single_[byte]; }
    // The character a lead byte and the byte after it make, or 0 when that
    // byte cannot follow it (each then stands for itself).
    std::uint16_t Pair(unsigned char lead, unsigned char trail) const {
        const int row = rowOf_[lead];
        return row < 0 ? 0 : rows_[static_cast<std::size_t>(row) * 256 + trail];
    }
    // Appends the bytes that read back as `code`; false when the page has none.
    bool Encode(std::uint32_t code, std::string& out) const;

    // What a platform fills in (CodePageWindows.cpp or CodePageFromTables.cpp).
    struct Data {
        std::uint16_t single[256] = {};
        std::vector<unsigned char> leads;  // lead bytes, ascending
        std::vector<std::uint16_t> rows;   // 256 per lead byte: the pair's character or 0
    };
    CodePage(int number, Data data);

private:
    int number_;
    std::uint16_t single_[256];
    std::int16_t rowOf_[256];
    std::vector<std::uint16_t> rows_;
    mutable std::map<std::uint16_t, std::uint16_t> encoder_;  // character -> bytes (lead << 8 | trail), made on first use
};

// The platform's side: false when it cannot read `page` (never kSystemCodePage).
bool LoadCodePage(int page, CodePage::Data& data);
// The system's ANSI code page: GetACP() on Windows, Windows-1252 elsewhere.
int SystemCodePage();

// The page a font's \fcharsetN stands for; 0 for the document's own
// (DEFAULT_CHARSET, and sets this program cannot read).
int CodePageOfCharset(int charset);

// Bytes of `page` as UTF-8, a double-byte character as one; NULs are left out.
std::string Utf8FromCodePage(const std::string& bytes, int page);

} // namespace parleym
