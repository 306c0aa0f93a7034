#pragma once
// Rewriting a stream so that an interruption at any point leaves either the old
// or the new content. Stream names and byte layouts stay as they are; two
// sibling elements exist only while a rewrite runs:
//   "<name>.new"  the new content, written in full first;
//   "<name>.ok"   an empty stream made once "<name>.new" is complete.
// Then the stream itself is rewritten and both siblings go. Whoever finds the
// siblings later knows: with the mark, the new content is complete and is put
// in place again; without it, the old stream was never touched.
#include <objbase.h>

#include <string>

#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/ComPtr.h"

namespace parleym {

// Writes `data` as the stream `name` of `parent`; `root`, when given, is the
// file's root storage, flushed between the steps (else `parent` is). `held`, when given, is the
// caller's open pointer to that stream: it is let go while the stream is
// rewritten and reopened afterwards (also after most failures). On failure the
// old content is intact, or the new one waits complete beside it and is put in
// place by the next ReplaceStream of that name or by RecoverReplacements.
HRESULT ReplaceStream(IStorage* parent, const std::wstring& name, const Bytes& data, ComPtr<IStream>* held = nullptr,
                      IStorage* root = nullptr);

// As ReplaceStream, for a stream that holds `previous` (what this process last
// wrote there): the new content is written whole beside it as always, but the
// stream itself only where its bytes differ, so a stream that grows at its end
// costs little more than one write. A stream whose size is not `previous`'s
// is rewritten whole.
HRESULT ReplaceStreamChanges(IStorage* parent, const std::wstring& name, const Bytes& data, const Bytes& previous,
                             IStorage* root = nullptr);

// Finishes or drops what interrupted rewrites left in `parent`. Call before
// opening the storage's streams. S_OK or the first failure.
HRESULT RecoverReplacements(IStorage* parent, IStorage* root = nullptr);

// The same for the one stream `name` only, without listing `parent`: for a
// storage with many elements and a single rewritten stream.
HRESULT RecoverReplacement(IStorage* parent, const std::wstring& name, IStorage* root = nullptr);

// True for the siblings' names, which no store gives its own elements, and
// for those of elements set aside.
bool IsReplacementSibling(const std::wstring& name);

// True for the names of the two siblings a rewrite leaves while it runs.
bool IsPendingRewriteSibling(const std::wstring& name);

// How many rewrites in this process ended without removing their siblings
// (a failure, or a copy that could not be destroyed): while this stays as it
// was when a file was opened, and the file held no siblings then, there is
// nothing for RecoverReplacements to find in it.
unsigned long RewritesLeftUnfinished();

// An element that an abrupt end left broken (the compound-file code can no
// longer read, write or destroy it) is set aside under a name of the same
// length starting with '~' (one of a few punctuation marks for one-letter
// names), and a fresh one takes its place from the complete copy.
bool IsSetAside(const std::wstring& name);

} // namespace parleym
