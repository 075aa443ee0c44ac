#pragma once
// The toolkit's application object and its event loop, for the program and for the capture
// command; qt/ and win32/ hold one each, so the start-up and the command stay the same code.

#include <cstdint>
#include <memory>

namespace lumora::app {

class EventLoop {
public:
    // Gui: the program, with windows (and, on Qt, Qt's own texts in Chinese); Console: the
    // capture command, which shows nothing but still runs the loop its capture may need.
    enum class Kind { Gui, Console };
    EventLoop(Kind kind, int& argc, char** argv);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Runs until exitEventLoops; returns the code given there.
    static int run();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Ends the loops that run now, nested ones (a menu, a modal box) included; nothing when no
// EventLoop exists.
void exitEventLoops(int code);
// Runs what was posted to the loop and deletes what was handed over for deletion.
void flushPostedEvents();
std::int64_t currentProcessId();

}  // namespace lumora::app
