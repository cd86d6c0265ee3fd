// Program entry: picks a command-line mode from the arguments or starts the window.
#include <cstdio>
#include <string>
#include <vector>

namespace {
const char* kUsage =
    "Usage: pelorix --read FILE...\n"
    "       pelorix --write CODE FILE...\n"
    "       pelorix --selftest\n";
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    for (const auto& a : args) {
        if (a == "--version") {
            std::printf("pelorix %s\n", PELORIX_VERSION);
            return 0;
        }
    }
    std::fputs(kUsage, stdout);
    return 0;
}
