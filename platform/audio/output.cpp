// Output backends.  The wav backend scales the samples by the volume in
// effect, so a saved playback sounds as the device would have played it.
#include "output.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <unistd.h>

#ifdef WINCE_HAVE_ALSA
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#endif

#include "audio/wave_image.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/run_state.h"

namespace wince::audio {
namespace {

constexpr DWORD default_volume = 0x80008000; // half level, as the device ships

struct Backend {
    std::string name;
    std::string reason;
};

std::vector<BYTE> scaled(const WAVEFORMATEX& format, const BYTE* samples, size_t bytes, DWORD volume)
{
    std::vector<BYTE> out(samples, samples + bytes);
    const double levels[2] = {volume_gain(volume & 0xFFFF), volume_gain(volume >> 16)};
    const size_t frame = format.nBlockAlign;
    if (frame == 0)
        return out;
    for (size_t at = 0; at + frame <= bytes; at += frame) {
        for (WORD channel = 0; channel < format.nChannels; ++channel) {
            const double level = levels[format.nChannels == 2 ? channel : 0];
            if (format.wBitsPerSample == 16) {
                BYTE* p = out.data() + at + channel * 2;
                const auto sample = static_cast<int16_t>(p[0] | (p[1] << 8));
                const auto value = static_cast<int16_t>(sample * level);
                p[0] = static_cast<BYTE>(value & 0xFF);
                p[1] = static_cast<BYTE>((value >> 8) & 0xFF);
            } else {
                BYTE* p = out.data() + at + channel;
                *p = static_cast<BYTE>(128 + (*p - 128) * level);
            }
        }
    }
    return out;
}

void save_wav(const WAVEFORMATEX& format, const BYTE* samples, size_t bytes, DWORD volume)
{
    static std::atomic<unsigned> sequence{0};
    const auto dir = device::root() / "audio";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    char name[96];
    std::snprintf(name, sizeof name, "%012.3f-%d-%u.wav", clock::now(), static_cast<int>(getpid()),
                  ++sequence);
    const auto data = scaled(format, samples, bytes, volume);
    const auto file = make_wave_file(format, data.data(), data.size());
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

#ifdef WINCE_HAVE_ALSA
// libasound is loaded when the sound card is first wanted, not linked: a
// process that never plays on the card (an idle monitor, every process of
// a device whose audio is null or wav or whose clock is not at rate 1)
// does not map it: 0.2 MiB of an idle monitor's resident memory, and
// 0.5 MiB once ALSA has read its configuration.  Where no card opens it is
// unloaded again; once a sound has played it stays, for the playback
// threads that may still use it.
struct Alsa {
    void* library = nullptr;
    decltype(&snd_lib_error_set_handler) lib_error_set_handler = nullptr;
    decltype(&snd_pcm_open) pcm_open = nullptr;
    decltype(&snd_pcm_close) pcm_close = nullptr;
    decltype(&snd_pcm_set_params) pcm_set_params = nullptr;
    decltype(&snd_pcm_writei) pcm_writei = nullptr;
    decltype(&snd_pcm_recover) pcm_recover = nullptr;
    decltype(&snd_pcm_drain) pcm_drain = nullptr;
    decltype(&snd_config_update_free_global) config_free_global = nullptr;
};

template <class Function>
bool bind(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

std::optional<Alsa> load_alsa()
{
    void* library = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return std::nullopt;
    Alsa alsa;
    alsa.library = library;
    if (bind(library, "snd_lib_error_set_handler", alsa.lib_error_set_handler) &&
        bind(library, "snd_pcm_open", alsa.pcm_open) && bind(library, "snd_pcm_close", alsa.pcm_close) &&
        bind(library, "snd_pcm_set_params", alsa.pcm_set_params) &&
        bind(library, "snd_pcm_writei", alsa.pcm_writei) && bind(library, "snd_pcm_recover", alsa.pcm_recover) &&
        bind(library, "snd_pcm_drain", alsa.pcm_drain) &&
        bind(library, "snd_config_update_free_global", alsa.config_free_global))
        return alsa;
    ::dlclose(library);
    return std::nullopt;
}

struct LoadedAlsa {
    std::mutex mutex;
    std::optional<Alsa> alsa;
    bool played = false; // a playback thread may hold the entry points
};

LoadedAlsa& loaded_alsa()
{
    static LoadedAlsa* loaded = new LoadedAlsa; // playback threads may outlive static destruction
    return *loaded;
}

// libasound's entry points, or null when it cannot be loaded; for a
// playback they stay loaded for the life of the process.
const Alsa* alsa(bool for_playback)
{
    LoadedAlsa& loaded = loaded_alsa();
    std::lock_guard held(loaded.mutex);
    if (!loaded.alsa)
        loaded.alsa = load_alsa();
    loaded.played = loaded.played || (for_playback && loaded.alsa);
    return loaded.alsa ? &*loaded.alsa : nullptr;
}

void unload_alsa_unless_played()
{
    LoadedAlsa& loaded = loaded_alsa();
    std::lock_guard held(loaded.mutex);
    if (!loaded.alsa || loaded.played)
        return;
    // The configuration ALSA read stays on the heap, held by the library's
    // globals, unless it is given back first.
    loaded.alsa->config_free_global();
    ::dlclose(loaded.alsa->library);
    loaded.alsa.reset();
}

// ALSA reports a missing card on stderr; the device's programs own theirs.
void ignore_alsa_errors(const char*, int, const char*, int, const char*, ...) {}

bool sound_card_opens()
{
    const Alsa* const lib = alsa(false);
    if (!lib)
        return false;
    lib->lib_error_set_handler(ignore_alsa_errors);
    snd_pcm_t* pcm = nullptr;
    if (lib->pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        unload_alsa_unless_played();
        return false;
    }
    lib->pcm_close(pcm);
    return true;
}

// Plays on a host thread of its own, one buffer after another, so that the
// device's threads keep device time and never wait for the sound card.
void play_alsa(const WAVEFORMATEX& format, const BYTE* samples, size_t bytes, DWORD volume)
{
    static std::mutex card;
    const Alsa* const lib = alsa(true);
    if (!lib)
        return;
    std::thread([lib, format, data = scaled(format, samples, bytes, volume)] {
        std::lock_guard guard(card);
        snd_pcm_t* pcm = nullptr;
        if (lib->pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0)
            return;
        const auto pcm_format = format.wBitsPerSample == 16 ? SND_PCM_FORMAT_S16_LE : SND_PCM_FORMAT_U8;
        if (lib->pcm_set_params(pcm, pcm_format, SND_PCM_ACCESS_RW_INTERLEAVED, format.nChannels,
                                format.nSamplesPerSec, 1, 200000) == 0) {
            const snd_pcm_uframes_t frames = data.size() / format.nBlockAlign;
            snd_pcm_uframes_t done = 0;
            while (done < frames) {
                const auto n = lib->pcm_writei(pcm, data.data() + done * format.nBlockAlign, frames - done);
                if (n < 0) {
                    if (lib->pcm_recover(pcm, static_cast<int>(n), 1) < 0)
                        break;
                    continue;
                }
                done += static_cast<snd_pcm_uframes_t>(n);
            }
            lib->pcm_drain(pcm);
        }
        lib->pcm_close(pcm);
    }).detach();
}
#endif

Backend choose_backend()
{
    const auto& config = device::config();
    const std::string wanted = config.contains("audio") && config["audio"].is_string()
                                   ? config["audio"].get<std::string>()
                                   : "auto";
    if (wanted == "wav")
        return {"wav", "wav: each playback saved under " + (device::root() / "audio").string()};
    if (wanted == "null")
        return {"null", "null: silent, as device.json asks (the event log only)"};
    const std::string asked = wanted == "alsa" ? "alsa" : "auto";
#ifdef WINCE_HAVE_ALSA
    // Sound at any other rate would not match the device's clock.
    if (clock::manual() || clock::rate() != 1.0) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g", clock::rate());
        return {"null", asked + ": clock rate " + rate + " is not 1: silent"};
    }
    if (!sound_card_opens())
        return {"null", asked + ": no sound card: silent"};
    return {"alsa", asked + ": plays on the host's sound card (alsa)"};
#else
    return {"null", asked + ": built without ALSA: silent"};
#endif
}

// Chosen once per device: tests move a process between devices.
Backend backend()
{
    static std::mutex choice;
    static Backend chosen;
    static std::filesystem::path chosen_for;
    std::lock_guard guard(choice);
    if (chosen.name.empty() || chosen_for != device::root()) {
        chosen = choose_backend();
        chosen_for = device::root();
    }
    return chosen;
}

} // namespace

double volume_gain(WORD level)
{
    if (level == 0)
        return 0;
    return std::pow(10.0, volume_range_db * (level / 65535.0 - 1.0) / 20.0);
}

std::string backend_name() { return backend().name; }

std::string backend_reason() { return backend().reason; }

void output(const WAVEFORMATEX& format, const BYTE* samples, size_t bytes, DWORD volume)
{
    if (!samples || bytes == 0)
        return;
    const std::string backend = backend_name();
    if (backend == "wav")
        save_wav(format, samples, bytes, volume);
#ifdef WINCE_HAVE_ALSA
    else if (backend == "alsa")
        play_alsa(format, samples, bytes, volume);
#endif
}

DWORD device_volume()
{
    const auto state = run_state::read("audio");
    if (state.contains("volume") && state["volume"].is_number_unsigned())
        return state["volume"].get<DWORD>();
    const auto& config = device::config();
    if (config.contains("volume") && config["volume"].is_number_unsigned())
        return config["volume"].get<DWORD>();
    return default_volume;
}

bool set_device_volume(DWORD volume)
{
    return run_state::update("audio", [&](nlohmann::json& state) { state["volume"] = volume; });
}

} // namespace wince::audio
