#include "platform/sound.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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

// Samples go to the device in blocks of this size; within a block a player looks at its stop
// flag once per period, so stopping never waits for seconds of 8-bit mono sound.
constexpr std::size_t kBlockBytes = 15360;
constexpr unsigned kLatencyMicroseconds = 100000;
constexpr char kDevice[] = "default";

struct Player {
    std::vector<std::uint8_t> samples;  // whole frames
    snd_pcm_format_t format = SND_PCM_FORMAT_U8;
    unsigned channels = 0;
    unsigned rate = 0;
    std::size_t frameBytes = 0;
    bool loop = false;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    std::thread thread;
};

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Without a sound card ALSA reports every failed open on stderr; the program is silent then.
void silenceAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(ignoreAlsaError); });
}

// Writes `frames` frames, at most one period per call, so that a stop request is seen within
// about one period even when a block holds seconds of sound. False when the device failed.
bool writeFrames(snd_pcm_t* pcm, const Player& p, const std::uint8_t* data,
                 snd_pcm_uframes_t frames, snd_pcm_uframes_t piece) {
    while (frames > 0 && !p.stop.load(std::memory_order_relaxed)) {
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, data, std::min(frames, piece));
        if (written < 0) {
            // Underrun (-EPIPE), suspend (-ESTRPIPE) or an interrupted call: recover and go on.
            if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0)
                return false;
            continue;
        }
        if (written == 0) {
            snd_pcm_wait(pcm, 100);
            continue;
        }
        const auto done = static_cast<snd_pcm_uframes_t>(written);
        data += done * p.frameBytes;
        frames -= done;
    }
    return true;
}

void play(Player& p) {
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, kDevice, SND_PCM_STREAM_PLAYBACK, 0) < 0) {
        p.finished = true;  // no output device: nothing is heard
        return;
    }
    bool ok = snd_pcm_set_params(pcm, p.format, SND_PCM_ACCESS_RW_INTERLEAVED, p.channels, p.rate,
                                 1, kLatencyMicroseconds) >= 0;
    snd_pcm_uframes_t bufferFrames = 0, periodFrames = 0;
    if (ok && snd_pcm_get_params(pcm, &bufferFrames, &periodFrames) < 0)
        periodFrames = 0;
    const snd_pcm_uframes_t piece = std::max<snd_pcm_uframes_t>(periodFrames, 1);
    // Blocks hold whole frames; a frame larger than a block makes a block of one frame.
    const std::size_t blockBytes =
        std::max(kBlockBytes / p.frameBytes, std::size_t{1}) * p.frameBytes;

    while (ok && !p.stop) {
        for (std::size_t at = 0; ok && !p.stop && at < p.samples.size(); at += blockBytes) {
            const std::size_t bytes = std::min(blockBytes, p.samples.size() - at);
            ok = writeFrames(pcm, p, p.samples.data() + at, bytes / p.frameBytes, piece);
        }
        if (!p.loop)
            break;
    }
    // Draining waits for the queued sound (at most the latency); a stopped player cuts it off.
    if (ok && !p.stop)
        snd_pcm_drain(pcm);
    else
        snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
    p.finished = true;
}

// Every player that has been started and not yet joined. Players never touch the list: a
// finished one is joined (which is then immediate) by the next call that looks at the list.
class PlayerList {
public:
    ~PlayerList() { stopAll(); }

    bool start(std::unique_ptr<Player> player) {
        std::lock_guard lock(mutex_);
        reapFinished();
        Player& p = *player;
        try {
            p.thread = std::thread([&p] { play(p); });
        } catch (const std::system_error&) {
            return false;  // out of threads: the sound cannot play
        }
        players_.push_back(std::move(player));
        return true;
    }

    void stopAll() {
        std::list<std::unique_ptr<Player>> stopping;
        {
            std::lock_guard lock(mutex_);
            stopping.swap(players_);
        }
        // Flags first, joins after, so that all players wind down at the same time.
        for (auto& p : stopping)
            p->stop = true;
        for (auto& p : stopping)
            if (p->thread.joinable())
                p->thread.join();
    }

    std::size_t active() {
        std::lock_guard lock(mutex_);
        reapFinished();
        return static_cast<std::size_t>(std::count_if(
            players_.begin(), players_.end(), [](const auto& p) { return !p->finished.load(); }));
    }

private:
    void reapFinished() {
        players_.remove_if([](const std::unique_ptr<Player>& p) {
            if (!p->finished)
                return false;
            p->thread.join();
            return true;
        });
    }

    std::mutex mutex_;
    std::list<std::unique_ptr<Player>> players_;
};

PlayerList& players() {
    static PlayerList list;
    // Registered after the list is complete, so it runs before the list's destructor; either
    // way no player thread survives into static destruction.
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
    auto player = std::make_unique<Player>();
    player->samples.assign(clip->samples.begin(), clip->samples.end());
    player->format =
        clip->format == wav::SampleFormat::U8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    player->channels = clip->channels;
    player->rate = clip->rate;
    player->frameBytes = clip->frameBytes;
    player->loop = loop;
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
