// The rollback journal as an open finds it: any bytes, beside any file.
#include <cstddef>
#include <cstdint>

#include "plugin/storage/RollbackJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks how long the file beside it is.
    const std::size_t fileSize = size > 0 ? data[0] * 97u : 0;
    parleym::Bytes file(fileSize, 0x5A);
    const parleym::Bytes journal(data + (size > 0 ? 1 : 0), data + size);
    const parleym::JournalState state = parleym::RollBackInMemory(file, journal);
    if (state != parleym::JournalState::hot && file.size() != fileSize) __builtin_trap();
    return 0;
}
