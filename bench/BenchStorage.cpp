// Prints how long the log store takes on real compound files at the sizes it
// is expected to reach: a 1 MB conversation saved and saved again after
// growing, and an index of 10,000 conversations loaded and saved. Figures
// only; nothing is asserted. The object cache has bench_objcache.
#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogManager.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StreamIO.h"

using parleym::CMessageContent;
using parleym::CLogManager;
using parleym::LogEntry;
using parleym::kStorageAccess;

namespace {
using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int PrintMessage(HWND, const char* text, const char* caption, UINT) {
    std::printf("message box: %s (%s)\n", text, caption);
    return IDOK;
}

std::string TempFile(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string path = std::string(folder) + name;
    DeleteFileA(path.c_str());
    return path;
}

void BenchConversationSave() {
    const std::string path = TempFile("parleym-bench-logs.dat");
    CLogManager logs;
    logs.Open(path.c_str());
    logs.OpenAccount("bench@example.org");
    CMessageContent content;
    content.text.assign(1 << 20, 'x');
    for (int i = 0; i < 200; ++i) content.AddObject(i * 5000, std::to_string(2 + i % 43));
    const LogEntry entry{45000.0, 45000.1, "friend@example.org", logs.TakeNextNumber()};

    auto start = Clock::now();
    logs.SaveConversation(entry, content);
    std::printf("conversation save (new, %zu bytes of text, %zu objects): %.1f ms\n", content.text.size(),
                content.objects.size(), MillisecondsSince(start));
    content.text.append(100 * 1024, 'y');
    start = Clock::now();
    logs.SaveConversation(entry, content);
    std::printf("conversation re-save after growth (%zu bytes of text): %.1f ms\n", content.text.size(),
                MillisecondsSince(start));
    CMessageContent loaded;
    start = Clock::now();
    logs.LoadConversation("1", loaded);
    std::printf("conversation load (%zu bytes of text): %.1f ms\n", loaded.text.size(), MillisecondsSince(start));
    logs.Close();
    DeleteFileA(path.c_str());
}

void BenchIndex() {
    constexpr int kConversations = 10000;
    const std::string path = TempFile("parleym-bench-index.dat");
    {
        CLogManager logs;
        logs.Open(path.c_str());
        logs.OpenAccount("bench@example.org");
        logs.Close();
    }
    // Fill the index directly: 10,000 separate saves would measure something else.
    parleym::ConversationIndex index;
    index.nextNumber = kConversations + 1;
    for (int i = 1; i <= kConversations; ++i)
        index.entries.push_back(LogEntry{45000.0 + i, 45000.0 + i + 0.01, "contact" + std::to_string(i % 50) +
                                         "@example.org", i});
    const parleym::Bytes bytes = parleym::EncodeConversationIndex(index);
    {
        parleym::ComPtr<IStorage> root, account;
        parleym::ComPtr<IStream> stream;
        StgOpenStorage(parleym::ToElementName(path).c_str(), nullptr, kStorageAccess, nullptr, 0, root.Put());
        root->OpenStorage(L"1", nullptr, kStorageAccess, nullptr, 0, account.Put());
        account->OpenStream(L"conversations", nullptr, kStorageAccess, 0, stream.Put());
        parleym::RewriteStream(stream.Get(), bytes);
    }

    CLogManager logs;
    logs.Open(path.c_str());
    auto start = Clock::now();
    logs.OpenAccount("bench@example.org");
    std::printf("index load (%zu conversations, %zu bytes): %.1f ms\n", logs.Index().size(), bytes.size(),
                MillisecondsSince(start));
    start = Clock::now();
    logs.CloseAccount();
    std::printf("index save (%d conversations): %.1f ms\n", kConversations, MillisecondsSince(start));
    logs.Close();
    DeleteFileA(path.c_str());
}

} // namespace

int main() {
    CoInitialize(nullptr);
    parleym::SetUserMessageSink(PrintMessage);
    BenchConversationSave();
    BenchIndex();
    CoUninitialize();
    return 0;
}
