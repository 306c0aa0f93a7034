#include "tools/parleym-logs/GsfFile.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-utils.h>

#include <algorithm>

namespace parleym_logs {

namespace {

// libgsf reports a sector outside the file as a critical log message before
// failing the read; the failure itself is what we report.
void QuietLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

} // namespace

void GObjectRelease::operator()(void* object) const {
    if (object) g_object_unref(object);
}

bool GsfFile::Open(const parleym::Bytes& bytes, std::string& error) {
    static const bool ready = [] {
        gsf_init();
        g_log_set_handler("libgsf:msole", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK), QuietLog, nullptr);
        return true;
    }();
    (void)ready;
    GError* failure = nullptr;
    InputPtr input(gsf_input_memory_new(bytes.data(), static_cast<gsf_off_t>(bytes.size()), FALSE));
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
        names.emplace_back(name ? name : "");  // kept in place: a name's position is its child index
    }
    return names;
}

} // namespace parleym_logs
