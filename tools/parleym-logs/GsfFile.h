#pragma once
// A compound file read through libgsf: checked first (a damaged file must give
// a clear error, not whatever the library makes of it), then opened read-only.
#include <gsf/gsf-infile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace parleym_logs {

struct GObjectRelease {
    void operator()(void* object) const;
};
using InfilePtr = std::unique_ptr<GsfInfile, GObjectRelease>;
using InputPtr = std::unique_ptr<GsfInput, GObjectRelease>;

class GsfFile {
public:
    // False with a reason ("not a compound file", "damaged: ...") when the
    // file cannot be read as a compound file.
    bool Open(const std::string& path, std::string& error);
    GsfInfile* Root() const { return root_.get(); }

    // The storage `name` under `parent`, or null when there is none.
    static InfilePtr Storage(GsfInfile* parent, const std::string& name);
    enum class Read { kOk, kMissing, kDamaged };
    // The whole stream `name` under `parent`.
    static Read ReadStream(GsfInfile* parent, const std::string& name, std::vector<std::uint8_t>& data);
    // The whole stream that is the `index`th child of `parent` (see Children):
    // no search by name, for storages with thousands of streams.
    static Read ReadStreamAt(GsfInfile* parent, int index, std::vector<std::uint8_t>& data);
    // Names of the direct children of `parent`.
    static std::vector<std::string> Children(GsfInfile* parent);

private:
    InfilePtr root_;
};

} // namespace parleym_logs
