#include "tests/support/FileBytes.h"

#include <fstream>
#include <iterator>

namespace parleym::test {

parleym::Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return parleym::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const parleym::Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

} // namespace parleym::test
