// The Windows program's entry: the UTF-16 command line becomes UTF-8 arguments, and the rest is
// the same start-up as on Linux.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/win32/wide.h"

namespace {

// A window program has no console; started from one (lumora.exe --capture screen in a
// command prompt), its output goes to that console, unless the caller redirected it.
void useParentConsole() {
    const bool haveOut = GetStdHandle(STD_OUTPUT_HANDLE) != nullptr &&
                         GetStdHandle(STD_OUTPUT_HANDLE) != INVALID_HANDLE_VALUE;
    if (haveOut || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::FILE* ignored = nullptr;
    freopen_s(&ignored, "CONOUT$", "w", stdout);
    freopen_s(&ignored, "CONOUT$", "w", stderr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    useParentConsole();
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(lumora::platform::win32::toUtf8(wide[i]));
    LocalFree(wide);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int code = lumora::app::runProgram(count, argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    return code;
}
