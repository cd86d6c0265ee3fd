// SPDX-License-Identifier: MIT
// The window as a loadable module. The command line never needs Qt, so `pelorix` maps the
// toolkit's libraries only when it opens the window: it loads this module and calls its one
// entry point. Everything else in here stays private to the module.
#include "ui/app.h"

extern "C" __attribute__((visibility("default"))) int pelorix_window_main(int argc, char** argv) {
    return pelorix::ui::runApp(argc, argv);
}
