// Prints how long the statistics and offline-message stores take on real
// compound files at the sizes they are expected to reach: a statistics save
// and load with 1,000 sessions of 50 periods, and an offline store holding
// 1,000 messages. Figures only; nothing is asserted.
#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "plugin/core/UserMessage.h"
#include "plugin/offline/OfflineMessageStore.h"
#include "plugin/stats/StatsManager.h"

using namespace parleym;

namespace {
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int PrintMessage(HWND, const char* text, const char* caption, UINT) {
    std::printf("message box: %s (%s)\n", text, caption);
    return IDOK;
}

class SteppedStats : public CStatsManager {
public:
    explicit SteppedStats(StatsIdentity* self) : CStatsManager([self] { return *self; }) {}
    double now = 45000.0;

protected:
    double Now() const override { return now; }
};

std::string TempFile(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + name;
    DeleteFileA(path.c_str());
    return path;
}

void BenchStatistics() {
    constexpr int kSessions = 1000;
    constexpr int kContacts = 50;
    const std::string path = TempFile("parleym-bench-stats.dat");
    StatsIdentity self{"me@example.com", "Me", kStatsOnline};
    SteppedStats stats(&self);
    stats.OpenStatsFile(path.c_str());
    stats.OpenAccount(self.signInName.c_str());

    const auto reporting = Clock::now();
    for (int session = 0; session < kSessions; ++session) {
        stats.OnStatusChange(self.signInName, self.friendlyName, kStatsOnline, false);
        for (int contact = 0; contact < kContacts; ++contact) {
            stats.now += 1.0 / 86400;
            stats.OnStatusChange("contact" + std::to_string(contact) + "@example.com", "Friend", kStatsOnline, false);
        }
        stats.now += 1.0 / 24;
        stats.OnStatusChange(self.signInName, self.friendlyName, kStatsOffline, false);
    }
    const double reportMs = MillisecondsSince(reporting);

    const auto saving = Clock::now();
    stats.CloseAccount();
    const double saveMs = MillisecondsSince(saving);

    const auto loading = Clock::now();
    stats.OpenAccount(self.signInName.c_str());
    const double loadMs = MillisecondsSince(loading);
    const std::size_t sessions = stats.Ledger().Sessions().size();
    stats.Shutdown();
    DeleteFileA(path.c_str());

    std::printf("statistics: %d sessions x %d periods: reports %.1f ms (%.2f us each), save %.1f ms, load %.1f ms "
                "(%zu sessions back)\n",
                kSessions, kContacts, reportMs, reportMs * 1000.0 / (kSessions * (kContacts + 2)), saveMs, loadMs,
                sessions);
}

void BenchOfflineMessages() {
    constexpr int kMessages = 1000;
    constexpr int kContacts = 50;
    const std::string path = TempFile("parleym-bench-offline.dat");
    COfflineMessageStore store;
    store.Open(path.c_str());
    store.Load("me@example.com");
    CMessageContent content;
    content.isRtf = 0;
    content.text = std::string(200, 'x') + " :) and some more text of a typical offline message";

    const auto adding = Clock::now();
    for (int i = 0; i < kMessages; ++i) store.AddMessage("contact" + std::to_string(i % kContacts), content);
    const double addMs = MillisecondsSince(adding);

    const auto saving = Clock::now();
    store.Save();
    const double saveMs = MillisecondsSince(saving);

    const auto loading = Clock::now();
    store.Load("me@example.com");
    const double loadMs = MillisecondsSince(loading);

    const auto delivering = Clock::now();
    std::size_t found = 0;
    for (int contact = 0; contact < kContacts; ++contact) {
        const std::string name = "contact" + std::to_string(contact);
        if (const OfflineMessageList* list = store.GetMessages(name)) found += list->size();
        store.RemoveMessages(name);
    }
    const double deliverMs = MillisecondsSince(delivering);
    store.Close();
    DeleteFileA(path.c_str());

    std::printf("offline messages: %d messages for %d contacts: add %.1f ms, save %.1f ms, load %.1f ms, "
                "look-up and removal %.1f ms (%zu found)\n",
                kMessages, kContacts, addMs, saveMs, loadMs, deliverMs, found);
}
} // namespace

int main() {
    SetUserMessageSink(&PrintMessage);
    CoInitialize(nullptr);
    BenchStatistics();
    BenchOfflineMessages();
    CoUninitialize();
    return 0;
}
