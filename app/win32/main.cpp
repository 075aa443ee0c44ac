// The Windows program's entry: the UTF-16 command line becomes UTF-8 arguments, and the rest is
// the same start-up as on Linux.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <thread>
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

// The program writes UTF-8. A pipe or a file gets those bytes; a console would read them in its
// own code page (936 in a Chinese command prompt) and show the Chinese of a default file name
// as mojibake. So a stream that goes to a console is led through a pipe of our own, and a
// thread writes what arrives as UTF-16 with WriteConsoleW, whatever the code page.
class ConsoleStream {
public:
    void start(std::FILE* stream) {
        const int fd = _fileno(stream);
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
        DWORD mode = 0;
        if (fd < 0 || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
            return;
        console_ =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        HANDLE read = nullptr, write = nullptr;
        if (console_ == INVALID_HANDLE_VALUE || !CreatePipe(&read, &write, nullptr, 0))
            return;
        const int writeFd =
            _open_osfhandle(reinterpret_cast<intptr_t>(write), _O_WRONLY | _O_BINARY);
        std::fflush(stream);
        if (writeFd < 0 || _dup2(writeFd, fd) != 0) {
            CloseHandle(read);
            writeFd < 0 ? CloseHandle(write) : _close(writeFd);
            return;
        }
        _close(writeFd);
        // Not handed to programs started from here (a web browser): the reader would wait for
        // them to end before it saw the end of the pipe.
        SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), HANDLE_FLAG_INHERIT, 0);
        stream_ = stream;
        reader_ = std::thread([this, read] { copyToConsole(read); });
    }
    // Everything written so far reaches the console before this returns.
    void finish() {
        if (stream_ == nullptr)
            return;
        std::fflush(stream_);
        _close(_fileno(stream_));  // the pipe's last writer: the reader sees its end
        reader_.join();
        stream_ = nullptr;
    }

private:
    void copyToConsole(HANDLE read) {
        std::string pending;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            pending.append(buffer, got);
            // Up to the last whole character; a sequence cut by the read waits for its rest.
            std::size_t end = pending.size(), lead = end;
            while (lead > 0 && end - lead < 3 && (byteAt(pending, lead - 1) & 0xC0) == 0x80)
                --lead;
            if (lead > 0 && byteAt(pending, lead - 1) >= 0xC0) {
                const unsigned first = byteAt(pending, lead - 1);
                const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
                if (lead - 1 + length > end)
                    end = lead - 1;
            }
            write(pending.substr(0, end));
            pending.erase(0, end);
        }
        write(pending);
        CloseHandle(read);
        CloseHandle(console_);
    }
    static unsigned byteAt(const std::string& text, std::size_t at) {
        return static_cast<unsigned char>(text[at]);
    }
    void write(const std::string& text) {
        const std::wstring wide = lumora::platform::win32::toWide(text);
        DWORD written = 0;
        for (std::size_t at = 0; at < wide.size(); at += written) {
            if (!WriteConsoleW(console_, wide.data() + at, static_cast<DWORD>(wide.size() - at),
                               &written, nullptr) ||
                written == 0)
                return;
        }
    }

    std::FILE* stream_ = nullptr;
    HANDLE console_ = INVALID_HANDLE_VALUE;
    std::thread reader_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    useParentConsole();
    ConsoleStream out, err;
    out.start(stdout);
    err.start(stderr);
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
    out.finish();
    err.finish();
    std::fflush(stdout);
    std::fflush(stderr);
    return code;
}
