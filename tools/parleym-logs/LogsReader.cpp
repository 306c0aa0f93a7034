#include "tools/parleym-logs/LogsReader.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <ctime>
#include <set>

#include "plugin/core/PasswordDigest.h"
#include "plugin/logging/EmoticonCodes.h"
#include "plugin/logging/LogFileSalvage.h"
#include "plugin/logging/ObjectCacheSalvage.h"
#include "plugin/storage/UserIdsCodec.h"

using parleym::CMessageContent;
using parleym::LogEntry;

namespace parleym_logs {

namespace {

constexpr char kUserIds[] = "userids";
constexpr char kIndex[] = "conversations";

} // namespace

bool LogsReader::Open(const std::string& path, std::string& error) {
    if (!file_.Open(path, &parleym::PlanLogFileSalvage, error)) return false;
    std::vector<std::uint8_t> data;
    switch (file_.ReadStream("", kUserIds, data)) {
    case StoredFile::Read::kMissing: error = "not a logs file (no account list)"; return false;
    case StoredFile::Read::kDamaged: error = "damaged: the account list cannot be read"; return false;
    case StoredFile::Read::kOk: break;
    }
    parleym::UserIdsRecord ids;
    if (!data.empty() && !parleym::DecodeUserIds(data, ids)) {
        error = "damaged: the account list cannot be read";
        return false;
    }
    for (const parleym::UserIdEntry& entry : ids.entries) {
        Account account;
        account.name = entry.name;
        account.number = entry.number;
        const std::string storage = std::to_string(entry.number);
        std::vector<std::uint8_t> index;
        if (!file_.HasStorage(storage)) {
            account.problem = "no storage for this account";
        } else if (const StoredFile::Read read = file_.ReadStream(storage, kIndex, index); read != StoredFile::Read::kOk) {
            account.problem = read == StoredFile::Read::kMissing ? "no conversation index" : "damaged conversation index";
        } else if (!index.empty() && !parleym::DecodeConversationIndex(index, account.index)) {
            // An index created but never written is empty: no conversations yet.
            account.problem = "damaged conversation index";
        } else {
            ListUnindexed(storage, account.index);
        }
        accounts_.push_back(std::move(account));
    }
    return true;
}

void LogsReader::ListUnindexed(const std::string& storage, parleym::ConversationIndex& index) const {
    std::set<std::int32_t> indexed;
    double newest = 0;
    for (const LogEntry& entry : index.entries) {
        indexed.insert(entry.number);
        newest = std::max(newest, entry.end);
    }
    std::set<std::int32_t> found;
    for (const std::string& name : file_.Streams(storage)) {
        std::int32_t number = 0;
        if (parleym::DecimalName(name, number) && number > 0 && !indexed.count(number)) found.insert(number);
    }
    // Streams keep no times: the newest time the index knows stands in.
    for (std::int32_t number : found) index.entries.push_back(LogEntry{newest, newest, std::string(), number});
}

const Account* LogsReader::FindAccount(const std::string& name, int codePage) const {
    for (const Account& account : accounts_)
        if (account.name == name || parleym::Utf8FromCodePage(account.name, codePage) == name) return &account;
    return nullptr;
}

bool LogsReader::Load(const Account& account, int number, CMessageContent& content, std::string& error) const {
    std::vector<std::uint8_t> data;
    const StoredFile::Read read = file_.ReadStream(std::to_string(account.number), std::to_string(number), data);
    if (read != StoredFile::Read::kOk) {
        error = "conversation " + std::to_string(number) +
                (read == StoredFile::Read::kMissing ? " is not in the file" : " is damaged");
        return false;
    }
    parleym::BinaryReader reader(data);
    if (!content.Decode(reader)) {
        error = "conversation " + std::to_string(number) + " is damaged";
        return false;
    }
    return true;
}

bool PictureCache::Open(const std::string& path, std::string& error) {
    return file_.Open(path, &parleym::PlanObjectCacheSalvage, error);
}

bool PictureCache::Contents(const std::string& key, std::vector<std::uint8_t>& data) const {
    return file_.ReadStream(key, "CONTENTS", data) == StoredFile::Read::kOk;
}

bool PictureCache::Picture(const std::string& key, parleym::ExportPicture& picture) const {
    std::vector<std::uint8_t> data;
    if (!Contents(key, data)) return false;
    return parleym::SniffPicture(std::string(data.begin(), data.end()), picture);
}

std::string PictureCache::Code(const std::string& key) const {
    std::vector<std::uint8_t> data;
    if (Contents(key, data)) {
        parleym::Md5Hex digest;
        digest.Update(data.data(), data.size());
        const std::string hex = digest.Final();
        for (const parleym::EmoticonCode& emoticon : parleym::EmoticonTable())
            if (hex == emoticon.digest) return emoticon.code;
    }
    const char* code = parleym::EmoticonCodeForKey(key);
    return code ? code : "";
}

bool ReaderSource::Load(const parleym::ExportItem& item, CMessageContent& content, std::string& error) {
    const Account* account = logs_.FindAccount(item.account, codePage_);
    if (!account) {
        error = "no such account";
        return false;
    }
    return logs_.Load(*account, item.entry.number, content, error);
}

bool ReaderSource::Picture(const std::string& key, parleym::ExportPicture& picture) {
    return pictures_.Picture(key, picture);
}

std::string ReaderSource::FormatDate(double oleDate) { return FormatOleDate(oleDate); }

std::string ReaderSource::ObjectText(const std::string& key) {
    auto known = codes_.find(key);
    if (known == codes_.end()) known = codes_.emplace(key, pictures_.Code(key)).first;
    return known->second.empty() ? "[picture]" : known->second;
}

std::string FormatOleDate(double date) {
    // Valid OLE dates run from the year 100 to 9999.
    if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0) return "Invalid DateTime";
    // Negative dates count days backwards but the time of day forwards.
    double days = std::floor(date);
    double fraction = std::fabs(date - days);
    if (date < 0) {
        days = std::ceil(date);
        fraction = days - date;
    }
    long long seconds = std::llround(fraction * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        days += date < 0 ? -1 : 1;
    }
    // Days since 1899-12-30 to a civil date (proleptic Gregorian).
    long long z = static_cast<long long>(days) - 25569 + 719468;  // days since 0000-03-01
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    std::tm civil{};
    civil.tm_year = static_cast<int>(year - 1900);
    civil.tm_mon = static_cast<int>(month - 1);
    civil.tm_mday = static_cast<int>(day);
    civil.tm_hour = static_cast<int>(seconds / 3600);
    civil.tm_min = static_cast<int>(seconds / 60 % 60);
    civil.tm_sec = static_cast<int>(seconds % 60);
    civil.tm_isdst = -1;
    // The C locale's own "%x" has a two-digit year; without a chosen locale the date is ISO.
    const char* locale = std::setlocale(LC_TIME, nullptr);
    const bool plain = !locale || std::strcmp(locale, "C") == 0 || std::strncmp(locale, "C.", 2) == 0 ||
                       std::strcmp(locale, "POSIX") == 0;
    char text[128];
    const std::size_t size = std::strftime(text, sizeof(text), plain ? "%Y-%m-%d %H:%M:%S" : "%x %X", &civil);
    return size ? std::string(text, size) : "Invalid DateTime";
}

} // namespace parleym_logs
