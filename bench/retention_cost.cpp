// What trimming old scheduled captures costs in a capture folder of 100,000 files: listing it
// once (start-up, in the background), and the bookkeeping of each saved capture afterwards
// (the new file joins the index, the oldest goes over the size to keep), as the retention
// thread does it.
//   lumora_retention_cost [FILES] [CAPTURES]
// Prints: <files> <scheduled> <listing ms> <median ms per capture> <99th percentile ms> <max ms>
//         <median CPU ms per capture> <max CPU ms>
// (CPU apart from wall time: on a busy machine a capture's wall time includes waiting for a core.)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "capture/retention.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uintmax_t kCaptureBytes = 100 * 1024;  // sparse: counted, never written

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string name(int number, bool scheduled) {
    char text[64];
    std::snprintf(text, sizeof text, "_%04d.jpg", number);
    return std::string("Lumora截图贴士") + (scheduled ? "_【间断截图】" : "") + text;
}

fs::path utf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

void makeCapture(const fs::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr)
        std::fclose(file);
    fs::resize_file(path, kCaptureBytes);
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int captures = argc > 2 ? std::atoi(argv[2]) : 500;
    lumora::bench::ScratchDir scratch;
    const fs::path folder = scratch.folder();
    // Nine in ten are scheduled captures, in 30 day folders; the rest manual captures and
    // other files beside them.
    int scheduled = 0;
    for (int i = 0; i < files; ++i) {
        if (i % 10 == 9) {
            makeCapture(folder / utf8(name(i, false)));
            continue;
        }
        char day[32];
        std::snprintf(day, sizeof day, "2026-11-%02d", static_cast<int>(1 + (i * 30LL / files)));
        fs::create_directories(folder / day);
        makeCapture(folder / day / utf8(name(i, true)));
        ++scheduled;
    }
    lumora::capture::RetentionIndex index(scratch.folder());
    const auto listStart = Clock::now();
    index.scan();
    const double listing = ms(Clock::now() - listStart);
    // The size to keep is what is there: each new capture makes the oldest go.
    const lumora::capture::RetentionLimits limits{
        0, static_cast<int>((index.bytes() + (1 << 20) - 1) >> 20)};
    index.enforce(limits, 0);
    fs::create_directories(folder / "2026-12-08");
    std::vector<double> costs, cpu;
    for (int i = 0; i < captures; ++i) {
        const fs::path path = folder / "2026-12-08" / utf8(name(files + i, true));
        makeCapture(path);
        const std::u8string text = path.u8string();
        const auto start = Clock::now();
        const std::clock_t cpuStart = std::clock();
        index.add(std::string(text.begin(), text.end()));
        index.enforce(limits, 0);
        cpu.push_back(1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        costs.push_back(ms(Clock::now() - start));
    }
    std::sort(costs.begin(), costs.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("%d %d %.1f %.3f %.3f %.3f %.3f %.3f\n", files, scheduled, listing,
                costs[costs.size() / 2], costs[costs.size() * 99 / 100], costs.back(),
                cpu[cpu.size() / 2], cpu.back());
    // The size to keep was rounded up to whole megabytes: a few captures fit before the first goes.
    return index.size() < static_cast<std::size_t>(scheduled) + 16 ? 0 : 1;
}
