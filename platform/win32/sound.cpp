#include "platform/sound.h"

#include <windows.h>

#include <mmsystem.h>

#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sound_wav.h"

// waveOut, one device handle per sound, so a shutter sound never cuts another short. The
// device plays from the copied samples on its own; finished players are closed by the next
// call into this file (a waveOut callback may not close its own device).

namespace lumora::platform {

namespace {

struct Player {
    HWAVEOUT device = nullptr;
    WAVEHDR header{};
    std::vector<std::uint8_t> samples;

    bool finished() const { return (header.dwFlags & WHDR_DONE) != 0; }

    ~Player() {
        if (device == nullptr)
            return;
        waveOutReset(device);
        waveOutUnprepareHeader(device, &header, sizeof header);
        waveOutClose(device);
    }
};

struct Players {
    std::mutex mutex;
    std::list<std::unique_ptr<Player>> playing;

    void reapLocked() {
        playing.remove_if([](const std::unique_ptr<Player>& p) { return p->finished(); });
    }
};

Players& players() {
    static Players instance;
    return instance;
}

}  // namespace

bool playWavData(std::span<const std::uint8_t> data, bool loop) {
    const std::optional<wav::Clip> clip = wav::parse(data);
    if (!clip)
        return false;
    auto player = std::make_unique<Player>();
    player->samples.assign(clip->samples.begin(), clip->samples.end());
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(clip->channels);
    format.nSamplesPerSec = clip->rate;
    format.wBitsPerSample = clip->format == wav::SampleFormat::U8 ? 8 : 16;
    format.nBlockAlign = static_cast<WORD>(clip->frameBytes);
    format.nAvgBytesPerSec = clip->rate * static_cast<DWORD>(clip->frameBytes);
    // No output device (or none that takes this format): the sound is simply not heard.
    if (waveOutOpen(&player->device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) !=
        MMSYSERR_NOERROR) {
        player->device = nullptr;
        return true;
    }
    player->header.lpData = reinterpret_cast<LPSTR>(player->samples.data());
    player->header.dwBufferLength = static_cast<DWORD>(player->samples.size());
    if (loop) {
        player->header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        player->header.dwLoops = 0xFFFFFFFF;
    }
    if (waveOutPrepareHeader(player->device, &player->header, sizeof player->header) !=
            MMSYSERR_NOERROR ||
        waveOutWrite(player->device, &player->header, sizeof player->header) != MMSYSERR_NOERROR) {
        waveOutClose(player->device);
        player->device = nullptr;
        return true;
    }
    std::lock_guard lock(players().mutex);
    players().reapLocked();
    players().playing.push_back(std::move(player));
    return true;
}

void stopAllSounds() {
    std::lock_guard lock(players().mutex);
    players().playing.clear();
}

std::size_t activeSoundCount() {
    std::lock_guard lock(players().mutex);
    players().reapLocked();
    return players().playing.size();
}

}  // namespace lumora::platform
