#include "tests/storage/StorageTestSupport.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "plugin/storage/Scoped.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"

using parleym::ComPtr;
using parleym::kStorageAccess;
using parleym::kStorageReplace;

namespace storage_test {
namespace {

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw std::runtime_error(std::string(what) + " failed");
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '/') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

// The innermost storage of `parts` (all but the last when `leaf` is set).
ComPtr<IStorage> OpenStoragePath(IStorage* root, const std::vector<std::string>& parts, std::size_t count) {
    ComPtr<IStorage> current(root);
    root->AddRef();
    for (std::size_t i = 0; i < count; ++i) {
        ComPtr<IStorage> next;
        Check(current->OpenStorage(parleym::ToElementName(parts[i]).c_str(), nullptr, kStorageAccess, nullptr, 0,
                                   next.Put()),
              "OpenStorage");
        current = std::move(next);
    }
    return current;
}

ComPtr<IStorage> OpenFile(const std::string& file) {
    ComPtr<IStorage> root;
    Check(StgOpenStorage(parleym::ToElementName(file).c_str(), nullptr, kStorageAccess, nullptr, 0, root.Put()),
          "StgOpenStorage");
    return root;
}

} // namespace

parleym::Bytes ReadElementStream(const std::string& file, const std::string& streamPath) {
    ComPtr<IStorage> root = OpenFile(file);
    const auto parts = SplitPath(streamPath);
    ComPtr<IStorage> parent = OpenStoragePath(root.Get(), parts, parts.size() - 1);
    ComPtr<IStream> stream;
    Check(parent->OpenStream(parleym::ToElementName(parts.back()).c_str(), nullptr, kStorageAccess, 0, stream.Put()),
          "OpenStream");
    parleym::Bytes data;
    Check(parleym::ReadWholeStream(stream.Get(), data), "read");
    return data;
}

void WriteElementStream(const std::string& file, const std::string& streamPath, const parleym::Bytes& data) {
    ComPtr<IStorage> root = OpenFile(file);
    const auto parts = SplitPath(streamPath);
    ComPtr<IStorage> parent = OpenStoragePath(root.Get(), parts, parts.size() - 1);
    ComPtr<IStream> stream;
    Check(parent->CreateStream(parleym::ToElementName(parts.back()).c_str(), kStorageReplace, 0, 0, stream.Put()),
          "CreateStream");
    Check(parleym::RewriteStream(stream.Get(), data), "write");
}

std::vector<std::string> ElementNames(const std::string& file, const std::string& storagePath) {
    ComPtr<IStorage> root = OpenFile(file);
    const auto parts = SplitPath(storagePath);
    ComPtr<IStorage> storage = OpenStoragePath(root.Get(), parts, parts.size());
    ComPtr<IEnumSTATSTG> elements;
    Check(storage->EnumElements(0, nullptr, 0, elements.Put()), "EnumElements");
    std::vector<std::string> names;
    STATSTG stat;
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        names.push_back(parleym::FromElementName(stat.pwcsName));
        CoTaskMemFree(stat.pwcsName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace storage_test
