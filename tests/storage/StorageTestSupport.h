#pragma once
// Shared by the compound-file store tests: COM for the test program and
// direct element access for checks.
#include <objbase.h>

#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"
#include "tests/support/FileBytes.h"
#include "tests/support/MessageCapture.h"
#include "tests/support/TempFolder.h"

namespace storage_test {

using parleym::test::MessageCapture;
using parleym::test::ReadFileBytes;
using parleym::test::ShownMessage;
using parleym::test::TempFolder;
using parleym::test::WriteFileBytes;

class ComEnvironment {
public:
    ComEnvironment() { CoInitialize(nullptr); }
    ~ComEnvironment() { CoUninitialize(); }
};

// Opens `file` with an independent handle and reads or replaces one stream,
// given as a path of element names ("3/conversations").
parleym::Bytes ReadElementStream(const std::string& file, const std::string& streamPath);
void WriteElementStream(const std::string& file, const std::string& streamPath, const parleym::Bytes& data);
// Names of the elements directly inside the storage at `storagePath` ("" = root).
std::vector<std::string> ElementNames(const std::string& file, const std::string& storagePath = "");

} // namespace storage_test
