#include "plugin/storage/StreamReplace.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

// Wine's RenameElement keeps the old name's length in the directory entry, so a
// renamed "userids.new" reads as "userids\0new" to every other reader of the
// file. The content is therefore copied into place instead of renamed; the mark
// makes that copy safe to interrupt, on Windows as well.

namespace parleym {

namespace {
const wchar_t kNewSuffix[] = L".new";
const wchar_t kMarkSuffix[] = L".ok";
constexpr std::size_t kNewLength = sizeof kNewSuffix / sizeof kNewSuffix[0] - 1;
constexpr std::size_t kMarkLength = sizeof kMarkSuffix / sizeof kMarkSuffix[0] - 1;

bool EndsWith(const std::wstring& name, const std::wstring& suffix) {
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

HRESULT WriteNewStream(IStorage* parent, const std::wstring& name, const Bytes& data, ComPtr<IStream>* held) {
    if (held) held->Reset();
    ComPtr<IStream> stream;
    HRESULT hr = parent->CreateStream(name.c_str(), kStorageReplace, 0, 0, stream.Put());
    if (SUCCEEDED(hr)) hr = WriteBytes(stream.Get(), data.data(), data.size());
    if (held && SUCCEEDED(hr)) *held = std::move(stream);
    return hr;
}

HRESULT ReadNamedStream(IStorage* parent, const std::wstring& name, Bytes& data) {
    ComPtr<IStream> stream;
    HRESULT hr = parent->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, stream.Put());
    if (SUCCEEDED(hr)) hr = ReadWholeStream(stream.Get(), data);
    return hr;
}

// Overwrites the stream where `data` differs from `previous`, which it holds,
// and cuts or extends it to `data`'s size.
HRESULT WriteChanges(IStream* stream, const Bytes& data, const Bytes& previous) {
    constexpr std::size_t kChunk = 4096;
    const std::size_t common = std::min(data.size(), previous.size());
    std::size_t at = 0;
    while (at < data.size()) {
        // Skip the chunks that are unchanged; write the next run of changed
        // ones (and everything past the old end) in one go.
        while (at < common && std::memcmp(data.data() + at, previous.data() + at, std::min(kChunk, common - at)) == 0)
            at += std::min(kChunk, common - at);
        if (at >= data.size()) break;
        std::size_t end = at;
        while (end < common &&
               std::memcmp(data.data() + end, previous.data() + end, std::min(kChunk, common - end)) != 0)
            end += std::min(kChunk, common - end);
        if (end >= common) end = data.size();
        LARGE_INTEGER offset = {};
        offset.QuadPart = static_cast<LONGLONG>(at);
        HRESULT hr = stream->Seek(offset, STREAM_SEEK_SET, nullptr);
        if (SUCCEEDED(hr)) hr = WriteBytes(stream, data.data() + at, end - at);
        if (FAILED(hr)) return hr;
        at = end;
    }
    if (data.size() >= previous.size()) return S_OK;
    ULARGE_INTEGER size = {};
    size.QuadPart = data.size();
    return stream->SetSize(size);
}

bool Exists(IStorage* parent, const std::wstring& name) {
    ComPtr<IStream> stream;
    const HRESULT hr = parent->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, stream.Put());
    return hr != STG_E_FILENOTFOUND;
}

// What an interrupted rewrite of `name` left: completes it when marked, else
// drops the unfinished new content. `held` as for ReplaceStream.
HRESULT FinishPending(IStorage* parent, const std::wstring& name, bool marked, bool hasNew, ComPtr<IStream>* held) {
    const std::wstring fresh = name + kNewSuffix;
    const std::wstring mark = name + kMarkSuffix;
    HRESULT hr = S_OK;
    if (marked && hasNew) {
        Bytes data;
        hr = ReadNamedStream(parent, fresh, data);
        if (SUCCEEDED(hr)) hr = WriteNewStream(parent, name, data, held);
        if (FAILED(hr)) return hr;  // everything stays for the next attempt
    }
    if (marked) hr = parent->DestroyElement(mark.c_str());
    if (SUCCEEDED(hr) && hasNew) hr = parent->DestroyElement(fresh.c_str());
    return hr;
}
} // namespace

bool IsReplacementSibling(const std::wstring& name) {
    return EndsWith(name, kNewSuffix) || EndsWith(name, kMarkSuffix);
}

namespace {
// The common steps of both rewrites; `previous` null for a whole rewrite.
HRESULT Replace(IStorage* parent, const std::wstring& name, const Bytes& data, const Bytes* previous,
                ComPtr<IStream>* held) {
    const std::wstring fresh = name + kNewSuffix;
    const std::wstring mark = name + kMarkSuffix;
    // A complete new content still waiting from a failed rewrite goes in first,
    // so the steps below never destroy the only complete copy.
    const bool marked = Exists(parent, mark);
    if (marked) {
        const HRESULT hr = FinishPending(parent, name, true, Exists(parent, fresh), held);
        if (FAILED(hr)) return hr;
    }

    HRESULT hr = WriteNewStream(parent, fresh, data, nullptr);
    if (SUCCEEDED(hr)) {
        ComPtr<IStream> markStream;
        hr = parent->CreateStream(mark.c_str(), kStorageReplace, 0, 0, markStream.Put());
    }
    if (FAILED(hr)) {
        // The old content was not touched; the unfinished copy must not linger.
        parent->DestroyElement(mark.c_str());
        parent->DestroyElement(fresh.c_str());
        return hr;
    }
    hr = E_FAIL;
    if (previous) {
        ComPtr<IStream> stream;
        STATSTG stat = {};
        if (SUCCEEDED(parent->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, stream.Put())) &&
            SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.QuadPart == previous->size()) {
            hr = WriteChanges(stream.Get(), data, *previous);
            if (SUCCEEDED(hr) && held) *held = std::move(stream);
        }
    }
    if (FAILED(hr)) hr = WriteNewStream(parent, name, data, held);
    if (FAILED(hr)) {
        // The marked copy stays: the next rewrite or open puts it in place.
        if (held && !*held) parent->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, held->Put());
        return hr;
    }
    // The mark goes first: a copy left without it is only ever dropped.
    hr = parent->DestroyElement(mark.c_str());
    if (SUCCEEDED(hr)) parent->DestroyElement(fresh.c_str());
    return S_OK;
}
} // namespace

HRESULT ReplaceStream(IStorage* parent, const std::wstring& name, const Bytes& data, ComPtr<IStream>* held) {
    return Replace(parent, name, data, nullptr, held);
}

HRESULT ReplaceStreamChanges(IStorage* parent, const std::wstring& name, const Bytes& data, const Bytes& previous) {
    return Replace(parent, name, data, &previous, nullptr);
}

HRESULT RecoverReplacements(IStorage* parent) {
    std::set<std::wstring> marks;
    std::set<std::wstring> fresh;
    {
        ComPtr<IEnumSTATSTG> elements;
        HRESULT hr = parent->EnumElements(0, nullptr, 0, elements.Put());
        if (FAILED(hr)) return hr;
        for (;;) {
            STATSTG stat = {};
            ULONG fetched = 0;
            hr = elements->Next(1, &stat, &fetched);
            if (FAILED(hr)) return hr;
            if (hr != S_OK || fetched == 0) break;
            const std::wstring name = stat.pwcsName ? stat.pwcsName : L"";
            CoTaskMemFree(stat.pwcsName);
            if (stat.type != STGTY_STREAM) continue;
            if (EndsWith(name, kMarkSuffix)) marks.insert(name.substr(0, name.size() - kMarkLength));
            if (EndsWith(name, kNewSuffix)) fresh.insert(name.substr(0, name.size() - kNewLength));
        }
    }
    HRESULT result = S_OK;
    std::set<std::wstring> names = marks;
    names.insert(fresh.begin(), fresh.end());
    for (const std::wstring& name : names) {
        const HRESULT hr = FinishPending(parent, name, marks.count(name) != 0, fresh.count(name) != 0, nullptr);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}

HRESULT RecoverReplacement(IStorage* parent, const std::wstring& name) {
    const bool marked = Exists(parent, name + kMarkSuffix);
    const bool hasNew = Exists(parent, name + kNewSuffix);
    if (!marked && !hasNew) return S_OK;
    return FinishPending(parent, name, marked, hasNew, nullptr);
}

} // namespace parleym
