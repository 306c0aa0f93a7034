#include "plugin/logging/LogExport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#endif

#include "plugin/logging/EmoticonCodes.h"
#include "plugin/logging/LogSearch.h"
#include "plugin/logging/RichTextReader.h"
#include "plugin/storage/MessageContent.h"

namespace parleym {

namespace {

constexpr char kPictureFolder[] = "pictures";
constexpr char kObjectCharacter[] = "\xEF\xBF\xBC";  // U+FFFC as UTF-8
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// A conversation as UTF-8 text plus each object's byte offset in it, in order.
struct PlainConversation {
    std::string text;
    std::vector<std::pair<std::size_t, std::string>> objects;  // offset, key
};

PlainConversation Flatten(const CMessageContent& content, int codePage) {
    PlainConversation plain;
    std::vector<std::size_t> offsets;  // plain text: byte offset of each control character
    if (content.isRtf) plain.text = ReadRichText(content.text, codePage).text;
    else plain.text = ReadPlainText(content.text, codePage, &offsets);
    for (const MessageObjectRef& object : content.objects) {
        std::size_t offset = plain.text.size();
        if (object.position >= 0) {
            if (content.isRtf)
                offset = Utf8OffsetOf(plain.text, object.position);
            else if (static_cast<std::size_t>(object.position) < offsets.size())
                offset = offsets[static_cast<std::size_t>(object.position)];
        }
        plain.objects.emplace_back(offset, object.key);
    }
    std::stable_sort(plain.objects.begin(), plain.objects.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return plain;
}

// Walks the text, handing each run of text and each object to its callback;
// the placeholder character an object stands on is dropped.
template <typename TextRun, typename Object>
void Walk(const PlainConversation& plain, TextRun textRun, Object object) {
    std::size_t at = 0;
    for (const auto& placed : plain.objects) {
        const std::size_t offset = std::max(placed.first, at);
        if (offset > at) textRun(plain.text.data() + at, offset - at);
        at = offset;
        if (at < plain.text.size() && plain.text[at] == ' ') {
            ++at;
        } else if (plain.text.compare(at, 3, kObjectCharacter) == 0) {
            at += 3;
        }
        object(placed.second);
    }
    if (at < plain.text.size()) textRun(plain.text.data() + at, plain.text.size() - at);
}

void AppendEscaped(std::string& out, const char* text, std::size_t size) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '"': entity = "&quot;"; break;
        case '\'': entity = "&#39;"; break;
        case '\0': entity = ""; break;  // never valid in a page
        default: continue;
        }
        out.append(text + run, i - run);
        out += entity;
        run = i + 1;
    }
    out.append(text + run, size - run);
}

bool IsDeviceName(std::string name) {
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$"};
    for (const char* device : kDevices)
        if (name == device) return true;
    return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
           name[3] >= '0' && name[3] <= '9';
}

// A name in kFileNameCodePage as UTF-8, as pages link it.
std::string LinkOf(const std::string& name) {
    return kFileNameCodePage == kUtf8CodePage ? name : Utf8FromCodePage(name, kFileNameCodePage);
}

// A file name as the file system compares it: in any case, every script.
std::string Folded(const std::string& name) {
    std::string folded;
    FoldCase(LinkOf(name), folded);
    return folded;
}

// Separators of a path in kFileNameCodePage: in a double-byte page the
// second byte of a character may be a backslash's.
std::vector<std::size_t> Separators(const std::string& path) {
    const CodePage* page = kFileNameCodePage == kUtf8CodePage ? nullptr : CodePage::Find(kFileNameCodePage);
    std::vector<std::size_t> separators;
    for (std::size_t at = 0; at < path.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(path[at]);
        if (page && page->IsLeadByte(byte)) ++at;
        else if (byte == '/' || byte == '\\') separators.push_back(at);
    }
    return separators;
}

bool MakeFolder(const std::string& path) {
#ifdef _WIN32
    if (_mkdir(path.c_str()) == 0) return true;
#else
    if (mkdir(path.c_str(), 0777) == 0) return true;
#endif
    if (errno != EEXIST) return false;
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFDIR);
}

// The folder and every missing folder above it; false with why and the
// folder that could not be made.
bool MakeFolders(const std::string& path, std::string& error) {
    if (MakeFolder(path)) return true;
    int cause = errno;
    const std::vector<std::size_t> separators = Separators(path);
    const std::size_t slash = separators.empty() ? std::string::npos : separators.back();
    if (cause == ENOENT && slash != std::string::npos && slash > 0 && path[slash - 1] != ':') {
        if (!MakeFolders(path.substr(0, slash), error)) return false;
        if (MakeFolder(path)) return true;
        cause = errno;
    }
    error = "Cannot create the folder " + path + ": " +
            (cause == EEXIST ? std::string("a file of that name is in the way") : std::strerror(cause));
    return false;
}

// Letters and digits of the scripts the Windows code pages hold, beyond ASCII:
// what a file name may keep. No punctuation, symbols, spaces, format or
// private-use characters, and nothing that looks like a separator.
bool IsNameLetter(std::uint32_t code) {
    return (code >= 0xC0 && code <= 0x24F && code != 0xD7 && code != 0xF7) ||  // Latin
           (code >= 0x300 && code <= 0x36F) ||                                 // combining marks (Vietnamese)
           (code >= 0x386 && code <= 0x3FF && code != 0x387) ||                // Greek
           (code >= 0x400 && code <= 0x481) || (code >= 0x48A && code <= 0x52F) ||  // Cyrillic
           (code >= 0x5D0 && code <= 0x5EA) ||                                 // Hebrew
           (code >= 0x620 && code <= 0x64A) || (code >= 0x660 && code <= 0x669) ||
           (code >= 0x671 && code <= 0x6D3) ||                                 // Arabic
           (code >= 0xE01 && code <= 0xE3A) || (code >= 0xE40 && code <= 0xE4E) ||
           (code >= 0xE50 && code <= 0xE59) ||                                 // Thai
           (code >= 0x1E00 && code <= 0x1EFF) ||                               // Vietnamese letters
           (code >= 0x3041 && code <= 0x3096) || (code >= 0x309D && code <= 0x309F) ||  // Hiragana
           (code >= 0x30A1 && code <= 0x30FA) || (code >= 0x30FC && code <= 0x30FF) ||  // Katakana
           (code >= 0x3105 && code <= 0x312F) || (code >= 0x3131 && code <= 0x318E) ||  // Bopomofo, Jamo
           (code >= 0x3400 && code <= 0x4DBF) || (code >= 0x4E00 && code <= 0x9FFF) ||
           (code >= 0xF900 && code <= 0xFAFF) ||                               // Han
           (code >= 0xAC00 && code <= 0xD7A3) ||                               // Hangul
           (code >= 0xFF66 && code <= 0xFF9F);                                 // halfwidth Katakana
}

std::uint32_t Le32(const std::string& data, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(data[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 3])) << 24;
}

void PutLe32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

constexpr char kPageStyle[] =
    "<style>body{font-family:sans-serif;margin:2em}"
    ".text{white-space:pre-wrap;font-family:inherit}"
    "table{border-collapse:collapse}td,th{padding:2px 12px;text-align:left}"
    ".when{color:#555}.unreadable{color:#a00}</style>";

} // namespace

std::string ExportSource::ObjectText(const std::string& key) {
    const char* code = EmoticonCodeForKey(key);
    return code ? code : "[picture]";
}

bool SniffPicture(const std::string& data, ExportPicture& picture) {
    auto startsWith = [&](const char* magic, std::size_t size) {
        return data.size() >= size && std::memcmp(data.data(), magic, size) == 0;
    };
    if (startsWith("\x89PNG\r\n\x1A\n", 8)) {
        picture = {"png", data};
    } else if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6)) {
        picture = {"gif", data};
    } else if (startsWith("\xFF\xD8\xFF", 3)) {
        picture = {"jpg", data};
    } else if (startsWith("BM", 2) && data.size() >= 26 && Le32(data, 2) <= data.size()) {
        picture = {"bmp", data};
    } else if (data.size() >= 40 && (Le32(data, 0) == 40 || Le32(data, 0) == 108 || Le32(data, 0) == 124)) {
        // A bare bitmap: the file header says where the pixels start, after
        // the header and its colour table.
        const std::uint32_t header = Le32(data, 0);
        const std::uint32_t bits = static_cast<std::uint32_t>(static_cast<unsigned char>(data[14])) |
                                   static_cast<std::uint32_t>(static_cast<unsigned char>(data[15])) << 8;
        std::uint32_t colours = Le32(data, 32);
        if (colours == 0 && bits <= 8) colours = 1u << bits;
        if (bits == 0 || bits > 32 || colours > 256) return false;
        std::uint32_t table = colours * 4;
        if (header == 40 && Le32(data, 16) == 3) table += 12;  // bit-field masks
        const std::uint64_t pixels = 14ull + header + table;
        if (pixels > 14ull + data.size()) return false;
        std::string file = "BM";
        PutLe32(file, static_cast<std::uint32_t>(14 + data.size()));
        PutLe32(file, 0);
        PutLe32(file, static_cast<std::uint32_t>(pixels));
        file += data;
        picture = {"bmp", std::move(file)};
    } else {
        return false;
    }
    return true;
}

std::string ConversationText(const CMessageContent& content,
                             const std::function<std::string(const std::string&)>& objectText, int codePage) {
    const PlainConversation plain = Flatten(content, codePage);
    std::string out;
    out.reserve(plain.text.size() + plain.objects.size() * 4);
    Walk(
        plain, [&](const char* text, std::size_t size) { out.append(text, size); },
        [&](const std::string& key) { out += objectText(key); });
    return out;
}

std::string ConversationHtml(const CMessageContent& content,
                             const std::function<std::string(const std::string&)>& pictureFile,
                             const std::function<std::string(const std::string&)>& objectText, int codePage) {
    const PlainConversation plain = Flatten(content, codePage);
    std::string out;
    out.reserve(plain.text.size() + plain.text.size() / 8 + plain.objects.size() * 48);
    Walk(
        plain, [&](const char* text, std::size_t size) { AppendEscaped(out, text, size); },
        [&](const std::string& key) {
            const std::string file = pictureFile(key);
            const std::string alternative = objectText(key);
            if (file.empty()) {
                AppendEscaped(out, alternative.data(), alternative.size());
                return;
            }
            out += "<img src=\"";
            AppendEscaped(out, file.data(), file.size());
            out += "\" alt=\"";
            AppendEscaped(out, alternative.data(), alternative.size());
            out += "\">";
        });
    return out;
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text.data(), text.size());
    return out;
}

#ifdef _WIN32
const int kFileNameCodePage = kSystemCodePage;
#else
const int kFileNameCodePage = kUtf8CodePage;
#endif

std::string SafeFileName(const std::string& name, std::size_t limit, int codePage) {
    const CodePage* page = codePage == kUtf8CodePage ? nullptr : &CodePage::FindOrDefault(codePage);
    std::string safe;
    bool lastKept = false;  // the last character added was a letter or digit
    std::string bytes;
    for (std::size_t at = 0; at < name.size();) {
        std::size_t length = 1;
        const std::uint32_t code = DecodeUtf8(name, at, length);
        at += length;
        const bool alphanumeric = (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z') ||
                                  (code >= '0' && code <= '9');
        // A dot only after a letter or digit: no "..", no hidden or extension-only names.
        const bool dot = code == '.' && lastKept;
        bytes.clear();
        bool keep = alphanumeric || dot || code == '_' || code == '-' || code == '@';
        if (keep) {
            bytes += static_cast<char>(code);
        } else if (code != kNotUtf8 && IsNameLetter(code)) {
            // Only what the file functions can name: a character the page lacks would become "?".
            keep = page ? page->Encode(code, bytes) : (AppendUtf8(bytes, code), true);
        }
        if (!keep && !safe.empty() && safe.back() == '_') continue;  // one mark per run
        if (!keep) bytes = "_";
        if (safe.size() + bytes.size() > limit) break;
        safe += bytes;
        lastKept = keep && code != '.' && code != '_' && code != '-' && code != '@';
    }
    while (!safe.empty() && safe.back() == '.') safe.pop_back();
    if (safe.empty() || IsDeviceName(safe)) safe.insert(0, "_");
    return safe;
}

LogExport::LogExport(ExportSource& source, std::vector<ExportItem> items, ExportFormat format, std::string folder,
                     std::string newline)
    : source_(source), items_(std::move(items)), format_(format), folder_(std::move(folder)),
      newline_(std::move(newline)) {
    for (std::vector<std::size_t> separators = Separators(folder_);
         folder_.size() > 1 && !separators.empty() && separators.back() == folder_.size() - 1; separators.pop_back())
        folder_.pop_back();
    rows_.reserve(items_.size());
}

bool LogExport::Start(std::string& error) {
    if (folder_.empty()) {
        error = "No folder was given to export into.";
        return false;
    }
    struct stat info {};
    if (stat(folder_.c_str(), &info) == 0 && !(info.st_mode & S_IFDIR)) {
        error = folder_ + " is a file, not a folder.";
        return false;
    }
    error.clear();
    if (!MakeFolders(folder_, error)) return false;
    // A folder that takes no files is told now, before any work is done.
    const std::string probe = folder_ + "/~parleym-export.tmp";
    std::FILE* file = std::fopen(probe.c_str(), "wb");
    if (!file) {
        error = "Cannot write into the folder " + folder_ + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    std::remove(probe.c_str());
    if (format_ == ExportFormat::kHtml && !MakeFolder(folder_ + "/" + kPictureFolder)) {
        error = "Cannot create the folder " + folder_ + "/" + kPictureFolder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string LogExport::Name(const ExportItem& item) const {
    return item.contactName.empty() ? Utf8FromCodePage(item.entry.contact, source_.CodePage()) : item.contactName;
}

std::string LogExport::AccountFolder(const std::string& account) {
    const auto known = accountFolders_.find(account);
    if (known != accountFolders_.end()) return known->second;
    // Names that differ only in unsafe characters or case still get folders of their own.
    const std::string base = SafeFileName(account, 48, kFileNameCodePage);
    std::string name = base;
    for (int n = 2; usedFolders_.count(Folded(name)) || Folded(name) == kPictureFolder; ++n)
        name = base + "-" + std::to_string(n);
    usedFolders_.insert(Folded(name));
    accountFolders_.emplace(account, name);
    return name;
}

std::string LogExport::PictureFile(const std::string& key) {
    const auto known = pictures_.find(key);
    if (known != pictures_.end()) return known->second;
    std::string file;
    ExportPicture picture;
    const bool decimal = !key.empty() && key.size() <= 10 &&
                         std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (decimal && source_.Picture(key, picture) && !picture.data.empty()) {
        const std::string relative = std::string(kPictureFolder) + "/" + key + "." + SafeFileName(picture.extension, 8);
        std::string ignored;
        if (WriteFile(relative, picture.data, ignored)) {
            file = relative;
            ++picturesWritten_;
        }
    }
    pictures_.emplace(key, file);
    return file;
}

bool LogExport::WriteFile(const std::string& relative, const std::string& data, std::string& error) {
    const std::string path = folder_ + "/" + relative;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "Cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = "Cannot write " + path + ": " + std::strerror(errno);
        std::remove(path.c_str());
        return false;
    }
    return true;
}

std::string LogExport::Page(const ExportItem& item, const CMessageContent& content, const std::string& file) {
    const std::string name = HtmlEscape(Name(item));
    const std::string contact = HtmlEscape(Utf8FromCodePage(item.entry.contact, source_.CodePage()));
    // Pages sit one folder down; pictures are referenced from there.
    const std::string up = file.find('/') == std::string::npos ? "" : "../";
    std::string page;
    page.reserve(content.text.size() + 1024);
    page += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Conversation with " + name + "</title>";
    page += kPageStyle;
    page += "</head>\n<body>\n<p><a href=\"" + up + "index.html\">All conversations</a></p>\n";
    page += "<h1>Conversation with " + name + "</h1>\n";
    page += "<p class=\"when\">" + contact + ", " + HtmlEscape(source_.FormatDate(item.entry.start)) + " &ndash; " +
            HtmlEscape(source_.FormatDate(item.entry.end)) + "</p>\n<div class=\"text\">";
    page += ConversationHtml(
        content,
        [&](const std::string& key) {
            const std::string picture = PictureFile(key);
            return picture.empty() ? picture : up + picture;
        },
        [&](const std::string& key) { return source_.ObjectText(key); }, source_.CodePage());
    page += "</div>\n</body></html>\n";
    return page;
}

std::string LogExport::TextPage(const ExportItem& item, const CMessageContent& content) {
    std::string text = kByteOrderMark;
    text += "Conversation with " + Name(item) + " (" + Utf8FromCodePage(item.entry.contact, source_.CodePage()) + ")\n";
    text += source_.FormatDate(item.entry.start) + " - " + source_.FormatDate(item.entry.end) + "\n\n";
    text += ConversationText(content, [&](const std::string& key) { return source_.ObjectText(key); },
                             source_.CodePage());
    if (!text.empty() && text.back() != '\n') text += '\n';
    if (newline_ == "\n") return text;
    std::string converted;
    converted.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') converted += newline_;
        else converted += c;
    }
    return converted;
}

bool LogExport::Step(std::string& error) {
    if (Done()) return true;
    const ExportItem& item = items_[next_];
    Row row{&item, "", ""};
    CMessageContent content;
    std::string reason;
    if (!source_.Load(item, content, reason)) {
        row.error = reason.empty() ? "could not be read" : reason;
        ++unreadable_;
    } else {
        bytesRead_ += content.text.size();
        const bool html = format_ == ExportFormat::kHtml;
        const std::string accountFolder = AccountFolder(item.account);
        if (!MakeFolder(folder_ + "/" + accountFolder)) {
            error = "Cannot create the folder " + folder_ + "/" + accountFolder + ": " + std::strerror(errno);
            return false;
        }
        const std::string contact = Utf8FromCodePage(item.entry.contact, source_.CodePage());
        const std::string path = accountFolder + "/" + std::to_string(item.entry.number) + "-" +
                                 SafeFileName(contact, 48, kFileNameCodePage) + (html ? ".html" : ".txt");
        row.file = LinkOf(path);
        if (!WriteFile(path, html ? Page(item, content, row.file) : TextPage(item, content), error)) return false;
    }
    rows_.push_back(std::move(row));
    ++next_;
    return true;
}

std::string LogExport::IndexPage() const {
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Logged conversations</title>";
    page += kPageStyle;
    page += "</head>\n<body>\n<h1>Logged conversations</h1>\n";
    if (next_ < items_.size())
        page += "<p class=\"unreadable\">Export cancelled: " + std::to_string(next_) + " of " +
                std::to_string(items_.size()) + " conversations exported.</p>\n";
    page += "<table>\n<tr><th>Account</th><th>Contact</th><th>Started</th><th>Last saved</th></tr>\n";
    for (const Row& row : rows_) {
        const ExportItem& item = *row.item;
        page += "<tr><td>" + HtmlEscape(item.account) + "</td><td>";
        const std::string name = HtmlEscape(Name(item));
        if (row.file.empty())
            page += name + " <span class=\"unreadable\">(" + HtmlEscape(row.error) + ")</span>";
        else
            page += "<a href=\"" + HtmlEscape(row.file) + "\">" + name + "</a>";
        page += "</td><td>" + HtmlEscape(source_.FormatDate(item.entry.start)) + "</td><td>" +
                HtmlEscape(source_.FormatDate(item.entry.end)) + "</td></tr>\n";
    }
    page += "</table>\n</body></html>\n";
    return page;
}

std::string LogExport::IndexText() const {
    std::string text = kByteOrderMark;
    if (next_ < items_.size())
        text += "Export cancelled: " + std::to_string(next_) + " of " + std::to_string(items_.size()) +
                " conversations exported." + newline_;
    for (const Row& row : rows_) {
        const ExportItem& item = *row.item;
        text += item.account + "\t" + source_.FormatDate(item.entry.start) + "\t" +
                source_.FormatDate(item.entry.end) + "\t" + Name(item) + "\t" +
                (row.file.empty() ? "(" + row.error + ")" : row.file) + newline_;
    }
    return text;
}

bool LogExport::Finish(std::string& error) {
    if (format_ == ExportFormat::kHtml) return WriteFile("index.html", IndexPage(), error);
    return WriteFile("index.txt", IndexText(), error);
}

ExportOutcome RunExport(LogExport& exporter, const std::function<bool(std::size_t, std::size_t)>& progress) {
    ExportOutcome outcome;
    if (!exporter.Start(outcome.error)) return outcome;
    while (!exporter.Done()) {
        if (progress && !progress(exporter.Exported(), exporter.Total())) {
            outcome.cancelled = true;
            break;
        }
        if (!exporter.Step(outcome.error)) return outcome;
    }
    if (!exporter.Finish(outcome.error)) return outcome;
    if (progress && !outcome.cancelled) progress(exporter.Exported(), exporter.Total());
    outcome.ok = true;
    return outcome;
}

} // namespace parleym
