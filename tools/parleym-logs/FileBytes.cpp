#include "tools/parleym-logs/FileBytes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "plugin/storage/RollbackJournal.h"

namespace parleym_logs {

namespace {
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool ReadWhole(const std::string& path, parleym::Bytes& bytes, std::string& error) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
    struct stat info {};
    if (!file || fstat(fileno(file.get()), &info) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "not a file";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(info.st_size));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        error = std::ferror(file.get()) ? std::strerror(errno) : "the file became shorter while it was read";
        return false;
    }
    return true;
}

} // namespace

bool LoadFileBytes(const std::string& path, parleym::Bytes& bytes, std::string& note, std::string& error) {
    note.clear();
    if (!ReadWhole(path, bytes, error)) return false;
    parleym::Bytes journal;
    std::string ignored;
    // No journal, or one that cannot be read, is what the plug-in would see as none.
    if (!ReadWhole(path + "-journal", journal, ignored)) return true;
    if (parleym::RollBackInMemory(bytes, journal) == parleym::JournalState::hot)
        note = "a save was cut short; read as it will be once " + path + "-journal is rolled back";
    return true;
}

} // namespace parleym_logs
