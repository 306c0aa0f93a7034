// Lets the fuzz targets build and run in the ordinary native build: each
// command-line argument is a file fed to the target once; without arguments a
// few fixed inputs are fed.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    const std::vector<std::vector<std::uint8_t>> fixed = {
        {},
        {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {1, 0, 0, 0, 2, 0, 0, 0, ':', ')', 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, '2'},
        {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F},
    };
    for (const auto& input : fixed) LLVMFuzzerTestOneInput(input.data(), input.size());
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
