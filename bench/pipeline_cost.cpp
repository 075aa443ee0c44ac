// The capture pipeline inside a GUI process: how long the GUI thread is held by one capture
// (snapshot, name, number; the encode runs on a worker), and how long until the file is
// complete. Uses the main window's folder label like the program.
//   lumora_pipeline_cost bmp|jpg COUNT FOLDER
// Prints: <GUI blocked median ms> <GUI blocked max ms> <to complete file median ms> <max ms>
//         <GUI thread CPU median ms> <whole process CPU ms per capture>
// The CPU figures do not grow when other programs load the machine; the wall times do.
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_and_save.h"
#include "settings/capture_settings.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double processCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s bmp|jpg COUNT FOLDER\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const bool jpg = std::string(argv[1]) == "jpg";
    const int count = std::max(1, std::atoi(argv[2]));
    std::string folder = argv[3];
    if (folder.back() != '/')
        folder += '/';
    namespace ui = lumora::ui;
    ui::openWindow(ui::kMainWindow);
    ui::setControlText(ui::kMainWindow, "透明标签1", folder);
    auto& settings = lumora::captureSettings();
    settings.imageEngine = jpg ? lumora::ImageEngine::Jpg : lumora::ImageEngine::Bmp;
    settings.soundChoice = 0;
    settings.captureCounter = 1;

    std::vector<double> blocked, complete, guiCpu;
    double processCpu = 0;
    for (int i = -3; i < count; ++i) {  // three to warm up
        const double cpuStart = threadCpuMs(), processStart = processCpuMs();
        bool done = false;
        bool saved = false;
        const auto start = Clock::now();
        auto finished = start;
        lumora::capture::captureAndSave(0, lumora::CaptureKind::Manual,
                                        [&](const lumora::capture::CaptureOutcome& outcome) {
                                            finished = Clock::now();
                                            saved = outcome.saved;
                                            done = true;
                                        });
        const auto returned = Clock::now();
        const double cpuHeld = threadCpuMs() - cpuStart;
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!saved) {
            std::fprintf(stderr, "capture failed\n");
            return 1;
        }
        if (i >= 0) {
            blocked.push_back(ms(returned - start));
            complete.push_back(ms(finished - start));
            guiCpu.push_back(cpuHeld);
            processCpu += processCpuMs() - processStart;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    lumora::capture::finishPendingCaptures();
    std::printf("%.2f %.2f %.2f %.2f %.2f %.2f\n", median(blocked),
                *std::max_element(blocked.begin(), blocked.end()), median(complete),
                *std::max_element(complete.begin(), complete.end()), median(guiCpu),
                processCpu / count);
    return 0;
}
