#include "platform/sound.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <list>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/sound_wav.h"

namespace lumora::platform {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Samples go to the device in blocks of this size; within a block a player looks at its stop
// flag once per period, so stopping never waits for seconds of 8-bit mono sound.
constexpr std::size_t kBlockBytes = 15360;
constexpr unsigned kLatencyMicroseconds = 100000;
constexpr char kDevice[] = "default";
// A device may take the samples and never play them (PipeWire's ALSA plugin without an output)
// or never take them at all (a plugin writing into a pipe nobody reads). A player that has made
// no progress for its clip's length plus this margin has given up.
constexpr auto kProgressMargin = 1s;
// Player threads alive at once, stuck ones included: a device that swallows threads gets no
// more than these, however many captures are made.
constexpr std::size_t kMaxPlayerThreads = 4;
// How long stopAllSounds waits for players to wind down before it leaves them to themselves.
constexpr auto kStopWait = 300ms;
// The longest a player waits for the device in one call, so it sees its stop flag and its
// deadline in time.
constexpr int kPollMs = 50;

// Player threads alive now. Outlives every player (trivially destructible), since a player
// left stuck in the device may still end during the program's own end.
std::atomic<std::size_t> liveThreads{0};

struct Player {
    std::vector<std::uint8_t> samples;  // whole frames
    snd_pcm_format_t format = SND_PCM_FORMAT_U8;
    unsigned channels = 0;
    unsigned rate = 0;
    std::size_t frameBytes = 0;
    bool loop = false;
    Clock::duration allowance{};  // the clip's length plus the margin
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    std::atomic<Clock::rep> lastProgress{Clock::now().time_since_epoch().count()};

    void progressed() { lastProgress = Clock::now().time_since_epoch().count(); }
    bool overdue() const {
        return Clock::now() - Clock::time_point(Clock::duration(lastProgress.load())) > allowance;
    }
    bool givenUp() const { return stop.load(std::memory_order_relaxed) || overdue(); }
};

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Without a sound card ALSA reports every failed open on stderr; the program is silent then.
void silenceAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(ignoreAlsaError); });
}

// Waits at most kPollMs for room in the device's buffer; a device that has none returns at
// once, so the wait is kept up here.
void waitForDevice(snd_pcm_t* pcm) {
    const auto start = Clock::now();
    if (snd_pcm_wait(pcm, kPollMs) == 0 || Clock::now() - start < 5ms)
        std::this_thread::sleep_for(5ms);
}

// Writes `frames` frames, at most one period per call, so that a stop request is seen within
// about one period even when a block holds seconds of sound. False when the device failed or
// the player gave up on it.
bool writeFrames(snd_pcm_t* pcm, Player& p, const std::uint8_t* data, snd_pcm_uframes_t frames,
                 snd_pcm_uframes_t piece) {
    while (frames > 0) {
        if (p.givenUp())
            return false;
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, data, std::min(frames, piece));
        if (written == -EAGAIN || written == 0) {
            waitForDevice(pcm);
            continue;
        }
        if (written < 0) {
            // Underrun (-EPIPE), suspend (-ESTRPIPE) or an interrupted call: recover and go on.
            if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0)
                return false;
            continue;
        }
        p.progressed();
        const auto done = static_cast<snd_pcm_uframes_t>(written);
        data += done * p.frameBytes;
        frames -= done;
    }
    return true;
}

// The queued sound plays out, unless the device holds it longer than the player's allowance.
void drain(snd_pcm_t* pcm, Player& p) {
    p.progressed();
    for (;;) {
        const int result = snd_pcm_drain(pcm);
        if (result != -EAGAIN || snd_pcm_state(pcm) != SND_PCM_STATE_DRAINING)
            return;
        if (p.givenUp()) {
            snd_pcm_drop(pcm);
            return;
        }
        waitForDevice(pcm);
    }
}

void play(Player& p) {
    snd_pcm_t* pcm = nullptr;
    // Non-blocking: a device that takes no samples makes the writes wait here, with a deadline,
    // rather than inside ALSA for ever.
    if (snd_pcm_open(&pcm, kDevice, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return;  // no output device: nothing is heard
    p.progressed();
    bool ok = snd_pcm_set_params(pcm, p.format, SND_PCM_ACCESS_RW_INTERLEAVED, p.channels, p.rate,
                                 1, kLatencyMicroseconds) >= 0;
    snd_pcm_uframes_t bufferFrames = 0, periodFrames = 0;
    if (ok && snd_pcm_get_params(pcm, &bufferFrames, &periodFrames) < 0)
        periodFrames = 0;
    const snd_pcm_uframes_t piece = std::max<snd_pcm_uframes_t>(periodFrames, 1);
    // Blocks hold whole frames; a frame larger than a block makes a block of one frame.
    const std::size_t blockBytes =
        std::max(kBlockBytes / p.frameBytes, std::size_t{1}) * p.frameBytes;

    while (ok && !p.givenUp()) {
        for (std::size_t at = 0; ok && at < p.samples.size(); at += blockBytes) {
            const std::size_t bytes = std::min(blockBytes, p.samples.size() - at);
            ok = writeFrames(pcm, p, p.samples.data() + at, bytes / p.frameBytes, piece);
        }
        if (!p.loop)
            break;
    }
    // Draining waits for the queued sound (at most the latency); a stopped player cuts it off.
    if (ok && !p.givenUp())
        drain(pcm, p);
    else
        snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
}

// Every player that has been started and not yet joined. A player never touches the list: a
// finished one is joined (which is then immediate) by the next call that looks at the list. A
// player stuck inside the device is never joined: stopAll leaves it, and it owns its data.
class PlayerList {
public:
    ~PlayerList() { stopAll(); }

    bool start(std::shared_ptr<Player> player) {
        std::lock_guard lock(mutex_);
        reapFinished();
        if (liveThreads.load() >= kMaxPlayerThreads)
            return true;  // the device keeps the earlier ones: this sound is not heard
        ++liveThreads;
        try {
            // The thread touches nothing but its player, which it owns with the list.
            std::thread thread([player] {
                play(*player);
                player->finished = true;
                --liveThreads;
            });
            players_.push_back({std::move(player), std::move(thread)});
        } catch (const std::system_error&) {
            --liveThreads;
            return false;  // out of threads: the sound cannot play
        }
        return true;
    }

    void stopAll() {
        std::list<Entry> stopping;
        {
            std::lock_guard lock(mutex_);
            stopping.swap(players_);
        }
        // Flags first, joins after, so that all players wind down at the same time.
        for (auto& entry : stopping)
            entry.player->stop = true;
        const auto giveUp = Clock::now() + kStopWait;
        while (Clock::now() < giveUp &&
               !std::all_of(stopping.begin(), stopping.end(),
                            [](const Entry& e) { return e.player->finished.load(); }))
            std::this_thread::sleep_for(2ms);
        for (auto& entry : stopping) {
            if (entry.player->finished)
                entry.thread.join();
            else
                entry.thread.detach();  // stuck in the device: it ends, if ever, on its own
        }
    }

    std::size_t active() {
        std::lock_guard lock(mutex_);
        reapFinished();
        return static_cast<std::size_t>(std::count_if(
            players_.begin(), players_.end(),
            [](const Entry& e) { return !e.player->finished.load() && !e.player->givenUp(); }));
    }

private:
    struct Entry {
        std::shared_ptr<Player> player;
        std::thread thread;
    };

    void reapFinished() {
        players_.remove_if([](Entry& e) {
            if (!e.player->finished)
                return false;
            e.thread.join();
            return true;
        });
    }

    std::mutex mutex_;
    std::list<Entry> players_;
};

PlayerList& players() {
    static PlayerList list;
    // Registered after the list is complete, so it runs before the list's destructor; either
    // way only a player stuck inside the device outlives it, and that one owns its data.
    static const bool registered = [] {
        std::atexit(stopAllSounds);
        return true;
    }();
    (void)registered;
    return list;
}

}  // namespace

bool playWavData(std::span<const std::uint8_t> data, bool loop) {
    const std::optional<wav::Clip> clip = wav::parse(data);
    if (!clip)
        return false;
    auto player = std::make_shared<Player>();
    player->samples.assign(clip->samples.begin(), clip->samples.end());
    player->format =
        clip->format == wav::SampleFormat::U8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    player->channels = clip->channels;
    player->rate = clip->rate;
    player->frameBytes = clip->frameBytes;
    player->loop = loop;
    const std::size_t frames = clip->samples.size() / clip->frameBytes;
    player->allowance = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                            static_cast<double>(frames) / static_cast<double>(clip->rate))) +
                        kProgressMargin;
    silenceAlsaErrors();
    return players().start(std::move(player));
}

void stopAllSounds() {
    players().stopAll();
}

std::size_t activeSoundCount() {
    return players().active();
}

}  // namespace lumora::platform
