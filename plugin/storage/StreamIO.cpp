#include "plugin/storage/StreamIO.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace parleym {

std::wstring ToElementName(const std::string& ansi) {
    if (ansi.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], length);
    return wide;
}

std::string FromElementName(const wchar_t* name) {
    if (!name || !*name) return std::string();
    const int length = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string ansi(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, name, -1, &ansi[0], length, nullptr, nullptr);
    ansi.resize(static_cast<std::size_t>(length - 1));
    return ansi;
}

HRESULT ReadStreamRest(IStream* stream, Bytes& out) {
    STATSTG stat = {};
    HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER position = {};
    hr = stream->Seek(zero, STREAM_SEEK_CUR, &position);
    if (FAILED(hr)) return hr;
    const std::uint64_t size = stat.cbSize.QuadPart;
    const std::uint64_t remaining = position.QuadPart < size ? size - position.QuadPart : 0;
    // Our records are far below this; anything larger is not one of our streams.
    if (remaining > 0x7FFFFFFFu) return STG_E_INSUFFICIENTMEMORY;
    out.assign(static_cast<std::size_t>(remaining), 0);
    std::size_t done = 0;
    while (done < out.size()) {
        ULONG got = 0;
        hr = stream->Read(out.data() + done, static_cast<ULONG>(out.size() - done), &got);
        if (FAILED(hr)) return hr;
        if (got == 0) return STG_E_READFAULT;
        done += got;
    }
    return S_OK;
}

HRESULT ReadWholeStream(IStream* stream, Bytes& out) {
    LARGE_INTEGER zero = {};
    const HRESULT hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    return ReadStreamRest(stream, out);
}

HRESULT WriteBytes(IStream* stream, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(size, 0x10000000));
        ULONG written = 0;
        const HRESULT hr = stream->Write(p, chunk, &written);
        if (FAILED(hr)) return hr;
        if (written == 0) return STG_E_WRITEFAULT;
        p += written;
        size -= written;
    }
    return S_OK;
}

HRESULT RewriteStream(IStream* stream, const Bytes& data) {
    ULARGE_INTEGER zeroSize = {};
    HRESULT hr = stream->SetSize(zeroSize);
    if (FAILED(hr)) return hr;
    LARGE_INTEGER zero = {};
    hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    return WriteBytes(stream, data.data(), data.size());
}

HRESULT OverwriteStream(IStream* stream, const Bytes& data) {
    LARGE_INTEGER start = {};
    HRESULT hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    if (SUCCEEDED(hr)) hr = WriteBytes(stream, data.data(), data.size());
    ULARGE_INTEGER size = {};
    size.QuadPart = data.size();
    if (SUCCEEDED(hr)) hr = stream->SetSize(size);
    if (SUCCEEDED(hr)) hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return hr;
}

HRESULT OverwriteStreamChanges(IStream* stream, const Bytes& data, const Bytes& previous) {
    STATSTG stat = {};
    HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    if (stat.cbSize.QuadPart != previous.size()) return OverwriteStream(stream, data);
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
        hr = stream->Seek(offset, STREAM_SEEK_SET, nullptr);
        if (SUCCEEDED(hr)) hr = WriteBytes(stream, data.data() + at, end - at);
        if (FAILED(hr)) return hr;
        at = end;
    }
    if (data.size() < previous.size()) {
        ULARGE_INTEGER size = {};
        size.QuadPart = data.size();
        hr = stream->SetSize(size);
    }
    LARGE_INTEGER start = {};
    if (SUCCEEDED(hr)) hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return hr;
}

HRESULT WriteNamedStream(IStorage* parent, const std::wstring& name, const Bytes& data, ComPtr<IStream>* held) {
    constexpr DWORD kAccess = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    ComPtr<IStream> stream;
    HRESULT hr = parent->OpenStream(name.c_str(), nullptr, kAccess, 0, stream.Put());
    if (hr == STG_E_FILENOTFOUND) hr = parent->CreateStream(name.c_str(), kAccess, 0, 0, stream.Put());
    if (SUCCEEDED(hr)) hr = OverwriteStream(stream.Get(), data);
    if (SUCCEEDED(hr) && held) *held = std::move(stream);
    return hr;
}

} // namespace parleym
