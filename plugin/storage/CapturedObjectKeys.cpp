#include "plugin/storage/CapturedObjectKeys.h"

namespace parleym {

void CapturedObjectKeys::UseWith(const CObjectCache* cache, unsigned opening) {
    if (cache == cache_ && opening == opening_) return;
    keys_.clear();
    cache_ = cache;
    opening_ = opening;
}

const std::string* CapturedObjectKeys::Find(IUnknown* identity) const {
    const auto found = keys_.find(identity);
    return found == keys_.end() ? nullptr : &found->second.second;
}

void CapturedObjectKeys::Remember(IUnknown* identity, const std::string& key) {
    if (!identity) return;
    identity->AddRef();
    keys_[identity] = std::make_pair(ComPtr<IUnknown>(identity), key);
}

} // namespace parleym
