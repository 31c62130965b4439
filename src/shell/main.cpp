#include <cstdio>

#include "platform/ui/application.h"
#include "shell/brimlet_app.h"

int main(int argc, char** argv) {
    if (brimlet::BrimletApp::answeredHelp(argc, argv)) {
        return 0;
    }
    if (!brimlet::platform::ui::Application::displayConfigured()) {
        std::fputs(
            "brimlet: no graphical display to put the tray icon on; start it inside a desktop "
            "session (DISPLAY or WAYLAND_DISPLAY).\n",
            stderr);
        return 1;
    }
    return brimlet::BrimletApp::main(argc, argv);
}
