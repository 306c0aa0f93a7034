// Export of every logged conversation to HTML pages (parleym-logs export,
// natively) next to its floor: writing the same files, byte for byte, into
// the same folders. The limit is 20 MB of logs a second.
//   bench_log_export [LOGS.DAT]   (else $PARLEYM_BENCH_LOGS)
// Pictures come from objcache.dat beside the logs file; when there is none,
// one is written with a small picture for each object key the logs use.
// The pages go to memory-backed storage where there is some (see OutputFolder).
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchFigures.h"
#include "tools/parleym-logs/Commands.h"
#include "tools/parleym-logs/LogsReader.h"

using parleym::CMessageContent;
using parleym::LogEntry;
using parleym::MessageObjectRef;

using namespace parleym_logs;
namespace fs = std::filesystem;

namespace {

constexpr double kBytesPerSecond = 20e6;

// A 1x1 GIF whose one colour follows the key, so every picture file differs.
std::string SmallGif(unsigned key) {
    std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13);
    gif += static_cast<char>(key * 37);
    gif += static_cast<char>(key * 91);
    gif += static_cast<char>(key * 13);
    gif += std::string("\x00\x00\x00", 3);
    gif += std::string("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3B", 16);
    return gif;
}

bool WritePictureCache(const std::string& path, const std::set<std::string>& keys) {
    GError* error = nullptr;
    GsfOutput* file = gsf_output_stdio_new(path.c_str(), &error);
    if (!file) return false;
    GsfOutfile* root = gsf_outfile_msole_new(file);
    bool ok = true;
    unsigned n = 0;
    for (const std::string& key : keys) {
        GsfOutput* storage = gsf_outfile_new_child(GSF_OUTFILE(root), key.c_str(), TRUE);
        GsfOutput* contents = storage ? gsf_outfile_new_child(GSF_OUTFILE(storage), "CONTENTS", FALSE) : nullptr;
        const std::string gif = SmallGif(++n);
        ok = ok && contents && gsf_output_write(contents, gif.size(), reinterpret_cast<const guint8*>(gif.data())) &&
             gsf_output_close(contents);
        if (contents) g_object_unref(contents);
        ok = ok && storage && gsf_output_close(storage);
        if (storage) g_object_unref(storage);
    }
    ok = gsf_output_close(GSF_OUTPUT(root)) && ok;
    g_object_unref(root);
    if (!gsf_output_is_closed(file)) ok = gsf_output_close(file) && ok;
    g_object_unref(file);
    return ok;
}

// Bytes of stored conversation text, and the object keys the conversations use.
std::size_t Survey(const std::string& path, std::set<std::string>& keys) {
    LogsReader logs;
    std::string error;
    if (!logs.Open(path, error)) {
        std::printf("  %s: %s\n", path.c_str(), error.c_str());
        return 0;
    }
    std::size_t bytes = 0;
    for (const Account& account : logs.Accounts()) {
        for (const LogEntry& entry : account.index.entries) {
            CMessageContent content;
            if (!logs.Load(account, entry.number, content, error)) continue;
            bytes += content.text.size();
            for (const MessageObjectRef& object : content.objects) keys.insert(object.key);
        }
    }
    return bytes;
}

struct Snapshot {
    std::vector<std::string> folders;                         // relative, parents first
    std::vector<std::pair<std::string, std::string>> files;  // relative path, bytes
    std::size_t bytes = 0;
};

Snapshot Take(const fs::path& folder) {
    Snapshot snapshot;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        const std::string relative = fs::relative(entry.path(), folder).string();
        if (entry.is_directory()) {
            snapshot.folders.push_back(relative);
        } else {
            std::ifstream in(entry.path(), std::ios::binary);
            std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            snapshot.bytes += data.size();
            snapshot.files.emplace_back(relative, std::move(data));
        }
    }
    return snapshot;
}

// What any export of these pages must do at least: make the folders, write the files.
bool WriteAll(const Snapshot& snapshot, const std::string& folder) {
    bool ok = fs::create_directories(folder) || fs::is_directory(folder);
    for (const std::string& relative : snapshot.folders) ok = fs::create_directories(folder + "/" + relative) && ok;
    for (const auto& file : snapshot.files) {
        std::FILE* out = std::fopen((folder + "/" + file.first).c_str(), "wb");
        if (!out) return false;
        ok = std::fwrite(file.second.data(), 1, file.second.size(), out) == file.second.size() && ok;
        ok = std::fclose(out) == 0 && ok;
    }
    return ok;
}

// Memory-backed when the machine has it: the figure is the export's cost, and
// a disk shared with other work would only measure the disk (the floor shows
// what writing costs wherever the pages go). $PARLEYM_BENCH_EXPORT_DIR chooses.
std::string OutputFolder() {
    if (const char* chosen = std::getenv("PARLEYM_BENCH_EXPORT_DIR")) return chosen;
    std::error_code ignored;
    if (fs::is_directory("/dev/shm", ignored) && access("/dev/shm", W_OK) == 0) return "/dev/shm";
    const char* temporary = std::getenv("TMPDIR");
    return temporary ? temporary : "/tmp";
}

} // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : std::getenv("PARLEYM_BENCH_LOGS");
    if (!path) {
        std::printf("bench_log_export: no logs file given (scripts/bench.sh makes one with make-bench-logs)\n");
        return 0;
    }
    gsf_init();
    std::set<std::string> keys;
    const std::size_t bytes = Survey(path, keys);
    if (bytes == 0) return 1;
    const std::string pictures = ObjectCachePathFor(path);
    if (!fs::exists(pictures) && !WritePictureCache(pictures, keys)) {
        std::printf("bench_log_export: %s cannot be written\n", pictures.c_str());
        return 1;
    }
    const std::string base = OutputFolder() + "/parleym-bench-export-" + std::to_string(getpid());
    const std::string ours = base + "/ours";
    const std::string floor = base + "/floor";
    std::FILE* sink = std::fopen("/dev/null", "w");
    if (!sink) return 1;
    int status = 0;
    // One export first: its pages are what the floor writes again.
    if (ExportCommand(path, ours, false, sink, stderr) != 0) status = 1;
    const Snapshot snapshot = Take(ours);
    const bench::Timing timing = bench::Compare(
        [&] {
            if (ExportCommand(path, ours, false, sink, stderr) != 0) status = 1;
        },
        [&] {
            if (!WriteAll(snapshot, floor)) status = 1;
        },
        3, 60000,
        [&] {
            std::error_code ignored;
            fs::remove_all(ours, ignored);
            fs::remove_all(floor, ignored);
        });
    std::fclose(sink);
    std::error_code ignored;
    fs::remove_all(base, ignored);
    std::printf("%.1f MB of conversation text in %s; %zu files, %.1f MB written; %.1f MB/s\n",
                static_cast<double>(bytes) / 1e6, path, snapshot.files.size(),
                static_cast<double>(snapshot.bytes) / 1e6,
                timing.ours > 0 ? static_cast<double>(bytes) / 1e3 / timing.ours : 0.0);
    std::printf("pages written under %s\n", base.c_str());
    bench::Table table("parleym-logs export to HTML, native; floor: writing the same files; limit: 20 MB of logs/s");
    table.Add("log_export_html", static_cast<long long>(bytes), timing, 0,
              static_cast<double>(bytes) / kBytesPerSecond * 1000.0);
    table.Print();
    return status;
}
