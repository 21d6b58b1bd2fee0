// The monitor's two sounds as the test binary carries them (it links the
// monitor's resources): how many sample bytes each plays and for how long,
// read from the resource itself rather than copied into the tests.
#pragma once

#include <windows.h>

#include "resource.h"
#include "resources/module.h"
#include "waveplayer.h"

namespace testing_support {

struct MonitorSound {
    DWORD bytes = 0;   // what one waveout.write of it carries
    double ms = 0;     // how long it plays, in device ms
};

inline MonitorSound monitor_sound(UINT id)
{
    const HINSTANCE module = wince::resources::program_module();
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCE(id), L"WAVE");
    WaveInfo info;
    if (found == nullptr ||
        !LoadWaveInfo(&info, static_cast<const BYTE*>(LoadResource(module, found)), SizeofResource(module, found)))
        return {};
    const DWORD bytes_per_second = ReadLe32(info.format + 8);
    return {info.dwDataLength, info.dwDataLength * 1000.0 / bytes_per_second};
}

// The start and end of a call, and the monitor's start-up and quit.
inline const MonitorSound& onoff_sound()
{
    static const MonitorSound sound = monitor_sound(IDR_WAVE_ONOFF);
    return sound;
}

// The periodic signal.
inline const MonitorSound& regular_sound()
{
    static const MonitorSound sound = monitor_sound(IDR_WAVE_REGULAR);
    return sound;
}

} // namespace testing_support
