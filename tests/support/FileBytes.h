#pragma once
#include <string>

#include "plugin/storage/BinaryCodec.h"

namespace parleym::test {

// The whole file (empty when it cannot be read), and the whole file replaced.
parleym::Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const parleym::Bytes& data);

} // namespace parleym::test
