// Pelorin Studio: the window, or with --no-window the same studio reporting on the terminal.
#include <cstring>

#include "studio/app/headless_mode.h"
#include "studio/app/window_mode.h"

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        // Without a window no display is needed, so the GUI application is never made.
        if (std::strcmp(argv[i], "--no-window") == 0)
            return pelorin::studio::runHeadless(argc, argv);
    }
    return pelorin::studio::runWindow(argc, argv);
}
