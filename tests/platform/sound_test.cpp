// WAV checks and playback. Playback is recorded by pointing ALSA's "default" at its "file"
// plugin (each test writes its own configuration and sets ALSA_CONFIG_PATH, which ALSA re-reads
// when the path changes). The null device behind it is not paced, so nothing here measures time;
// where a test needs a sound to last, the file is a FIFO that the test reads at its own pace.
#include "platform/sound.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "assets/assets.h"
#include "platform/sound_wav.h"
#include "tests/support/test_support.h"

namespace lumora::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ScopedEnv;
using test::TempDir;

// ---- building WAV images -------------------------------------------------------------------

void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

struct Chunk {
    std::string id;
    Bytes body;
    std::optional<std::uint32_t> length = {};  // a length field that may lie about the body
};

// "RIFF", size (the true one unless given), "WAVE", then the chunks exactly as listed.
Bytes riff(const std::vector<Chunk>& chunks, std::optional<std::uint32_t> riffSize = {}) {
    Bytes b;
    for (const Chunk& c : chunks) {
        b.insert(b.end(), c.id.begin(), c.id.end());
        put32(b, c.length.value_or(static_cast<std::uint32_t>(c.body.size())));
        b.insert(b.end(), c.body.begin(), c.body.end());
    }
    Bytes out = {'R', 'I', 'F', 'F'};
    put32(out, riffSize.value_or(static_cast<std::uint32_t>(b.size() + 4)));
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes fmtBody(unsigned tag, unsigned channels, unsigned rate, unsigned bits) {
    Bytes b;
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, channels * bits / 8);
    put16(b, bits);
    return b;
}

Chunk fmt(unsigned channels, unsigned rate, unsigned bits, unsigned tag = 1) {
    return {"fmt ", fmtBody(tag, channels, rate, bits)};
}

// WAVE_FORMAT_EXTENSIBLE whose sub-type GUID names `subtype` (1 PCM, 3 float).
Chunk extensibleFmt(unsigned channels, unsigned rate, unsigned bits, unsigned subtype) {
    Bytes b = fmtBody(0xFFFE, channels, rate, bits);
    put16(b, 22);
    put16(b, bits);
    put32(b, channels == 1 ? 0x4 : 0x3);
    put16(b, subtype);
    b.insert(b.end(),
             {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    return {"fmt ", b};
}

Bytes ramp(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return b;
}

Chunk data(const Bytes& samples) {
    return {"data", samples};
}

Bytes asBytes(std::span<const std::uint8_t> s) {
    return {s.begin(), s.end()};
}

Bytes clipBytes(const char* name) {
    const auto bytes = assets::find(name);
    EXPECT_FALSE(bytes.empty()) << name;
    return asBytes(bytes);
}

// ---- recording what is played ----------------------------------------------------------------

// Points ALSA's "default" at `target` for as long as it lives.
class AlsaConfig {
public:
    static std::string recordingTo(const std::filesystem::path& target) {
        return "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" +
               target.string() + "\"\n  format \"raw\"\n}\n";
    }

    explicit AlsaConfig(const std::string& text)
        : file_(writeConfig(dir_.path() / "asound.conf", text)), env_("ALSA_CONFIG_PATH", file_) {}
    // No player may still be reading the configuration when the variable changes back.
    ~AlsaConfig() { stopAllSounds(); }
    AlsaConfig(const AlsaConfig&) = delete;
    AlsaConfig& operator=(const AlsaConfig&) = delete;

private:
    static std::string writeConfig(const std::filesystem::path& path, const std::string& text) {
        test::writeTextFile(path, text);
        return path.string();
    }
    TempDir dir_;
    std::string file_;
    ScopedEnv env_;
};

// A FIFO read by a thread of its own from start() on, so that a writer blocks until the test
// lets it go on, and a looping player cannot fill a disk.
class FifoReader {
public:
    explicit FifoReader(std::filesystem::path path) : path_(std::move(path)) {
        EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0);
        // Opened ahead of any writer, so a writer's open never blocks.
        fd_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        EXPECT_GE(fd_, 0);
    }
    ~FifoReader() {
        // Players blocked on the FIFO are let go and ended before the reading end closes, as
        // a write to a FIFO without a reader would kill the process.
        if (!thread_.joinable())
            start();
        stopAllSounds();
        quit_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
    }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void start() {
        thread_ = std::thread([this] { run(); });
    }
    bool waitForCount(std::size_t n, std::chrono::seconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return count_ >= n; });
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    // The first bytes read (up to kKeep).
    Bytes kept() {
        std::lock_guard lock(mutex_);
        return kept_;
    }

private:
    static constexpr std::size_t kKeep = 1 << 20;

    void run() {
        std::vector<std::uint8_t> buf(1 << 16);
        while (!quit_) {
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0)
                continue;
            const ssize_t n = read(fd_, buf.data(), buf.size());
            if (n <= 0) {
                // No writer at the moment (POLLHUP); one may still come.
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            std::lock_guard lock(mutex_);
            const std::size_t keep = std::min<std::size_t>(n, kKeep - kept_.size());
            kept_.insert(kept_.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(keep));
            count_ += static_cast<std::size_t>(n);
            changed_.notify_all();
        }
    }

    std::filesystem::path path_;
    int fd_ = -1;
    std::atomic<bool> quit_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t count_ = 0;
    Bytes kept_;
};

std::size_t threadsOfThisProcess() {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++n;
    }
    return n;
}

bool waitForSilence() {
    return test::waitUntil([] { return activeSoundCount() == 0; });
}

// ---- what is accepted ------------------------------------------------------------------------

TEST(WavParse, RefusesDataThatIsNotRiffWave) {
    const Bytes good = riff({fmt(1, 8000, 8), data(ramp(100))});
    ASSERT_TRUE(wav::parse(good));

    Bytes wrongMagic = good;
    wrongMagic[3] = 'X';  // "RIFX", big-endian RIFF
    Bytes notWave = good;
    std::memcpy(notWave.data() + 8, "AVI ", 4);
    const Bytes midi = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};
    const std::vector<std::pair<const char*, Bytes>> refused = {
        {"empty", {}},
        {"11 bytes", Bytes(good.begin(), good.begin() + 11)},
        {"header only", Bytes(good.begin(), good.begin() + 12)},
        {"35 bytes", Bytes(good.begin(), good.begin() + 35)},
        {"RIFX", wrongMagic},
        {"not WAVE", notWave},
        {"MIDI", midi},
    };
    for (const auto& [what, bytes] : refused) {
        EXPECT_FALSE(wav::parse(bytes)) << what;
        EXPECT_FALSE(playWavData(bytes)) << what;
    }
    EXPECT_TRUE(wav::isRiffWave(Bytes(good.begin(), good.begin() + 12)));
    EXPECT_EQ(activeSoundCount(), 0u);
}

TEST(WavParse, RefusesImagesWithoutFormatOrSamples) {
    const Bytes samples = ramp(64);
    EXPECT_FALSE(wav::parse(riff({{"LIST", ramp(20)}, data(samples)}))) << "no fmt";
    EXPECT_FALSE(wav::parse(riff({fmt(1, 8000, 8), {"LIST", ramp(20)}}))) << "no data";
    EXPECT_FALSE(wav::parse(riff({fmt(1, 8000, 8), data({}), {"LIST", ramp(20)}}))) << "empty data";
    EXPECT_FALSE(wav::parse(riff({fmt(2, 8000, 16), data(ramp(3)), {"LIST", ramp(20)}})))
        << "less than one frame";
    Bytes shortFmt = fmtBody(1, 1, 8000, 8);
    shortFmt.resize(14);  // the old WAVEFORMAT, without bits per sample
    EXPECT_FALSE(wav::parse(riff({{"fmt ", shortFmt}, data(samples)})));

    // Chunk order does not matter.
    const Bytes clipImage = riff({data(samples), fmt(1, 8000, 8)});
    const auto clip = wav::parse(clipImage);
    ASSERT_TRUE(clip);
    EXPECT_EQ(asBytes(clip->samples), samples);
}

TEST(WavParse, AcceptsOnlyPcmItCanPlay) {
    const Bytes samples = ramp(96);
    struct Case {
        const char* what;
        Chunk format;
        bool playable;
    };
    const Case cases[] = {
        {"8-bit mono", fmt(1, 11025, 8), true},
        {"16-bit stereo", fmt(2, 22050, 16), true},
        {"extensible PCM", extensibleFmt(2, 48000, 16, 1), true},
        {"extensible float", extensibleFmt(2, 48000, 32, 3), false},
        {"float", fmt(1, 44100, 32, 3), false},
        {"ADPCM", fmt(1, 22050, 4, 2), false},
        {"24-bit", fmt(2, 44100, 24), false},
        {"32-bit", fmt(1, 44100, 32), false},
        {"no channels", fmt(0, 22050, 16), false},
        {"rate 0", fmt(1, 0, 16), false},
    };
    for (const Case& c : cases) {
        const Bytes clipImage = riff({c.format, data(samples)});
        const auto clip = wav::parse(clipImage);
        EXPECT_EQ(clip.has_value(), c.playable) << c.what;
        EXPECT_EQ(playWavData(riff({c.format, data(samples)})), c.playable) << c.what;
    }
    stopAllSounds();

    const Bytes stereoImage = riff({fmt(2, 22050, 16), data(ramp(10))});
    const auto stereo = wav::parse(stereoImage);
    ASSERT_TRUE(stereo);
    EXPECT_EQ(stereo->format, wav::SampleFormat::S16LE);
    EXPECT_EQ(stereo->channels, 2u);
    EXPECT_EQ(stereo->rate, 22050u);
    EXPECT_EQ(stereo->frameBytes, 4u);
    EXPECT_EQ(stereo->samples.size(), 8u) << "a trailing partial frame is not played";
}

TEST(WavParse, UsesTheFirstFormatAndDataChunks) {
    const Bytes image = riff({fmt(1, 11025, 8), data(ramp(10)), fmt(2, 44100, 16), data(ramp(40))});
    const auto clip = wav::parse(image);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->channels, 1u);
    EXPECT_EQ(clip->rate, 11025u);
    EXPECT_EQ(asBytes(clip->samples), ramp(10));
}

TEST(WavParse, WalksChunksWithoutPadBytes) {
    // An odd chunk is followed directly by the next one.
    const Bytes clipImage = riff({fmt(1, 8000, 8), {"note", ramp(3)}, data(ramp(5))});
    const auto clip = wav::parse(clipImage);
    ASSERT_TRUE(clip);
    EXPECT_EQ(asBytes(clip->samples), ramp(5));
}

TEST(WavParse, StopsAtTheLengthInTheRiffHeader) {
    // A RIFF length that ends before the data chunk hides it...
    EXPECT_FALSE(wav::parse(riff({fmt(1, 8000, 8), {"LIST", ramp(8)}, data(ramp(50))}, 4 + 24)));
    // ...and one that claims more than the image holds is bounded by the image.
    const Bytes clipImage = riff({fmt(1, 8000, 8), data(ramp(50))}, 0xFFFFFFFF);
    const auto clip = wav::parse(clipImage);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->samples.size(), 50u);
    EXPECT_FALSE(clip->truncated);
}

TEST(WavParse, LyingChunkLengthsNeverReadPastTheImage) {
    // Lengths that would wrap a 32-bit offset back into the header, or onto the same chunk
    // again and again.
    EXPECT_FALSE(
        wav::parse(riff({{"junk", ramp(8), 0xFFFFFFF8u}, fmt(1, 8000, 8), data(ramp(50))})));
    EXPECT_FALSE(
        wav::parse(riff({{"junk", ramp(8), 0xFFFFFFF4u}, fmt(1, 8000, 8), data(ramp(50))})));
    EXPECT_FALSE(
        wav::parse(riff({{"junk", ramp(8), 0xFFFFFFFFu}, fmt(1, 8000, 8), data(ramp(50))})));
    EXPECT_FALSE(wav::parse(riff({{"fmt ", fmtBody(1, 1, 8000, 8), 0xFFFFFFFFu}, data(ramp(50))})));

    // A data chunk longer than the image plays what is there, in whole frames.
    const Bytes clipImage = riff({fmt(2, 8000, 16), {"data", ramp(103), 0xFFFFFFFFu}});
    const auto clip = wav::parse(clipImage);
    ASSERT_TRUE(clip);
    EXPECT_TRUE(clip->truncated);
    EXPECT_EQ(asBytes(clip->samples), Bytes(ramp(100)));
}

// Every prefix of a real clip and many corrupted headers: ASan reports any read out of bounds,
// and whatever is accepted must lie inside the image.
TEST(WavParse, TruncatedAndCorruptedImagesAreSafe) {
    const Bytes clip = clipBytes("shutter2.wav");
    ASSERT_EQ(clip.size(), 2450u);
    auto inside = [](const Bytes& image, const wav::Clip& c) {
        return c.samples.data() >= image.data() &&
               c.samples.data() + c.samples.size() <= image.data() + image.size() &&
               c.samples.size() % c.frameBytes == 0 && !c.samples.empty();
    };
    for (std::size_t n = 0; n <= clip.size(); ++n) {
        const Bytes prefix(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(n));
        const auto c = wav::parse(prefix);
        EXPECT_EQ(c.has_value(), n >= 45) << n;  // the 44-byte header plus one sample
        if (c) {
            EXPECT_TRUE(inside(prefix, *c)) << n;
            EXPECT_EQ(c->samples.size(), std::min<std::size_t>(n - 44, 2405)) << n;
        }
    }
    std::mt19937 random(20240601);
    for (int round = 0; round < 4000; ++round) {
        Bytes image = clip;
        image.resize(44 + random() % 200);
        for (int flips = 1 + random() % 4; flips > 0; --flips)
            image[random() % 44] = static_cast<std::uint8_t>(random());
        if (const auto c = wav::parse(image)) {
            EXPECT_TRUE(inside(image, *c)) << round;
        }
    }
}

// ---- playback --------------------------------------------------------------------------------

class Playback : public ::testing::Test {
protected:
    void TearDown() override { stopAllSounds(); }
};

TEST_F(Playback, PlaysEachClipSampleForSample) {
    const std::pair<const char*, std::size_t> clips[] = {
        {"shutter1.wav", 80764}, {"shutter2.wav", 2405}, {"shutter3.wav", 48944}};
    for (const auto& [name, sampleBytes] : clips) {
        TempDir out;
        const auto played = out.path() / "played.raw";
        AlsaConfig config(AlsaConfig::recordingTo(played));
        const Bytes image = clipBytes(name);
        const auto clip = wav::parse(image);
        ASSERT_TRUE(clip) << name;
        ASSERT_EQ(clip->samples.size(), sampleBytes) << name;

        ASSERT_TRUE(playWavData(image)) << name;
        ASSERT_TRUE(waitForSilence()) << name;
        EXPECT_EQ(test::readFile(played), asBytes(clip->samples)) << name;
    }
}

TEST_F(Playback, CopiesTheSamplesBeforeReturning) {
    TempDir out;
    const auto played = out.path() / "played.raw";
    AlsaConfig config(AlsaConfig::recordingTo(played));
    const Bytes samples = ramp(30001);
    auto image = std::make_unique<Bytes>(riff({fmt(1, 11025, 8), data(samples)}));
    ASSERT_TRUE(playWavData(*image));
    std::fill(image->begin(), image->end(), 0x55);
    image.reset();
    ASSERT_TRUE(waitForSilence());
    EXPECT_EQ(test::readFile(played), samples);
}

TEST_F(Playback, TruncatedDataPlaysWhatIsThere) {
    TempDir out;
    const auto played = out.path() / "played.raw";
    AlsaConfig config(AlsaConfig::recordingTo(played));
    ASSERT_TRUE(playWavData(riff({fmt(1, 22050, 16), {"data", ramp(20001), 40000}})));
    ASSERT_TRUE(waitForSilence());
    EXPECT_EQ(test::readFile(played), ramp(20000));
}

TEST_F(Playback, OverlappingSoundsBothPlayToTheEnd) {
    TempDir dir;
    FifoReader reader(dir.path() / "played.fifo");
    AlsaConfig config(AlsaConfig::recordingTo(reader.path()));
    const Bytes image = clipBytes("shutter1.wav");

    // Nobody reads yet, so the first sound cannot end (the clip is larger than a pipe holds)
    // and the second one must start beside it.
    ASSERT_TRUE(playWavData(image));
    ASSERT_TRUE(playWavData(image));
    EXPECT_EQ(activeSoundCount(), 2u);
    reader.start();
    EXPECT_TRUE(reader.waitForCount(2 * 80764));
    ASSERT_TRUE(waitForSilence());
    EXPECT_EQ(reader.count(), 2u * 80764);
}

TEST_F(Playback, LoopStartsAgainFromTheFirstSampleUntilStopped) {
    TempDir dir;
    FifoReader reader(dir.path() / "played.fifo");
    AlsaConfig config(AlsaConfig::recordingTo(reader.path()));
    const Bytes samples = ramp(2405);
    reader.start();
    ASSERT_TRUE(playWavData(riff({fmt(1, 11025, 8), data(samples)}), true));
    ASSERT_TRUE(reader.waitForCount(3 * samples.size()));
    EXPECT_EQ(activeSoundCount(), 1u) << "a loop never ends by itself";

    stopAllSounds();
    EXPECT_EQ(activeSoundCount(), 0u);
    Bytes twice = samples;
    twice.insert(twice.end(), samples.begin(), samples.end());
    const Bytes kept = reader.kept();
    ASSERT_GE(kept.size(), twice.size());
    EXPECT_TRUE(std::equal(twice.begin(), twice.end(), kept.begin()));
}

TEST_F(Playback, StopAllSoundsJoinsEveryPlayer) {
    AlsaConfig config(AlsaConfig::recordingTo("/dev/null"));
    const Bytes image = clipBytes("shutter3.wav");
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(playWavData(image, true));
    ASSERT_TRUE(playWavData(clipBytes("shutter2.wav")));
    stopAllSounds();
    EXPECT_EQ(activeSoundCount(), 0u);
    stopAllSounds();  // a second call, as at program end after an explicit one
    EXPECT_EQ(activeSoundCount(), 0u);

    // Players may start again afterwards.
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(playWavData(clipBytes("shutter2.wav")));
    EXPECT_TRUE(waitForSilence());
}

// A device that never takes the samples (here a pipe nobody opens; PipeWire without an output
// behaves alike) holds up neither the caller nor stopAllSounds, and threads never pile up.
TEST_F(Playback, AStuckDeviceIsGivenUpAndNeverPilesUpPlayers) {
    signal(SIGPIPE, SIG_IGN);  // the pipe is read at the end, and may close under a writer
    TempDir dir;
    const auto fifo = dir.path() / "nobody.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    AlsaConfig config(AlsaConfig::recordingTo(fifo));
    const std::size_t threadsBefore = threadsOfThisProcess();
    const Bytes image = clipBytes("shutter1.wav");  // 0.92 s
    ASSERT_TRUE(playWavData(image));
    EXPECT_EQ(activeSoundCount(), 1u);
    // Given up once the clip's length and the margin have passed without progress.
    EXPECT_TRUE(test::waitUntil([] { return activeSoundCount() == 0; }, std::chrono::seconds(5)));
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(playWavData(image));
    EXPECT_LE(threadsOfThisProcess(), threadsBefore + 4);
    const auto stopping = std::chrono::steady_clock::now();
    stopAllSounds();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(2));

    // Let the stuck players go: they end once the pipe is read.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(test::waitUntil([&] {
        std::uint8_t buf[4096];
        while (read(reader, buf, sizeof buf) > 0) {
        }
        return threadsOfThisProcess() <= threadsBefore;
    }));
    close(reader);
}

TEST_F(Playback, WithoutOutputDeviceReportsTrueAndEndsAtOnce) {
    // A configuration without a "default" PCM, as on a machine without a sound card.
    AlsaConfig config("# no devices\n");
    EXPECT_TRUE(playWavData(clipBytes("shutter1.wav")));
    EXPECT_TRUE(playWavData(clipBytes("shutter3.wav"), true));
    EXPECT_TRUE(test::waitUntil([] { return activeSoundCount() == 0; }, std::chrono::seconds(5)));
}

TEST_F(Playback, FramesLargerThanABlockArePlayedWhole) {
    // 65535 channels of 16 bits: every frame is larger than a 15,360-byte block.
    TempDir out;
    const auto played = out.path() / "played.raw";
    AlsaConfig config(AlsaConfig::recordingTo(played));
    const Bytes samples = ramp(65535 * 2 * 2 + 7);
    ASSERT_TRUE(playWavData(riff({fmt(65535, 8000, 16), data(samples)})));
    ASSERT_TRUE(waitForSilence());
    EXPECT_EQ(test::readFile(played), Bytes(samples.begin(), samples.end() - 7));
}

}  // namespace
}  // namespace lumora::platform
