// Runs the salvage reader and every store's salvage plan on arbitrary bytes
// as a whole file: nothing is read outside the file, everything ends, a
// stream reported whole reads in full, and a plan only copies whole streams.
#include <cstdlib>
#include <cstring>

#include "plugin/logging/LogFileSalvage.h"
#include "plugin/logging/ObjectCacheSalvage.h"
#include "plugin/offline/OfflineFileSalvage.h"
#include "plugin/stats/StatsFileSalvage.h"
#include "plugin/storage/CompoundFileSalvage.h"

namespace {
void ReadPlanned(const parleym::FreshElement& element, const parleym::CompoundFileSalvage& file) {
    for (const parleym::FreshElement& child : element.children) {
        parleym::Bytes data;
        if (child.source != parleym::FreshElement::kNoSource && !file.ReadStream(child.source, data)) std::abort();
        ReadPlanned(child, file);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    parleym::CompoundFileSalvage file;
    const bool loaded = file.Load(size, [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
        if (offset > size || length > size - offset) std::abort();
        if (length) std::memcpy(buffer, data + offset, length);
        return true;
    });
    if (!loaded) return 0;
    for (std::size_t element = 0; element < file.Elements().size(); ++element) {
        parleym::Bytes stream;
        const parleym::SalvagedElement& found = file.Elements()[element];
        if (found.storage || !found.whole) continue;
        if (!file.ReadStream(element, stream) || stream.size() != found.size || found.size > size) std::abort();
    }
    for (parleym::SalvagePlanner plan : {&parleym::PlanLogFileSalvage, &parleym::PlanStatsFileSalvage,
                                         &parleym::PlanOfflineFileSalvage, &parleym::PlanObjectCacheSalvage})
        ReadPlanned(plan(file).root, file);
    return 0;
}
