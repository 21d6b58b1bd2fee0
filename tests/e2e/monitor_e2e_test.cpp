// CallTicker.exe as a real process on a device driven through the phone
// tool, at a high clock rate; everything is read back from the event log.
#include <fstream>
#include <memory>

#include <unistd.h>

#include <gtest/gtest.h>

#include <windows.h>

#include "monitor.h"
#include "monitor_sounds.h"
#include "phone_runner.h"
#include "test_device.h"

using nlohmann::json;
using testing_support::onoff_sound;
using testing_support::Phone;
using testing_support::regular_sound;

namespace {

constexpr const char* kMonitor = "\\Program Files\\CallTicker\\CallTicker.exe";

// The device runs 25 times faster than real time, and a signal may come
// late by however long a loaded host keeps the monitor's thread from
// running: 4 device seconds is 160 ms of real time.
constexpr double kRate = 25;
constexpr double kTimingSlack = 4000;

class MonitorProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() / ("callticker-e2e-" + std::to_string(::getpid()) + "-" +
                                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        phone_ = std::make_unique<Phone>(dir_);
        phone_->ok({"init", "--clock-rate", std::to_string(static_cast<int>(kRate)), "--audio", "null"});
    }

    void TearDown() override
    {
        phone_->run({"post", "--process", "CallTicker.exe", "WM_MONITOR_QUIT"});
        phone_->wait_for("process.exit", [](const json& e) { return e["exe"] == "CallTicker.exe"; }, 5);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // Starts the monitor and waits until it plays its start-up sound and,
    // when the device has a line, watches it: calls before that go unseen.
    long StartMonitor(bool has_line = true)
    {
        const std::string out = phone_->ok({"run", kMonitor});
        const long pid = static_cast<long>(testing_support::started_pid(out));
        EXPECT_FALSE(phone_->wait_for("playsound", [pid](const json& e) { return e["pid"] == pid; }).is_null());
        if (has_line) {
            EXPECT_FALSE(phone_->wait_for("line.open", [pid](const json& e) { return e["pid"] == pid; }).is_null());
        }
        return pid;
    }

    json ExitOf(long pid, double timeout = 20)
    {
        return phone_->wait_for("process.exit", [pid](const json& e) { return e["pid"] == pid; }, timeout);
    }

    std::vector<json> Writes(long pid) const
    {
        std::vector<json> writes;
        for (auto& e : phone_->events("waveout.write"))
            if (e["pid"] == pid)
                writes.push_back(e);
        return writes;
    }

    std::filesystem::path dir_;
    std::unique_ptr<Phone> phone_;
};

TEST_F(MonitorProcess, SecondMonitorExitsAtOnceSilently)
{
    const long first = StartMonitor();
    const long second = static_cast<long>(testing_support::started_pid(phone_->ok({"run", kMonitor})));
    const json exit = ExitOf(second);
    ASSERT_FALSE(exit.is_null());
    EXPECT_EQ(exit["code"], 0);
    for (const auto& e : phone_->events()) {
        if (e["pid"] == second) {
            EXPECT_NE(e["event"], "playsound");
            EXPECT_NE(e["event"], "messagebox");
        }
    }

    // The first one outlived the second: a call message sent only once the
    // second had ended still reaches it and gets its start signal.
    phone_->ok({"post", "--process", "CallTicker.exe", "WM_CALL_CONNECTED"});
    const json chime = phone_->wait_for("waveout.write", [first](const json& e) { return e["pid"] == first; });
    ASSERT_FALSE(chime.is_null());
    EXPECT_GT(chime["t"].get<double>(), exit["t"].get<double>());
}

TEST_F(MonitorProcess, DefaultVoiceCallGivesEverySignalInOrder)
{
    const long pid = StartMonitor();
    phone_->ok({"call", "talk", "130"});
    ASSERT_FALSE(phone_->wait_for("waveout.write", [pid](const json& e) {
                            return e["pid"] == pid && e["bytes"] == onoff_sound().bytes && e["t"] > 60000;
                        }, 20).is_null());

    const auto writes = Writes(pid);
    ASSERT_GE(writes.size(), 4u);
    const double start = writes.front()["t"];
    EXPECT_EQ(writes.front()["bytes"], onoff_sound().bytes);
    // The timers count from the end of the start signal: they are armed once
    // it has played.
    double start_ended = -1;
    for (const auto& e : phone_->events("timer.set"))
        if (e["pid"] == pid && e["id"] == IDT_REGULAR_SIGNAL && start_ended < 0)
            start_ended = e["t"];
    EXPECT_GE(start_ended, start + onoff_sound().ms);
    // Periodic beeps 55 s and 115 s after the start signal ended.
    std::vector<double> beeps;
    for (const auto& w : writes)
        if (w["bytes"] == regular_sound().bytes)
            beeps.push_back(w["t"]);
    ASSERT_EQ(beeps.size(), 2u);
    EXPECT_NEAR(beeps[0], start_ended + 55000, kTimingSlack);
    EXPECT_NEAR(beeps[1], start_ended + 115000, kTimingSlack);

    // The start chime keeps the volume and goes to the loudspeaker; the beep
    // is at full volume.
    bool forced = false, volume_before_start = false;
    std::vector<long> volumes;
    for (const auto& e : phone_->events()) {
        if (e["pid"] != pid)
            continue;
        if (e["event"] == "waveout.message" && e["msg"] == MM_WOM_FORCESPEAKER && e["t"] <= start)
            forced = true;
        if (e["event"] == "waveout.volume") {
            volumes.push_back(e["volume"]);
            if (e["t"] <= start)
                volume_before_start = true;
        }
    }
    EXPECT_TRUE(forced);
    EXPECT_FALSE(volume_before_start);
    EXPECT_EQ(volumes, (std::vector<long>{0xFFFF, 0xFFFF}));

    // Backlight off 5 s after the start signal, on again before the end chime.
    std::vector<json> backlight;
    for (auto& e : phone_->events("backlight"))
        if (e["pid"] == pid)
            backlight.push_back(e);
    ASSERT_EQ(backlight.size(), 3u);
    EXPECT_EQ(backlight[0]["state"], "D4");
    EXPECT_NEAR(backlight[0]["t"].get<double>(), start_ended + 5000, kTimingSlack);
    EXPECT_EQ(backlight[1]["state"], "D0");
    EXPECT_EQ(backlight[2]["state"], "PwrDeviceUnspecified");
    EXPECT_LE(backlight[2]["t"].get<double>(), writes.back()["t"].get<double>());
    EXPECT_EQ(writes.back()["bytes"], onoff_sound().bytes);
}

TEST_F(MonitorProcess, QuitMessageDuringACallEndsTheCallThenTheProgram)
{
    const long pid = StartMonitor();
    phone_->ok({"post", "--process", "CallTicker.exe", "WM_QUIT"});
    const std::string call = phone_->ok({"call", "incoming"});
    const std::string id = call.substr(0, call.find_first_of(" \n"));
    phone_->ok({"call", "answer", id});
    ASSERT_FALSE(phone_->wait_for("backlight", [pid](const json& e) { return e["pid"] == pid; }).is_null());

    phone_->ok({"post", "--process", "CallTicker.exe", "WM_MONITOR_QUIT"});
    const json exit = ExitOf(pid);
    ASSERT_FALSE(exit.is_null());
    EXPECT_EQ(exit["code"], 0);

    // Quit sound first, then the call's end: backlight back on, end chime.
    std::vector<std::string> order;
    bool started = false;
    for (const auto& e : phone_->events()) {
        if (e["pid"] != pid)
            continue;
        if (!started) {
            started = e["event"] == "playsound"; // the start-up sound
            continue;
        }
        if (e["event"] == "playsound" || e["event"] == "waveout.write" || e["event"] == "backlight")
            order.push_back(e["event"].get<std::string>() + (e.contains("state") ? ":" + e["state"].get<std::string>() : ""));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"waveout.write", "backlight:D4", "playsound", "backlight:D0",
                                               "backlight:PwrDeviceUnspecified", "waveout.write"}));
}

TEST_F(MonitorProcess, WatcherThatCannotStartIsReportedThenTheMonitorEnds)
{
    json config = json::parse(std::ifstream(dir_ / "device.json"));
    config["faults"] = {{"CallTicker.exe", {{"CreateThread", "fail"}}}};
    std::ofstream(dir_ / "device.json") << config.dump();

    const long pid = static_cast<long>(testing_support::started_pid(phone_->ok({"run", kMonitor})));
    const json box = phone_->wait_for("messagebox", [pid](const json& e) { return e["pid"] == pid; });
    ASSERT_FALSE(box.is_null());
    EXPECT_EQ(box["text"], "Failed to initialize TAPI.");
    EXPECT_EQ(box["caption"], "CallTicker");
    EXPECT_EQ(box["type"], MB_OK | MB_ICONHAND);

    // It waits for the user: once a key that does not close the box has
    // reached the monitor, the box is still open and the monitor still runs.
    phone_->ok({"key", "UP"});
    ASSERT_FALSE(phone_->wait_for("key", [pid](const json& e) { return e["pid"] == pid && e["key"] == "UP"; })
                     .is_null());
    for (const auto& e : phone_->events()) {
        if (e["pid"] == pid) {
            EXPECT_NE(e["event"], "messagebox.end");
            EXPECT_NE(e["event"], "process.exit");
        }
    }

    phone_->ok({"key", "RETURN"});
    const json exit = ExitOf(pid);
    ASSERT_FALSE(exit.is_null());
    EXPECT_EQ(exit["code"], 0);
    for (const auto& e : phone_->events("playsound"))
        EXPECT_NE(e["pid"], pid);
}

TEST_F(MonitorProcess, StartsAndQuitsWithoutAnyLine)
{
    json config = json::parse(std::ifstream(dir_ / "device.json"));
    config["lines"] = json::array();
    std::ofstream(dir_ / "device.json") << config.dump();

    const long pid = StartMonitor(false);
    phone_->ok({"post", "--process", "CallTicker.exe", "WM_MONITOR_QUIT"});
    const json exit = ExitOf(pid);
    ASSERT_FALSE(exit.is_null());
    EXPECT_EQ(exit["code"], 0);
    EXPECT_TRUE(phone_->events("messagebox").empty());
}

} // namespace
