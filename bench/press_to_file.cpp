// Press to complete file, as a person meets it: PrintScreen pressed through the XTEST extension
// (as a keyboard would), the folder watched with inotify for the capture's final name.
//   lumora_press_to_file FOLDER latency COUNT      COUNT presses at random moments, held 80 ms;
//                                                 prints: <median ms> <max ms> <files>
//   lumora_press_to_file FOLDER burst COUNT GAP_MS COUNT presses GAP_MS apart, held 50 ms;
//                                                 prints: <files>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Final names created since the last call (hidden names are files still being written).
int newFiles(int watch, int waitMs) {
    pollfd p{watch, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0)
        return 0;
    alignas(inotify_event) char buffer[16384];
    int files = 0;
    const ssize_t n = read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && event->name[0] != '.')
            ++files;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    return files;
}

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s FOLDER latency COUNT | FOLDER burst COUNT GAP_MS\n",
                     argv[0]);
        return 2;
    }
    const std::string folder = argv[1], mode = argv[2];
    const int count = std::max(1, std::atoi(argv[3]));
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    const KeyCode print = XKeysymToKeycode(display, XK_Print);
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
        std::fprintf(stderr, "cannot watch %s\n", folder.c_str());
        return 1;
    }
    auto key = [&](bool down) {
        XTestFakeKeyEvent(display, print, down ? True : False, CurrentTime);
        XSync(display, False);
    };

    if (mode == "burst") {
        const int gap = argc > 4 ? std::atoi(argv[4]) : 134;
        const auto first = Clock::now();
        int files = 0;
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(first + std::chrono::milliseconds(i * gap));
            key(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            key(false);
            files += newFiles(watch, 0);
        }
        for (int quiet = 0; quiet < 20; ++quiet)
            files += newFiles(watch, 100);
        std::printf("%d\n", files);
        return 0;
    }

    std::mt19937 random(std::random_device{}());
    std::vector<double> latency;
    int files = 0;
    for (int i = 0; i < count; ++i) {
        // A moment anywhere within two periods of the program's key timer.
        std::this_thread::sleep_for(std::chrono::milliseconds(250 + random() % 600));
        newFiles(watch, 0);
        const auto pressed = Clock::now();
        key(true);
        bool released = false;
        int got = 0;
        while (got == 0 && msSince(pressed) < 3000) {
            if (!released && msSince(pressed) >= 80) {
                key(false);
                released = true;
            }
            got = newFiles(watch, 2);
        }
        latency.push_back(msSince(pressed));
        files += got;
        if (!released) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(static_cast<int>(std::max(0.0, 80 - msSince(pressed)))));
            key(false);
        }
    }
    std::sort(latency.begin(), latency.end());
    std::printf("%.1f %.1f %d\n", latency[latency.size() / 2], latency.back(),
                files + newFiles(watch, 300));
    XCloseDisplay(display);
    return 0;
}
