// What the settings store costs with a large store file: the CPU the reads of start-up take in
// a fresh process (every option once, as loading does), and the time of one capture's write of
// the counter in a running one.
//   lumora_store_cost [MEGABYTES] [REPETITIONS]
// Prints: <file MB> <values> <median start-up CPU s> <median write ms>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/registry_format.h"
#include "settings/settings_store.h"

namespace {

namespace reg = lumora::platform::reg;
namespace settings = lumora::settings;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The options with their usual values, and filler values of the kind other programs' keys
// hold, until the file reaches `bytes`.
std::size_t writeStore(const std::string& file, std::size_t bytes) {
    reg::Document doc;
    const std::string key = "HKEY_LOCAL_MACHINE\\" + std::string(settings::kSettingsKey);
    for (const auto& row : settings::optionTable()) {
        if (row.type == settings::ValueType::Number) {
            doc.set(key, {std::string(row.valueName), reg::kDword, {1, 0, 0, 0}});
        } else {
            doc.set(key, {std::string(row.valueName), reg::kString, {'x', 0}});
        }
    }
    std::size_t values = settings::optionTable().size();
    std::string text = reg::format(doc);
    // All in one key, the case where a reader that scans a key's values for each one it adds
    // costs the most.
    const std::string filler = "HKEY_LOCAL_MACHINE\\software\\Filler";
    for (std::size_t v = 0; text.size() < bytes; ++v, ++values) {
        const std::string data = "some stored text number " + std::to_string(v);
        doc.set(filler, {"Value" + std::to_string(v), reg::kString,
                         std::vector<std::uint8_t>(data.c_str(), data.c_str() + data.size() + 1)});
        if (v % 1000 == 999)
            text = reg::format(doc);
    }
    text = reg::format(doc);
    std::ofstream(file, std::ios::binary) << text;
    return values;
}

// Start-up's reads in a fresh process, so nothing is cached yet.
double startupCpu() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        const double before = cpuSeconds();
        for (const auto& row : settings::optionTable()) {
            if (row.type == settings::ValueType::Number) {
                settings::readNumber(row.option);
            } else {
                settings::readText(row.option);
            }
        }
        const double spent = cpuSeconds() - before;
        if (write(pipeFds[1], &spent, sizeof spent) != sizeof spent)
            _exit(1);
        _exit(0);
    }
    double spent = -1;
    if (read(pipeFds[0], &spent, sizeof spent) != sizeof spent)
        spent = -1;
    close(pipeFds[0]);
    close(pipeFds[1]);
    waitpid(pid, nullptr, 0);
    return spent;
}

}  // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    lumora::bench::ScratchDir scratch;
    setenv("XDG_CONFIG_HOME", scratch.file("config").c_str(), 1);
    const std::string folder = scratch.file("config/lumora/registry");
    std::system(("mkdir -p '" + folder + "'").c_str());
    const std::string file = folder + "/HKEY_LOCAL_MACHINE.reg";
    const std::size_t values = writeStore(file, static_cast<std::size_t>(megabytes * 1048576));
    // Old enough that the file's time stamp is trusted, as a store at start-up is.
    sleep(1);

    std::vector<double> starts;
    for (int i = 0; i < repetitions; ++i)
        starts.push_back(startupCpu());

    // The running program: loaded once, then one write of the counter per capture.
    settings::readNumber(settings::Option::Counter);
    std::vector<double> writes;
    for (int i = 0; i < repetitions; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!settings::writeNumber(settings::Option::Counter, i + 1)) {
            std::fprintf(stderr, "store_cost: the write failed\n");
            return 1;
        }
        writes.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    std::printf("%.2f %zu %.4f %.2f\n", static_cast<double>(in.tellg()) / 1048576, values,
                median(starts), median(writes));
    return 0;
}
