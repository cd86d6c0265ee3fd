// SPDX-License-Identifier: MIT
// Without libFuzzer: replays every file of the folders (or files) named on the command line
// through the target once, so the checked-in corpus runs as an ordinary test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) {
            inputs.push_back(argv[i]);
            continue;
        }
        for (const auto& e : fs::directory_iterator(argv[i]))
            if (e.is_regular_file()) inputs.push_back(e.path());
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream f(path, std::ios::binary);
        if (!f) return std::fprintf(stderr, "cannot read %s\n", path.c_str()), 1;
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)), {});
        std::fprintf(stderr, "%s\n", path.filename().c_str());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    // An empty or missing corpus would make this test pass while checking nothing.
    return inputs.empty() ? 1 : 0;
}
