// The save made on every change of a conversation's history, from the history
// control to the log file, as the conversation grows to 100, 1,000 and 10,000
// messages (one in ten with an emoticon), with the real manager and log
// handler. Floor: the same bytes written with one IStream::Write into a stream
// of a compound file. Also a burst: 20 messages arriving before the handler
// runs, next to one message's save. Rich Edit's own stream-out of the history
// is shown beside, being part of every save.
#include <objbase.h>
#include <richedit.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/BenchFigures.h"
#include "bench/BenchMessenger.h"
#include "plugin/logging/ConversationHandler.h"
#include "plugin/logging/LogManager.h"
#include "plugin/storage/BinaryCodec.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/StorageDb.h"
#include "plugin/storage/StreamIO.h"
#include "shared/Protocol.h"
#include "testbench/standin/RichEditText.h"

using parleym::ComPtr;
using parleym::CMessageContent;
using parleym::kStorageReplace;

namespace {

class Conversation {
public:
    Conversation(bench::InProcessMessenger& messenger) : messenger_(messenger) {
        history_ = messenger.OpenConversation(&window_);
        if (auto* handler = messenger.Manager()->HandlerOf(window_)) number_ = handler->GetConversationNumber();
    }

    int Number() const { return number_; }
    int Messages() const { return messages_; }
    HWND History() const { return history_; }

    // One more message, as the messenger writes it; not yet reported.
    void Add() {
        ++messages_;
        std::string text = "message " + std::to_string(messages_) + ", an ordinary line of chat between friends";
        if (messages_ % 10 == 0) text += " :)";
        standin::AppendMessage(history_, messages_ % 2 ? "Ann says:" : "Me says:", text);
    }

    // What the hook library reports for an insertion into the history.
    void Report() const {
        PostThreadMessageA(GetCurrentThreadId(), WM_COMMAND, parleym::CMD_HISTORY_CHANGED,
                           reinterpret_cast<LPARAM>(history_));
    }

    // The conversation's stream as the log file holds it.
    parleym::Bytes Stored() const {
        CMessageContent content;
        if (messenger_.Manager()->LogStore().LoadConversation(std::to_string(number_).c_str(), content) != S_OK) {
            std::printf("  conversation %d not stored\n", number_);
            return {};
        }
        parleym::BinaryWriter out;
        content.Encode(out);
        return out.Take();
    }

private:
    bench::InProcessMessenger& messenger_;
    HWND window_ = nullptr;
    HWND history_ = nullptr;
    int number_ = -1;
    int messages_ = 0;
};

DWORD CALLBACK CountStreamedOut(DWORD_PTR cookie, LPBYTE, LONG size, LONG* written) {
    *reinterpret_cast<std::size_t*>(cookie) += static_cast<std::size_t>(size);
    *written = size;
    return 0;
}

void StreamOut(HWND history) {
    std::size_t bytes = 0;
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&bytes);
    stream.pfnCallback = CountStreamedOut;
    SendMessageA(history, EM_STREAMOUT, SF_RTFNOOBJS, reinterpret_cast<LPARAM>(&stream));
}

// The floor's file: a docfile with an account storage, as the log file has.
class FloorFile {
public:
    FloorFile() : path_(bench::TempPath("parleym-bench-save-floor.dat")) {
        if (FAILED(StgCreateDocfile(parleym::ToElementName(path_).c_str(), kStorageReplace, 0, root_.Put())) ||
            FAILED(root_->CreateStorage(L"1", kStorageReplace, 0, 0, account_.Put())))
            std::printf("  floor file not made\n");
    }
    ~FloorFile() {
        account_.Reset();
        root_.Reset();
        DeleteFileA(path_.c_str());
    }
    void Write(const parleym::Bytes& bytes) {
        ComPtr<IStream> stream;
        ULONG written = 0;
        if (!account_ || FAILED(account_->CreateStream(L"1", kStorageReplace, 0, 0, stream.Put())) ||
            FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) ||
            written != bytes.size())
            std::printf("  floor write FAILED\n");
    }

private:
    std::string path_;
    ComPtr<IStorage> root_;
    ComPtr<IStorage> account_;
};

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    bench::InProcessMessenger messenger;
    if (!messenger.Start()) {
        std::printf("the manager did not start\n");
        return 1;
    }
    Conversation conversation(messenger);
    if (conversation.Number() < 0) {
        std::printf("the conversation window got no log handler\n");
        return 1;
    }
    FloorFile floorFile;
    bench::Table table("save per history change (history control to log file), floor: one IStream::Write of the "
                       "same bytes into a compound file");
    for (int size : {100, 1000, 10000}) {
        while (conversation.Messages() < size) conversation.Add();
        // The saves of the conversation so far.
        conversation.Report();
        bench::InProcessMessenger::Pump();
        const parleym::Bytes bytes = conversation.Stored();
        auto floor = [&] { floorFile.Write(bytes); };

        const auto save = bench::Compare(
            [&] {
                conversation.Report();
                bench::InProcessMessenger::Pump();
            },
            floor, 7, 20000, [&] { conversation.Add(); });
        table.Add("save_per_change", size, save, 2.0);

        // The burst: twenty messages, each reported, before the handler runs;
        // next to it one message reported alone.
        const auto burst = bench::Compare(
            [&] {
                for (int i = 0; i < 20; ++i) conversation.Report();
                bench::InProcessMessenger::Pump();
            },
            [&] {
                conversation.Report();
                bench::InProcessMessenger::Pump();
            },
            5, 20000,
            [&] {
                for (int i = 0; i < 20; ++i) conversation.Add();
            });
        table.Add("save_burst_of_20_vs_one_save", size, burst, 2.0);

        const auto streamOut =
            bench::Compare([&] { StreamOut(conversation.History()); }, floor, 5, 10000);
        table.Add("richedit_streamout_alone", size, streamOut, 0);
        std::printf("size %d: %zu bytes stored\n", size, bytes.size());
    }
    table.Print();
    messenger.Stop();
    return 0;
}
