#include "tools/parleym-logs/GsfFile.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-utils.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "plugin/storage/CompoundFileCheck.h"

namespace parleym_logs {

namespace {

const char* FaultText(parleym::CompoundFileFault fault) {
    using parleym::CompoundFileFault;
    switch (fault) {
    case CompoundFileFault::empty: return "the file is empty";
    case CompoundFileFault::notCompoundFile: return "not a compound file";
    case CompoundFileFault::badHeader: return "damaged: the header is cut short or invalid";
    case CompoundFileFault::fatOutside: return "damaged: an allocation table lies outside the file (truncated?)";
    case CompoundFileFault::difatOutside: return "damaged: the allocation-table list lies outside the file (truncated?)";
    case CompoundFileFault::directoryOutside: return "damaged: the directory lies outside the file (truncated?)";
    case CompoundFileFault::rootEntry: return "damaged: the directory has no root storage";
    case CompoundFileFault::miniFatOutside: return "damaged: the mini allocation table lies outside the file";
    case CompoundFileFault::miniStreamOutside: return "damaged: the mini stream lies outside the file";
    case CompoundFileFault::directoryTree: return "damaged: the directory is broken";
    case CompoundFileFault::streamChain: return "damaged: a stream lies outside the file (truncated?)";
    case CompoundFileFault::unreadable: return "cannot be read";
    case CompoundFileFault::none: break;
    }
    return "";
}

// libgsf reports a sector outside the file as a critical log message before
// failing the read; the failure itself is what we report.
void QuietLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

void GObjectRelease::operator()(void* object) const {
    if (object) g_object_unref(object);
}

bool GsfFile::Open(const std::string& path, std::string& error) {
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
    const parleym::CompoundFileFault fault = parleym::CheckCompoundFile(
        static_cast<std::uint64_t>(info.st_size), [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
            return fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) == 0 &&
                   std::fread(buffer, 1, size, file.get()) == size;
        });
    if (fault != parleym::CompoundFileFault::none) {
        error = FaultText(fault);
        return false;
    }
    static const bool ready = [] {
        gsf_init();
        g_log_set_handler("libgsf:msole", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK), QuietLog, nullptr);
        return true;
    }();
    (void)ready;
    GError* failure = nullptr;
    InputPtr input(gsf_input_stdio_new(path.c_str(), &failure));
    if (input) root_.reset(gsf_infile_msole_new(input.get(), &failure));
    if (!root_) {
        error = failure && failure->message ? std::string("damaged: ") + failure->message : "damaged";
        if (failure) g_error_free(failure);
        return false;
    }
    if (failure) g_error_free(failure);
    return true;
}

InfilePtr GsfFile::Storage(GsfInfile* parent, const std::string& name) {
    if (!parent) return nullptr;
    GsfInput* child = gsf_infile_child_by_name(parent, name.c_str());
    if (!child) return nullptr;
    // A stream is an infile too in libgsf; only a storage has children (-1 for a stream).
    if (!GSF_IS_INFILE(child) || gsf_infile_num_children(GSF_INFILE(child)) < 0) {
        g_object_unref(child);
        return nullptr;
    }
    return InfilePtr(GSF_INFILE(child));
}

namespace {

GsfFile::Read ReadWhole(InputPtr stream, std::vector<std::uint8_t>& data) {
    using Read = GsfFile::Read;
    if (!stream) return Read::kMissing;
    if (GSF_IS_INFILE(stream.get()) && gsf_infile_num_children(GSF_INFILE(stream.get())) >= 0) return Read::kMissing;
    const gsf_off_t size = gsf_input_size(stream.get());
    if (size < 0) return Read::kDamaged;
    data.resize(static_cast<std::size_t>(size));
    std::size_t at = 0;
    while (at < data.size()) {
        const std::size_t chunk = std::min<std::size_t>(data.size() - at, 1 << 20);
        // A sector past the end of a truncated file fails the read.
        if (!gsf_input_read(stream.get(), chunk, data.data() + at)) return Read::kDamaged;
        at += chunk;
    }
    return Read::kOk;
}

} // namespace

GsfFile::Read GsfFile::ReadStream(GsfInfile* parent, const std::string& name, std::vector<std::uint8_t>& data) {
    if (!parent) return Read::kMissing;
    return ReadWhole(InputPtr(gsf_infile_child_by_name(parent, name.c_str())), data);
}

GsfFile::Read GsfFile::ReadStreamAt(GsfInfile* parent, int index, std::vector<std::uint8_t>& data) {
    // Out of range gives no child; counting the children first would cost a list walk per read.
    if (!parent || index < 0) return Read::kMissing;
    return ReadWhole(InputPtr(gsf_infile_child_by_index(parent, index)), data);
}

std::vector<std::string> GsfFile::Children(GsfInfile* parent) {
    std::vector<std::string> names;
    const int count = parent ? gsf_infile_num_children(parent) : 0;
    for (int i = 0; i < count; ++i) {
        const char* name = gsf_infile_name_by_index(parent, i);
        if (name) names.emplace_back(name);
    }
    return names;
}

} // namespace parleym_logs
