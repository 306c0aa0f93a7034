#pragma once
// A sound compound file read through libgsf, from bytes held in memory.
#include <gsf/gsf-infile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugin/storage/BinaryCodec.h"

namespace parleym_logs {

struct GObjectRelease {
    void operator()(void* object) const;
};
using InfilePtr = std::unique_ptr<GsfInfile, GObjectRelease>;
using InputPtr = std::unique_ptr<GsfInput, GObjectRelease>;

class GsfFile {
public:
    // `bytes` must stay as they are while the file is open. False with a
    // reason when libgsf cannot read them.
    bool Open(const parleym::Bytes& bytes, std::string& error);
    GsfInfile* Root() const { return root_.get(); }

    // The storage `name` under `parent`, or null when there is none.
    static InfilePtr Storage(GsfInfile* parent, const std::string& name);
    enum class Read { kOk, kMissing, kDamaged };
    // The whole stream that is the `index`th child of `parent` (see Children):
    // no search by name, for storages with thousands of streams.
    static Read ReadStreamAt(GsfInfile* parent, int index, std::vector<std::uint8_t>& data);
    // Names of the direct children of `parent`, in child order.
    static std::vector<std::string> Children(GsfInfile* parent);

private:
    InfilePtr root_;
};

} // namespace parleym_logs
