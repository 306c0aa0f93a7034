#include "plugin/logging/ObjectCache.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "plugin/logging/DigestMapCodec.h"
#include "plugin/logging/EmoticonCodes.h"
#include "plugin/logging/ObjectCacheSalvage.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StorageFileOpen.h"
#include "plugin/storage/StreamIO.h"
#include "plugin/storage/LeftoverRewrites.h"

namespace parleym {

namespace {

const wchar_t kDigestStream[] = L"md5map";
const wchar_t kContentsStream[] = L"CONTENTS";
// Names in use are skipped when a key is handed out; give up after this many.
constexpr int kMaxKeyAttempts = 1000;

// The key's number, or -1 for a name that is not plain non-negative decimal.
long long KeyNumber(const std::string& name) {
    if (name.empty() || name.size() > 10) return -1;
    for (char c : name)
        if (c < '0' || c > '9') return -1;
    return std::strtoll(name.c_str(), nullptr, 10);
}

// True when the root holds nothing but object storages named by keys (and
// leftovers of an interrupted rewrite): a file of ours that lost its map. Any
// other file without a map is not ours and is never written to.
bool HoldsOnlyObjects(IStorage* root) {
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(root->EnumElements(0, nullptr, 0, elements.Put()))) return false;
    bool ours = true;
    STATSTG stat;
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        const std::wstring name = stat.pwcsName ? stat.pwcsName : L"";
        CoTaskMemFree(stat.pwcsName);
        if (IsPendingRewriteSibling(name)) continue;
        if (stat.type != STGTY_STORAGE || KeyNumber(FromElementName(name.c_str())) < 0) ours = false;
    }
    return ours;
}

} // namespace

CObjectCache::CObjectCache(CParleymanager* owner) : owner_(owner) {}

CObjectCache::~CObjectCache() {
    try {
        Close();
    } catch (...) {
    }
}

void CObjectCache::Close() {
    objects_.clear();
    digests_.clear();
    digestStream_.Reset();
    file_.Close();
}

void CObjectCache::Open(const char* path) {
    Close();
    ++opening_;
    nextKey_ = 0;
    bool created = false;
    bool leftovers = false;
    if (FAILED(file_.Open(ToElementName(path), &created, &leftovers, &PlanObjectCacheSalvage))) return;
    IStorage* root = file_.Root();
    if (created) {
        // Written at once, so the next start can read a map from the file.
        if (FAILED(root->CreateStream(kDigestStream, kStorageAccess, 0, 0, digestStream_.Put())) || FAILED(SaveDigests()) ||
            FAILED(file_.Commit()))
            Close();
        return;
    }
    // What a version before the journal left while rewriting the map; if it
    // cannot be finished, it waits for the next open.
    if (leftovers && FAILED(RecoverLeftoverRewrite(root, kDigestStream))) {
        if (FAILED(file_.Revert())) return Close();
        root = file_.Root();
    }
    Bytes data;
    HRESULT hr = root->OpenStream(kDigestStream, nullptr, kStorageAccess, 0, digestStream_.Put());
    // Cut short before the map was first written: the objects stay where they
    // are and only their deduplication starts afresh.
    if (hr == STG_E_FILENOTFOUND && HoldsOnlyObjects(root))
        hr = root->CreateStream(kDigestStream, kStorageAccess, 0, 0, digestStream_.Put());
    if (SUCCEEDED(hr)) hr = ReadWholeStream(digestStream_.Get(), data);
    // A file created without its count (no object stored yet) holds an empty map.
    bool regular = false;
    if (FAILED(hr) || (!data.empty() && !DecodeDigestMap(data, digests_, &regular))) {
        Close();
        return;
    }
    // New pairs are appended after the recorded ones; a map whose count does
    // not match its pairs (duplicates, bytes after the last pair) is written
    // afresh once.
    if (!regular) hr = SaveDigests();
    // A map that cannot be written afresh is read the same way next time.
    if (FAILED(EndOperation(hr)) && !IsOpen()) return Close();
    // Elements the map does not name (left by an interrupted add or put there
    // by hand) are not listed here: each key is checked when handed out.
    for (const auto& pair : digests_) RaiseNextKeyAbove(pair.second);
    if (nextKey_ < INT_MAX) ++nextKey_;
}

HRESULT CObjectCache::EndOperation(HRESULT hr) {
    if (SUCCEEDED(hr)) hr = file_.Commit();
    if (SUCCEEDED(hr)) return hr;
    // Back to the last commit point, also when the commit failed: an add
    // that did not reach the disk is not one (its caller is told 0 and keeps
    // no key). The objects opened so far and the map stream belong to the
    // root let go.
    objects_.clear();
    digestStream_.Reset();
    if (SUCCEEDED(file_.Revert()) &&
        FAILED(file_.Root()->OpenStream(kDigestStream, nullptr, kStorageAccess, 0, digestStream_.Put())))
        file_.Close();
    if (!digestStream_) Close();
    return hr;
}

void CObjectCache::RaiseNextKeyAbove(const std::string& key) {
    const long long number = KeyNumber(key);
    if (number > nextKey_) nextKey_ = number >= INT_MAX ? INT_MAX : static_cast<int>(number);
}

CObjectCache::CachedObject* CObjectCache::FindObject(const std::string& key) {
    const auto found = objects_.find(key);
    if (found != objects_.end()) return &found->second;
    CachedObject object;
    if (FAILED(file_.Root()->OpenStorage(ToElementName(key).c_str(), nullptr, kStorageAccess, nullptr, 0,
                                         object.storage.Put())))
        return nullptr;
    STATSTG stat = {};
    if (SUCCEEDED(object.storage->Stat(&stat, STATFLAG_NONAME))) object.classId = stat.clsid;
    return &(objects_[key] = std::move(object));
}

HRESULT CObjectCache::CreateFreshObjectStorage(std::string& key, ComPtr<IStorage>& storage) {
    for (int attempt = 0; attempt < kMaxKeyAttempts; ++attempt) {
        if (nextKey_ == INT_MAX) return STG_E_INSUFFICIENTMEMORY;
        key = std::to_string(nextKey_++);
        // Never replace an element: a key in use belongs to a stored object,
        // whether the digest map knows it or not.
        const HRESULT hr = file_.Root()->CreateStorage(ToElementName(key).c_str(), kStorageAccess | STGM_FAILIFTHERE,
                                                       0, 0, storage.Put());
        if (hr != STG_E_FILEALREADYEXISTS) return hr;
    }
    return STG_E_FILEALREADYEXISTS;
}

HRESULT CObjectCache::DiscardElement(const std::string& key, ComPtr<IStorage>& storage) {
    storage.Reset();
    return file_.Root()->DestroyElement(ToElementName(key).c_str());
}

HRESULT CObjectCache::DigestOfContents(IStorage* storage, std::string& digest) {
    ComPtr<IStream> contents;
    HRESULT hr = storage->OpenStream(kContentsStream, nullptr, kStorageAccess, 0, contents.Put());
    if (FAILED(hr)) return hr;
    CryptoPP::Weak::MD5 md5;
    unsigned char chunk[2048];
    for (;;) {
        ULONG got = 0;
        hr = contents->Read(chunk, sizeof chunk, &got);
        if (FAILED(hr)) return hr;
        if (got == 0) break;
        md5.Update(chunk, got);
    }
    unsigned char raw[CryptoPP::Weak::MD5::DIGESTSIZE];
    md5.Final(raw);
    char hex[2 * sizeof raw + 1];
    for (std::size_t i = 0; i < sizeof raw; ++i) std::snprintf(hex + 2 * i, 3, "%02x", raw[i]);
    digest.assign(hex, 2 * sizeof raw);
    return S_OK;
}

int CObjectCache::Add(IPersistStorage* object, std::string& key) {
    if (!IsOpen() || !object) return 0;
    std::string newKey;
    ComPtr<IStorage> storage;
    HRESULT hr = CreateFreshObjectStorage(newKey, storage);
    if (SUCCEEDED(hr)) hr = object->Save(storage.Get(), FALSE);
    // The object waits in no-scribble state until told the save is over.
    if (storage) object->SaveCompleted(nullptr);
    std::string digest;
    if (SUCCEEDED(hr)) hr = DigestOfContents(storage.Get(), digest);
    if (FAILED(hr)) {
        // Nothing of it reaches the file: the step back drops the storage.
        storage.Reset();
        EndOperation(hr);
        return 0;
    }

    const auto known = digests_.find(digest);
    // A digest whose object is gone from the file is stored again.
    if (known != digests_.end() && FindObject(known->second)) {
        const std::string found = known->second;
        if (FAILED(EndOperation(DiscardElement(newKey, storage))) && !IsOpen()) return 0;
        key = found;
        return 1;
    }

    CLSID classId = CLSID_NULL;
    if (FAILED(object->GetClassID(&classId))) classId = CLSID_NULL;
    hr = storage->SetClass(classId);
    const bool remapped = known != digests_.end();
    const std::string replaced = remapped ? known->second : std::string();
    digests_[digest] = newKey;
    if (SUCCEEDED(hr)) hr = remapped ? SaveDigests() : AppendDigest(digest, newKey);
    CachedObject cached;
    cached.storage = std::move(storage);
    cached.classId = classId;
    objects_[newKey] = std::move(cached);
    if (FAILED(EndOperation(hr))) {
        if (remapped)
            digests_[digest] = replaced;
        else
            digests_.erase(digest);
        return 0;
    }
    key = newKey;
    return 1;
}

HRESULT CObjectCache::SaveDigests() {
    return OverwriteStream(digestStream_.Get(), EncodeDigestMap(digests_));
}

HRESULT CObjectCache::AppendDigest(const std::string& digest, const std::string& key) {
    // Pairs carry no order, so a new one goes at the end and only the count is
    // rewritten: adding stays cheap however many objects the file holds.
    BinaryWriter pair;
    pair.PutString(digest);
    pair.PutString(key);
    BinaryWriter count;
    count.PutInt32(static_cast<std::int32_t>(digests_.size()));
    LARGE_INTEGER offset = {};
    HRESULT hr = digestStream_->Seek(offset, STREAM_SEEK_END, nullptr);
    if (SUCCEEDED(hr)) hr = WriteBytes(digestStream_.Get(), pair.Data().data(), pair.Data().size());
    if (SUCCEEDED(hr)) hr = digestStream_->Seek(offset, STREAM_SEEK_SET, nullptr);
    if (SUCCEEDED(hr)) hr = WriteBytes(digestStream_.Get(), count.Data().data(), count.Data().size());
    return hr;
}

IStorage* CObjectCache::Lookup(const std::string& key, CLSID& classId) {
    if (!IsOpen()) return nullptr;
    CachedObject* object = FindObject(key);
    if (!object) return nullptr;
    classId = object->classId;
    return object->storage.Get();
}

void CObjectCache::ConvertObjectsToCodes(CMessageContent& content) { parleym::ConvertObjectsToCodes(content); }

void CObjectCache::ConvertCodesToObjects(CMessageContent& content) {
    parleym::ConvertCodesToObjects(content, digests_);
}

} // namespace parleym
