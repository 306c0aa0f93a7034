#include "bench/HeavyFiles.h"

#include <objbase.h>
#include <windows.h>

#include <cstdio>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/DigestMapCodec.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/ComPtr.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

using parleym::ComPtr;
using parleym::ToElementName;

namespace bench {

namespace {

constexpr int kContacts = 200;
constexpr double kFirstDay = 44000.0;  // an OLE date in 2020

std::string Contact(int number) { return "contact" + std::to_string(number % kContacts) + "@parleym.example"; }

class SteppedStats : public parleym::CStatsManager {
public:
    explicit SteppedStats(const parleym::StatsIdentity* self) : CStatsManager([self] { return *self; }) {}
    double now = kFirstDay;

protected:
    double Now() const override { return now; }
};

} // namespace

std::string ConversationRtf(std::size_t bytes) {
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}"
                      "{\\colortbl ;\\red0\\green0\\blue255;\\red128\\green128\\blue128;}\\viewkind4\\uc1\\pard\\f0\\fs20 ";
    static const char* const kLines[] = {"are you coming to the meeting this afternoon?",
                                         "yes, but I will be ten minutes late, the train is slow again",
                                         "fine, we start with the figures anyway :)",
                                         "could you bring the printed copies of the report as well"};
    for (int line = 0; rtf.size() < bytes; ++line) {
        rtf += line % 2 ? "\\cf1 Bob says:\\cf0\\par " : "\\cf2 Me says:\\cf0\\par ";
        rtf += kLines[line % 4];
        rtf += " (" + std::to_string(line) + ")\\par ";
    }
    return rtf + "}";
}

bool MakeLogFile(const std::string& path, int conversations, std::size_t bigBytes) {
    DeleteFileA(path.c_str());
    CStorageDb database;
    if (!database.Open(path.c_str())) return false;
    ComPtr<IStorage> account;
    ComPtr<IStream> indexStream;
    HRESULT streamError = S_OK;
    if (!database.OpenAccount(kHeavyAccount, {{L"conversations", &indexStream}}, account, streamError))
        return false;
    parleym::ConversationIndex index;
    index.nextNumber = conversations + 1;
    const std::string small = ConversationRtf(300);
    const std::string big = ConversationRtf(bigBytes);
    for (int number = 1; number <= conversations; ++number) {
        CMessageContent content;
        content.isRtf = 1;
        content.text = number == 1 ? big : small;
        parleym::BinaryWriter out;
        content.Encode(out);
        ComPtr<IStream> stream;
        if (FAILED(account->CreateStream(ToElementName(std::to_string(number)).c_str(), kStorageReplace, 0, 0,
                                         stream.Put())) ||
            FAILED(parleym::WriteBytes(stream.Get(), out.Data().data(), out.Data().size())))
            return false;
        const double start = kFirstDay + (number - 1) / 10 + (number - 1) % 10 * 0.05 + 0.3;
        index.entries.push_back(LogEntry{start, start + 0.02, Contact(number), number});
    }
    const bool written = SUCCEEDED(parleym::RewriteStream(indexStream.Get(), parleym::EncodeConversationIndex(index)));
    indexStream.Reset();
    account.Reset();
    database.Close();
    return written;
}

bool MakeObjectCacheFile(const std::string& path, int objects) {
    ComPtr<IStorage> root;
    if (FAILED(StgCreateDocfile(ToElementName(path).c_str(), kStorageReplace, 0, root.Put()))) return false;
    parleym::DigestMap digests;
    const std::string picture(1500, 'p');
    for (int key = 0; key < objects; ++key) {
        const std::string name = std::to_string(key);
        ComPtr<IStorage> storage;
        ComPtr<IStream> contents;
        const std::string bytes = name + picture;
        if (FAILED(root->CreateStorage(ToElementName(name).c_str(), kStorageReplace, 0, 0, storage.Put())) ||
            FAILED(storage->CreateStream(L"CONTENTS", kStorageReplace, 0, 0, contents.Put())) ||
            FAILED(parleym::WriteBytes(contents.Get(), bytes.data(), bytes.size())))
            return false;
        char digest[33];
        std::snprintf(digest, sizeof digest, "%032x", key);
        digests[digest] = name;
    }
    ComPtr<IStream> map;
    return SUCCEEDED(root->CreateStream(L"md5map", kStorageReplace, 0, 0, map.Put())) &&
           SUCCEEDED(parleym::RewriteStream(map.Get(), parleym::EncodeDigestMap(digests)));
}

bool MakeStatsFile(const std::string& path, int sessions, int periods) {
    DeleteFileA(path.c_str());
    parleym::StatsIdentity self{kHeavyAccount, "Me", parleym::kStatsOnline};
    SteppedStats stats(&self);
    if (!stats.OpenStatsFile(path.c_str()) || !stats.OpenAccount(kHeavyAccount)) return false;
    for (int session = 0; session < sessions; ++session) {
        stats.OnStatusChange(self.signInName, self.friendlyName, parleym::kStatsOnline, false);
        for (int contact = 0; contact < periods; ++contact) {
            stats.now += 1.0 / 86400;
            stats.OnStatusChange(Contact(contact), "Friend", parleym::kStatsOnline, false);
        }
        stats.now += 1.0 / 24;
        stats.OnStatusChange(self.signInName, self.friendlyName, parleym::kStatsOffline, false);
    }
    const bool complete = stats.Ledger().Sessions().size() == static_cast<std::size_t>(sessions);
    stats.Shutdown();
    return complete;
}

} // namespace bench
