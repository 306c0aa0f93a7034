#include "plugin/storage/StreamIO.h"

#include <algorithm>
#include <cstdint>

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

} // namespace parleym
