// What one capture costs to encode and how large its file is, per engine, for a picture given as
// a 24-bit BMP file (scripts/bench makes one photo-like and one desktop-like 1920x1080 picture):
//   lumora_encode_cost PICTURE.bmp [RUNS]
// prints one line per engine: "<engine> <median wall ms> <median CPU ms> <bytes>". Each run
// writes the file as the capture workers do, through a descriptor into a new file, and
// removes it again.
#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/image_encoding.h"

namespace {

using namespace lumora;

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

enum class Engine { Bmp, Jpg, Png };

// One encode into a new file; its size, or -1 on failure.
long long encodeOnce(Engine engine, const std::vector<std::uint8_t>& bmp, const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    bool ok = false;
    switch (engine) {
        case Engine::Bmp: {
            std::size_t done = 0;
            while (done < bmp.size()) {
                const ssize_t n = ::write(fd, bmp.data() + done, bmp.size() - done);
                if (n <= 0)
                    break;
                done += static_cast<std::size_t>(n);
            }
            ok = done == bmp.size();
            break;
        }
        case Engine::Jpg:
            ok = platform::writeJpegFromBmpImage(bmp, fd, 75, true) == platform::kConvertOk;
            break;
        case Engine::Png:
            ok = platform::writePngFromBmpImage(bmp, fd) == platform::kConvertOk;
            break;
    }
    struct stat st {};
    const bool sized = ::fstat(fd, &st) == 0;
    ::close(fd);
    ::unlink(path.c_str());
    return ok && sized ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lumora_encode_cost PICTURE.bmp [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> bmp((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
    if (bmp.size() < 54) {
        std::fprintf(stderr, "lumora_encode_cost: cannot read %s\n", argv[1]);
        return 1;
    }
    bench::ScratchDir dir;
    const std::string path = dir.file("capture");
    const struct {
        const char* name;
        Engine engine;
    } engines[] = {{"bmp", Engine::Bmp}, {"jpg", Engine::Jpg}, {"png", Engine::Png}};
    for (const auto& e : engines) {
        encodeOnce(e.engine, bmp, path);  // warm the caches and the heap
        std::vector<double> wall, cpu;
        long long bytes = 0;
        for (int i = 0; i < runs; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = threadCpuMs();
            bytes = encodeOnce(e.engine, bmp, path);
            cpu.push_back(threadCpuMs() - cpuStart);
            wall.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            if (bytes < 0) {
                std::fprintf(stderr, "lumora_encode_cost: %s failed\n", e.name);
                return 1;
            }
        }
        std::printf("%s %.2f %.2f %lld\n", e.name, median(wall), median(cpu), bytes);
    }
    return 0;
}
