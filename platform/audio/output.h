// Where the device's sound goes, chosen by device.json "audio": "null" (the
// event log only), "wav" (each playback saved as a file under DIR/audio/),
// "alsa" (heard on the host's sound card, only at clock rate 1 and only in
// builds with ALSA) or "auto" (alsa when a sound card opens, else null).
// Also the device-wide output volume, kept in run/ so that every process
// and `phone status` see the one the device has.
#pragma once

#include <cstddef>
#include <string>

#include <windows.h>
#include <mmsystem.h>

namespace wince::audio {

// Sends one buffer of samples to the device's output at `volume` (low word
// left channel, high word right).  Returns at once; the caller keeps time.
void output(const WAVEFORMATEX& format, const BYTE* samples, size_t bytes, DWORD volume);

// The device's volume is logarithmic in its 16-bit level: full level plays
// the samples as they are, each step down attenuates by the same number of
// decibels, down to volume_range_db below full just above 0; 0 is silence.
inline constexpr double volume_range_db = 48;
// The factor one channel's samples are multiplied by at `level`.
double volume_gain(WORD level);

// The backend in use by this process: "null", "wav" or "alsa".
std::string backend_name();
// Which backend plays and why, in one line: "auto: no sound card: silent".
std::string backend_reason();

DWORD device_volume();
// False when the volume could not be stored (a full disk).
bool set_device_volume(DWORD volume);

} // namespace wince::audio
