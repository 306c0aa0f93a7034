#include "plugin/storage/LeftoverRewrites.h"

#include <set>
#include <vector>

#include "plugin/storage/Scoped.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

namespace parleym {

namespace {
const wchar_t kNewSuffix[] = L".new";
const wchar_t kMarkSuffix[] = L".ok";
constexpr std::size_t kNewLength = sizeof kNewSuffix / sizeof kNewSuffix[0] - 1;
constexpr std::size_t kMarkLength = sizeof kMarkSuffix / sizeof kMarkSuffix[0] - 1;

bool EndsWith(const std::wstring& name, const std::wstring& suffix) {
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool Exists(IStorage* parent, const std::wstring& name) {
    ComPtr<IStream> stream;
    return parent->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, stream.Put()) != STG_E_FILENOTFOUND;
}

HRESULT Finish(IStorage* parent, const std::wstring& name, bool marked, bool hasNew) {
    const std::wstring fresh = name + kNewSuffix;
    HRESULT hr = S_OK;
    if (marked && hasNew) {
        Bytes data;
        ComPtr<IStream> copy;
        hr = parent->OpenStream(fresh.c_str(), nullptr, kStorageAccess, 0, copy.Put());
        if (SUCCEEDED(hr)) hr = ReadWholeStream(copy.Get(), data);
        copy.Reset();
        if (SUCCEEDED(hr)) hr = WriteNamedStream(parent, name, data);
        if (FAILED(hr)) return hr;
    }
    if (marked) hr = parent->DestroyElement((name + kMarkSuffix).c_str());
    if (SUCCEEDED(hr) && hasNew) hr = parent->DestroyElement(fresh.c_str());
    return hr;
}

HRESULT RecoverIn(IStorage* storage, std::vector<std::wstring>* childStorages) {
    std::set<std::wstring> marks;
    std::set<std::wstring> fresh;
    {
        ComPtr<IEnumSTATSTG> elements;
        HRESULT hr = storage->EnumElements(0, nullptr, 0, elements.Put());
        if (FAILED(hr)) return hr;
        STATSTG stat;
        while (elements->Next(1, &stat, nullptr) == S_OK) {
            const std::wstring name = stat.pwcsName ? stat.pwcsName : L"";
            CoTaskMemFree(stat.pwcsName);
            if (stat.type == STGTY_STORAGE && childStorages) childStorages->push_back(name);
            if (stat.type != STGTY_STREAM) continue;
            if (EndsWith(name, kMarkSuffix)) marks.insert(name.substr(0, name.size() - kMarkLength));
            if (EndsWith(name, kNewSuffix)) fresh.insert(name.substr(0, name.size() - kNewLength));
        }
    }
    HRESULT result = S_OK;
    std::set<std::wstring> names = marks;
    names.insert(fresh.begin(), fresh.end());
    for (const std::wstring& name : names) {
        const HRESULT hr = Finish(storage, name, marks.count(name) != 0, fresh.count(name) != 0);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}
} // namespace

bool IsPendingRewriteSibling(const std::wstring& name) {
    return EndsWith(name, kNewSuffix) || EndsWith(name, kMarkSuffix);
}

HRESULT RecoverLeftoverRewrites(IStorage* storage, bool alsoInChildStorages) {
    std::vector<std::wstring> children;
    HRESULT result = RecoverIn(storage, alsoInChildStorages ? &children : nullptr);
    for (const std::wstring& name : children) {
        ComPtr<IStorage> child;
        HRESULT hr = storage->OpenStorage(name.c_str(), nullptr, kStorageAccess, nullptr, 0, child.Put());
        if (SUCCEEDED(hr)) hr = RecoverIn(child.Get(), nullptr);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}

HRESULT RecoverLeftoverRewrite(IStorage* parent, const std::wstring& name) {
    const bool marked = Exists(parent, name + kMarkSuffix);
    const bool hasNew = Exists(parent, name + kNewSuffix);
    if (!marked && !hasNew) return S_OK;
    return Finish(parent, name, marked, hasNew);
}

} // namespace parleym
