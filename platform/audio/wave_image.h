// RIFF/WAVE images: reading the format and samples out of one (for
// PlaySoundW), writing one (for the wav output), and the device's default
// sound, a short built-in tone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <windows.h>
#include <mmsystem.h>

namespace wince::audio {

struct WaveImage {
    WAVEFORMATEX format{};
    const BYTE* samples = nullptr;
    size_t bytes = 0;
};

// Never reads outside [image, image + size); nullopt when the image is not a
// RIFF/WAVE image with a format chunk and a data chunk inside it.
std::optional<WaveImage> parse_wave_image(const void* image, size_t size);

// A complete RIFF/WAVE file holding `bytes` samples in `format`.
std::vector<BYTE> make_wave_file(const WAVEFORMATEX& format, const BYTE* samples, size_t bytes);

// The default sound: a RIFF/WAVE image of a short tone.
const std::vector<BYTE>& default_sound();

// Device milliseconds that `bytes` samples last in `format`.
double duration_ms(const WAVEFORMATEX& format, size_t bytes);

// PCM the device can play: 8 or 16 bits, one or two channels, and block
// align and byte rate consistent with them.
bool playable(const WAVEFORMATEX& format);

} // namespace wince::audio
