// Pelorin Studio: the window, or with --no-window the same studio reporting on the terminal.
#include <cstdio>
#include <cstring>

#include "studio/app/headless_mode.h"
#include "studio/app/window_mode.h"

namespace {

constexpr const char* usage =
    "usage: pelorin-studio [--no-window]\n"
    "  opens the studio's window; with --no-window the same studio runs on the terminal,\n"
    "  printing its pairing link and every change of a job until Ctrl-C\n";

}  // namespace

int main(int argc, char* argv[]) {
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("pelorin-studio %s\n", PELORIN_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--no-window") == 0) {
            headless = true;
        } else if (std::strncmp(argv[i], "--", 2) == 0) {
            // Qt's own options take one dash; a long option we do not know is a mistake, told
            // before any display is needed.
            std::fputs(usage, stderr);
            return 2;
        }
    }
    // Without a window no display is needed, so the GUI application is never made.
    if (headless) return pelorin::studio::runHeadless(argc, argv);
    return pelorin::studio::runWindow(argc, argv);
}
