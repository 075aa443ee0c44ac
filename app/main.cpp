#include "app/startup.h"
#include "platform/desktop_session.h"

int main(int argc, char** argv) {
    lumora::platform::prepareDisplayEnvironment();
    return lumora::app::runProgram(argc, argv);
}
