// The plug-in's start in a signed-in messenger: Init, from the stores' files
// being opened to the menus being in, with the real manager and the stand-in's
// Messenger API object in process. First with the files a first start leaves,
// then with heavy ones: 1,000 and 10,000 cached objects, a log index of 10,000
// conversations, 1,000 statistics sessions of 50 periods. Floor: opening the
// same files and reading the streams the stores read at start.
#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchFigures.h"
#include "bench/BenchFiles.h"
#include "bench/BenchMessenger.h"
#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/LogManager.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

using parleym::ComPtr;
using parleym::ToElementName;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SteppedStats : public parleym::CStatsManager {
public:
    explicit SteppedStats(parleym::StatsIdentity* self) : CStatsManager([self] { return *self; }) {}
    double now = 45000.0;

protected:
    double Now() const override { return now; }
};

bool MakeStatsFile(const std::string& path, int sessions, int periods) {
    parleym::StatsIdentity self{bench::InProcessMessenger::kAccount, "Me", parleym::kStatsOnline};
    SteppedStats stats(&self);
    if (!stats.OpenStatsFile(path.c_str()) || !stats.OpenAccount(self.signInName.c_str())) return false;
    for (int session = 0; session < sessions; ++session) {
        stats.OnStatusChange(self.signInName, self.friendlyName, parleym::kStatsOnline, false);
        for (int contact = 0; contact < periods; ++contact) {
            stats.now += 1.0 / 86400;
            stats.OnStatusChange("contact" + std::to_string(contact) + "@example.com", "Friend",
                                 parleym::kStatsOnline, false);
        }
        stats.now += 1.0 / 24;
        stats.OnStatusChange(self.signInName, self.friendlyName, parleym::kStatsOffline, false);
    }
    stats.Shutdown();
    return true;
}

// A log file whose account lists `conversations` in its index, each with its
// stream of a few lines.
bool MakeLogFile(const std::string& path, int conversations) {
    {
        CLogManager logs;
        if (!logs.Open(path.c_str()) || !logs.OpenAccount(bench::InProcessMessenger::kAccount)) return false;
        logs.Close();
    }
    ComPtr<IStorage> root, account;
    ComPtr<IStream> index;
    if (FAILED(StgOpenStorage(ToElementName(path).c_str(), nullptr, kStorageAccess, nullptr, 0, root.Put())) ||
        FAILED(root->OpenStorage(L"1", nullptr, kStorageAccess, nullptr, 0, account.Put())) ||
        FAILED(account->OpenStream(L"conversations", nullptr, kStorageAccess, 0, index.Put())))
        return false;
    parleym::ConversationIndex entries;
    entries.nextNumber = conversations + 1;
    CMessageContent content;
    content.text = "{\\rtf1 Ann says:\\par a few lines of an old conversation\\par}";
    parleym::BinaryWriter encoded;
    content.Encode(encoded);
    for (int number = 1; number <= conversations; ++number) {
        entries.entries.push_back(LogEntry{45000.0 + number, 45000.0 + number + 0.01,
                                           "contact" + std::to_string(number % 50) + "@example.com", number});
        ComPtr<IStream> stream;
        if (FAILED(account->CreateStream(ToElementName(std::to_string(number)).c_str(), kStorageReplace, 0, 0,
                                         stream.Put())) ||
            FAILED(parleym::WriteBytes(stream.Get(), encoded.Data().data(), encoded.Data().size())))
            return false;
    }
    return SUCCEEDED(parleym::RewriteStream(index.Get(), parleym::EncodeConversationIndex(entries)));
}

void ReadStream(IStorage* storage, const wchar_t* name) {
    ComPtr<IStream> stream;
    parleym::Bytes data;
    if (FAILED(storage->OpenStream(name, nullptr, kStorageAccess, 0, stream.Put())) ||
        FAILED(parleym::ReadWholeStream(stream.Get(), data)))
        std::printf("  floor: a stream is missing\n");
}

// Opens the file and reads `rootStreams`, then `accountStreams` of account 1.
void OpenAndRead(const std::string& path, std::vector<const wchar_t*> rootStreams,
                 std::vector<const wchar_t*> accountStreams) {
    ComPtr<IStorage> root, account;
    if (FAILED(StgOpenStorage(ToElementName(path).c_str(), nullptr, kStorageAccess, nullptr, 0, root.Put()))) {
        std::printf("  floor: %s does not open\n", path.c_str());
        return;
    }
    for (const wchar_t* name : rootStreams) ReadStream(root.Get(), name);
    if (accountStreams.empty()) return;
    if (FAILED(root->OpenStorage(L"1", nullptr, kStorageAccess, nullptr, 0, account.Put()))) {
        std::printf("  floor: %s has no account\n", path.c_str());
        return;
    }
    for (const wchar_t* name : accountStreams) ReadStream(account.Get(), name);
}

void Floor(const bench::InProcessMessenger& messenger) {
    OpenAndRead(messenger.DataFile("objcache.dat"), {L"md5map"}, {});
    OpenAndRead(messenger.DataFile("offlinemsg.dat"), {L"userids"}, {L"messages"});
    OpenAndRead(messenger.DataFile("stats.dat"), {L"userids"}, {L"users", L"sessions"});
    OpenAndRead(messenger.DataFile("logs.dat"), {L"userids"}, {L"conversations"});
}

// What looking for conversations the index lost costs on its own: listing the
// account's elements, which the log store does at every sign-in.
void ListLogAccount(const bench::InProcessMessenger& messenger) {
    ComPtr<IStorage> root, account;
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(StgOpenStorage(ToElementName(messenger.DataFile("logs.dat")).c_str(), nullptr, kStorageAccess,
                              nullptr, 0, root.Put())) ||
        FAILED(root->OpenStorage(L"1", nullptr, kStorageAccess, nullptr, 0, account.Put())) ||
        FAILED(account->EnumElements(0, nullptr, 0, elements.Put()))) {
        std::printf("  listing FAILED\n");
        return;
    }
    STATSTG stat;
    while (elements->Next(1, &stat, nullptr) == S_OK) CoTaskMemFree(stat.pwcsName);
}

void Measure(bench::InProcessMessenger& messenger, bench::Table& table, const char* figure, long long size) {
    const auto start = bench::Compare(
        [&] {
            if (!messenger.Start()) std::printf("  the manager did not start\n");
        },
        [&] { Floor(messenger); }, 5, 30000, [&] { messenger.Stop(); });
    messenger.Stop();
    table.Add(figure, size, start, 2.0, 300);
    const auto listing = bench::Compare([&] { ListLogAccount(messenger); }, [&] { Floor(messenger); }, 1);
    table.Add("start_log_account_listing_alone", size, listing, 0);
}

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    bench::InProcessMessenger messenger;
    bench::Table table("plug-in start (Init until the menus are in, signed in), floor: open the same files and "
                       "read the streams the stores read");

    // The files a first start makes.
    if (!messenger.Start()) {
        std::printf("the manager did not start\n");
        return 1;
    }
    messenger.Stop();
    Measure(messenger, table, "start_first_files", 0);

    constexpr int kConversations = 10000;
    auto made = Clock::now();
    DeleteFileA(messenger.DataFile("logs.dat").c_str());
    DeleteFileA(messenger.DataFile("stats.dat").c_str());
    if (!MakeLogFile(messenger.DataFile("logs.dat"), kConversations) ||
        !MakeStatsFile(messenger.DataFile("stats.dat"), 1000, 50)) {
        std::printf("could not make the heavy files\n");
        return 1;
    }
    std::printf("log file of %d conversations and statistics of 1,000 sessions made in %.1f s\n", kConversations,
                SecondsSince(made));
    for (int objects : {1000, 10000}) {
        made = Clock::now();
        DeleteFileA(messenger.DataFile("objcache.dat").c_str());
        if (!bench::MakeCacheFile(messenger.DataFile("objcache.dat"), objects)) {
            std::printf("could not make a cache of %d objects\n", objects);
            return 1;
        }
        std::printf("object cache of %d made in %.1f s\n", objects, SecondsSince(made));
        Measure(messenger, table, "start_heavy_files", objects);
    }
    table.Print();
    return 0;
}
