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

// The backend in use by this process: "null", "wav" or "alsa".
std::string backend_name();

DWORD device_volume();
// False when the volume could not be stored (a full disk).
bool set_device_volume(DWORD volume);

} // namespace wince::audio
