#include "bench/BenchFiles.h"

#include <objbase.h>

#include <cstdio>

#include "plugin/logging/DigestMapCodec.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

using parleym::ComPtr;
using parleym::ToElementName;

namespace bench {

bool MakeCacheFile(const std::string& path, int objects) {
    ComPtr<IStorage> root;
    if (FAILED(StgCreateDocfile(ToElementName(path).c_str(), kStorageReplace, 0, root.Put()))) return false;
    parleym::DigestMap digests;
    const std::string picture(1500, 'p');
    for (int key = 0; key < objects; ++key) {
        const std::string name = std::to_string(key);
        ComPtr<IStorage> storage;
        ComPtr<IStream> contents;
        const std::string bytes = name + picture;
        if (FAILED(root->CreateStorage(ToElementName(name).c_str(), kStorageReplace, 0, 0, storage.Put())) ||
            FAILED(storage->CreateStream(L"CONTENTS", kStorageReplace, 0, 0, contents.Put())) ||
            FAILED(parleym::WriteBytes(contents.Get(), bytes.data(), bytes.size())))
            return false;
        char digest[33];
        std::snprintf(digest, sizeof digest, "%032x", key);
        digests[digest] = name;
    }
    ComPtr<IStream> map;
    return SUCCEEDED(root->CreateStream(L"md5map", kStorageReplace, 0, 0, map.Put())) &&
           SUCCEEDED(parleym::RewriteStream(map.Get(), parleym::EncodeDigestMap(digests)));
}

} // namespace bench
