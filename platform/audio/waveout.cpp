// Waveform audio output.  One wave device (id 0, also reached through
// WAVE_MAPPER) that any number of handles may open.  Each open handle has an
// audio-system thread that returns written buffers in order, each when its
// duration in device time has passed (WOM_DONE on that thread), so the
// manual clock of unit tests drives playback exactly.  WOM_OPEN and
// WOM_CLOSE come on the caller's thread from inside waveOutOpen and
// waveOutClose, as Windows sends them.
//
// Left out: window and thread callbacks, pause/restart, pitch and playback
// rate, looping (WHDR_BEGINLOOP/ENDLOOP play once), position queries.
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include <windows.h>
#include <mmsystem.h>

#include "audio/output.h"
#include "audio/wave_image.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/sync.h"

namespace wince::audio {
namespace {

struct Queued {
    WAVEHDR* header;
    double ends; // device ms
    // What the writer was handling: the completion, logged on the audio
    // thread, answers the same message.
    std::optional<eventlog::Handling> handling;
};

// Everything here is guarded by the kernel lock, which the audio threads'
// waits need anyway.
struct WaveOut {
    HWAVEOUT handle = nullptr;
    WAVEFORMATEX format{};
    DWORD callback_kind = CALLBACK_NULL;
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
    DWORD gain_class = 0;
    bool speaker_forced = false;
    std::optional<DWORD> volume; // this stream's own, set through its handle
    std::deque<Queued> queue;
    double busy_until = 0;     // when the last queued buffer ends
    bool resetting = false;    // return every queued buffer now
    bool closing = false;
    bool in_callback = false;
    std::thread worker;
};

// Never destroyed: a program that exits with a device open leaves its
// audio thread to end with the process.
auto& wave_outs = *new std::map<HWAVEOUT, std::unique_ptr<WaveOut>>;
uintptr_t next_handle = 0x5000;

WaveOut* find(HWAVEOUT handle)
{
    auto it = wave_outs.find(handle);
    return it == wave_outs.end() ? nullptr : it->second.get();
}

void notify(const WaveOut& wave, UINT message, DWORD_PTR param1)
{
    if (wave.callback_kind == CALLBACK_FUNCTION && wave.callback)
        reinterpret_cast<LPDRVCALLBACK>(wave.callback)(reinterpret_cast<HDRVR>(wave.handle), message,
                                                        wave.instance, param1, 0);
    else if (wave.callback_kind == CALLBACK_EVENT && wave.callback)
        SetEvent(reinterpret_cast<HANDLE>(wave.callback));
}

// The audio-system thread of one open device.
void play_queue(WaveOut& wave)
{
    auto held = sync::lock();
    for (;;) {
        sync::wait_until(held, clock::forever, [&] { return !wave.queue.empty() || wave.closing; });
        if (wave.queue.empty())
            return; // closing
        const Queued next = wave.queue.front();
        sync::wait_until(held, next.ends, [&] { return wave.resetting; });
        wave.queue.pop_front();
        next.header->dwFlags = (next.header->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
        wave.in_callback = true;
        held.unlock();
        nlohmann::json fields = eventlog::handling_fields(next.handling);
        fields["bytes"] = next.header->dwBufferLength;
        eventlog::write("waveout.done", fields);
        notify(wave, WOM_DONE, reinterpret_cast<DWORD_PTR>(next.header));
        held.lock();
        wave.in_callback = false;
        if (wave.queue.empty())
            wave.resetting = false;
        sync::wake_all();
    }
}

nlohmann::json format_fields(const WAVEFORMATEX* format)
{
    if (!format)
        return nullptr;
    return {{"tag", format->wFormatTag},
            {"channels", format->nChannels},
            {"rate", format->nSamplesPerSec},
            {"bits", format->wBitsPerSample}};
}

MMRESULT open_device(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen)
{
    if (uDeviceID != 0 && uDeviceID != WAVE_MAPPER)
        return MMSYSERR_BADDEVICEID;
    if (!pwfx)
        return MMSYSERR_INVALPARAM;
    const DWORD kind = fdwOpen & CALLBACK_TYPEMASK;
    if (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION && kind != CALLBACK_EVENT)
        return MMSYSERR_NOTSUPPORTED;
    if (!playable(*pwfx))
        return WAVERR_BADFORMAT;
    if (fdwOpen & WAVE_FORMAT_QUERY)
        return MMSYSERR_NOERROR;
    if (!phwo)
        return MMSYSERR_INVALPARAM;
    if (device::inject_fault("waveOutOpen"))
        return MMSYSERR_ALLOCATED;

    auto wave = std::make_unique<WaveOut>();
    wave->format = *pwfx;
    wave->format.cbSize = 0;
    wave->callback_kind = kind;
    wave->callback = dwCallback;
    wave->instance = dwInstance;
    WaveOut& opened = *wave;
    {
        auto held = sync::lock();
        opened.handle = reinterpret_cast<HWAVEOUT>(next_handle++);
        opened.busy_until = clock::now();
        wave_outs[opened.handle] = std::move(wave);
    }
    opened.worker = sync::spawn_device_thread([&opened] { play_queue(opened); });
    *phwo = opened.handle;
    notify(opened, WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

} // namespace
} // namespace wince::audio

using namespace wince;
using namespace wince::audio;

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen)
{
    const MMRESULT result = open_device(phwo, uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen);
    if (!(fdwOpen & WAVE_FORMAT_QUERY))
        eventlog::write("waveout.open", {{"format", format_fields(pwfx)}, {"ok", result == MMSYSERR_NOERROR}});
    return result;
}

UINT WINAPI waveOutGetNumDevs(void) { return 1; }

MMRESULT WINAPI waveOutMessage(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dw1, DWORD_PTR)
{
    MMRESULT result = MMSYSERR_NOTSUPPORTED;
    {
        auto held = sync::lock();
        WaveOut* wave = find(hwo);
        if (!wave)
            return MMSYSERR_INVALHANDLE;
        if (uMsg == MM_WOM_SETSECONDARYGAINCLASS) {
            wave->gain_class = static_cast<DWORD>(dw1);
            result = MMSYSERR_NOERROR;
        } else if (uMsg == MM_WOM_FORCESPEAKER) {
            wave->speaker_forced = dw1 != 0;
            result = MMSYSERR_NOERROR;
        }
    }
    eventlog::write("waveout.message",
                    {{"msg", uMsg}, {"param", dw1}, {"ok", result == MMSYSERR_NOERROR}});
    return result;
}

// Through an open handle the volume is that stream's, for as long as it is
// open; through a device identifier (0, the one device) it is the device's
// and stays.
MMRESULT WINAPI waveOutSetVolume(HWAVEOUT hwo, DWORD dwVolume)
{
    if (hwo != nullptr) {
        {
            auto held = sync::lock();
            WaveOut* wave = find(hwo);
            if (!wave)
                return MMSYSERR_INVALHANDLE;
            wave->volume = dwVolume;
        }
        eventlog::write("waveout.volume", {{"volume", dwVolume}, {"stream", true}});
        return MMSYSERR_NOERROR;
    }
    if (!set_device_volume(dwVolume))
        return MMSYSERR_ERROR;
    eventlog::write("waveout.volume", {{"volume", dwVolume}, {"stream", false}});
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetVolume(HWAVEOUT hwo, LPDWORD pdwVolume)
{
    if (!pdwVolume)
        return MMSYSERR_INVALPARAM;
    if (hwo != nullptr) {
        auto held = sync::lock();
        WaveOut* wave = find(hwo);
        if (!wave)
            return MMSYSERR_INVALHANDLE;
        if (wave->volume) {
            *pdwVolume = *wave->volume;
            return MMSYSERR_NOERROR;
        }
    }
    *pdwVolume = device_volume();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    if (!pwh || cbwh < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    auto held = sync::lock();
    if (!find(hwo))
        return MMSYSERR_INVALHANDLE;
    if (pwh->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    if (!pwh->lpData && pwh->dwBufferLength != 0)
        return MMSYSERR_INVALPARAM;
    pwh->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    if (!pwh || cbwh < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    auto held = sync::lock();
    if (!find(hwo))
        return MMSYSERR_INVALHANDLE;
    if (pwh->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    if (!pwh || cbwh < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    WAVEFORMATEX format;
    DWORD volume;
    {
        auto held = sync::lock();
        WaveOut* wave = find(hwo);
        if (!wave)
            return MMSYSERR_INVALHANDLE;
        if (!(pwh->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (pwh->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        format = wave->format;
        volume = wave->volume.value_or(device_volume());
        // Whole sample frames only, as the device plays them.
        const size_t bytes = pwh->dwBufferLength - pwh->dwBufferLength % format.nBlockAlign;
        const double ms = duration_ms(format, bytes);
        // Logged before the buffer is queued, so that its waveout.done
        // always comes after it.
        eventlog::write("waveout.write", {{"bytes", pwh->dwBufferLength},
                                          {"ms", ms},
                                          {"speaker", wave->speaker_forced},
                                          {"volume", volume},
                                          {"gain_class", wave->gain_class}});
        const double starts = std::max(clock::now(), wave->busy_until);
        wave->busy_until = starts + ms;
        pwh->dwFlags = (pwh->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
        wave->queue.push_back(Queued{pwh, wave->busy_until, eventlog::handling()});
        sync::wake_all();
    }
    output(format, reinterpret_cast<const BYTE*>(pwh->lpData), pwh->dwBufferLength, volume);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo)
{
    {
        auto held = sync::lock();
        WaveOut* wave = find(hwo);
        if (!wave)
            return MMSYSERR_INVALHANDLE;
        wave->resetting = !wave->queue.empty();
        sync::wake_all();
        // From the device's own callback the buffers are returned after it.
        if (std::this_thread::get_id() != wave->worker.get_id())
            sync::wait_until(held, clock::forever, [&] { return wave->queue.empty() && !wave->in_callback; });
        wave->busy_until = clock::now();
    }
    eventlog::write("waveout.reset");
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo)
{
    std::unique_ptr<WaveOut> closed;
    {
        auto held = sync::lock();
        WaveOut* wave = find(hwo);
        if (!wave)
            return MMSYSERR_INVALHANDLE;
        if (!wave->queue.empty())
            return WAVERR_STILLPLAYING;
        if (std::this_thread::get_id() == wave->worker.get_id())
            return MMSYSERR_HANDLEBUSY; // its own thread cannot wait for itself
        wave->closing = true;
        closed = std::move(wave_outs[hwo]);
        wave_outs.erase(hwo);
        sync::wake_all();
    }
    closed->worker.join();
    notify(*closed, WOM_CLOSE, 0);
    eventlog::write("waveout.close");
    return MMSYSERR_NOERROR;
}
