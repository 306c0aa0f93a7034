#pragma once
// Embedded objects (emoticon pictures) stored once in objcache.dat, keyed by
// decimal numbers and told apart by the MD5 of their CONTENTS stream. The file
// stays open without sharing for the plug-in's life. UI thread only.
#include <objbase.h>

#include <map>
#include <string>

#include "plugin/storage/Scoped.h"
#include "plugin/storage/StorageFileOpen.h"

namespace parleym {

class CMessageContent;
class CParleymanager;

class CObjectCache {
public:
    explicit CObjectCache(CParleymanager* owner = nullptr);
    CObjectCache(const CObjectCache&) = delete;
    CObjectCache& operator=(const CObjectCache&) = delete;
    virtual ~CObjectCache();

    // Opens or creates the file; check IsOpen() afterwards. Reports nothing.
    void Open(const char* path);
    void Close();
    bool IsOpen() const { return file_.IsOpen() && digestStream_; }

    // Stores the object, or finds the stored copy of an identical one, as one
    // save. 1 with `key` set, or 0 leaving nothing behind in the file.
    int Add(IPersistStorage* object, std::string& key);

    // The object's sub-storage (still owned by the cache) and class, or null.
    // The sub-storage is opened at the first lookup and then kept.
    IStorage* Lookup(const std::string& key, CLSID& classId);

    // Emoticon objects to their text codes and back; see EmoticonCodes.h.
    void ConvertObjectsToCodes(CMessageContent& content);
    void ConvertCodesToObjects(CMessageContent& content);

    int NextKey() const { return nextKey_; }
    // Counts the openings: a key remembered from an earlier one may name
    // another object or none.
    unsigned Opening() const { return opening_; }
    const std::map<std::string, std::string>& Digests() const { return digests_; }

private:
    struct CachedObject {
        ComPtr<IStorage> storage;
        CLSID classId = {};
    };

    // The object stored under `key`, opened and remembered at first use, or
    // null when no storage of that name is in the file.
    CachedObject* FindObject(const std::string& key);
    void RaiseNextKeyAbove(const std::string& key);
    HRESULT CreateFreshObjectStorage(std::string& key, ComPtr<IStorage>& storage);
    HRESULT DigestOfContents(IStorage* storage, std::string& digest);
    HRESULT DiscardElement(const std::string& key, ComPtr<IStorage>& storage);
    HRESULT SaveDigests();
    HRESULT AppendDigest(const std::string& digest, const std::string& key);
    // Commits a save, or goes back to the last commit point after a failure
    // part-way (closing the cache when the file cannot be opened again).
    HRESULT EndOperation(HRESULT hr);

    StorageFile file_;
    ComPtr<IStream> digestStream_;
    CParleymanager* owner_;
    // Only the objects used so far: the file is never listed, because listing
    // a thousand elements costs seconds at every start.
    std::map<std::string, CachedObject> objects_;
    std::map<std::string, std::string> digests_;  // digest -> key
    int nextKey_ = 0;
    unsigned opening_ = 0;
};

} // namespace parleym
