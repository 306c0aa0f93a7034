#pragma once
// What versions before the journal left while they rewrote a stream. They
// wrote the new content beside it first and marked it complete:
//   "<name>.new"  the new content, written in full first;
//   "<name>.ok"   an empty stream made once "<name>.new" was complete;
// then wrote the stream over and removed both. Found later, a marked copy is
// put in place; an unmarked one is dropped, the stream never having been
// touched. Saves now go through the journal and leave no siblings, so this
// runs only on files where the look at opening saw such names.
#include <objbase.h>

#include <string>

namespace parleym {

// Finishes or drops every leftover rewrite in `storage` and, when asked, in
// the storages directly inside it. Writes only; the caller commits. S_OK or
// the first failure.
HRESULT RecoverLeftoverRewrites(IStorage* storage, bool alsoInChildStorages);

// The same for the one stream `name` of `parent`, without listing it.
HRESULT RecoverLeftoverRewrite(IStorage* parent, const std::wstring& name);

// True for the names of the two siblings.
bool IsPendingRewriteSibling(const std::wstring& name);

} // namespace parleym
