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
#include "plugin/storage/StreamReplace.h"

using parleym::ComPtr;
using parleym::ToElementName;

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
        if (parleym::IsReplacementSibling(name)) continue;
        if (stat.type != STGTY_STORAGE || KeyNumber(parleym::FromElementName(name.c_str())) < 0) ours = false;
    }
    return ours;
}

} // namespace

CObjectCache::CObjectCache(parleym::CParleymanager* owner) : owner_(owner) {}

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
    root_.Reset();
}

void CObjectCache::Open(const char* path) {
    Close();
    ++opening_;
    nextKey_ = 0;
    const std::wstring widePath = ToElementName(path);
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        if (FAILED(parleym::CreateStorageFile(widePath, kStorageAccess, root_.Put()))) {
            root_.Reset();
            return;
        }
        if (FAILED(root_->CreateStream(kDigestStream, kStorageAccess, 0, 0, digestStream_.Put()))) {
            Close();
            return;
        }
        // Written at once, so the next start can read a map from the file.
        SaveDigests();
        return;
    }

    if (FAILED(parleym::OpenStorageFile(widePath, kStorageAccess, root_.Put(), nullptr,
                                        &parleym::PlanObjectCacheSalvage))) {
        root_.Reset();
        return;
    }
    parleym::RecoverReplacement(root_.Get(), kDigestStream);
    parleym::Bytes data;
    HRESULT hr = root_->OpenStream(kDigestStream, nullptr, kStorageAccess, 0, digestStream_.Put());
    // Cut short before the map was first written: the objects stay where they
    // are and only their deduplication starts afresh.
    if (hr == STG_E_FILENOTFOUND && HoldsOnlyObjects(root_.Get()))
        hr = root_->CreateStream(kDigestStream, kStorageAccess, 0, 0, digestStream_.Put());
    if (SUCCEEDED(hr)) hr = parleym::ReadWholeStream(digestStream_.Get(), data);
    // A file created without its count (no object stored yet) holds an empty map.
    bool regular = false;
    if (FAILED(hr) || (!data.empty() && !parleym::DecodeDigestMap(data, digests_, &regular))) {
        Close();
        return;
    }
    // New pairs are appended after the recorded ones; a map whose count does
    // not match its pairs (duplicates, an append cut short, bytes after the
    // last pair) is written afresh once.
    if (!regular) SaveDigests();
    // Elements the map does not name (left by an interrupted add or put there
    // by hand) are not listed here: each key is checked when handed out.
    for (const auto& pair : digests_) RaiseNextKeyAbove(pair.second);
    if (nextKey_ < INT_MAX) ++nextKey_;
}

void CObjectCache::RaiseNextKeyAbove(const std::string& key) {
    const long long number = KeyNumber(key);
    if (number > nextKey_) nextKey_ = number >= INT_MAX ? INT_MAX : static_cast<int>(number);
}

CObjectCache::CachedObject* CObjectCache::FindObject(const std::string& key) {
    const auto found = objects_.find(key);
    if (found != objects_.end()) return &found->second;
    CachedObject object;
    if (FAILED(root_->OpenStorage(ToElementName(key).c_str(), nullptr, kStorageAccess, nullptr, 0,
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
        const HRESULT hr =
            root_->CreateStorage(ToElementName(key).c_str(), kStorageAccess | STGM_FAILIFTHERE, 0, 0, storage.Put());
        if (hr != STG_E_FILEALREADYEXISTS) return hr;
    }
    return STG_E_FILEALREADYEXISTS;
}

void CObjectCache::DiscardElement(const std::string& key, ComPtr<IStorage>& storage) {
    storage.Reset();
    root_->DestroyElement(ToElementName(key).c_str());
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
    if (!root_ || !object) return 0;
    std::string newKey;
    ComPtr<IStorage> storage;
    if (FAILED(CreateFreshObjectStorage(newKey, storage))) return 0;

    HRESULT hr = object->Save(storage.Get(), FALSE);
    // The object waits in no-scribble state until told the save is over.
    object->SaveCompleted(nullptr);
    std::string digest;
    if (SUCCEEDED(hr)) hr = DigestOfContents(storage.Get(), digest);
    if (FAILED(hr)) {
        DiscardElement(newKey, storage);
        return 0;
    }

    const auto known = digests_.find(digest);
    // A digest whose object is gone from the file is stored again.
    if (known != digests_.end() && FindObject(known->second)) {
        DiscardElement(newKey, storage);
        key = known->second;
        return 1;
    }

    CLSID classId = CLSID_NULL;
    if (FAILED(object->GetClassID(&classId))) classId = CLSID_NULL;
    storage->SetClass(classId);
    CachedObject cached;
    cached.storage = std::move(storage);
    cached.classId = classId;
    objects_[newKey] = std::move(cached);
    const bool remapped = known != digests_.end();
    digests_[digest] = newKey;
    if (remapped)
        SaveDigests();
    else
        AppendDigest(digest, newKey);
    key = newKey;
    return 1;
}

void CObjectCache::SaveDigests() {
    // A failure here costs only deduplication; the object itself is stored.
    parleym::ReplaceStream(root_.Get(), kDigestStream, parleym::EncodeDigestMap(digests_), &digestStream_);
}

void CObjectCache::AppendDigest(const std::string& digest, const std::string& key) {
    // Pairs carry no order, so a new one goes at the end and only the count is
    // rewritten: adding stays cheap however many objects the file holds. The
    // pair goes first: cut short before the count, the map still reads (a
    // count behind or ahead of the pairs keeps the pairs that are there).
    parleym::BinaryWriter pair;
    pair.PutString(digest);
    pair.PutString(key);
    parleym::BinaryWriter count;
    count.PutInt32(static_cast<std::int32_t>(digests_.size()));
    LARGE_INTEGER offset = {};
    if (!digestStream_ || FAILED(digestStream_->Seek(offset, STREAM_SEEK_END, nullptr)) ||
        FAILED(parleym::WriteBytes(digestStream_.Get(), pair.Data().data(), pair.Data().size())) ||
        FAILED(digestStream_->Seek(offset, STREAM_SEEK_SET, nullptr)) ||
        FAILED(parleym::WriteBytes(digestStream_.Get(), count.Data().data(), count.Data().size())))
        SaveDigests();
}

IStorage* CObjectCache::Lookup(const std::string& key, CLSID& classId) {
    if (!root_) return nullptr;
    CachedObject* object = FindObject(key);
    if (!object) return nullptr;
    classId = object->classId;
    return object->storage.Get();
}

void CObjectCache::ConvertObjectsToCodes(CMessageContent& content) { parleym::ConvertObjectsToCodes(content); }

void CObjectCache::ConvertCodesToObjects(CMessageContent& content) {
    parleym::ConvertCodesToObjects(content, digests_);
}
