#pragma once
// Until the statistics and offline-message stores are part of the plug-in,
// these stand in for them and report success, so the manager can start.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#if __has_include("plugin/stats/StatsManager.h")
#include "plugin/stats/StatsManager.h"
#else
namespace parleym {
struct StatsIdentity {
    std::string signInName;
    std::string friendlyName;
    std::int32_t status = 2;
};
class CStatsManager {
public:
    using SelfSource = std::function<StatsIdentity()>;
    explicit CStatsManager(SelfSource) {}
    virtual ~CStatsManager() = default;
    bool OpenStatsFile(const char*) { return true; }
    bool OpenAccount(const char*) { return true; }
    void CloseAccount() {}
    void Shutdown() {}
    void OnStatusChange(const std::string&, const std::string&, std::int32_t, bool) {}
};
} // namespace parleym
#endif

#if __has_include("plugin/offline/OfflineMessageStore.h")
#include "plugin/offline/OfflineMessageStore.h"
#else
namespace parleym {
class COfflineMessageStore {
public:
    virtual ~COfflineMessageStore() = default;
    int Open(const char*) { return 1; }
    void Load(const char*) {}
    const std::vector<int>* GetMessages(const std::string&) const { return nullptr; }
    void Save() {}
    void Close() {}
};
} // namespace parleym
#endif
