#pragma once
// logs.dat and objcache.dat as the command-line reader sees them: accounts,
// their conversation indexes and conversations, and the cached pictures.
#include <map>
#include <string>
#include <vector>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/LogExport.h"
#include "plugin/storage/MessageContent.h"
#include "tools/parleym-logs/StoredFile.h"

namespace parleym_logs {

struct Account {
    std::string name;  // sign-in name as stored (ANSI)
    int number = 0;    // its sub-storage is named by it
    parleym::ConversationIndex index;
    std::string problem;  // why its index could not be read; empty when it could
};

class LogsReader {
public:
    // False with a reason when the file is no logs file, or damaged beyond
    // anything the plug-in would recover. A conversation the index lost is
    // listed after the indexed ones, as the plug-in lists it (no contact).
    bool Open(const std::string& path, std::string& error);
    // How the file was read when not as it lies (a save undone, a salvage).
    const std::string& ReadNote() const { return file_.ReadNote(); }
    const std::vector<Account>& Accounts() const { return accounts_; }
    // By sign-in name, as stored or as UTF-8 from `codePage`.
    const Account* FindAccount(const std::string& name, int codePage) const;
    // False with a reason when the conversation's stream is missing or damaged.
    bool Load(const Account& account, int number, parleym::CMessageContent& content, std::string& error) const;

private:
    void ListUnindexed(const std::string& storage, parleym::ConversationIndex& index) const;

    StoredFile file_;
    std::vector<Account> accounts_;
};

// objcache.dat; a missing or damaged cache simply has no pictures.
class PictureCache {
public:
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return file_.IsOpen(); }
    bool Picture(const std::string& key, parleym::ExportPicture& picture) const;
    // The emoticon code of the picture stored under `key`, found by its
    // digest (any key) or by the standard key; empty when unknown.
    std::string Code(const std::string& key) const;

private:
    bool Contents(const std::string& key, std::vector<std::uint8_t>& data) const;
    StoredFile file_;
};

// The conversations of the file for the exporter, dates in the C library's
// locale (LC_TIME), text in `codePage` where it names none.
class ReaderSource : public parleym::ExportSource {
public:
    ReaderSource(const LogsReader& logs, const PictureCache& pictures, int codePage)
        : logs_(logs), pictures_(pictures), codePage_(codePage) {}
    bool Load(const parleym::ExportItem& item, parleym::CMessageContent& content, std::string& error) override;
    bool Picture(const std::string& key, parleym::ExportPicture& picture) override;
    std::string FormatDate(double oleDate) override;
    std::string ObjectText(const std::string& key) override;
    int CodePage() override { return codePage_; }

private:
    const LogsReader& logs_;
    const PictureCache& pictures_;
    int codePage_;
    std::map<std::string, std::string> codes_;
};

// An OLE date (days since 30 December 1899, local time) in the C library's
// locale as "%x %X" (ISO 8601 in the C locale); "Invalid DateTime" outside
// the years 100 to 9999.
std::string FormatOleDate(double date);

} // namespace parleym_logs
