// Needs an X display; scripts/bench runs it on its own Xvfb showing a photo-like picture.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <vector>

#include "bench/bench_support.h"
#include "platform/image_encoding.h"
#include "platform/snapshot.h"
#include "platform/snapshot_bmp.h"

namespace {

using namespace lumora;

void BM_SnapshotScreen(benchmark::State& state) {
    for (auto _ : state) {
        platform::SnapshotImage image = platform::takeSnapshot(0, 0, 0);
        if (image.empty())
            state.SkipWithError("no snapshot (is DISPLAY set?)");
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_SnapshotScreen)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SnapshotScaled800x600(benchmark::State& state) {
    for (auto _ : state) {
        platform::SnapshotImage image = platform::takeSnapshot(0, 800, 600);
        if (image.empty())
            state.SkipWithError("no snapshot (is DISPLAY set?)");
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_SnapshotScaled800x600)->Unit(benchmark::kMillisecond)->UseRealTime();

// The packing step alone, from a screen-sized 32-bit buffer.
void BM_PackScreenPixels(benchmark::State& state) {
    const platform::SnapshotImage probe = platform::takeSnapshot(0, 0, 0);
    const int width = probe.size() > 26 ? probe[18] | (probe[19] << 8) : 1920;
    const int height = probe.size() > 26 ? probe[22] | (probe[23] << 8) : 1080;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4, 0x5A);
    for (auto _ : state) {
        platform::Bytes image =
            platform::snapshot::packBmp(pixels.data(), 4 * width, width, height);
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_PackScreenPixels)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteBmp(benchmark::State& state) {
    bench::ScratchDir dir;
    const platform::SnapshotImage image = platform::takeSnapshot(0, 0, 0);
    const std::string path = dir.file("screen.bmp");
    for (auto _ : state) {
        if (!platform::writeFileBytes(path, image))
            state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_WriteBmp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvertBmpToJpg(benchmark::State& state) {
    bench::ScratchDir dir;
    const std::string bmp = dir.file("screen.bmp"), jpg = dir.file("screen.jpg");
    platform::writeFileBytes(bmp, platform::takeSnapshot(0, 0, 0));
    for (auto _ : state) {
        if (platform::convertBmpToJpg(bmp, jpg, false, 75, true, 0) != platform::kConvertOk)
            state.SkipWithError("conversion failed");
    }
}
BENCHMARK(BM_ConvertBmpToJpg)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JpgCaptureSequence(benchmark::State& state) {
    bench::ScratchDir dir;
    for (auto _ : state) {
        if (!bench::captureJpg(dir.folder()))
            state.SkipWithError("capture failed");
    }
}
BENCHMARK(BM_JpgCaptureSequence)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BmpCapturePipeline(benchmark::State& state) {
    bench::ScratchDir dir;
    const std::string bmp = dir.file("capture.bmp");
    for (auto _ : state) {
        if (!bench::captureBmp(bmp))
            state.SkipWithError("capture failed");
    }
}
BENCHMARK(BM_BmpCapturePipeline)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
