#pragma once
// Playback of RIFF/WAVE images held in memory, one player thread per sound, on ALSA "default".
// Playback never holds anything up: the device is driven without blocking, a player that makes
// no progress for its clip's length plus a second gives up, at most four player threads live at
// once (one stuck inside a device included), and stopping never waits for a stuck one.
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumora::platform {

// Copies the samples and returns at once; the sound plays on a thread of its own and does not
// stop a sound still playing. While four players live, the sound is not played (true). False for
// data that is not RIFF/WAVE or that has no "fmt " chunk or an empty "data" chunk. Without an
// output device: true, and nothing is heard.
bool playWavData(std::span<const std::uint8_t> data, bool loop = false);

// Stops every player and joins its thread (called at program end); a player stuck inside the
// device is left to end by itself after a short wait.
void stopAllSounds();

// Players still playing: not finished, not stopped, not given up on a stuck device.
std::size_t activeSoundCount();

}  // namespace lumora::platform
