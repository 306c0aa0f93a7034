// The object cache's open at start-up with 1,000 and 10,000 cached objects,
// next to its floor: opening the same file and reading `md5map` with plain
// storage and stream calls. Listing the file's elements is shown as well,
// being what an open that looked at every element would pay.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/BenchFigures.h"
#include "bench/HeavyFiles.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StorageFileOpen.h"
#include "plugin/storage/StreamIO.h"

using parleym::ComPtr;
using parleym::ToElementName;
using parleym::CObjectCache;
using parleym::kStorageAccess;

namespace {

int PrintMessage(HWND, const char* text, const char* caption, UINT) {
    std::printf("message box: %s (%s)\n", text, caption);
    return IDOK;
}

std::string TempFile(const std::string& name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + name;
    DeleteFileA(path.c_str());
    return path;
}

void OpenWithCache(const std::string& path, std::size_t expected) {
    CObjectCache cache;
    cache.Open(path.c_str());
    if (!cache.IsOpen() || cache.Digests().size() != expected) std::printf("  object cache open FAILED\n");
}

// Plain calls only: open the file, open md5map, read it to its end.
void OpenAndReadMap(const std::string& path) {
    ComPtr<IStorage> root;
    ComPtr<IStream> map;
    char buffer[4096];
    ULONG got = 0;
    if (FAILED(StgOpenStorage(ToElementName(path).c_str(), nullptr, kStorageAccess, nullptr, 0, root.Put())) ||
        FAILED(root->OpenStream(L"md5map", nullptr, kStorageAccess, 0, map.Put()))) {
        std::printf("  floor open FAILED\n");
        return;
    }
    while (SUCCEEDED(map->Read(buffer, sizeof buffer, &got)) && got > 0) {
    }
}

void OpenAndList(const std::string& path, int expected) {
    ComPtr<IStorage> root;
    ComPtr<IEnumSTATSTG> elements;
    int listed = 0;
    if (SUCCEEDED(StgOpenStorage(ToElementName(path).c_str(), nullptr, kStorageAccess, nullptr, 0, root.Put())) &&
        SUCCEEDED(root->EnumElements(0, nullptr, 0, elements.Put()))) {
        STATSTG stat;
        while (elements->Next(1, &stat, nullptr) == S_OK) {
            CoTaskMemFree(stat.pwcsName);
            ++listed;
        }
    }
    if (listed != expected) std::printf("  listing FAILED (%d of %d)\n", listed, expected);
}

} // namespace

int main() {
    CoInitialize(nullptr);
    parleym::SetUserMessageSink(PrintMessage);
    bench::Table table("object cache open (Init at start-up), floor: open the file and read md5map");
    for (int objects : {1000, 10000}) {
        const std::string made = bench::HeavyFilePath(bench::HeavyObjectCacheName(objects));
        const std::string path = TempFile("parleym-bench-objcache-" + std::to_string(objects) + ".dat");
        if (made.empty() || !CopyFileA(made.c_str(), path.c_str(), FALSE)) {
            std::printf("no cache file of %d objects\n", objects);
            continue;
        }
        const auto open = bench::Compare([&] { OpenWithCache(path, objects); }, [&] { OpenAndReadMap(path); });
        table.Add("objcache_open", objects, open, 2.0);
        // Part of the open: the look at the file's tables and directory that
        // keeps a damaged file from Wine's compound-file code, which can spin
        // on one. It reads every directory entry, so it grows with the objects.
        const auto check = bench::Compare(
            [&] {
                if (FAILED(parleym::CheckStorageFile(ToElementName(path)))) std::printf("  file check FAILED\n");
            },
            [&] { OpenAndReadMap(path); });
        table.Add("objcache_file_check_alone", objects, check, 0);
        // Once: at 10,000 elements a listing alone takes many seconds here.
        const auto listing = bench::Compare([&] { OpenAndList(path, objects + 1); }, [&] { OpenAndReadMap(path); }, 1);
        table.Add("objcache_list_elements", objects, listing, 0);
        DeleteFileA(path.c_str());
    }
    table.Print();
    CoUninitialize();
    return 0;
}
