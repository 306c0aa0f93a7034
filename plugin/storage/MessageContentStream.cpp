// Stream forms of CMessageContent (Windows only).
#include <objbase.h>

#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StreamIO.h"

namespace parleym {

long CMessageContent::Write(IStream* stream) const {
    BinaryWriter out;
    Encode(out);
    return WriteBytes(stream, out.Data().data(), out.Data().size());
}

long CMessageContent::Read(IStream* stream) {
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER start = {};
    HRESULT hr = stream->Seek(zero, STREAM_SEEK_CUR, &start);
    if (FAILED(hr)) return hr;
    Bytes rest;
    hr = ReadStreamRest(stream, rest);
    if (FAILED(hr)) return hr;
    BinaryReader in(rest);
    CMessageContent decoded;
    LARGE_INTEGER next = {};
    if (!decoded.Decode(in)) {
        next.QuadPart = static_cast<LONGLONG>(start.QuadPart);
        stream->Seek(next, STREAM_SEEK_SET, nullptr);
        return STG_E_READFAULT;
    }
    // Leave the stream just past this record, for callers that keep several.
    next.QuadPart = static_cast<LONGLONG>(start.QuadPart + in.Position());
    hr = stream->Seek(next, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    isRtf = decoded.isRtf;
    text = std::move(decoded.text);
    objects = std::move(decoded.objects);
    return S_OK;
}

} // namespace parleym
