#pragma once
// Handing work back to the GUI thread, and repeating timers, for code that must not depend on
// the widget toolkit: the capture pipeline finishes files on worker threads and tells the
// result on the GUI thread.
#include <functional>
#include <memory>

namespace lumora::platform {

// Runs `task` on the GUI thread once its event loop gets to it. Callable from any thread.
// Dropped when no application object exists (nothing would ever run it).
void postToGuiThread(std::function<void()> task);

// Processes the GUI thread's events for `milliseconds`, waiting for them to come: for the end
// of the program, when the main loop no longer runs. GUI thread only.
void processEventsFor(int milliseconds);

// A timer of the GUI thread that calls its task every `milliseconds` until stopped. The first
// call comes one period after start. GUI thread only. Outlives the application object
// safely: it then never fires again.
class RepeatingTimer {
public:
    RepeatingTimer();
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void start(int milliseconds, std::function<void()> task);
    void stop();
    bool active() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumora::platform
