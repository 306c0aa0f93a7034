#include "tools/parleym-logs/FileBytes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace parleym_logs {

namespace {
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
} // namespace

bool LoadFileBytes(const std::string& path, parleym::Bytes& bytes, std::string& error) {
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

} // namespace parleym_logs
