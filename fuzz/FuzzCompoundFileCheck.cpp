// Runs the pre-open look at arbitrary bytes as a whole file: it must never
// read outside the file, must end, and must agree with its in-memory form.
#include <cstdlib>
#include <cstring>

#include "plugin/storage/CompoundFileCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t reads = 0;
    const parleym::FileReader read = [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
        if (offset > size || length > size - offset) std::abort();
        // Each sector is read at most once or twice, whatever the tables say.
        if (++reads > 3 * (size / 64 + 4)) std::abort();
        if (length) std::memcpy(buffer, data + offset, length);
        return true;
    };
    std::size_t named = 0;
    const parleym::CompoundFileFault fault =
        parleym::CheckCompoundFile(size, read, [&named](const std::u16string&) { ++named; });
    if (parleym::CheckCompoundFile(parleym::Bytes(data, data + size)) != fault) std::abort();
    // Every entry is reached once: no more names than entries the file could hold.
    if (named > size / 128) std::abort();
    return 0;
}
