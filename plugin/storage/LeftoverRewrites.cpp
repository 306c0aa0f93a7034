#include "plugin/storage/LeftoverRewrites.h"

#include <set>
#include <vector>

#include "plugin/storage/RewriteSiblings.h"
#include "plugin/storage/Scoped.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

namespace parleym {

namespace {
bool Exists(IStorage* parent, const std::wstring& name) {
    ComPtr<IStream> stream;
    return parent->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, stream.Put()) != STG_E_FILENOTFOUND;
}

HRESULT Finish(IStorage* parent, const std::wstring& name, bool marked, bool hasNew) {
    const std::wstring fresh = NewSiblingOf(name);
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
    if (marked) hr = parent->DestroyElement(MarkSiblingOf(name).c_str());
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
            std::wstring stream;
            const RewriteSibling kind = RewriteSiblingKind(name, &stream);
            if (kind == RewriteSibling::mark) marks.insert(stream);
            if (kind == RewriteSibling::newCopy) fresh.insert(stream);
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
    return RewriteSiblingKind(name) != RewriteSibling::none;
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
    const bool marked = Exists(parent, MarkSiblingOf(name));
    const bool hasNew = Exists(parent, NewSiblingOf(name));
    if (!marked && !hasNew) return S_OK;
    return Finish(parent, name, marked, hasNew);
}

} // namespace parleym
