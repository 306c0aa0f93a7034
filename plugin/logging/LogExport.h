#pragma once
// Writes logged conversations into a folder as HTML (one page per conversation,
// an index page, emoticons as picture files) or as plain text. Plain C++: the
// viewer runs it in slices on the user-interface thread, the command-line
// reader in one go; each supplies the conversations through ExportSource.
//
// Layout of the folder:
//   index.html | index.txt
//   <account>/<number>-<contact>.html | .txt
//   pictures/<key>.<extension>
// Every name that comes from a log is reduced to safe characters, so no
// contact or account name can reach outside the folder. Pages are UTF-8 and
// say so; text files are UTF-8 with a byte-order mark, so editors that guess
// from the system's code page still read every script.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "plugin/logging/CodePage.h"
#include "plugin/logging/ConversationIndexCodec.h"

namespace parleym {

class CMessageContent;

enum class ExportFormat { kHtml, kText };

struct ExportItem {
    std::string account;      // sign-in name, UTF-8
    LogEntry entry;           // contact is the sign-in name as stored (ANSI)
    std::string contactName;  // what to call the contact, UTF-8; empty: the sign-in name
};

struct ExportPicture {
    std::string extension;  // "png", "gif", "jpg", "bmp"
    std::string data;       // the file's bytes
};

class ExportSource {
public:
    virtual ~ExportSource() = default;
    // The conversation's stored content; false with a reason when unreadable.
    virtual bool Load(const ExportItem& item, CMessageContent& content, std::string& error) = 0;
    // A picture file for the embedded object stored under `key`; false when
    // there is none the exporter can write (the object's text code stands in).
    virtual bool Picture(const std::string& key, ExportPicture& picture) = 0;
    // Date and time in the user's format, UTF-8.
    virtual std::string FormatDate(double oleDate) = 0;
    // What stands for an object that has no picture: its emoticon code where
    // the key has one, else "[picture]".
    virtual std::string ObjectText(const std::string& key);
    // The code page of the ANSI text handed over: sign-in names, plain-text
    // conversations and rich text that names no page.
    virtual int CodePage() { return kSystemCodePage; }
};

// Picture file formats recognised in an object's stored data: PNG, GIF, JPEG,
// BMP, and a bare device-independent bitmap (given a file header).
bool SniffPicture(const std::string& data, ExportPicture& picture);

// Text of a stored conversation, UTF-8 with '\n' line breaks, each embedded
// object replaced by `objectText(key)`. `codePage`: the page of text that
// names none.
std::string ConversationText(const CMessageContent& content,
                             const std::function<std::string(const std::string&)>& objectText,
                             int codePage = kSystemCodePage);

// Conversation text as HTML: escaped, objects as <img> through `pictureFile`
// (relative path, empty when none) with the object text as alternative.
std::string ConversationHtml(const CMessageContent& content,
                             const std::function<std::string(const std::string&)>& pictureFile,
                             const std::function<std::string(const std::string&)>& objectText,
                             int codePage = kSystemCodePage);

std::string HtmlEscape(const std::string& text);

// The page file names are written in: the system's ANSI page where the file
// functions take that (Windows), UTF-8 elsewhere.
extern const int kFileNameCodePage;

// A file or folder name from UTF-8 `name`, in `codePage` (kUtf8CodePage or an
// ANSI page): ASCII letters and digits, ". _ - @", and the letters and digits
// of the scripts the code pages hold where `codePage` has them; anything else
// becomes "_". No leading or trailing dots, device names or more than `limit`
// bytes; never empty.
std::string SafeFileName(const std::string& name, std::size_t limit = 64, int codePage = kUtf8CodePage);

class LogExport {
public:
    LogExport(ExportSource& source, std::vector<ExportItem> items, ExportFormat format, std::string folder,
              std::string newline = "\n");

    // Creates the folder and its sub-folders; false with a reason.
    bool Start(std::string& error);
    bool Done() const { return next_ >= items_.size(); }
    // Exports the next conversation. An unreadable one is listed as such in
    // the index; false only when a file cannot be written.
    bool Step(std::string& error);
    // Writes the index of what has been exported so far (also after a cancel).
    bool Finish(std::string& error);

    std::size_t Total() const { return items_.size(); }
    std::size_t Exported() const { return next_; }
    std::size_t Unreadable() const { return unreadable_; }
    std::size_t PicturesWritten() const { return picturesWritten_; }
    std::uint64_t BytesRead() const { return bytesRead_; }  // stored content handled
    const std::string& Folder() const { return folder_; }

private:
    struct Row {
        const ExportItem* item;
        std::string file;  // relative to the folder, UTF-8 as pages link it; empty when unreadable
        std::string error;
    };

    std::string AccountFolder(const std::string& account);  // in kFileNameCodePage
    std::string PictureFile(const std::string& key);  // relative to the folder, or ""
    bool WriteFile(const std::string& relative, const std::string& data, std::string& error);
    std::string Page(const ExportItem& item, const CMessageContent& content, const std::string& file);
    std::string TextPage(const ExportItem& item, const CMessageContent& content);
    std::string IndexPage() const;
    std::string IndexText() const;
    std::string Name(const ExportItem& item) const;

    ExportSource& source_;
    std::vector<ExportItem> items_;
    ExportFormat format_;
    std::string folder_;
    std::string newline_;
    std::size_t next_ = 0;
    std::size_t unreadable_ = 0;
    std::size_t picturesWritten_ = 0;
    std::uint64_t bytesRead_ = 0;
    std::vector<Row> rows_;
    std::map<std::string, std::string> accountFolders_;  // account -> folder name (kFileNameCodePage)
    std::set<std::string> usedFolders_;                  // lower-cased folder names
    std::map<std::string, std::string> pictures_;        // key -> relative file, "" when none
};

struct ExportOutcome {
    bool ok = false;
    bool cancelled = false;
    std::string error;
};

// The whole export in one go; `progress(done, total)` returning false cancels
// (the index then lists what was exported).
ExportOutcome RunExport(LogExport& exporter, const std::function<bool(std::size_t, std::size_t)>& progress);

} // namespace parleym
