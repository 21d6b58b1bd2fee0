// The call monitor on the manual clock: the whole program runs on a device
// thread of the test, the test posts the watcher's messages and presses keys,
// and every signal is checked at its exact device time in the event log.
#include <algorithm>
#include <thread>

#include <gtest/gtest.h>

#include <windows.h>

#include "device/clock.h"
#include "device/device.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"
#include "monitor.h"
#include "monitor_sounds.h"
#include "resources/module.h"
#include "settings.h"
#include "test_device.h"

namespace ks = wince::sync;
using nlohmann::json;
using testing_support::onoff_sound;
using testing_support::regular_sound;
using testing_support::TempDevice;

namespace {

constexpr double kSlack = 0.01; // log times keep 3 decimals

// One playback through waveform output, from open to close.
struct Playback {
    double written = -1;
    bool gain_class = false;
    bool speaker_forced = false;
    long volume_set = -1;
    DWORD bytes = 0;
};

class MonitorOnManualClock : public ::testing::Test {
protected:
    // The test process is a device process, as the monitor is: its threads
    // can be posted to before they have a queue.
    void SetUp() override
    {
        wince::clock::use_manual(0);
        wince::process::attach("");
    }

    void TearDown() override
    {
        if (monitor_.joinable())
            Quit();
        wince::process::detach(0);
    }

    void StartMonitor()
    {
        monitor_ = ks::spawn_device_thread([this] {
            main_thread_ = GetCurrentThreadId();
            exit_code_ = RunMonitor(wince::resources::program_module());
        });
        ks::advance(0);
    }

    void Post(UINT message) { ASSERT_TRUE(PostThreadMessageW(main_thread_, message, 0, 0)); }

    void AdvanceTo(double device_ms) { ks::advance(device_ms - wince::clock::now()); }

    void Quit()
    {
        Post(WM_MONITOR_QUIT);
        ks::advance(10000);
        monitor_.join();
    }

    // Connects a call at `at` and returns when the start signal has ended.
    double ConnectAt(double at)
    {
        AdvanceTo(at);
        Post(WM_CALL_CONNECTED);
        ks::advance(0);
        return at + onoff_sound().ms;
    }

    HWND CallWindow() const
    {
        for (const auto& e : device_.events("window.create"))
            if (e["class"] == "CallTickerWndClass")
                return reinterpret_cast<HWND>(static_cast<uintptr_t>(e["hwnd"].get<uint64_t>()));
        return nullptr;
    }

    void PressReturn()
    {
        ASSERT_TRUE(PostMessageW(CallWindow(), WM_KEYDOWN, VK_RETURN, 0));
        ks::advance(0);
    }

    std::vector<Playback> Playbacks() const
    {
        std::vector<Playback> playbacks;
        for (const auto& e : device_.events()) {
            const std::string name = e["event"];
            if (name == "waveout.open")
                playbacks.emplace_back();
            if (playbacks.empty())
                continue;
            Playback& p = playbacks.back();
            if (name == "waveout.message" && e["msg"] == MM_WOM_SETSECONDARYGAINCLASS)
                p.gain_class = e["param"] == 2;
            if (name == "waveout.message" && e["msg"] == MM_WOM_FORCESPEAKER)
                p.speaker_forced = e["param"] == 1;
            if (name == "waveout.volume")
                p.volume_set = e["volume"];
            if (name == "waveout.write") {
                p.written = e["t"];
                p.bytes = e["bytes"];
            }
        }
        return playbacks;
    }

    std::vector<double> Times(const std::string& event, const std::function<bool(const json&)>& match = {}) const
    {
        std::vector<double> times;
        for (const auto& e : device_.events(event))
            if (!match || match(e))
                times.push_back(e["t"]);
        return times;
    }

    std::vector<double> TimerArmings(int id) const
    {
        return Times("timer.set", [id](const json& e) { return e["id"] == id; });
    }

    std::vector<double> Backlight(const std::string& state) const
    {
        return Times("backlight", [&](const json& e) { return e["state"] == state; });
    }

    std::vector<double> PeriodicBeeps() const
    {
        std::vector<double> times;
        for (const auto& p : Playbacks())
            if (p.bytes == regular_sound().bytes)
                times.push_back(p.written);
        return times;
    }

    TempDevice device_{{{"lines", json::array()}, {"audio", "null"}}};
    std::thread monitor_;
    DWORD main_thread_ = 0;
    int exit_code_ = -1;
};

void ExpectTimes(const std::vector<double>& actual, const std::vector<double>& expected)
{
    ASSERT_EQ(actual.size(), expected.size()) << ::testing::PrintToString(actual);
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], kSlack) << "entry " << i;
}

TEST_F(MonitorOnManualClock, DefaultCallSignalsStartPeriodicScreenOffAndEnd)
{
    StartMonitor();
    const double start_ended = ConnectAt(2000);
    AdvanceTo(start_ended + 180000);
    Post(WM_CALL_ENDED);
    ks::advance(0);
    const double ended = wince::clock::now();
    Quit();

    const auto playbacks = Playbacks();
    ASSERT_EQ(playbacks.size(), 5u);
    // Start chime: at the current volume, forced to the loudspeaker.
    EXPECT_NEAR(playbacks[0].written, 2000, kSlack);
    EXPECT_EQ(playbacks[0].bytes, onoff_sound().bytes);
    EXPECT_TRUE(playbacks[0].gain_class);
    EXPECT_TRUE(playbacks[0].speaker_forced);
    EXPECT_EQ(playbacks[0].volume_set, -1);
    // Periodic beeps: full volume, not forced, the lead time before each minute.
    ExpectTimes(PeriodicBeeps(), {start_ended + 55000, start_ended + 115000, start_ended + 175000});
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(playbacks[i].gain_class);
        EXPECT_FALSE(playbacks[i].speaker_forced);
        EXPECT_EQ(playbacks[i].volume_set, 0xFFFF);
    }
    // The screen goes dark 5 s after the start signal and comes back, before
    // the end chime, when the call ends.
    ExpectTimes(Backlight("D4"), {start_ended + 5000});
    ExpectTimes(Backlight("D0"), {ended});
    ExpectTimes(Backlight("PwrDeviceUnspecified"), {ended});
    EXPECT_NEAR(playbacks[4].written, ended, kSlack);
    EXPECT_TRUE(playbacks[4].speaker_forced);
    EXPECT_EQ(exit_code_, 0);
}

TEST_F(MonitorOnManualClock, ChangedIntervalAppliesFromTheNextFiring)
{
    StartMonitor();
    const double t0 = ConnectAt(1000);
    AdvanceTo(t0 + 60000);
    AppSettings().SetRegularSoundDelay(0); // 30 s
    AdvanceTo(t0 + 180000);
    ExpectTimes(PeriodicBeeps(), {t0 + 55000, t0 + 115000, t0 + 145000, t0 + 175000});
}

TEST_F(MonitorOnManualClock, PeriodicTimerFollowsTheTypeReadAtTheStartAndEachTick)
{
    AppSettings().SetRegularSoundType(0);
    StartMonitor();
    double t0 = ConnectAt(1000);
    AdvanceTo(t0 + 1000);
    AppSettings().SetRegularSoundType(1); // too late for this call
    AdvanceTo(t0 + 130000);
    EXPECT_TRUE(TimerArmings(IDT_REGULAR_SIGNAL).empty());
    EXPECT_TRUE(PeriodicBeeps().empty());
    Post(WM_CALL_ENDED);

    // Any other non-zero type arms a timer whose ticks give no signal.
    for (int silent_type : {3, -1}) {
        AppSettings().SetRegularSoundType(silent_type);
        const size_t armed_before = TimerArmings(IDT_REGULAR_SIGNAL).size();
        t0 = ConnectAt(wince::clock::now() + 1000);
        AdvanceTo(t0 + 130000);
        EXPECT_EQ(TimerArmings(IDT_REGULAR_SIGNAL).size() - armed_before, 3u) << silent_type; // start + two ticks
        EXPECT_TRUE(PeriodicBeeps().empty()) << silent_type;
        Post(WM_CALL_ENDED);
    }

    // Switched off during a call: the timer keeps ticking, silently.
    AppSettings().SetRegularSoundType(1);
    t0 = ConnectAt(wince::clock::now() + 1000);
    AdvanceTo(t0 + 60000);
    AppSettings().SetRegularSoundType(0);
    const size_t armed_before = TimerArmings(IDT_REGULAR_SIGNAL).size();
    AdvanceTo(t0 + 180000);
    ExpectTimes(PeriodicBeeps(), {t0 + 55000});
    EXPECT_EQ(TimerArmings(IDT_REGULAR_SIGNAL).size() - armed_before, 2u);
}

TEST_F(MonitorOnManualClock, NeverTurnsTheScreenOffNotEvenAfterReturn)
{
    AppSettings().SetTurnOffScr(0);
    StartMonitor();
    const double t0 = ConnectAt(1000);
    AdvanceTo(t0 + 30000);
    PressReturn();
    AdvanceTo(t0 + 60000);
    EXPECT_TRUE(TimerArmings(IDT_SCREEN_OFF).empty());
    EXPECT_TRUE(Times("backlight").empty());
}

TEST_F(MonitorOnManualClock, ScreenOffFiresOncePerArmingAndReturnWakesIt)
{
    StartMonitor();
    const double t0 = ConnectAt(1000);
    AdvanceTo(t0 + 20000);
    ExpectTimes(Backlight("D4"), {t0 + 5000});
    ExpectTimes(Times("timer.kill", [](const json& e) { return e["id"] == IDT_SCREEN_OFF; }), {t0 + 5000});

    PressReturn(); // the screen is off: wake it and arm again
    const double woken = wince::clock::now();
    ExpectTimes(Backlight("D0"), {woken});
    PressReturn(); // the screen is on: nothing
    ASSERT_TRUE(PostMessageW(CallWindow(), WM_KEYDOWN, VK_ESCAPE, 0));
    AdvanceTo(woken + 20000);
    ExpectTimes(Backlight("D4"), {t0 + 5000, woken + 5000});
    ExpectTimes(Backlight("D0"), {woken});
    ExpectTimes(TimerArmings(IDT_SCREEN_OFF), {t0, woken});
}

TEST_F(MonitorOnManualClock, CloseLeavesTheWindowAndItsTimers)
{
    StartMonitor();
    const double t0 = ConnectAt(1000);
    ASSERT_TRUE(PostMessageW(CallWindow(), WM_CLOSE, 0, 0));
    AdvanceTo(t0 + 60000);
    EXPECT_TRUE(device_.events("window.destroy").empty());
    ExpectTimes(PeriodicBeeps(), {t0 + 55000});
}

TEST_F(MonitorOnManualClock, RepeatedAndStrayCallMessagesChangeNothing)
{
    StartMonitor();
    Post(WM_CALL_ENDED); // no call: no end signal
    const double t0 = ConnectAt(1000);
    Post(WM_CALL_CONNECTED); // already timed: no second start signal
    Post(WM_QUIT);           // does not stop the monitor
    AdvanceTo(t0 + 60000);
    EXPECT_EQ(Playbacks().size(), 2u); // the start chime and one beep
    ExpectTimes(PeriodicBeeps(), {t0 + 55000});
    EXPECT_TRUE(monitor_.joinable());
}

TEST_F(MonitorOnManualClock, VibrationSignalsHoldTheTimersUntilTheyEnd)
{
    AppSettings().SetOnSoundType(2);
    AppSettings().SetRegularSoundType(2);
    StartMonitor();
    AdvanceTo(1000);
    Post(WM_CALL_CONNECTED);
    AdvanceTo(1000 + 400 + 55000 + 1000);
    auto on = Times("led", [](const json& e) { return e["led"] == 1 && e["on"] == true; });
    auto off = Times("led", [](const json& e) { return e["led"] == 1 && e["on"] == false; });
    ExpectTimes(on, {1000, 1400 + 55000});
    ExpectTimes(off, {1400, 1400 + 55400});
    EXPECT_TRUE(Playbacks().empty());
}

TEST_F(MonitorOnManualClock, QuitDuringACallPlaysQuitSoundThenEndsTheCall)
{
    StartMonitor();
    const double t0 = ConnectAt(1000);
    AdvanceTo(t0 + 10000); // the screen is off
    Post(WM_MONITOR_QUIT);
    const double quit = wince::clock::now();
    ks::advance(10000);
    monitor_.join();

    const auto sounds = Times("playsound");
    ASSERT_EQ(sounds.size(), 2u); // start-up and quit
    EXPECT_NEAR(sounds[1], quit, kSlack);
    ExpectTimes(Backlight("D0"), {quit + onoff_sound().ms});
    const auto playbacks = Playbacks();
    ASSERT_EQ(playbacks.size(), 2u);
    EXPECT_NEAR(playbacks[1].written, quit + onoff_sound().ms, kSlack);
    EXPECT_EQ(exit_code_, 0);
}

TEST_F(MonitorOnManualClock, FailedMessageRetrievalIsNeitherDispatchedNorSpunOn)
{
    // The first 20 retrievals fail: each is followed by a pause, not by an
    // immediate retry, and nothing is taken from the empty record.
    json config = wince::device::config();
    config["faults"] = {{"*", {{"GetMessageW", 20}}}};
    wince::device::write_config(config);
    StartMonitor();
    AdvanceTo(1000);
    Post(WM_CALL_CONNECTED);
    ks::advance(5000);
    const auto playbacks = Playbacks();
    ASSERT_EQ(playbacks.size(), 1u);
    EXPECT_NEAR(playbacks[0].written, onoff_sound().ms + 20 * GETMESSAGE_RETRY_MS, kSlack);
}

TEST_F(MonitorOnManualClock, SecondInstanceEndsAtOnceAndSilently)
{
    StartMonitor();
    const size_t sounds = Times("playsound").size();
    int second_exit = -1;
    std::thread second = ks::spawn_device_thread([&] { second_exit = RunMonitor(wince::resources::program_module()); });
    ks::advance(0);
    second.join();
    EXPECT_EQ(second_exit, 0);
    EXPECT_EQ(Times("playsound").size(), sounds);
    EXPECT_TRUE(device_.events("messagebox").empty());
}

} // namespace
