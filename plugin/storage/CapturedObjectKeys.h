#pragma once
// The object-cache keys of the objects a history control has already handed
// to the cache, so that a picture captured at one save is not stored, hashed
// and matched again at every later one. Objects are told apart by COM identity
// and held, so that no other object can come to live at a remembered address.
#include <objbase.h>

#include <map>
#include <string>
#include <utility>

#include "plugin/storage/Scoped.h"

namespace parleym {

class CObjectCache;

class CapturedObjectKeys {
public:
    // Keys belong to one opening of one cache; any other forgets them all.
    void UseWith(const CObjectCache* cache, unsigned opening);
    // The key the object was stored under, or null.
    const std::string* Find(IUnknown* identity) const;
    void Remember(IUnknown* identity, const std::string& key);

private:
    const CObjectCache* cache_ = nullptr;
    unsigned opening_ = 0;
    std::map<IUnknown*, std::pair<ComPtr<IUnknown>, std::string>> keys_;
};

} // namespace parleym
