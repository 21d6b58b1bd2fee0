// Calls rebuilt from event logs shaped as the monitor and the radio write
// them: which signals belong to which call, at what call time and in which
// role (from the message the monitor was handling), the dark spans, the
// monitor's schedules, and the settings in force at each connection.
#include <gtest/gtest.h>

#include <windows.h>

#include "log/call_history.h"
#include "monitor.h"

using nlohmann::json;
using phone::call_history;
using phone::SignalKind;
using phone::SignalRole;

namespace {

constexpr long kMonitor = 300;
constexpr long kPhone = 400;
constexpr long kWindow = 1234;

class Log {
public:
    Log& at(double t) { t_ = t; return *this; }
    // What the monitor's main thread handles from here on.
    Log& handling(unsigned message, unsigned wparam = 0)
    {
        handling_ = {{"handling", message}, {"handling_wparam", wparam}};
        return *this;
    }
    Log& connected() { return handling(WM_CALL_CONNECTED); }
    Log& periodic() { return handling(WM_TIMER, IDT_REGULAR_SIGNAL); }
    Log& screen_off() { return handling(WM_TIMER, IDT_SCREEN_OFF); }
    Log& ended() { return handling(WM_CALL_ENDED); }

    Log& add(const std::string& name, json fields, long pid = kMonitor)
    {
        fields["t"] = t_;
        fields["pid"] = pid;
        fields["exe"] = pid == kMonitor ? "CallTicker.exe" : "phone";
        fields["event"] = name;
        if (pid == kMonitor)
            fields.update(handling_);
        events_.push_back(fields);
        return *this;
    }

    Log& call(unsigned id, const std::string& state, unsigned media = 4)
    {
        return add("call", {{"call", id}, {"line", 0}, {"state", "LINECALLSTATE_" + state}, {"media", media}}, kPhone);
    }
    Log& window(const std::string& what, long hwnd = kWindow)
    {
        return add("window." + what, {{"hwnd", hwnd}, {"class", "CallTickerWndClass"}, {"title", ""}});
    }
    Log& timer(int id, int ms, long hwnd = kWindow) { return add("timer.set", {{"hwnd", hwnd}, {"id", id}, {"ms", ms}}); }
    Log& sound(bool speaker, double ms) { return add("waveout.write", {{"bytes", 100}, {"ms", ms}, {"speaker", speaker}, {"volume", 65535}}); }
    Log& led(bool on) { return add("led", {{"led", 1}, {"on", on}}); }
    Log& backlight(const std::string& state) { return add("backlight", {{"device", "BKL1:"}, {"state", state}, {"flags", 4097}}); }
    Log& setting(const std::string& name, int64_t data, long pid = kPhone)
    {
        return add("reg.set", {{"key", "HKLM\\Software\\Apps\\CallTicker"}, {"value", name}, {"type", "REG_DWORD"}, {"data", data}}, pid);
    }

    const std::vector<json>& events() const { return events_; }

private:
    double t_ = 0;
    json handling_ = json::object();
    std::vector<json> events_;
};

// A call as the monitor times it with the defaults: start chime, timers
// armed after it, the screen dark after 5 s, a beep 5 s before each minute,
// the backlight back on and the end chime after the disconnection.
Log DefaultCall(double connected, unsigned id = 1)
{
    Log log;
    log.at(connected).call(id, "OFFERING").call(id, "CONNECTED");
    log.at(connected + 20).connected().window("create");
    log.at(connected + 30).sound(true, 791);
    log.at(connected + 830).timer(2, 55000).timer(3, 5000);
    log.at(connected + 5830).screen_off().backlight("D4");
    log.at(connected + 60830).periodic().timer(2, 60000).sound(false, 313);
    log.at(connected + 90000).call(id, "DISCONNECTED");
    log.at(connected + 90020).ended().backlight("D0").backlight("PwrDeviceUnspecified");
    log.at(connected + 90100).call(id, "IDLE");
    log.at(connected + 90120).sound(true, 791);
    log.at(connected + 90930).window("destroy");
    return log;
}

TEST(CallHistory, SignalsDarkSpansAndRolesOfOneCall)
{
    const auto calls = call_history(DefaultCall(10000).events());
    ASSERT_EQ(calls.size(), 1u);
    const auto& call = calls[0];
    EXPECT_TRUE(call.voice());
    EXPECT_TRUE(call.ended);
    EXPECT_DOUBLE_EQ(call.connected_at, 10000);
    EXPECT_DOUBLE_EQ(call.duration, 90000);
    ASSERT_EQ(call.schedules.size(), 1u);
    EXPECT_TRUE(call.schedules[0].armed);
    EXPECT_DOUBLE_EQ(call.schedules[0].timed_from, 830);
    // The end signal comes after the call went idle: its schedule runs to it.
    EXPECT_DOUBLE_EQ(call.schedules[0].to, 90930);

    ASSERT_EQ(call.signals.size(), 3u);
    EXPECT_EQ(call.signals[0].kind, SignalKind::Chime);
    EXPECT_EQ(call.signals[0].role, SignalRole::Start);
    EXPECT_DOUBLE_EQ(call.signals[0].at, 30);
    EXPECT_EQ(call.signals[1].kind, SignalKind::Beep);
    EXPECT_EQ(call.signals[1].role, SignalRole::Periodic);
    EXPECT_DOUBLE_EQ(call.signals[1].at, 60830);
    EXPECT_DOUBLE_EQ(call.signals[1].length, 313);
    EXPECT_EQ(call.signals[2].kind, SignalKind::Chime);
    EXPECT_EQ(call.signals[2].role, SignalRole::End);

    ASSERT_EQ(call.dark.size(), 1u);
    EXPECT_DOUBLE_EQ(call.dark[0].from, 5830);
    EXPECT_DOUBLE_EQ(call.dark[0].to, 90000) << "shown up to the call's end";
    EXPECT_TRUE(call.held.empty());
}

TEST(CallHistory, EachCallHasTheSettingsStoredBeforeItWasConnected)
{
    Log log = DefaultCall(0);
    log.at(100000).setting("RegularSoundType", 2).setting("regularsounddelay", 0).setting("TurnOffScr", 0);
    log.setting("RegularSoundBefore", 0xFFFFFFFF);
    auto second = DefaultCall(200000, 2).events();
    auto events = log.events();
    events.insert(events.end(), second.begin(), second.end());
    Log late;
    late.at(400000).setting("OnSoundType", 0);
    events.push_back(late.events()[0]);

    const auto calls = call_history(events);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].settings.regular_type, 1);
    EXPECT_EQ(calls[0].settings.interval_ms(), 60000);
    EXPECT_EQ(calls[0].settings.screen_off_ms(), 5000);
    EXPECT_EQ(calls[1].settings.regular_type, 2);
    EXPECT_EQ(calls[1].settings.interval_ms(), 30000);
    EXPECT_EQ(calls[1].settings.screen_off_ms(), -1);
    // 0xFFFFFFFF reads as -1, outside the table: the monitor's default.
    EXPECT_EQ(calls[1].settings.before_index, -1);
    EXPECT_EQ(calls[1].settings.lead_ms(), 5000);
    EXPECT_EQ(calls[1].settings.on_type, 1);
}

TEST(CallHistory, VibrationsHoldsAndCallsTheMonitorDoesNotTime)
{
    Log log;
    log.at(0).call(1, "CONNECTED", 8); // a data call: not timed
    log.at(1000).call(2, "OFFERING").call(2, "CONNECTED");
    log.at(1010).connected().window("create").led(true);
    log.at(1410).led(false).timer(2, 25000);
    log.at(5000).call(2, "ONHOLD");
    log.at(9000).call(2, "CONNECTED");
    log.at(26010).periodic().timer(2, 30000).led(true);
    log.at(26410).led(false);
    log.at(40000).call(1, "DISCONNECTED");
    log.at(40010).ended().window("destroy");
    log.at(41000).call(3, "OFFERING").call(3, "IDLE"); // never connected

    const auto calls = call_history(log.events());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_FALSE(calls[0].voice());
    EXPECT_TRUE(calls[0].signals.empty());
    EXPECT_DOUBLE_EQ(calls[0].duration, 40000);

    const auto& voice = calls[1];
    EXPECT_FALSE(voice.ended);
    EXPECT_DOUBLE_EQ(voice.duration, 40000);
    ASSERT_EQ(voice.held.size(), 1u);
    EXPECT_DOUBLE_EQ(voice.held[0].from, 4000);
    EXPECT_DOUBLE_EQ(voice.held[0].to, 8000);
    ASSERT_EQ(voice.signals.size(), 2u);
    EXPECT_EQ(voice.signals[0].kind, SignalKind::Vibration);
    EXPECT_EQ(voice.signals[0].role, SignalRole::Start);
    EXPECT_DOUBLE_EQ(voice.signals[0].length, 400);
    EXPECT_EQ(voice.signals[1].role, SignalRole::Periodic);
    EXPECT_DOUBLE_EQ(voice.signals[1].at, 25010);
}

TEST(CallHistory, SoundsOutsideATimedCallAndBootsKeepCallsApart)
{
    Log log;
    log.at(0).add("playsound", {{"resource", 101}, {"ms", 791}});
    log.at(50).sound(true, 791); // given in no step of a call: no signal
    log.at(1000).call(1, "CONNECTED");
    log.at(1020).connected().window("create").sound(true, 791);
    log.at(30000).setting("Enabled", 0, kMonitor);
    // A soft reset: the clock starts again and call ids with it.
    log.at(100).add("process.start", {{"path", "x"}});
    log.at(2000).call(1, "CONNECTED");
    log.at(3000).call(1, "DISCONNECTED");

    const auto calls = call_history(log.events());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_FALSE(calls[0].ended);
    EXPECT_DOUBLE_EQ(calls[0].duration, 29000);
    ASSERT_EQ(calls[0].signals.size(), 1u);
    EXPECT_TRUE(calls[1].ended);
    EXPECT_DOUBLE_EQ(calls[1].duration, 1000);
    EXPECT_TRUE(calls[1].signals.empty());
    EXPECT_FALSE(calls[1].settings.enabled);
}

// Call waiting: call 1 is held while call 2 is answered; the schedule begun
// for call 1 runs on into call 2 and ends with it; resuming call 1 starts
// the schedule again.  Each signal is on the call that made the monitor
// give it, in that call's own time, and announces its own schedule's interval.
TEST(CallHistory, CallWaitingPutsEachSignalOnItsCallAndRestartsTheSchedule)
{
    Log log;
    log.at(0).call(1, "OFFERING").call(1, "CONNECTED");
    log.at(20).connected().window("create").sound(true, 791);
    log.at(830).timer(2, 55000);
    log.at(40000).add("call", {{"call", 2}, {"line", 0}, {"state", "LINECALLSTATE_OFFERING"}, {"media", 4}, {"number", "5550100"}}, kPhone);
    log.at(50000).call(1, "ONHOLD");
    log.add("call", {{"call", 2}, {"line", 0}, {"state", "LINECALLSTATE_CONNECTED"}, {"media", 4}, {"number", "5550100"}}, kPhone);
    log.at(55830).periodic().timer(2, 60000).sound(false, 313);
    log.at(80000).call(2, "DISCONNECTED").call(2, "IDLE");
    log.at(80020).ended().sound(true, 791);
    log.at(80830).window("destroy");
    log.at(90000).call(1, "CONNECTED");
    log.at(90020).connected().window("create").sound(true, 791);
    log.at(90830).timer(2, 55000);
    log.at(100000).call(1, "DISCONNECTED").call(1, "IDLE");
    log.at(100020).ended().sound(true, 791);
    log.at(100830).window("destroy");

    const auto calls = call_history(log.events());
    ASSERT_EQ(calls.size(), 2u);
    const auto& first = calls[0];
    EXPECT_DOUBLE_EQ(first.duration, 100000);
    ASSERT_EQ(first.held.size(), 1u);
    EXPECT_DOUBLE_EQ(first.held[0].from, 50000);
    EXPECT_DOUBLE_EQ(first.held[0].to, 90000);
    ASSERT_EQ(first.signals.size(), 3u);
    EXPECT_EQ(first.signals[0].role, SignalRole::Start);
    EXPECT_EQ(first.signals[1].role, SignalRole::Start);
    EXPECT_DOUBLE_EQ(first.signals[1].at, 90020);
    EXPECT_EQ(first.signals[2].role, SignalRole::End);
    ASSERT_EQ(first.schedules.size(), 2u);
    EXPECT_FALSE(first.schedules[0].restart);
    EXPECT_DOUBLE_EQ(first.schedules[0].to, 80830);
    EXPECT_TRUE(first.schedules[1].restart);
    EXPECT_DOUBLE_EQ(first.schedules[1].timed_from, 90830);
    EXPECT_EQ(first.signals[1].schedule, 1);

    const auto& second = calls[1];
    EXPECT_EQ(second.number, "5550100");
    ASSERT_EQ(second.signals.size(), 2u);
    EXPECT_EQ(second.signals[0].role, SignalRole::Periodic);
    EXPECT_DOUBLE_EQ(second.signals[0].at, 5830);
    EXPECT_EQ(second.signals[1].role, SignalRole::End);
    EXPECT_DOUBLE_EQ(second.signals[1].at, 30020);
    ASSERT_EQ(second.schedules.size(), 1u);
    EXPECT_DOUBLE_EQ(second.schedules[0].from, 0);
    EXPECT_DOUBLE_EQ(second.schedules[0].timed_from, 830 - 50000);
    EXPECT_DOUBLE_EQ(second.schedules[0].to, 30830);
}

TEST(CallHistory, CallTimeReadsAsMinutesSecondsAndTenths)
{
    EXPECT_EQ(phone::call_time(0), "0:00.0");
    EXPECT_EQ(phone::call_time(55012.345), "0:55.0");
    EXPECT_EQ(phone::call_time(59960), "1:00.0");
    EXPECT_EQ(phone::call_time(725300), "12:05.3");
    EXPECT_EQ(phone::call_time(-5), "0:00.0");
}

} // namespace
