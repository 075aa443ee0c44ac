#pragma once
// Playback of RIFF/WAVE images held in memory, one player thread per sound, on ALSA "default".
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumora::platform {

// Copies the samples and returns at once; the sound plays on a thread of its own and does not
// stop a sound still playing. False for data that is not RIFF/WAVE or that has no "fmt "
// chunk or an empty "data" chunk. Without an output device: true, and nothing is heard.
bool playWavData(std::span<const std::uint8_t> data, bool loop = false);

// Stops every player and joins its thread (called at program end).
void stopAllSounds();

// Players whose threads have not finished yet.
std::size_t activeSoundCount();

}  // namespace lumora::platform
