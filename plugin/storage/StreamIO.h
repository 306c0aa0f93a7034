#pragma once
// Whole-stream and element-name helpers for the compound-file stores.
#include <objbase.h>

#include <string>

#include "plugin/storage/BinaryCodec.h"

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
// Writes at the current position; a short write fails with STG_E_WRITEFAULT.
HRESULT WriteBytes(IStream* stream, const void* data, std::size_t size);

} // namespace parleym
