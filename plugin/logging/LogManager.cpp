#include "plugin/logging/LogManager.h"

#include <oleauto.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <set>

#include "plugin/core/OleDate.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogFileSalvage.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageErrors.h"
#include "plugin/storage/StreamIO.h"

namespace parleym {

namespace {
const wchar_t kIndexStream[] = L"conversations";
// Numbers ahead that are found taken before the search looks for a gap.
constexpr int kMaxNumberAttempts = 1000;
// At sign-in, numbers past the counter looked up for streams the index lost:
// the search ends after this many in a row are free.
constexpr int kLookupsPastCounter = 10;
// With more numbers below the counter lacking an entry than this, the
// account's elements are listed instead of looking each number up.
constexpr std::int64_t kMaxGapLookups = 4096;

// A conversation stream's number, or 0 for any other name (no sign, no leading zero).
std::int32_t ConversationNumber(const std::string& name) {
    if (name.empty() || name.size() > 10 || name[0] == '0' || name.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const long long value = std::atoll(name.c_str());
    return value > INT_MAX ? 0 : static_cast<std::int32_t>(value);
}

}

CLogManager::CLogManager(CParleymanager* owner) : owner_(owner) {
    database_.SalvageWith(&PlanLogFileSalvage);
}

CLogManager::~CLogManager() {
    try {
        Close();
    } catch (...) {
    }
}

int CLogManager::Open(const char* path) {
    path_ = path;
    return database_.Open(path);
}

int CLogManager::OpenConfiguredOrDefault(const std::string& configuredPath, const std::string& defaultPath) {
    Close();
    if (!configuredPath.empty() && Open(configuredPath.c_str())) return 1;
    if (Open(defaultPath.c_str())) return 1;
    ShowError("Failed to initialize log manager", "Parleym");
    return 0;
}

int CLogManager::OpenAccount(const char* signInName) {
    CloseAccount();
    ++accountOpening_;
    HRESULT streamError = S_OK;
    if (!database_.OpenAccount(signInName, {{kIndexStream, &indexStream_}}, accountStorage_, streamError)) {
        if (FAILED(streamError))
            ReportStorageError("Failed to convesation index for user %s. Code 0x%08X", signInName,
                               HexCode(streamError));
        return 0;
    }
    if (!LoadIndex()) {
        // An index we could not read must not be overwritten at sign-out.
        ReleaseAccount();
        return 0;
    }
    RecoverUnindexed();
    accountName_ = signInName ? signInName : "";
    return 1;
}

int CLogManager::LoadIndex() {
    Bytes data;
    HRESULT hr = ReadWholeStream(indexStream_.Get(), data);
    ConversationIndex index;
    // Empty: a new account, or one whose process ended before anything was logged.
    if (SUCCEEDED(hr) && !data.empty() && !DecodeConversationIndex(data, index)) hr = STG_E_READFAULT;
    if (FAILED(hr)) {
        ReportStorageError("Failed to load logged conversations index. Code: 0x%08X", HexCode(hr));
        return 0;
    }
    nextNumber_ = index.nextNumber;
    loggingEnabled_ = index.loggingEnabled;
    index_ = std::move(index.entries);
    indexStored_ = !data.empty();
    // A counter behind a recorded number would overwrite that conversation.
    for (const LogEntry& entry : index_) RaiseNextNumberAbove(entry.number);
    return 1;
}

void CLogManager::RaiseNextNumberAbove(std::int32_t number) {
    if (number >= nextNumber_) nextNumber_ = number == INT_MAX ? INT_MAX : number + 1;
}

void CLogManager::RecoverUnindexed() {
    std::set<std::int32_t> indexed;
    double newestKnown = 0;
    for (const LogEntry& entry : index_) {
        indexed.insert(entry.number);
        newestKnown = std::max(newestKnown, entry.end);
    }
    STATSTG account = {};
    const double accountTime = SUCCEEDED(accountStorage_->Stat(&account, STATFLAG_NONAME))
                                   ? OleDateOf(account.mtime)
                                   : 0;
    std::map<std::int32_t, double> found;  // number -> the best time known for it
    const auto note = [&](std::int32_t number, const FILETIME& modified) {
        // Compound files keep no times for streams; the account's storage may
        // have one, and the newest indexed conversation is earlier still.
        double when = OleDateOf(modified);
        if (when == 0) when = accountTime;
        if (when == 0) when = newestKnown;
        if (when == 0) when = CurrentOleDate();
        found[number] = when;
    };
    // Numbers are handed out in order from the counter, and a new
    // conversation's entry is written right after its stream. A stream the
    // index lost therefore has a number below the counter that has no entry
    // (its window opened before the index was last written, its first save
    // came after) or one of the first numbers past the counter (its window
    // opened since). Looking those up costs the gaps only, where listing the
    // account costs every conversation it holds.
    const std::int64_t counter = nextNumber_;
    std::int64_t gaps = counter - 1;
    for (std::int32_t number : indexed)
        if (number > 0 && number < counter) --gaps;
    if (gaps > kMaxGapLookups) {
        ListUnindexed(indexed, note);
    } else {
        for (std::int64_t number = 1; number < counter; ++number)
            if (!indexed.count(static_cast<std::int32_t>(number))) LookUpUnindexed(static_cast<std::int32_t>(number), note);
        int misses = 0;
        for (std::int64_t number = counter; number <= INT_MAX && misses < kLookupsPastCounter; ++number)
            misses = LookUpUnindexed(static_cast<std::int32_t>(number), note) ? 0 : misses + 1;
    }
    if (found.empty()) return;
    for (const auto& conversation : found) {
        // The contact's sign-in name is kept only in the index.
        index_.push_back(LogEntry{conversation.second, conversation.second, std::string(), conversation.first});
        RaiseNextNumberAbove(conversation.first);
    }
    SaveIndex();
}

bool CLogManager::LookUpUnindexed(std::int32_t number, const std::function<void(std::int32_t, const FILETIME&)>& note) {
    ComPtr<IStream> stream;
    const HRESULT hr = accountStorage_->OpenStream(ToElementName(std::to_string(number)).c_str(), nullptr,
                                                   kStorageAccess, 0, stream.Put());
    // A name taken by anything but a stream, or a failing file, recovers
    // nothing and ends the search past the counter as a free number would;
    // the number is still never handed out (NumberInUse).
    if (FAILED(hr)) return false;
    STATSTG stat = {};
    note(number, SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) ? stat.mtime : FILETIME{});
    return true;
}

void CLogManager::ListUnindexed(const std::set<std::int32_t>& indexed,
                                const std::function<void(std::int32_t, const FILETIME&)>& note) {
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(accountStorage_->EnumElements(0, nullptr, 0, elements.Put()))) return;
    STATSTG stat;
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        const std::int32_t number = ConversationNumber(FromElementName(stat.pwcsName));
        CoTaskMemFree(stat.pwcsName);
        if (stat.type == STGTY_STREAM && number > 0 && !indexed.count(number)) note(number, stat.mtime);
    }
}

HRESULT CLogManager::WriteIndex() {
    ConversationIndex index;
    index.nextNumber = nextNumber_;
    index.loggingEnabled = loggingEnabled_;
    index.entries = index_;
    const HRESULT hr = OverwriteStream(indexStream_.Get(), EncodeConversationIndex(index));
    indexStored_ = SUCCEEDED(hr);
    return hr;
}

HRESULT CLogManager::EndOperation(HRESULT hr) {
    const HRESULT ended = database_.EndOperation(hr);
    if (SUCCEEDED(hr)) return ended;
    // Gone back to the last commit point: what was written since, index and
    // conversations alike, is no longer in the file, and the list follows
    // the file. The counter never goes back: windows hold numbers from it.
    indexStored_ = false;
    ++accountOpening_;
    Bytes data;
    ConversationIndex index;
    if (IsAccountOpen() && SUCCEEDED(ReadWholeStream(indexStream_.Get(), data)) &&
        (data.empty() || DecodeConversationIndex(data, index))) {
        index_ = std::move(index.entries);
        for (const LogEntry& entry : index_) RaiseNextNumberAbove(entry.number);
        if (!data.empty() && index.nextNumber > nextNumber_) nextNumber_ = index.nextNumber;
    }
    return ended;
}

void CLogManager::SaveIndex() {
    if (!IsAccountOpen()) return;
    const HRESULT hr = EndOperation(WriteIndex());
    if (FAILED(hr) && database_.TellFailure(hr))
        ReportStorageError("Failed to save logged conversation index. Code: 0x%08X", HexCode(hr));
}

bool CLogManager::WriteEndInPlace(std::size_t entry) {
    if (!indexStored_ || !indexStream_ || entry >= index_.size()) return false;
    // Next number, logging switch, count; per entry two dates, the contact
    // (length and bytes) and the number.
    std::uint64_t offset = 12;
    for (std::size_t i = 0; i < entry; ++i) offset += 24 + index_[i].contact.size();
    offset += 8;
    BinaryWriter end;
    end.PutDouble(index_[entry].end);
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (SUCCEEDED(indexStream_->Seek(at, STREAM_SEEK_SET, nullptr)) &&
        SUCCEEDED(WriteBytes(indexStream_.Get(), end.Data().data(), end.Data().size())))
        return true;
    indexStored_ = false;
    return false;
}

void CLogManager::ReleaseAccount() {
    indexStored_ = false;
    database_.CloseAccount();
    indexStream_.Reset();
    accountStorage_.Reset();
    index_.clear();
    handedOut_.clear();
    textCache_.Clear();
    accountName_.clear();
}

void CLogManager::CloseAccount() {
    if (!IsAccountOpen()) {
        ReleaseAccount();
        return;
    }
    SaveIndex();
    ReleaseAccount();
}

void CLogManager::Close() {
    CloseAccount();
    database_.Close();
}

void CLogManager::SetLoggingEnabled(int enabled) {
    loggingEnabled_ = enabled ? 1 : 0;
    // The switch lives in the index; a process that ends abruptly keeps it.
    SaveIndex();
}

bool CLogManager::NumberInUse(std::int32_t number) const {
    ComPtr<IStream> stream;
    const HRESULT hr = accountStorage_->OpenStream(ToElementName(std::to_string(number)).c_str(), nullptr,
                                                   kStorageAccess, 0, stream.Put());
    // Anything but "not there" (a storage, a stream held open) keeps the number taken.
    return hr != STG_E_FILENOTFOUND;
}

int CLogManager::TakeNextNumber() {
    if (!IsAccountOpen()) {
        const int number = nextNumber_;
        if (nextNumber_ < INT_MAX) ++nextNumber_;
        return number;
    }
    // A stream of that number, from a process that ended before its index was
    // written, is never reused: the earlier conversation is not written over.
    for (int attempt = 0; attempt < kMaxNumberAttempts && nextNumber_ < INT_MAX; ++attempt) {
        const int number = nextNumber_++;
        if (!NumberInUse(number)) return number;
    }
    // The last number is handed out once only: the counter cannot move past it.
    if (!handedOut_.count(nextNumber_) && !NumberInUse(nextNumber_)) {
        handedOut_.insert(nextNumber_);
        return nextNumber_;
    }
    // The counter is at its end or the numbers ahead are all taken: the lowest
    // free one, which exists since the account holds finitely many elements.
    std::set<std::int32_t> taken = handedOut_;
    for (const LogEntry& entry : index_) taken.insert(entry.number);
    ComPtr<IEnumSTATSTG> elements;
    if (SUCCEEDED(accountStorage_->EnumElements(0, nullptr, 0, elements.Put()))) {
        STATSTG stat;
        while (elements->Next(1, &stat, nullptr) == S_OK) {
            taken.insert(ConversationNumber(FromElementName(stat.pwcsName)));
            CoTaskMemFree(stat.pwcsName);
        }
    }
    std::int32_t number = 1;
    for (std::int32_t used : taken) {
        if (used < number) continue;
        if (used > number) break;
        ++number;
    }
    handedOut_.insert(number);
    return number;
}

void CLogManager::SaveConversation(const LogEntry& entry, const CMessageContent& content,
                                   WrittenConversation* written) {
    if (!IsAccountOpen()) return;
    // Whatever happens to the stream below, the text read before is no longer it.
    textCache_.Forget(entry.number);
    BinaryWriter out;
    content.Encode(out);
    const std::wstring name = ToElementName(std::to_string(entry.number));
    const bool knownBefore = written && written->opening == accountOpening_ && !written->bytes.empty();
    ComPtr<IStream> stream;
    HRESULT hr = accountStorage_->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, stream.Put());
    if (hr == STG_E_FILENOTFOUND) hr = accountStorage_->CreateStream(name.c_str(), kStorageAccess, 0, 0, stream.Put());
    if (SUCCEEDED(hr))
        hr = knownBefore ? OverwriteStreamChanges(stream.Get(), out.Data(), written->bytes)
                         : OverwriteStream(stream.Get(), out.Data());
    stream.Reset();

    // The index changes with the stream, in the same commit.
    const auto found = std::find_if(index_.begin(), index_.end(),
                                    [&](const LogEntry& logged) { return logged.number == entry.number; });
    const std::size_t position = static_cast<std::size_t>(found - index_.begin());
    if (SUCCEEDED(hr)) {
        if (found == index_.end()) {
            index_.push_back(entry);
            RaiseNextNumberAbove(entry.number);
            hr = database_.WriteUserIdsIfChanged();
            if (SUCCEEDED(hr)) hr = WriteIndex();
        } else {
            found->end = entry.end;
            // A conversation recovered without its index entry gets its contact back.
            const bool contactBack = found->contact.empty() && !entry.contact.empty();
            if (contactBack) found->contact = entry.contact;
            // Otherwise only the end time changed: the index stays as it is
            // but for those eight bytes, however many conversations it lists.
            if (contactBack || !WriteEndInPlace(position)) hr = WriteIndex();
        }
    }
    const bool partWay = FAILED(hr);
    hr = EndOperation(hr);
    if (written) {
        // After a failure part-way the stream's bytes are not known any more.
        written->opening = accountOpening_;
        written->bytes = partWay ? Bytes() : out.Take();
    }
    if (FAILED(hr) && database_.TellFailure(hr))
        ReportStorageError("Failed to save conversation with %s. Code: 0x%08X", entry.contact.c_str(), HexCode(hr));
}

HRESULT CLogManager::LoadConversation(const char* streamName, CMessageContent& content) {
    if (!IsAccountOpen()) return S_FALSE;
    ComPtr<IStream> stream;
    const HRESULT hr =
        accountStorage_->OpenStream(ToElementName(streamName).c_str(), nullptr, kStorageAccess, 0, stream.Put());
    if (FAILED(hr)) return hr;
    return content.Read(stream.Get());
}

} // namespace parleym
