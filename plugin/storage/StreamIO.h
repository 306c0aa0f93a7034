#pragma once
// Whole-stream and element-name helpers for the compound-file stores.
#include <objbase.h>

#include <string>

#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/Scoped.h"

namespace parleym {

// Element names go to the storage interfaces as UTF-16 converted from ANSI.
std::wstring ToElementName(const std::string& ansi);
std::string FromElementName(const wchar_t* name);

// Reads from the current position to the end. A read that delivers less than
// the stream says it holds fails with STG_E_READFAULT.
HRESULT ReadStreamRest(IStream* stream, Bytes& out);
// Same from the start of the stream.
HRESULT ReadWholeStream(IStream* stream, Bytes& out);
// Truncates the stream and writes `data` from its start.
HRESULT RewriteStream(IStream* stream, const Bytes& data);
// Writes `data` over the stream from its start and cuts it to that length,
// keeping its sectors where it was; leaves it positioned at its start.
HRESULT OverwriteStream(IStream* stream, const Bytes& data);
// As OverwriteStream for a stream that holds `previous` (what this process
// last wrote there): only where the bytes differ, so a stream that grows at
// its end costs little more than the new part. A stream of another size is
// written whole.
HRESULT OverwriteStreamChanges(IStream* stream, const Bytes& data, const Bytes& previous);
// The stream `name` of `parent`, made when missing, holding `data`; `held`,
// when given, gets it open.
HRESULT WriteNamedStream(IStorage* parent, const std::wstring& name, const Bytes& data,
                         ComPtr<IStream>* held = nullptr);
// Writes at the current position; a short write fails with STG_E_WRITEFAULT.
HRESULT WriteBytes(IStream* stream, const void* data, std::size_t size);

} // namespace parleym
