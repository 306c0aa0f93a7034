// Writes one file of each kind the storage code owns into the folder given on
// the command line, for check_file_layout.py to read with an independent
// compound-file reader.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageDb.h"
#include "tests/objcache/TestStoredObject.h"

using parleym::CMessageContent;
using parleym::CLogManager;
using parleym::CObjectCache;
using parleym::CStorageDb;
using parleym::LogEntry;

namespace {

int FailOnMessage(HWND, const char* text, const char* caption, UINT) {
    std::fprintf(stderr, "unexpected message box: %s (%s)\n", text, caption);
    std::exit(2);
}

bool AddPicture(CObjectCache& cache, const char* bytes, const char* expectedKey) {
    parleym::ComPtr<IPersistStorage> object(objcache_test::CreateStoredObject(bytes));
    std::string key;
    return cache.Add(object.Get(), key) == 1 && key == expectedKey;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string folder = argv[1];
    CoInitialize(nullptr);
    parleym::SetUserMessageSink(FailOnMessage);

    CStorageDb db;
    if (!db.Open((folder + "\\db.dat").c_str())) return 1;
    parleym::ComPtr<IStorage>(db.CreateUserStorage("amy@x.org"));
    parleym::ComPtr<IStorage>(db.CreateUserStorage("bob@x.org"));
    db.Close();

    CLogManager logs;
    if (!logs.Open((folder + "\\logs.dat").c_str()) || !logs.OpenAccount("amy@x.org")) return 1;
    CMessageContent content;
    content.text = "{\\rtf1 hi }";
    content.AddObject(3, "13");
    logs.SaveConversation(LogEntry{45000.5, 45000.75, "bob@x.org", logs.TakeNextNumber()}, content);
    logs.SetLoggingEnabled(0);
    logs.Close();

    CObjectCache cache;
    cache.Open((folder + "\\objcache.dat").c_str());
    if (!cache.IsOpen()) return 1;
    if (!AddPicture(cache, "smile", "0") || !AddPicture(cache, "smile", "0") || !AddPicture(cache, "wink", "2"))
        return 1;
    cache.Close();

    CoUninitialize();
    return 0;
}
