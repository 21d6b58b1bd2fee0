// Waveform output and PlaySoundW on the manual clock: buffers come back
// exactly when their duration in device time has passed, on the audio
// system's thread; PlaySoundW blocks for the sound's duration.
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include "audio/output.h"
#include "audio/wave_image.h"
#include "device/clock.h"
#include "kernel/sync.h"
#include "resources/module.h"
#include "test_device.h"

using testing_support::TempDevice;
namespace ks = wince::sync;

namespace {

WAVEFORMATEX mono16(DWORD rate = 11025)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = rate * 2;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    return format;
}

struct Callbacks {
    std::mutex mutex;
    std::vector<UINT> messages;
    std::vector<double> done_at;
    std::vector<std::thread::id> done_on;
    std::vector<DWORD> done_flags;
};

void CALLBACK record(HDRVR, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    auto& seen = *reinterpret_cast<Callbacks*>(instance);
    std::lock_guard guard(seen.mutex);
    seen.messages.push_back(message);
    if (message == WOM_DONE) {
        seen.done_at.push_back(wince::clock::now());
        seen.done_on.push_back(std::this_thread::get_id());
        seen.done_flags.push_back(reinterpret_cast<WAVEHDR*>(param1)->dwFlags);
    }
}

class WaveOutTest : public ::testing::Test {
protected:
    void open(const nlohmann::json& config = nlohmann::json::object())
    {
        device_ = std::make_unique<TempDevice>(config);
        wince::clock::use_manual(0);
        const WAVEFORMATEX format = mono16();
        ASSERT_EQ(waveOutOpen(&wave_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(record),
                              reinterpret_cast<DWORD_PTR>(&seen_), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
    }

    void write(WAVEHDR& header, std::vector<char>& samples)
    {
        header = WAVEHDR{};
        header.lpData = samples.data();
        header.dwBufferLength = static_cast<DWORD>(samples.size());
        ASSERT_EQ(waveOutPrepareHeader(wave_, &header, sizeof header), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(wave_, &header, sizeof header), MMSYSERR_NOERROR);
    }

    size_t done_count()
    {
        std::lock_guard guard(seen_.mutex);
        return seen_.done_at.size();
    }

    std::unique_ptr<TempDevice> device_;
    HWAVEOUT wave_ = nullptr;
    Callbacks seen_;
};

} // namespace

TEST_F(WaveOutTest, BuffersComeBackInOrderWhenTheirDeviceTimeHasPassed)
{
    open();
    std::vector<char> second_of_sound(22050), fifth_of_second(4410);
    WAVEHDR first, second;
    write(first, second_of_sound);
    write(second, fifth_of_second);
    EXPECT_EQ(waveOutUnprepareHeader(wave_, &first, sizeof first), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(wave_), WAVERR_STILLPLAYING);

    ks::advance(999);
    EXPECT_EQ(done_count(), 0u);
    ks::advance(1);
    ASSERT_EQ(done_count(), 1u);
    ks::advance(199);
    EXPECT_EQ(done_count(), 1u);
    ks::advance(1);
    ASSERT_EQ(done_count(), 2u);
    {
        std::lock_guard guard(seen_.mutex);
        EXPECT_EQ(seen_.done_at, (std::vector<double>{1000, 1200}));
        EXPECT_NE(seen_.done_on[0], std::this_thread::get_id()) << "WOM_DONE comes on the audio system's thread";
        EXPECT_TRUE(seen_.done_flags[0] & WHDR_DONE);
        EXPECT_FALSE(seen_.done_flags[0] & WHDR_INQUEUE);
    }
    EXPECT_EQ(waveOutUnprepareHeader(wave_, &first, sizeof first), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(wave_, &second, sizeof second), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(wave_), MMSYSERR_NOERROR);
    EXPECT_EQ(seen_.messages, (std::vector<UINT>{WOM_OPEN, WOM_DONE, WOM_DONE, WOM_CLOSE}));

    const auto writes = device_->events("waveout.write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0]["bytes"], 22050);
    EXPECT_EQ(writes[0]["ms"], 1000);
    EXPECT_EQ(device_->events("waveout.done").size(), 2u);
    EXPECT_EQ(device_->events("waveout.close").size(), 1u);
}

TEST_F(WaveOutTest, ResetReturnsQueuedBuffersAtOnce)
{
    open();
    std::vector<char> samples(22050 * 2);
    WAVEHDR header;
    write(header, samples);
    ks::advance(100);
    ASSERT_EQ(waveOutReset(wave_), MMSYSERR_NOERROR);
    ASSERT_EQ(done_count(), 1u);
    EXPECT_EQ(seen_.done_at[0], 100);
    EXPECT_TRUE(header.dwFlags & WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(wave_, &header, sizeof header), MMSYSERR_NOERROR);

    // The device plays on normally afterwards.
    std::vector<char> short_sound(4410);
    write(header, short_sound);
    ks::advance(200);
    EXPECT_EQ(done_count(), 2u);
    EXPECT_EQ(seen_.done_at[1], 300);
    EXPECT_EQ(waveOutClose(wave_), MMSYSERR_NOERROR);
    EXPECT_EQ(device_->events("waveout.reset").size(), 1u);
}

TEST_F(WaveOutTest, DriverRequestsAndVolumeShowInEachWrite)
{
    open();
    DWORD volume = 0;
    ASSERT_EQ(waveOutGetVolume(wave_, &volume), MMSYSERR_NOERROR);
    const DWORD device_default = volume;
    EXPECT_EQ(waveOutMessage(wave_, MM_WOM_SETSECONDARYGAINCLASS, 2, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutMessage(wave_, MM_WOM_FORCESPEAKER, 1, 0), MMSYSERR_NOERROR);
    std::vector<char> samples(220);
    WAVEHDR header;
    write(header, samples);
    ks::advance(10);
    ASSERT_EQ(waveOutSetVolume(wave_, 0x0000FFFF), MMSYSERR_NOERROR);
    write(header, samples);
    ks::advance(10);
    ASSERT_EQ(waveOutClose(wave_), MMSYSERR_NOERROR);

    // Through the handle it was that stream's volume only: the device keeps its own.
    ASSERT_EQ(waveOutGetVolume(nullptr, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, device_default);

    const auto messages = device_->events("waveout.message");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0]["msg"], 0x400);
    EXPECT_EQ(messages[0]["param"], 2);
    EXPECT_EQ(messages[1]["msg"], 0x402);
    const auto writes = device_->events("waveout.write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0]["speaker"], true);
    EXPECT_EQ(writes[0]["volume"], device_default);
    EXPECT_EQ(writes[1]["volume"], 0x0000FFFF);
    EXPECT_EQ(device_->events("waveout.volume")[0]["volume"], 0x0000FFFF);
    EXPECT_EQ(device_->events("waveout.volume")[0]["stream"], true);
}

TEST_F(WaveOutTest, StreamVolumeLastsWhileOpenDeviceVolumeStays)
{
    open();
    ASSERT_EQ(waveOutSetVolume(nullptr, 0x40004000), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutSetVolume(wave_, 0xFFFFFFFF), MMSYSERR_NOERROR);
    DWORD volume = 0;
    ASSERT_EQ(waveOutGetVolume(wave_, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0xFFFFFFFFu);
    ASSERT_EQ(waveOutClose(wave_), MMSYSERR_NOERROR);

    // A stream opened afterwards plays at the device's volume again.
    const WAVEFORMATEX format = mono16();
    ASSERT_EQ(waveOutOpen(&wave_, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<char> samples(220);
    WAVEHDR header;
    write(header, samples);
    ks::advance(10);
    ASSERT_EQ(waveOutClose(wave_), MMSYSERR_NOERROR);
    const auto writes = device_->events("waveout.write");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0]["volume"], 0x40004000u);
    const auto volumes = device_->events("waveout.volume");
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0]["stream"], false);
    EXPECT_EQ(volumes[1]["stream"], true);
}

TEST(WaveOut, VolumeIsLogarithmicInTheLevel)
{
    using wince::audio::volume_gain;
    EXPECT_DOUBLE_EQ(volume_gain(0xFFFF), 1.0);
    EXPECT_EQ(volume_gain(0), 0.0);
    // Equal steps of the level are equal steps in decibels.
    const double half = volume_gain(0x8000), quarter = volume_gain(0x4000), three_quarters = volume_gain(0xC000);
    EXPECT_NEAR(20 * std::log10(three_quarters / half), 20 * std::log10(half / quarter), 0.01);
    EXPECT_NEAR(20 * std::log10(half), -wince::audio::volume_range_db / 2, 0.01);
    EXPECT_LT(volume_gain(1), 0.01);
}

TEST(WaveOut, OpenRefusesWhatTheDeviceCannotPlay)
{
    TempDevice dev;
    HWAVEOUT wave = nullptr;
    WAVEFORMATEX format = mono16();
    format.nBlockAlign = 4;
    EXPECT_EQ(waveOutOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    format = mono16();
    EXPECT_EQ(waveOutOpen(&wave, 3, &format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&wave, WAVE_MAPPER, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    const auto opens = dev.events("waveout.open");
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[0]["ok"], false);
    EXPECT_EQ(waveOutWrite(reinterpret_cast<HWAVEOUT>(0x1234), nullptr, 0), MMSYSERR_INVALPARAM);
    WAVEHDR header{};
    EXPECT_EQ(waveOutWrite(reinterpret_cast<HWAVEOUT>(0x1234), &header, sizeof header), MMSYSERR_INVALHANDLE);
}

// A process whose device finds no sound card to play on keeps the sound
// library unmapped: an idle monitor is resident for as long as the phone
// is on.
TEST(WaveOut, WithoutASoundCardTheSoundLibraryIsNotKept)
{
    TempDevice dev; // audio "auto" at clock rate 1: the card is tried
    if (wince::audio::backend_name() != "null")
        GTEST_SKIP() << "this host plays on a sound card";
    std::ifstream maps("/proc/self/maps");
    const std::string mapped((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    EXPECT_EQ(mapped.find("libasound"), std::string::npos);
}

TEST(WaveOut, TheWavBackendSavesEachPlayback)
{
    TempDevice dev(nlohmann::json{{"audio", "wav"}});
    wince::clock::use_manual(0);
    HWAVEOUT wave = nullptr;
    const WAVEFORMATEX format = mono16();
    ASSERT_EQ(waveOutOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<char> samples(1000, 0x10);
    WAVEHDR header{};
    header.lpData = samples.data();
    header.dwBufferLength = 1000;
    ASSERT_EQ(waveOutPrepareHeader(wave, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(wave, &header, sizeof header), MMSYSERR_NOERROR);
    ks::advance(100);
    EXPECT_TRUE(header.dwFlags & WHDR_DONE);
    ASSERT_EQ(waveOutClose(wave), MMSYSERR_NOERROR);

    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dev.dir() / "audio"))
        files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".wav");
    EXPECT_EQ(std::filesystem::file_size(files[0]), 44u + 1000u);
}

namespace {

// A .res image with one resource of type "WAVE" and the given id.
std::vector<BYTE> res_image_with_wave(WORD id, const std::vector<BYTE>& wave)
{
    std::vector<BYTE> res(32, 0);
    res[4] = 32; // the empty first entry: no data, 32-byte header
    res[8] = res[9] = res[12] = res[13] = 0xFF;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            res.push_back(static_cast<BYTE>(v >> (8 * i)));
    };
    auto put16 = [&](uint16_t v) {
        res.push_back(static_cast<BYTE>(v));
        res.push_back(static_cast<BYTE>(v >> 8));
    };
    put32(static_cast<uint32_t>(wave.size()));
    put32(8 + 10 + 4 + 2 + 16); // header size: sizes, "WAVE", ordinal id, padding, trailer
    for (char c : std::string("WAVE"))
        put16(static_cast<uint16_t>(c));
    put16(0);
    put16(0xFFFF);
    put16(id);
    put16(0); // align to a DWORD
    put32(0);
    put16(0x30);
    put16(0x0409);
    put32(0);
    put32(0);
    res.insert(res.end(), wave.begin(), wave.end());
    while (res.size() % 4)
        res.push_back(0);
    return res;
}

// Runs PlaySoundW on a device thread and reports when it returned.
struct Player {
    std::atomic<bool> returned{false};
    std::atomic<BOOL> result{FALSE};
    std::thread thread;

    Player(LPCWSTR sound, HMODULE module, DWORD flags)
    {
        thread = ks::spawn_device_thread([=, this] {
            result = PlaySoundW(sound, module, flags);
            returned = true;
        });
    }
    ~Player() { thread.join(); }
};

} // namespace

TEST(SoundPlayback, PlaysAWaveResourceForItsWholeDuration)
{
    TempDevice dev;
    wince::clock::use_manual(0);
    std::vector<BYTE> samples(4410); // 200 ms at 22050 bytes/s
    const WAVEFORMATEX format = mono16();
    const auto image = res_image_with_wave(101, wince::audio::make_wave_file(format, samples.data(), samples.size()));
    HINSTANCE module = wince::resources::load_module(image.data(), image.size());
    ASSERT_NE(module, nullptr);

    Player player(MAKEINTRESOURCEW(101), module, SND_RESOURCE | SND_NODEFAULT);
    ks::advance(199);
    EXPECT_FALSE(player.returned);
    ks::advance(1);
    EXPECT_TRUE(player.returned);
    EXPECT_TRUE(player.result);
    const auto played = dev.events("playsound");
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0]["resource"], 101);
    EXPECT_EQ(played[0]["found"], true);
    EXPECT_EQ(played[0]["ms"], 200);
    EXPECT_EQ(played[0]["flags"], SND_RESOURCE | SND_NODEFAULT);
}

TEST(SoundPlayback, AMissingResourcePlaysTheDefaultSoundUnlessTold)
{
    TempDevice dev;
    wince::clock::use_manual(0);
    const auto image = res_image_with_wave(100, wince::audio::default_sound());
    HINSTANCE module = wince::resources::load_module(image.data(), image.size());
    ASSERT_NE(module, nullptr);
    {
        Player player(MAKEINTRESOURCEW(55), module, SND_RESOURCE);
        ks::advance(1000);
        EXPECT_TRUE(player.returned);
        EXPECT_TRUE(player.result);
    }
    EXPECT_EQ(wince::clock::now(), 1000);
    {
        Player player(MAKEINTRESOURCEW(55), module, SND_RESOURCE | SND_NODEFAULT);
        ks::settle();
        EXPECT_TRUE(player.returned) << "nothing to play: no wait";
        EXPECT_FALSE(player.result);
    }
    const auto played = dev.events("playsound");
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[0]["found"], false);
    EXPECT_GT(played[0]["ms"].get<double>(), 0);
    EXPECT_LT(played[0]["ms"].get<double>(), 1000);
    EXPECT_EQ(played[1]["found"], false);
    EXPECT_EQ(played[1]["ms"], 0);
}

TEST(WaveImage, ParsingStaysInsideTheImage)
{
    const WAVEFORMATEX format = mono16();
    std::vector<BYTE> samples(100, 1);
    auto image = wince::audio::make_wave_file(format, samples.data(), samples.size());
    auto wave = wince::audio::parse_wave_image(image.data(), image.size());
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->bytes, 100u);
    EXPECT_EQ(wave->format.nSamplesPerSec, 11025u);

    // Data that claims more than the image holds is cut at its end.
    auto truncated = wave;
    truncated = wince::audio::parse_wave_image(image.data(), image.size() - 10);
    ASSERT_TRUE(truncated);
    EXPECT_EQ(truncated->bytes, 90u);
    // A format chunk cut short, or no RIFF header at all, is not an image.
    EXPECT_FALSE(wince::audio::parse_wave_image(image.data(), 30));
    image[0] = 'X';
    EXPECT_FALSE(wince::audio::parse_wave_image(image.data(), image.size()));
}
