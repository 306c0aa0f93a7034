// Runs the pre-open look at arbitrary bytes as a whole file: it must never
// read outside the file, must end, and must agree with its in-memory form.
// A mending it offers must touch only the file and leave it passing the look.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "plugin/storage/CompoundFileCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t reads = 0;
    std::size_t passes = 1; // the mending looks twice
    const parleym::FileReader read = [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
        if (offset > size || length > size - offset) std::abort();
        // Each sector is read at most once or twice, whatever the tables say.
        if (++reads > passes * 3 * (size / 64 + 4)) std::abort();
        if (length) std::memcpy(buffer, data + offset, length);
        return true;
    };
    const parleym::CompoundFileFault fault = parleym::CheckCompoundFile(size, read);
    const parleym::Bytes file(data, data + size);
    if (parleym::CheckCompoundFile(file) != fault) std::abort();
    std::vector<parleym::CompoundFilePatch> repairs;
    reads = 0;
    passes = 2;
    const parleym::CompoundFileFault mended = parleym::CheckCompoundFileForRepair(size, read, repairs);
    if (fault == parleym::CompoundFileFault::none && (mended != fault || !repairs.empty())) std::abort();
    if (mended != parleym::CompoundFileFault::none && !repairs.empty()) std::abort();
    if (!repairs.empty()) {
        parleym::Bytes patched = file;
        for (const parleym::CompoundFilePatch& patch : repairs)
            if (patch.offset > size || size - patch.offset < 4) std::abort();
        parleym::ApplyCompoundFilePatches(patched, repairs);
        if (parleym::CheckCompoundFile(patched) != parleym::CompoundFileFault::none) std::abort();
    }
    return 0;
}
