#pragma once
// Helpers for the store tests under Wine: a scratch folder reachable from both
// sides, hand-made compound files, child processes that end abruptly and the
// independent compound-file reader (olefile) run through python.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"
#include "tests/support/FileBytes.h"
#include "tests/support/MessageCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"

namespace storetest {

using parleym::test::MessageCapture;
using parleym::test::ReadFileBytes;
using parleym::test::ShownMessage;
using parleym::test::WriteFileBytes;

// A folder under the build tree: Windows path for the code under test, Unix
// path for python.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name);
    std::string WinPath(const std::string& file) const { return folder_.Path(file); }
    std::string UnixPath(const std::string& file) const { return parleym::test::UnixPath(folder_.Path(file)); }

private:
    parleym::test::TempFolder folder_;
};

// A store file as a foreign or crashed writer might leave it: `userids`
// mapping each account to its number, and per number the given streams.
struct AccountStreams {
    std::string account;
    int number;
    std::map<std::wstring, parleym::Bytes> streams;
};
void WriteStoreFile(const std::string& path, const std::vector<AccountStreams>& accounts);

// A process that ends without closing its stores: the parent runs this test
// program again with only `childTest` and the file in the environment; the
// child test finds the file with ChildFile (empty in ordinary runs, where it
// skips itself) and ends with EndAbruptly, so no destructor runs.
DWORD RunChildTest(const std::string& childTest, const std::string& file);
std::string ChildFile();
[[noreturn]] void EndAbruptly();

// A child that saves in a loop until the parent ends it from outside. Before
// each save it reports what the save is to store (Intent), once the save has
// returned that it is complete (Done), both in a file beside the store's, so
// the parent knows what must be in the store after the end and what may be.
class SaveReport {
public:
    SaveReport();  // the parent's clock for the end starts now
    ~SaveReport();
    SaveReport(const SaveReport&) = delete;
    SaveReport& operator=(const SaveReport&) = delete;
    void Intent(const parleym::Bytes& save);
    void Done();
    // Something the parent must see went wrong: reported, and the child exits.
    [[noreturn]] void Fail(const std::string& why);
    // Which of the parent's runs this is, so every run stores its own contents.
    int Run() const { return run_; }

private:
    void Append(std::int32_t kind, const parleym::Bytes& data);
    void* file_;
    int run_;
};

struct EndedChild {
    bool ended = false;  // still running when it was terminated
    DWORD exitCode = 0;
    std::vector<parleym::Bytes> completed;  // saves reported done, in order
    bool inFlight = false;                  // a save had begun and not returned
    parleym::Bytes pending;                 // that save
    std::string failure;                    // what the child reported with Fail
};

// Runs `childTest` of this program on `file` as run number `run`, and ends it
// with TerminateProcess `afterMs` after its SaveReport began.
EndedChild RunChildAndEnd(const std::string& childTest, const std::string& file, int run, DWORD afterMs);

// The store's file held by another process, as a second messenger holds it:
// the child test `holderTest` of this program opens `file` as a compound file
// with exclusive sharing and keeps it until Release (or destruction). The
// child's side is HoldChildFile.
class HeldFile {
public:
    HeldFile(const std::string& holderTest, const std::string& file);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    // True once the child holds the file.
    bool Held() const { return held_; }
    void Release();

private:
    void* process_ = nullptr;
    void* release_ = nullptr;
    bool held_ = false;
};

// In the holder child: opens ChildFile() exclusively, tells the parent, and
// waits to be released. Exits the process.
[[noreturn]] void HoldChildFile();

// Runs tests/stats/dump_store.py KIND FILE and returns its description of
// the file; it starts with "FAILED" when the script rejects the file.
std::string DumpStore(const ScratchFolder& folder, const std::string& kind, const std::string& file);

} // namespace storetest
