#include "plugin/storage/StreamReplace.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>

#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

// Wine's RenameElement keeps the old name's length in the directory entry, so a
// renamed "userids.new" reads as "userids\0new" to every other reader of the
// file. The content is therefore copied into place instead of renamed; the mark
// makes that copy safe to interrupt, on Windows as well.
//
// In direct mode the compound-file code keeps some sectors (the directory, the
// small-sector tables) in memory and writes them when it likes, in no
// particular order; a process that ends abruptly can leave any mix of them on
// disk. So the file is flushed between the steps: the mark reaches the disk
// only after the complete copy, and the stream is rewritten only once the
// mark is there. The stream itself is written over in place, never destroyed
// and made again, so an end in the middle leaves it where it was in the file
// (its sectors possibly half old, half new), and the marked copy is written
// over it again; a destroyed stream whose freed sectors were handed out anew
// would have nothing safe to write into.

namespace parleym {

namespace {
const wchar_t kNewSuffix[] = L".new";
const wchar_t kMarkSuffix[] = L".ok";
constexpr wchar_t kAsideMark = L'~';
// One-letter names set aside take one of these instead.
const wchar_t kSingles[] = L"~!#$%&'()+,-;=@[]^_`{}";
constexpr std::size_t kNewLength = sizeof kNewSuffix / sizeof kNewSuffix[0] - 1;
constexpr std::size_t kMarkLength = sizeof kMarkSuffix / sizeof kMarkSuffix[0] - 1;
std::atomic<unsigned long> unfinishedRewrites{0};

bool EndsWith(const std::wstring& name, const std::wstring& suffix) {
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// What the compound-file code answers for an element whose sector chain an
// abrupt end left broken: under Wine a chain that ends in a free sector, which
// it can then neither read, write nor destroy.
bool IsBrokenElement(HRESULT hr) {
    return hr == E_OUTOFMEMORY || hr == STG_E_INSUFFICIENTMEMORY || hr == STG_E_DOCFILECORRUPT ||
           hr == STG_E_FILEALREADYEXISTS;
}

// Gives a broken element's name back for a fresh one. The element keeps its
// sectors under a name of the same length (Wine's rename keeps the old
// length) that starts with the aside mark, which no store gives its own elements.
HRESULT MoveAside(IStorage* parent, const std::wstring& name) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::wstring aside = name;
        if (name.size() == 1) {
            if (attempt >= static_cast<int>(sizeof kSingles / sizeof kSingles[0]) - 1) break;
            aside[0] = kSingles[attempt];
        } else {
            const std::wstring tag = std::to_wstring(attempt);
            if (tag.size() + 1 > aside.size()) break;
            aside[0] = kAsideMark;
            aside.replace(1, tag.size(), tag);
        }
        const HRESULT hr = parent->RenameElement(name.c_str(), aside.c_str());
        if (hr != STG_E_FILEALREADYEXISTS && hr != STG_E_ACCESSDENIED) return hr;
    }
    return STG_E_FILEALREADYEXISTS;
}

HRESULT DestroyOrMoveAside(IStorage* parent, const std::wstring& name) {
    const HRESULT hr = parent->DestroyElement(name.c_str());
    return IsBrokenElement(hr) ? MoveAside(parent, name) : hr;
}

HRESULT WriteFresh(IStorage* parent, const std::wstring& name, const Bytes& data, DWORD mode, ComPtr<IStream>* held) {
    ComPtr<IStream> stream;
    HRESULT hr = parent->CreateStream(name.c_str(), mode, 0, 0, stream.Put());
    if (SUCCEEDED(hr)) hr = WriteBytes(stream.Get(), data.data(), data.size());
    if (held && SUCCEEDED(hr)) *held = std::move(stream);
    return hr;
}

HRESULT WriteNewStream(IStorage* parent, const std::wstring& name, const Bytes& data, ComPtr<IStream>* held) {
    if (held) held->Reset();
    HRESULT hr = WriteFresh(parent, name, data, kStorageReplace, held);
    // A copy left broken by an earlier end cannot be replaced: it goes aside.
    if (IsBrokenElement(hr) && SUCCEEDED(MoveAside(parent, name)))
        hr = WriteFresh(parent, name, data, kStorageAccess, held);
    return hr;
}

HRESULT RewriteInPlace(IStorage* parent, const std::wstring& name, const Bytes& data, ComPtr<IStream>* held) {
    ComPtr<IStream> stream;
    HRESULT hr = parent->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, stream.Put());
    if (hr == STG_E_FILENOTFOUND) hr = parent->CreateStream(name.c_str(), kStorageAccess, 0, 0, stream.Put());
    if (FAILED(hr)) return hr;
    LARGE_INTEGER start = {};
    hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    if (SUCCEEDED(hr)) hr = WriteBytes(stream.Get(), data.data(), data.size());
    ULARGE_INTEGER size = {};
    size.QuadPart = data.size();
    if (SUCCEEDED(hr)) hr = stream->SetSize(size);
    if (SUCCEEDED(hr)) hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    if (held && SUCCEEDED(hr)) *held = std::move(stream);
    return hr;
}

// Writes `data` over the stream's own sectors and cuts it to length; a stream
// left broken goes aside for a fresh one (the caller holds the complete copy).
HRESULT WriteInPlace(IStorage* parent, const std::wstring& name, const Bytes& data, ComPtr<IStream>* held) {
    if (held) held->Reset();
    HRESULT hr = RewriteInPlace(parent, name, data, held);
    if (IsBrokenElement(hr) && SUCCEEDED(MoveAside(parent, name)))
        hr = WriteFresh(parent, name, data, kStorageAccess, held);
    return hr;
}

HRESULT Flush(IStorage* parent, IStorage* root) { return (root ? root : parent)->Commit(STGC_DEFAULT); }

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
HRESULT FinishPending(IStorage* parent, const std::wstring& name, bool marked, bool hasNew, ComPtr<IStream>* held,
                      IStorage* root) {
    const std::wstring fresh = name + kNewSuffix;
    const std::wstring mark = name + kMarkSuffix;
    HRESULT hr = S_OK;
    if (marked && hasNew) {
        Bytes data;
        hr = ReadNamedStream(parent, fresh, data);
        if (SUCCEEDED(hr)) hr = WriteInPlace(parent, name, data, held);
        if (SUCCEEDED(hr)) hr = Flush(parent, root);
        if (FAILED(hr)) return hr;  // everything stays for the next attempt
    }
    if (marked) hr = parent->DestroyElement(mark.c_str());
    if (SUCCEEDED(hr)) hr = Flush(parent, root);
    if (SUCCEEDED(hr) && hasNew) hr = DestroyOrMoveAside(parent, fresh);
    return hr;
}
} // namespace

bool IsSetAside(const std::wstring& name) {
    if (name.size() == 1) return std::wstring(kSingles).find(name[0]) != std::wstring::npos;
    return !name.empty() && name[0] == kAsideMark;
}

bool IsReplacementSibling(const std::wstring& name) {
    return IsSetAside(name) || IsPendingRewriteSibling(name);
}

bool IsPendingRewriteSibling(const std::wstring& name) {
    return EndsWith(name, kNewSuffix) || EndsWith(name, kMarkSuffix);
}

unsigned long RewritesLeftUnfinished() { return unfinishedRewrites.load(); }

namespace {
// The common steps of both rewrites; `previous` null for a whole rewrite.
HRESULT ReplaceSteps(IStorage* parent, const std::wstring& name, const Bytes& data, const Bytes* previous,
                     ComPtr<IStream>* held, IStorage* root, bool& siblingsGone) {
    const std::wstring fresh = name + kNewSuffix;
    const std::wstring mark = name + kMarkSuffix;
    // A complete new content still waiting from a failed rewrite goes in first,
    // so the steps below never destroy the only complete copy.
    const bool marked = Exists(parent, mark);
    if (marked) {
        const HRESULT hr = FinishPending(parent, name, true, Exists(parent, fresh), held, root);
        if (FAILED(hr)) return hr;
    }

    HRESULT hr = WriteNewStream(parent, fresh, data, nullptr);
    if (SUCCEEDED(hr)) hr = Flush(parent, root);
    if (SUCCEEDED(hr)) {
        ComPtr<IStream> markStream;
        hr = parent->CreateStream(mark.c_str(), kStorageReplace, 0, 0, markStream.Put());
    }
    if (SUCCEEDED(hr)) hr = Flush(parent, root);
    if (FAILED(hr)) {
        // The old content was not touched; the unfinished copy must not linger.
        parent->DestroyElement(mark.c_str());
        DestroyOrMoveAside(parent, fresh);
        return hr;
    }
    hr = E_FAIL;
    if (previous) {
        // Over the stream's own sectors as well, only where the bytes differ.
        ComPtr<IStream> stream;
        STATSTG stat = {};
        if (SUCCEEDED(parent->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, stream.Put())) &&
            SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.QuadPart == previous->size()) {
            hr = WriteChanges(stream.Get(), data, *previous);
            if (SUCCEEDED(hr) && held) *held = std::move(stream);
        }
    }
    if (FAILED(hr)) hr = WriteInPlace(parent, name, data, held);
    if (SUCCEEDED(hr)) hr = Flush(parent, root);
    if (FAILED(hr)) {
        // The marked copy stays: the next rewrite or open puts it in place.
        if (held && !*held) parent->OpenStream(name.c_str(), nullptr, kStorageAccess, 0, held->Put());
        return hr;
    }
    // The mark goes first: a copy left without it is only ever dropped.
    hr = parent->DestroyElement(mark.c_str());
    if (SUCCEEDED(hr)) hr = Flush(parent, root);
    if (SUCCEEDED(hr)) siblingsGone = SUCCEEDED(DestroyOrMoveAside(parent, fresh));
    return S_OK;
}

HRESULT Replace(IStorage* parent, const std::wstring& name, const Bytes& data, const Bytes* previous,
                ComPtr<IStream>* held, IStorage* root) {
    bool siblingsGone = false;
    const HRESULT hr = ReplaceSteps(parent, name, data, previous, held, root, siblingsGone);
    if (!siblingsGone) ++unfinishedRewrites;
    return hr;
}
} // namespace

HRESULT ReplaceStream(IStorage* parent, const std::wstring& name, const Bytes& data, ComPtr<IStream>* held,
                      IStorage* root) {
    return Replace(parent, name, data, nullptr, held, root);
}

HRESULT ReplaceStreamChanges(IStorage* parent, const std::wstring& name, const Bytes& data, const Bytes& previous,
                             IStorage* root) {
    return Replace(parent, name, data, &previous, nullptr, root);
}

HRESULT RecoverReplacements(IStorage* parent, IStorage* root) {
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
            if (stat.type != STGTY_STREAM || IsSetAside(name)) continue;
            if (EndsWith(name, kMarkSuffix)) marks.insert(name.substr(0, name.size() - kMarkLength));
            if (EndsWith(name, kNewSuffix)) fresh.insert(name.substr(0, name.size() - kNewLength));
        }
    }
    HRESULT result = S_OK;
    std::set<std::wstring> names = marks;
    names.insert(fresh.begin(), fresh.end());
    for (const std::wstring& name : names) {
        const HRESULT hr = FinishPending(parent, name, marks.count(name) != 0, fresh.count(name) != 0, nullptr, root);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}

HRESULT RecoverReplacement(IStorage* parent, const std::wstring& name, IStorage* root) {
    const bool marked = Exists(parent, name + kMarkSuffix);
    const bool hasNew = Exists(parent, name + kNewSuffix);
    if (!marked && !hasNew) return S_OK;
    return FinishPending(parent, name, marked, hasNew, nullptr, root);
}

} // namespace parleym
