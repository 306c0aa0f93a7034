// The plug-in's start in a signed-in messenger: Init, from the stores' files
// being opened to the menus being in, with the real manager and the stand-in's
// Messenger API object in process. First with the files a first start leaves,
// then with heavy ones (bench/HeavyFiles.h): 1,000 and 10,000 cached objects,
// a log index of 10,000 conversations, 1,000 statistics sessions of 50
// periods. Floor: opening the same files and reading the streams the stores
// read at start.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchFigures.h"
#include "bench/BenchMessenger.h"
#include "bench/HeavyFiles.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/stats/StatsManager.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

using parleym::ComPtr;
using parleym::ToElementName;
using parleym::CLogManager;
using parleym::CObjectCache;
using parleym::kStorageAccess;

namespace {

// The heavy file `name` made by make-bench-files, as the data file `as`.
bool CopyHeavyFile(const bench::InProcessMessenger& messenger, const std::string& name, const char* as) {
    const std::string made = bench::HeavyFilePath(name);
    return !made.empty() && CopyFileA(made.c_str(), messenger.DataFile(as).c_str(), FALSE);
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

// What sign-in would pay to find conversations the index lost by listing the
// account's elements (it looks up the numbers without an entry instead).
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

// The stores' own parts of the start, each next to opening its file and
// reading what it reads: where the start's time goes.
void MeasureParts(const bench::InProcessMessenger& messenger, bench::Table& table, long long size) {
    const std::string logs = messenger.DataFile("logs.dat");
    table.Add("start_part_log_sign_in", size,
              bench::Compare(
                  [&] {
                      CLogManager store;
                      if (!store.Open(logs.c_str()) || !store.OpenAccount(bench::kHeavyAccount))
                          std::printf("  log store: sign-in FAILED\n");
                  },
                  [&] { OpenAndRead(logs, {L"userids"}, {L"conversations"}); }),
              0);
    const std::string stats = messenger.DataFile("stats.dat");
    const parleym::StatsIdentity self{bench::kHeavyAccount, "Me", parleym::kStatsOnline};
    table.Add("start_part_stats_sign_in", size,
              bench::Compare(
                  [&] {
                      parleym::CStatsManager store([&self] { return self; });
                      if (!store.OpenStatsFile(stats.c_str()) || !store.OpenAccount(bench::kHeavyAccount))
                          std::printf("  statistics: sign-in FAILED\n");
                      store.Shutdown();
                  },
                  [&] { OpenAndRead(stats, {L"userids"}, {L"users", L"sessions"}); }),
              0);
    const std::string objects = messenger.DataFile("objcache.dat");
    table.Add("start_part_object_cache_open", size,
              bench::Compare(
                  [&] {
                      CObjectCache cache;
                      cache.Open(objects.c_str());
                      if (!cache.IsOpen()) std::printf("  object cache: open FAILED\n");
                  },
                  [&] { OpenAndRead(objects, {L"md5map"}, {}); }),
              0);
}

void Measure(bench::InProcessMessenger& messenger, bench::Table& table, const char* figure, long long size) {
    const auto start = bench::Compare(
        [&] {
            if (!messenger.Start()) std::printf("  the manager did not start\n");
        },
        [&] { Floor(messenger); }, 5, 30000, [&] { messenger.Stop(); });
    messenger.Stop();
    table.Add(figure, size, start, 2.0, 300);
    MeasureParts(messenger, table, size);
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

    if (!CopyHeavyFile(messenger, bench::HeavyLogsName(), "logs.dat") ||
        !CopyHeavyFile(messenger, bench::HeavyStatsName(), "stats.dat")) {
        std::printf("the heavy files are missing\n");
        return 1;
    }
    for (int objects : {1000, 10000}) {
        if (!CopyHeavyFile(messenger, bench::HeavyObjectCacheName(objects), "objcache.dat")) {
            std::printf("the cache of %d objects is missing\n", objects);
            return 1;
        }
        Measure(messenger, table, "start_heavy_files", objects);
    }
    table.Print();
    return 0;
}
