// PlaySoundW: plays a RIFF/WAVE image from a module's "WAVE" resources, from
// memory or from a device file, synchronously: it returns when the sound's
// duration in device time has passed.  Where the sound cannot be found or
// read, the device's default sound plays instead unless SND_NODEFAULT.
//
// Left out: SND_ASYNC and SND_LOOP (no background playback), system sound
// aliases (an alias name plays the default sound).
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <windows.h>
#include <mmsystem.h>

#include "audio/output.h"
#include "audio/wave_image.h"
#include "crt/errors.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/sync.h"

namespace wince::audio {
namespace {

constexpr DWORD sound_source_flags = SND_RESOURCE | SND_MEMORY | SND_FILENAME | SND_ALIAS;

nlohmann::json sound_name(LPCWSTR sound, DWORD flags)
{
    const DWORD source = flags & sound_source_flags;
    if (source == SND_RESOURCE && IS_INTRESOURCE(sound))
        return static_cast<unsigned>(reinterpret_cast<uintptr_t>(sound));
    if (source == SND_MEMORY)
        return "memory";
    return device::narrow(sound);
}

std::optional<WaveImage> find_resource_sound(HMODULE module, LPCWSTR name)
{
    HRSRC resource = FindResourceW(module, name, L"WAVE");
    if (!resource)
        return std::nullopt;
    const void* image = LoadResource(module, resource);
    if (!image)
        return std::nullopt;
    return parse_wave_image(image, SizeofResource(module, resource));
}

std::optional<WaveImage> find_memory_sound(LPCWSTR image)
{
    // The image's own RIFF header says how long it is.
    const BYTE* bytes = reinterpret_cast<const BYTE*>(image);
    if (std::memcmp(bytes, "RIFF", 4) != 0)
        return std::nullopt;
    const size_t size = 8 + (bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (static_cast<size_t>(bytes[7]) << 24));
    return parse_wave_image(image, size);
}

std::optional<WaveImage> find_file_sound(LPCWSTR path, std::vector<BYTE>& contents)
{
    std::ifstream in(device::host_path(path), std::ios::binary);
    if (!in)
        return std::nullopt;
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return parse_wave_image(contents.data(), contents.size());
}

void wait_device_ms(double ms)
{
    auto held = sync::lock();
    sync::wait_until(held, clock::now() + ms, [] { return false; });
}

} // namespace
} // namespace wince::audio

using namespace wince;
using namespace wince::audio;

BOOL WINAPI PlaySoundW(LPCWSTR pszSound, HMODULE hmod, DWORD fdwSound)
{
    if (!pszSound)
        return TRUE; // stops a sound in the background, and there is none
    if (fdwSound & (SND_ASYNC | SND_LOOP))
        return wince::fail(ERROR_NOT_SUPPORTED, FALSE);
    std::vector<BYTE> file_contents;
    std::optional<WaveImage> sound;
    const DWORD source = fdwSound & sound_source_flags;
    if (source == SND_RESOURCE)
        sound = find_resource_sound(hmod, pszSound);
    else if (source == SND_MEMORY)
        sound = find_memory_sound(pszSound);
    else if (source != SND_ALIAS)
        sound = find_file_sound(pszSound, file_contents);
    if (sound && !playable(sound->format))
        sound.reset();

    const bool found = sound.has_value();
    if (!found && !(fdwSound & SND_NODEFAULT))
        sound = parse_wave_image(default_sound().data(), default_sound().size());
    const double ms = sound ? duration_ms(sound->format, sound->bytes) : 0;
    eventlog::write("playsound", {{"resource", sound_name(pszSound, fdwSound)},
                                  {"flags", fdwSound},
                                  {"ms", ms},
                                  {"found", found}});
    if (!sound)
        return wince::fail(ERROR_FILE_NOT_FOUND, FALSE);
    output(sound->format, sound->samples, sound->bytes, device_volume());
    wait_device_ms(ms);
    return TRUE;
}
