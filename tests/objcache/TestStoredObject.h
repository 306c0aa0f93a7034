#pragma once
// A minimal OLE object for the cache: it saves itself into a storage the way
// an emoticon does (a CONTENTS stream with its picture bytes), or, when asked,
// without CONTENTS or not at all.
#include <objbase.h>

#include <string>

namespace objcache_test {

extern const CLSID kStoredObjectClassId;

enum class SaveBehaviour { Contents, NoContents, Fails };

// The caller owns the returned reference.
IPersistStorage* CreateStoredObject(const std::string& pictureBytes, SaveBehaviour behaviour = SaveBehaviour::Contents);

} // namespace objcache_test
