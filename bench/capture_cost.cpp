// Wall time and CPU per whole-screen capture of the program's own pipeline, including the CPU
// the X server spends answering it, for comparison with other screenshot tools.
//   lumora_capture_cost bmp|jpg COUNT XSERVER_PID
// Prints: <median wall ms> <our CPU ms per capture> <X server CPU ms per capture>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

double cpuSecondsOfSelf() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// utime + stime of another process, from /proc/PID/stat (fields 14 and 15).
double cpuSecondsOf(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    // After the command name: state is field 3, utime 14, stime 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14 || index == 15)
            ticks += std::strtod(field.c_str(), nullptr);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s bmp|jpg COUNT XSERVER_PID\n", argv[0]);
        return 2;
    }
    const std::string format = argv[1];
    const int count = std::max(1, std::atoi(argv[2]));
    const long xserver = std::atol(argv[3]);
    lumora::bench::ScratchDir dir;
    const std::string bmp = dir.file("capture.bmp");
    auto capture = [&] {
        return format == "jpg" ? lumora::bench::captureJpg(dir.folder())
                               : lumora::bench::captureBmp(bmp);
    };
    for (int i = 0; i < 3; ++i) {
        if (!capture()) {
            std::fprintf(stderr, "capture failed (is DISPLAY set?)\n");
            return 1;
        }
    }
    std::vector<double> wall;
    const double selfBefore = cpuSecondsOfSelf(), serverBefore = cpuSecondsOf(xserver);
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        capture();
        wall.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    const double self = (cpuSecondsOfSelf() - selfBefore) * 1000 / count;
    const double server = (cpuSecondsOf(xserver) - serverBefore) * 1000 / count;
    std::nth_element(wall.begin(), wall.begin() + wall.size() / 2, wall.end());
    std::printf("%.2f %.2f %.2f\n", wall[wall.size() / 2], self, server);
    return 0;
}
