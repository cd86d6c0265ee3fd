// SPDX-License-Identifier: MIT
// Program entry: runs a command-line mode when the arguments ask for one, else the window.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include <dlfcn.h>

#include "cli/cli.h"

namespace {

namespace fs = std::filesystem;

#ifdef PELORIX_WINDOW_MODULE
bool set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Without any of these the toolkit would abort on start; a clear line is kinder.
bool displayAvailable() {
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
}

// The module sits beside the binary in a build tree and under the library folder once
// installed; both are found from where this binary really is, never from the environment.
std::vector<fs::path> moduleCandidates() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const fs::path dir = self.parent_path();
    return {dir / PELORIX_WINDOW_MODULE, dir / PELORIX_WINDOW_MODULE_INSTALLED};
}
#endif

int startWindow(int argc, char** argv) {
#ifdef PELORIX_WINDOW_MODULE
    if (!displayAvailable()) {
        std::fputs(
            "pelorix: no display to open the window on; see pelorix --help for the "
            "command-line modes\n",
            stderr);
        return 1;
    }
    std::string why = "not found";
    for (const fs::path& candidate : moduleCandidates()) {
        std::error_code ec;
        if (!fs::is_regular_file(candidate, ec)) continue;
        void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* error = ::dlerror();
            why = error ? error : "cannot be loaded";
            continue;
        }
        using Entry = int (*)(int, char**);
        auto entry = reinterpret_cast<Entry>(::dlsym(module, "pelorix_window_main"));
        if (!entry) {
            why = candidate.string() + ": no entry point";
            continue;
        }
        // The module stays loaded until the process ends: its objects live that long.
        return entry(argc, argv);
    }
    std::fprintf(stderr,
                 "pelorix: cannot open the window (module %s: %s); see pelorix --help for the "
                 "command-line modes\n",
                 PELORIX_WINDOW_MODULE, why.c_str());
    return 1;
#else
    (void)argc;
    (void)argv;
    std::fputs(
        "pelorix: this build has no window; see pelorix --help for the command-line "
        "modes\n",
        stderr);
    return 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    if (auto status = pelorix::cli::run(args, std::cout, std::cerr)) {
        std::cout.flush();
        return *status;
    }
    return startWindow(argc, argv);
}
