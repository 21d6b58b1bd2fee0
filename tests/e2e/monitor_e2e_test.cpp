// CallTicker.exe as a real process on a device driven through the phone
// tool, at a high clock rate; everything is read back from the event log.
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

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

// A signal as `phone log` tells it: its call, its call time in seconds and
// its role ("start", "periodic", "end").
struct ToldSignal {
    int call;
    double at;
    std::string role;
};

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

    std::vector<ToldSignal> SignalsInTheLog() const
    {
        const std::string story = phone_->ok({"log"});
        const std::regex line(R"(call (\d+) (\d+):(\d\d\.\d{3})\s+CallTicker\.exe\s+(start|periodic|end) signal)");
        std::vector<ToldSignal> told;
        for (std::sregex_iterator it(story.begin(), story.end(), line), end; it != end; ++it)
            told.push_back({std::stoi((*it)[1]), std::stoi((*it)[2]) * 60 + std::stod((*it)[3]), (*it)[4]});
        return told;
    }

    // What the monitor's main thread was handling when it wrote each sound.
    std::vector<std::pair<unsigned, unsigned>> HandlingOfWrites(long pid) const
    {
        std::vector<std::pair<unsigned, unsigned>> handled;
        for (const auto& e : Writes(pid))
            handled.emplace_back(e.value("handling", 0u), e.value("handling_wparam", 0u));
        return handled;
    }

    std::filesystem::path dir_;
    std::unique_ptr<Phone> phone_;
};

// Device ms of each call's first CONNECTED, from the raw log.
std::map<int, double> FirstConnections(const Phone& phone)
{
    std::map<int, double> first;
    for (const auto& e : phone.events("call"))
        if (e["state"] == "LINECALLSTATE_CONNECTED")
            first.emplace(e["call"].get<int>(), e["t"].get<double>());
    return first;
}

// The told signals are the monitor's sound writes, in order, each on the
// expected call with that call's time from its first connection.
void ExpectSignals(const std::vector<ToldSignal>& told, const std::vector<json>& writes,
                   const std::map<int, double>& connected,
                   const std::vector<std::pair<int, std::string>>& expected)
{
    ASSERT_EQ(told.size(), expected.size());
    ASSERT_EQ(writes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(told[i].call, expected[i].first) << "signal " << i;
        EXPECT_EQ(told[i].role, expected[i].second) << "signal " << i;
        const double at = (writes[i]["t"].get<double>() - connected.at(expected[i].first)) / 1000;
        EXPECT_NEAR(told[i].at, at, 0.0015) << "signal " << i;
    }
}

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

// A hold: the monitor acts on CONNECTED and DISCONNECTED only, so the beep
// during the hold is periodic, and the call's time runs on through it.
TEST_F(MonitorProcess, AHeldCallKeepsItsScheduleAndItsClock)
{
    const long pid = StartMonitor();
    phone_->ok({"call", "incoming"});
    phone_->ok({"call", "answer", "1"});
    phone_->ok({"wait", "20"});
    phone_->ok({"call", "hold", "1"});
    phone_->ok({"wait", "60"});
    phone_->ok({"call", "resume", "1"});
    phone_->ok({"wait", "50"});
    phone_->ok({"call", "drop", "1"});
    ASSERT_FALSE(phone_->wait_for("window.destroy", [pid](const json& e) { return e["pid"] == pid; }).is_null());

    using Handled = std::vector<std::pair<unsigned, unsigned>>;
    EXPECT_EQ(HandlingOfWrites(pid), (Handled{{WM_CALL_CONNECTED, 0},
                                              {WM_TIMER, IDT_REGULAR_SIGNAL},
                                              {WM_TIMER, IDT_REGULAR_SIGNAL},
                                              {WM_CALL_ENDED, 0}}));
    // The audio system's thread logs each sound's end with what its writer was handling.
    std::vector<unsigned> done;
    for (const auto& e : phone_->events("waveout.done"))
        if (e["pid"] == pid)
            done.push_back(e.value("handling", 0u));
    EXPECT_EQ(done, (std::vector<unsigned>{WM_CALL_CONNECTED, WM_TIMER, WM_TIMER, WM_CALL_ENDED}));
    ExpectSignals(SignalsInTheLog(), Writes(pid), FirstConnections(*phone_),
                  {{1, "start"}, {1, "periodic"}, {1, "periodic"}, {1, "end"}});
    // The first beep came during the hold.
    double held = 0, resumed = 0;
    for (const auto& e : phone_->events("call"))
        if (e["state"] == "LINECALLSTATE_ONHOLD")
            held = e["t"];
        else if (e["state"] == "LINECALLSTATE_CONNECTED")
            resumed = e["t"];
    const double beep = Writes(pid)[1]["t"];
    EXPECT_GT(beep, held);
    EXPECT_LT(beep, resumed);
}

// Call waiting: answering call 2 holds call 1; ending call 2 ends the
// monitor's schedule (its own behaviour) with the end chime on call 2;
// resuming call 1 starts the schedule again.  The log and the timeline put
// each signal on its call, once.
TEST_F(MonitorProcess, AWaitingCallAnsweredHoldsTheFirstAndEachSignalIsOnItsCall)
{
    const long pid = StartMonitor();
    phone_->ok({"call", "incoming"});
    phone_->ok({"call", "answer"});
    phone_->ok({"wait", "20"});
    phone_->ok({"call", "incoming", "--number", "5550100"});
    phone_->ok({"call", "answer", "2"});
    const json status = json::parse(phone_->ok({"status", "--json"}));
    ASSERT_EQ(status["calls"].size(), 2u);
    EXPECT_EQ(status["calls"][0]["state"], "LINECALLSTATE_ONHOLD");
    EXPECT_EQ(status["calls"][1]["state"], "LINECALLSTATE_CONNECTED");
    phone_->ok({"wait", "60"});
    phone_->ok({"call", "drop", "2"});
    phone_->ok({"wait", "10"});
    phone_->ok({"call", "resume", "1"});
    phone_->ok({"wait", "20"});
    phone_->ok({"call", "drop", "1"});
    const double dropped = phone_->events("call").back()["t"];
    ASSERT_FALSE(phone_
                     ->wait_for("window.destroy",
                                [&](const json& e) { return e["pid"] == pid && e["t"].get<double>() > dropped; })
                     .is_null());

    ExpectSignals(SignalsInTheLog(), Writes(pid), FirstConnections(*phone_),
                  {{1, "start"}, {2, "periodic"}, {2, "end"}, {1, "start"}, {1, "end"}});
    EXPECT_NE(phone_->ok({"log"}).find("the monitor's schedule starts again for call 1"), std::string::npos);

    const auto svg = dir_ / "calls.svg";
    phone_->ok({"timeline", "--out", svg.string()});
    std::ifstream in(svg);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const std::string open = "<metadata id=\"callticker-timeline\"><![CDATA[";
    const size_t from = text.find(open);
    ASSERT_NE(from, std::string::npos);
    const json shown = json::parse(text.substr(from + open.size(), text.find("]]>", from) - from - open.size()));
    ASSERT_EQ(shown["calls"].size(), 2u);
    std::vector<std::string> roles[2];
    for (int row = 0; row < 2; ++row)
        for (const auto& signal : shown["calls"][row]["signals"])
            roles[row].push_back(signal["role"]);
    EXPECT_EQ(shown["calls"][0]["call"], 1);
    EXPECT_EQ(roles[0], (std::vector<std::string>{"start signal", "start signal", "end signal"}));
    EXPECT_EQ(shown["calls"][1]["call"], 2);
    EXPECT_EQ(shown["calls"][1]["number"], "5550100");
    EXPECT_EQ(roles[1], (std::vector<std::string>{"periodic signal", "end signal"}));
    // The beep announces its own schedule's minute: its lead time ahead.
    const json& beep = shown["calls"][1]["signals"][0];
    ASSERT_TRUE(beep.contains("announces"));
}

} // namespace
