#include "bench/GsfBenchFile.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

namespace bench {

namespace {

std::uint32_t Le32(const std::vector<char>& file, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(file[at + static_cast<std::size_t>(i)]);
    return value;
}

void Put32(std::vector<char>& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

} // namespace

GsfBenchFile::GsfBenchFile(const std::string& path) : path_(path) {
    gsf_init();
    GError* error = nullptr;
    sink_ = gsf_output_stdio_new(path.c_str(), &error);
    if (error) g_error_free(error);
    if (sink_) root_ = gsf_outfile_msole_new(sink_);
}

GsfBenchFile::~GsfBenchFile() {
    if (root_) {
        if (!gsf_output_is_closed(GSF_OUTPUT(root_))) gsf_output_close(GSF_OUTPUT(root_));
        g_object_unref(root_);
    }
    if (sink_) {
        if (!gsf_output_is_closed(sink_)) gsf_output_close(sink_);
        g_object_unref(sink_);
    }
}

bool GsfBenchFile::Finish() {
    if (!root_) return false;
    bool ok = gsf_output_close(GSF_OUTPUT(root_));
    // The compound file lets go of its sink without closing it.
    if (!gsf_output_is_closed(sink_)) ok = gsf_output_close(sink_) && ok;
    return ok && BalanceDirectory(path_);
}

GsfOutfile* NewStorage(GsfOutfile* parent, const char* name) {
    return GSF_OUTFILE(gsf_outfile_new_child(parent, name, TRUE));
}

bool CloseStorage(GsfOutfile* storage) {
    if (!storage) return false;
    const bool ok = gsf_output_close(GSF_OUTPUT(storage));
    g_object_unref(storage);
    return ok;
}

bool WriteStream(GsfOutfile* parent, const char* name, const parleym::Bytes& data) {
    GsfOutput* stream = gsf_outfile_new_child(parent, name, FALSE);
    if (!stream) return false;
    const bool ok = gsf_output_write(stream, data.size(), data.data()) && gsf_output_close(stream);
    g_object_unref(stream);
    return ok;
}

// The system's own compound files keep a balanced red-black tree, which finds
// a name among 10,000 in a few steps instead of thousands: the benchmarks read
// files as the messenger's machine writes them.
bool BalanceDirectory(const std::string& path) {
    std::vector<char> file;
    {
        std::ifstream in(path, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    constexpr std::uint32_t kEnd = 0xFFFFFFFE;
    constexpr std::uint32_t kNone = 0xFFFFFFFF;
    if (file.size() < 512 || static_cast<unsigned char>(file[0x1E]) != 9) return false;
    auto sectorAt = [](std::uint32_t sector) { return (static_cast<std::size_t>(sector) + 1) * 512; };
    std::vector<std::uint32_t> fatSectors;
    for (std::uint32_t i = 0; i < 109; ++i) fatSectors.push_back(Le32(file, 0x4C + 4 * i));
    for (std::uint32_t difat = Le32(file, 0x44); difat < kEnd && sectorAt(difat) + 512 <= file.size();
         difat = Le32(file, sectorAt(difat) + 508))
        for (std::uint32_t i = 0; i < 127; ++i) fatSectors.push_back(Le32(file, sectorAt(difat) + 4 * i));
    fatSectors.resize(std::min<std::size_t>(fatSectors.size(), Le32(file, 0x2C)));
    auto next = [&](std::uint32_t sector) {
        const std::uint32_t fat = fatSectors[sector / 128];
        return Le32(file, sectorAt(fat) + 4 * (sector % 128));
    };
    std::vector<std::size_t> entries;  // file offsets of the directory entries
    for (std::uint32_t sector = Le32(file, 0x30); sector < kEnd; sector = next(sector)) {
        if (sector / 128 >= fatSectors.size() || sectorAt(sector) + 512 > file.size()) return false;
        for (std::size_t i = 0; i < 4; ++i) entries.push_back(sectorAt(sector) + 128 * i);
    }
    auto name = [&](std::uint32_t sid) {
        std::string upper;
        const std::size_t at = entries[sid];
        const std::size_t units = std::min<std::size_t>(32, (static_cast<unsigned char>(file[at + 0x40]) | 0u) / 2);
        for (std::size_t i = 0; i + 1 < units; ++i)
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(file[at + 2 * i])));
        return upper;
    };
    for (std::size_t storage = 0; storage < entries.size(); ++storage) {
        const char type = file[entries[storage] + 0x42];
        if (type != 1 && type != 5) continue;
        std::vector<std::uint32_t> children;
        std::vector<std::uint32_t> pending{Le32(file, entries[storage] + 0x4C)};
        while (!pending.empty()) {
            const std::uint32_t sid = pending.back();
            pending.pop_back();
            if (sid >= entries.size() || children.size() > entries.size()) continue;
            children.push_back(sid);
            pending.push_back(Le32(file, entries[sid] + 0x44));
            pending.push_back(Le32(file, entries[sid] + 0x48));
        }
        // The order of compound files: shorter names first, then by upper case.
        std::sort(children.begin(), children.end(), [&](std::uint32_t a, std::uint32_t b) {
            const std::string x = name(a), y = name(b);
            return x.size() != y.size() ? x.size() < y.size() : x < y;
        });
        // Halving gives full levels but perhaps the last: that one red, the rest black.
        int height = 0;
        while ((std::size_t{1} << height) - 1 < children.size()) ++height;
        const bool full = (std::size_t{1} << height) - 1 == children.size();
        std::function<std::uint32_t(std::size_t, std::size_t, int)> build = [&](std::size_t from, std::size_t to,
                                                                             int depth) -> std::uint32_t {
            if (from >= to) return kNone;
            const std::size_t middle = from + (to - from) / 2;
            const std::uint32_t sid = children[middle];
            Put32(file, entries[sid] + 0x44, build(from, middle, depth + 1));
            Put32(file, entries[sid] + 0x48, build(middle + 1, to, depth + 1));
            file[entries[sid] + 0x43] = !full && depth == height - 1 ? 0 : 1;
            return sid;
        };
        Put32(file, entries[storage] + 0x4C, build(0, children.size(), 0));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
}


} // namespace bench
