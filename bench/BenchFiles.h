#pragma once
// Data files as the plug-in leaves them after long use, made directly for the
// benchmarks (making them through the stores would measure something else).
#include <string>

namespace bench {

// An object cache: one sub-storage per object holding a CONTENTS stream of
// about 1.5 KB, and the digest map naming them all.
bool MakeCacheFile(const std::string& path, int objects);

} // namespace bench
