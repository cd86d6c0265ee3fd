// Program entry: runs a command-line mode when the arguments ask for one, else the window.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "core/cli.h"

#if defined(PELORIX_HAVE_UI) && __has_include("ui/app.h")
#include "ui/app.h"
#define PELORIX_WINDOW 1
#endif

namespace {

#ifdef PELORIX_WINDOW
bool set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Without any of these the toolkit would abort on start; a clear line is kinder.
bool displayAvailable() {
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
}
#endif

int startWindow(int argc, char** argv) {
#ifdef PELORIX_WINDOW
    if (!displayAvailable()) {
        std::fputs("pelorix: no display to open the window on; see pelorix --help for the "
                   "command-line modes\n",
                   stderr);
        return 1;
    }
    return pelorix::ui::runApp(argc, argv);
#else
    (void)argc;
    (void)argv;
    std::fputs("pelorix: this build has no window; see pelorix --help for the command-line "
               "modes\n",
               stderr);
    return 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    if (auto status = pelorix::cli::run(args, std::cout)) {
        std::cout.flush();
        return *status;
    }
    return startWindow(argc, argv);
}
