#pragma once
// Shared by the compound-file store tests: a temporary folder, captured
// message boxes, raw file bytes and direct element access for checks.
#include <objbase.h>

#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"

namespace storage_test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string Path(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

struct ShownMessage {
    std::string text;
    std::string caption;
    unsigned style = 0;
};

// Catches every message box while alive.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;
    const std::vector<ShownMessage>& Messages() const;
    void Clear();
};

class ComEnvironment {
public:
    ComEnvironment() { CoInitialize(nullptr); }
    ~ComEnvironment() { CoUninitialize(); }
};

parleym::Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const parleym::Bytes& data);

// Opens `file` with an independent handle and reads or replaces one stream,
// given as a path of element names ("3/conversations").
parleym::Bytes ReadElementStream(const std::string& file, const std::string& streamPath);
void WriteElementStream(const std::string& file, const std::string& streamPath, const parleym::Bytes& data);
// Names of the elements directly inside the storage at `storagePath` ("" = root).
std::vector<std::string> ElementNames(const std::string& file, const std::string& storagePath = "");

} // namespace storage_test
