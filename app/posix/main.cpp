// The program's entry. What needs no Qt is done here, in a process that loads no Qt library:
// the command line's help, version and misuse, and `lumora --capture` answered by a running
// instance over the session bus (its start costs this process a few milliseconds, not the
// tens a Qt Widgets program takes to load). Starting the program, or capturing with no
// instance running, loads the program proper (lumora-program.so, app/qt/program_entry.cpp)
// into this same process, so its file name, folder and process id stay the command's.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/capture_command.h"
#include "app/command_line.h"
#include "platform/files.h"

namespace {

constexpr char kLibraryName[] = "lumora-program.so";

// Beside the program (a build, a copy with its library), then in the library folder of the
// prefix it was installed under (whichever prefix that was), then where this build's
// installation puts it, then where this build made it.
void* openProgramLibrary() {
    const std::string folder = lumora::platform::programDirectory();
    const std::string candidates[] = {
        folder + "/" + kLibraryName,
        folder + "/../" LUMORA_INSTALLED_LIBRARY_FOLDER "/" + kLibraryName,
        LUMORA_INSTALLED_PREFIX "/" LUMORA_INSTALLED_LIBRARY_FOLDER "/" + std::string(kLibraryName),
        LUMORA_BUILT_LIBRARY};
    std::string problems;
    for (const std::string& path : candidates) {
        if (path.empty() || access(path.c_str(), R_OK) != 0)
            continue;
        if (void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL))
            return library;
        problems += std::string("; ") + dlerror();
    }
    std::fprintf(stderr, "lumora: the program's library %s cannot be loaded%s\n", kLibraryName,
                 problems.empty() ? " (not found)" : problems.c_str());
    return nullptr;
}

template <typename Entry>
Entry programEntry(const char* name) {
    void* library = openProgramLibrary();
    if (!library)
        return nullptr;
    auto entry = reinterpret_cast<Entry>(dlsym(library, name));
    if (!entry)
        std::fprintf(stderr, "lumora: the program's library has no %s\n", name);
    return entry;
}

int captureInProgram(lumora::app::CaptureTarget target, int argc, char** argv) {
    const auto capture = programEntry<int (*)(int, int, char**)>("lumora_program_capture");
    if (!capture)
        return lumora::app::reportFailed("the capture was not saved: the program cannot run");
    return capture(target == lumora::app::CaptureTarget::Window ? 1 : 0, argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace lumora::app;
    const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    const Command command = parseCommandLine(args);
    if (const int code = answerFromCommandLine(command); code >= 0)
        return code;
    if (command.action == CommandAction::Capture)
        return runCaptureCommand(command, argc, argv, &captureInProgram);
    const auto run = programEntry<int (*)(int, char**)>("lumora_program_main");
    return run ? run(argc, argv) : 1;
}
