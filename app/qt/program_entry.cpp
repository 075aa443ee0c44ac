// The program proper, with Qt: a library the command (app/posix/main.cpp) loads only when it
// is needed, so that asking a running instance for a capture loads no Qt at all. Its two
// entries are the only names it offers.
#include "app/capture_command.h"
#include "app/startup.h"
#include "platform/desktop_session.h"

extern "C" {

// The program as it starts without arguments (and any command line runProgram reads).
__attribute__((visibility("default"))) int lumora_program_main(int argc, char** argv) {
    lumora::platform::prepareDisplayEnvironment();
    return lumora::app::runProgram(argc, argv);
}

// One capture by this process, no instance running (the command holds the instance lock):
// `window` 0 the screen, 1 the focused window.
__attribute__((visibility("default"))) int lumora_program_capture(int window, int argc,
                                                                  char** argv) {
    lumora::platform::prepareDisplayEnvironment();
    return lumora::app::captureHere(
        window ? lumora::app::CaptureTarget::Window : lumora::app::CaptureTarget::Screen, argc,
        argv);
}
}
