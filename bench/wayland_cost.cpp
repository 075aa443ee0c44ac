// Whole-screen capture to a BMP file in a Wayland session (the Screenshot portal's round trip,
// reading its PNG, cropping, packing) against grim writing the same output to a PNG file, taken
// in turns so that both meet the same load. Both are dominated by the compositor's copy, which
// is slow without a GPU; the ratio is what holds from machine to machine.
//   lumora_wayland_cost COUNT OUTPUT
// Prints: <our median wall ms> <grim median wall ms>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"

extern char** environ;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool runGrim(const std::string& output, const std::string& file) {
    const char* argv[] = {"grim", "-o", output.c_str(), file.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "grim", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s COUNT OUTPUT\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);  // the portal's answer comes through the event loop
    const int count = std::max(1, std::atoi(argv[1]));
    const std::string output = argv[2];
    lumora::bench::ScratchDir scratch;
    using Clock = std::chrono::steady_clock;
    auto timed = [](auto&& work) {
        const auto start = Clock::now();
        const bool ok = work();
        return ok ? std::chrono::duration<double, std::milli>(Clock::now() - start).count() : -1;
    };
    // One of each first: the portal's first request also starts its backend.
    if (!lumora::bench::captureBmp(scratch.file("warm.bmp")) ||
        !runGrim(output, scratch.file("warm.png"))) {
        std::fprintf(stderr, "lumora_wayland_cost: a warm-up capture failed\n");
        return 1;
    }
    std::vector<double> ours, grim;
    for (int i = 0; i < count; ++i) {
        ours.push_back(timed([&] { return lumora::bench::captureBmp(scratch.file("ours.bmp")); }));
        grim.push_back(timed([&] { return runGrim(output, scratch.file("grim.png")); }));
        if (ours.back() < 0 || grim.back() < 0) {
            std::fprintf(stderr, "lumora_wayland_cost: a capture failed\n");
            return 1;
        }
    }
    std::printf("%.1f %.1f\n", median(ours), median(grim));
    return 0;
}
