// `lumora --capture screen` in a wlroots Wayland session (scripts/bench runs it in the test
// desktop of scripts/lib/wayland-session.sh) against `grim -t ppm` writing an uncompressed
// picture of the same output, each a whole process, taken in turns so that both meet the same
// load; then the parts of a request, measured alone, to show where its time goes.
//   lumora_wayland_cost PROGRAM OUTPUT COUNT
// PROGRAM is a copy of the program in a folder of its own (its capture folder), with a store
// (XDG_CONFIG_HOME) that says no logo, no sound, BMP. Prints lines "name value", times in ms:
//   one-off, running, grim       medians of COUNT whole processes
//   differing-one-off, differing-running   pixels unlike grim's picture taken right after
//   start (the command's --version: its start with its libraries), start-true (/bin/true),
//   bus (a call on the session bus from a fresh connection), copy (the compositor's copy into
//   kept shared memory), pack (the picture as a BMP image), write (the BMP file written)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/bus_call.h"
#include "platform/qt/image_to_bmp.h"
#include "platform/wayland/screencopy.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

template <typename Work>
double timed(Work&& work) {
    const auto start = Clock::now();
    const bool ok = work();
    return ok ? std::chrono::duration<double, std::milli>(Clock::now() - start).count() : -1;
}

pid_t spawn(const std::vector<std::string>& args, bool quiet) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

bool run(const std::vector<std::string>& args) {
    const pid_t pid = spawn(args, true);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The newest capture file in the program's folder.
fs::path newestCapture(const fs::path& folder) {
    fs::path newest;
    fs::file_time_type when{};
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".bmp")
            continue;
        if (newest.empty() || entry.last_write_time() > when) {
            newest = entry.path();
            when = entry.last_write_time();
        }
    }
    return newest;
}

long differingPixels(const fs::path& ours, const fs::path& reference) {
    const QImage a =
        QImage(QString::fromStdString(ours.string())).convertToFormat(QImage::Format_RGB32);
    const QImage b =
        QImage(QString::fromStdString(reference.string())).convertToFormat(QImage::Format_RGB32);
    if (a.isNull() || a.size() != b.size())
        return -1;
    long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            count += (p[x] & 0xFFFFFF) != (q[x] & 0xFFFFFF);
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PROGRAM OUTPUT COUNT\n", argv[0]);
        return 2;
    }
    const std::string program = argv[1];
    const std::string output = argv[2];
    const int count = std::max(1, std::atoi(argv[3]));
    const fs::path folder = fs::path(program).parent_path();
    const std::string reference = (folder / "grim.ppm").string();
    const std::vector<std::string> request{program, "--capture", "screen"};
    const std::vector<std::string> grim{"grim", "-t", "ppm", "-o", output, reference};
    auto fail = [](const char* what) {
        std::fprintf(stderr, "lumora_wayland_cost: %s\n", what);
        return 1;
    };

    // ---- whole processes, in turns ---------------------------------------------------------
    if (!run(request) || !run(grim))  // warm the caches once
        return fail("a warm-up capture failed");
    std::vector<double> oneOff, running, grimTimes;
    for (int i = 0; i < count; ++i) {
        oneOff.push_back(timed([&] { return run(request); }));
        grimTimes.push_back(timed([&] { return run(grim); }));
        if (oneOff.back() < 0 || grimTimes.back() < 0)
            return fail("a capture failed");
    }
    const long differingOneOff = differingPixels(newestCapture(folder), reference);

    const pid_t instance = spawn({program}, true);
    if (instance <= 0)
        return fail("the program did not start");
    // Serving once its name is on the bus (the bus itself answers Peer calls for it).
    const auto giveUp = Clock::now() + std::chrono::seconds(30);
    while (lumora::platform::dbus::callForString("io.lumora.Lumora", "/io/lumora/Lumora",
                                                 "org.freedesktop.DBus.Peer", "GetMachineId", 1000)
               .status != lumora::platform::dbus::CallAnswer::Reply) {
        if (Clock::now() > giveUp) {
            kill(instance, SIGTERM);
            return fail("the program never came on the bus");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Its window out of sight, so that the pictures show the desktop alone.
    run({"swaymsg", "[pid=" + std::to_string(instance) + "]", "move", "scratchpad"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    run(request);
    for (int i = 0; i < count; ++i) {
        running.push_back(timed([&] { return run(request); }));
        grimTimes.push_back(timed([&] { return run(grim); }));
        if (running.back() < 0 || grimTimes.back() < 0) {
            kill(instance, SIGTERM);
            return fail("a capture beside the running program failed");
        }
    }
    const long differingRunning = differingPixels(newestCapture(folder), reference);
    kill(instance, SIGTERM);
    waitpid(instance, nullptr, 0);

    // ---- the parts ---------------------------------------------------------------------------
    std::vector<double> start, startTrue, bus, copy, pack, write;
    for (int i = 0; i < count; ++i) {
        start.push_back(timed([&] { return run({program, "--version"}); }));
        startTrue.push_back(timed([&] { return run({"/bin/true"}); }));
        bus.push_back(timed([] {
            return lumora::platform::dbus::callForString(
                       "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer",
                       "GetMachineId", 1000)
                       .status == lumora::platform::dbus::CallAnswer::Reply;
        }));
    }
    std::string why;
    auto screencopy = lumora::platform::wayland::Screencopy::connect(&why);
    if (!screencopy)
        return fail(why.c_str());
    const auto outputs = screencopy->outputs();
    const std::string bmpPath = (folder / "parts.bmp").string();
    for (int i = 0; i < count; ++i) {
        QImage picture;
        copy.push_back(timed([&] {
            std::string failure;
            picture = screencopy->capture(output, &failure);
            return !picture.isNull();
        }));
        lumora::platform::Bytes bmp;
        pack.push_back(timed([&] {
            bmp = lumora::platform::snapshot::imageToBmp(picture, 0, 0);
            return !bmp.empty();
        }));
        write.push_back(timed([&] {
            std::FILE* file = std::fopen(bmpPath.c_str(), "wb");
            const bool ok = file && std::fwrite(bmp.data(), 1, bmp.size(), file) == bmp.size();
            return file && std::fclose(file) == 0 && ok;
        }));
    }
    fs::remove(bmpPath);

    std::printf("one-off %.1f\nrunning %.1f\ngrim %.1f\n", median(oneOff), median(running),
                median(grimTimes));
    std::printf("differing-one-off %ld\ndiffering-running %ld\n", differingOneOff,
                differingRunning);
    std::printf("start %.1f\nstart-true %.1f\nbus %.2f\ncopy %.1f\npack %.1f\nwrite %.1f\n",
                median(start), median(startTrue), median(bus), median(copy), median(pack),
                median(write));
    return 0;
}
