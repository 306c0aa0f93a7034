// Writes the heavy data files of the benchmarks (bench/HeavyFiles.h) into a
// folder, natively through libgsf and the plug-in's own record codecs; a file
// already there is kept, so each is made once.
//   make-bench-files FOLDER
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <string>

#include "bench/GsfBenchFile.h"
#include "bench/HeavyFiles.h"
#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/DigestMapCodec.h"
#include "plugin/stats/StatsCodec.h"
#include "plugin/stats/StatsLedger.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/UserIdsCodec.h"

using parleym::CMessageContent;
using parleym::LogEntry;

namespace {

constexpr double kFirstDay = 44000.0;  // an OLE date in 2020

bool WriteUserIds(GsfOutfile* root) {
    parleym::UserIdsRecord ids;
    ids.lastUserId = 1;
    ids.entries.push_back(parleym::UserIdEntry{bench::kHeavyAccount, 1});
    return bench::WriteStream(root, "userids", parleym::EncodeUserIds(ids));
}

bool WriteLogs(bench::GsfBenchFile& file) {
    GsfOutfile* account = nullptr;
    bool ok = WriteUserIds(file.Root()) && (account = bench::NewStorage(file.Root(), "1")) != nullptr;
    parleym::ConversationIndex index;
    index.nextNumber = bench::kHeavyConversations + 1;
    parleym::Bytes small, big;
    for (std::size_t bytes : {std::size_t{300}, bench::kBigConversationBytes}) {
        CMessageContent content;
        content.isRtf = 1;
        content.text = bench::ConversationRtf(bytes);
        parleym::BinaryWriter out;
        content.Encode(out);
        (bytes == 300 ? small : big) = out.Take();
    }
    for (int number = 1; ok && number <= bench::kHeavyConversations; ++number) {
        ok = bench::WriteStream(account, std::to_string(number).c_str(), number == 1 ? big : small);
        // Ten a day, contacts in turn.
        const double start = kFirstDay + (number - 1) / 10 + (number - 1) % 10 * 0.05 + 0.3;
        index.entries.push_back(LogEntry{start, start + 0.02, bench::HeavyContact(number), number});
    }
    ok = ok && bench::WriteStream(account, "conversations", parleym::EncodeConversationIndex(index));
    return bench::CloseStorage(account) && ok;
}

bool WriteObjectCache(bench::GsfBenchFile& file, int objects) {
    parleym::DigestMap digests;
    const std::string picture(1500, 'p');
    bool ok = true;
    for (int key = 0; ok && key < objects; ++key) {
        const std::string name = std::to_string(key);
        const std::string bytes = name + picture;
        GsfOutfile* storage = bench::NewStorage(file.Root(), name.c_str());
        ok = storage && bench::WriteStream(storage, "CONTENTS", parleym::Bytes(bytes.begin(), bytes.end()));
        ok = bench::CloseStorage(storage) && ok;
        char digest[33];
        std::snprintf(digest, sizeof digest, "%032x", key);
        digests[digest] = name;
    }
    return ok && bench::WriteStream(file.Root(), "md5map", parleym::EncodeDigestMap(digests));
}

// The ledger moved by the same reports the statistics store gets: the account
// online, its contacts coming online a second apart, offline an hour later.
bool WriteStats(bench::GsfBenchFile& file) {
    parleym::StatsLedger ledger;
    double now = kFirstDay;
    for (int session = 0; session < bench::kStatsSessions; ++session) {
        ledger.OnOwnStatus(parleym::kStatsOnline, false, now);
        for (int contact = 0; contact < bench::kStatsPeriods; ++contact) {
            now += 1.0 / 86400;
            ledger.OnContactStatus(bench::HeavyContact(contact), parleym::kStatsOnline, false, now);
        }
        now += 1.0 / 24;
        ledger.OnOwnStatus(parleym::kStatsOffline, false, now);
    }
    if (ledger.Sessions().size() != static_cast<std::size_t>(bench::kStatsSessions)) return false;
    GsfOutfile* account = nullptr;
    bool ok = WriteUserIds(file.Root()) && (account = bench::NewStorage(file.Root(), "1")) != nullptr;
    ok = ok && bench::WriteStream(account, "users", parleym::EncodeStatsUsers(ledger.OwnTotal(), ledger.Contacts()));
    ok = ok && bench::WriteStream(account, "sessions", parleym::EncodeStatsSessions(ledger.Sessions()));
    return bench::CloseStorage(account) && ok;
}

// Makes `name` in `folder` unless it is there, through a file beside it.
bool Make(const std::string& folder, const std::string& name, const std::function<bool(bench::GsfBenchFile&)>& write) {
    const std::string path = folder + "/" + name;
    struct stat existing;
    if (stat(path.c_str(), &existing) == 0 && existing.st_size > 0) return true;
    const std::string part = path + ".part";
    bool ok = false;
    {
        bench::GsfBenchFile file(part);
        ok = file.Root() && write(file) && file.Finish();
    }
    if (!ok || std::rename(part.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "make-bench-files: %s: writing failed\n", path.c_str());
        std::remove(part.c_str());
        return false;
    }
    std::printf("%s written\n", path.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make-bench-files FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = Make(folder, bench::HeavyLogsName(), WriteLogs) && Make(folder, bench::HeavyStatsName(), WriteStats);
    for (int objects : {1000, 10000})
        ok = ok && Make(folder, bench::HeavyObjectCacheName(objects),
                        [objects](bench::GsfBenchFile& file) { return WriteObjectCache(file, objects); });
    return ok ? 0 : 1;
}
