#include "plugin/logging/ObjectCacheSalvage.h"

#include <cstdio>
#include <map>
#include <set>

#include "plugin/core/PasswordDigest.h"
#include "plugin/logging/DigestMapCodec.h"

namespace parleym {

namespace {

const char kDigestMap[] = "md5map";
const char kContents[] = "CONTENTS";

bool HoldsRootElements(const CompoundFileSalvage& file, const std::vector<std::size_t>& group) {
    for (std::size_t index : group)
        if (file.Elements()[index].storage || NarrowName(file.Elements()[index].name) == kDigestMap) return true;
    return false;
}

std::string Digest(const Bytes& data) {
    Md5Hex digest;
    digest.Update(data.data(), data.size());
    return digest.Final();
}

} // namespace

SalvagePlan PlanObjectCacheSalvage(const CompoundFileSalvage& file) {
    SalvagePlan plan;
    SalvagedStorage root(file, file.Elements()[CompoundFileSalvage::kRoot].children);
    for (const std::vector<std::size_t>& group : file.Unattached())
        if (HoldsRootElements(file, group)) root.Adopt(group);

    Bytes data;
    DigestMap recorded;
    if (root.Read(kDigestMap, data) && !data.empty()) DecodeDigestMap(data, recorded);
    std::map<std::string, std::set<std::string>> recordedFor;  // key -> digests the map gives it
    std::set<std::int32_t> known;
    std::int32_t number = 0;
    for (const auto& pair : recorded) {
        recordedFor[pair.second].insert(pair.first);
        if (DecimalName(pair.second, number)) known.insert(number);
    }

    std::set<std::int32_t> kept;
    DigestMap digests;
    for (const auto& named : root.Elements()) {
        if (!named.second.storage || !DecimalName(named.first, number)) continue;
        known.insert(number);
        FreshElement copy;
        Bytes contents;
        if (!CopyWholeStorage(file, named.second.index, copy) ||
            !SalvagedStorage(file, file.Elements()[named.second.index].children).Read(kContents, contents))
            continue;
        const std::string digest = Digest(contents);
        const auto recordedDigests = recordedFor.find(named.first);
        if (recordedDigests != recordedFor.end() && !recordedDigests->second.count(digest)) continue;
        kept.insert(number);
        copy.name = WideName(named.first);
        plan.root.children.push_back(std::move(copy));
        // Two copies of one picture: the one the map named stays its key.
        const auto mapped = recorded.find(digest);
        if (!digests.count(digest) || (mapped != recorded.end() && mapped->second == named.first))
            digests[digest] = named.first;
    }
    for (std::int32_t key : known)
        if (!kept.count(key)) plan.root.children.push_back(FreshElement::Storage(WideName(std::to_string(key))));
    plan.root.children.push_back(FreshElement::Made(WideName(kDigestMap), EncodeDigestMap(digests)));
    plan.anything = !kept.empty();
    char text[96];
    std::snprintf(text, sizeof text, "%zu of %zu cached pictures recovered", kept.size(), known.size());
    plan.recovered = text;
    return plan;
}

} // namespace parleym
