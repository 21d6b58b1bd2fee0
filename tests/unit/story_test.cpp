// The event log told in words: times, the part a signal plays (from what the
// monitor was handling), the call a line belongs to and its time, names for
// numbers, and lines of another shape than the device writes.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include "monitor.h"
#include "log/story.h"

using nlohmann::json;
using phone::device_time;
using phone::Story;

namespace {

json event(double t, const std::string& name, json fields = json::object(), const std::string& exe = "CallTicker.exe")
{
    fields["t"] = t;
    fields["event"] = name;
    fields["exe"] = exe;
    fields["pid"] = 42;
    return fields;
}

json call(double t, const std::string& state, unsigned id = 1)
{
    return event(t, "call", {{"call", id}, {"line", 0}, {"state", "LINECALLSTATE_" + state}, {"media", 4}}, "phone");
}

// As the monitor's main thread logs it while handling `message`.
json handling(json logged, unsigned message, unsigned wparam = 0)
{
    logged["handling"] = message;
    logged["handling_wparam"] = wparam;
    return logged;
}

json sound(double t, uint32_t volume = 0x80008000)
{
    return event(t, "waveout.write", {{"bytes", 6904}, {"ms", 313.1}, {"volume", volume}, {"speaker", false}});
}

TEST(DeviceTime, MinutesSecondsAndMillisecondsThenHours)
{
    EXPECT_EQ(device_time(0), "0:00.000");
    EXPECT_EQ(device_time(55812), "0:55.812");
    EXPECT_EQ(device_time(130000.4), "2:10.000");
    EXPECT_EQ(device_time(3723004), "1:02:03.004");
    EXPECT_EQ(device_time(-5), "0:00.000");
}

// The monitor's main thread logs what it was handling; the story names a
// signal by it.  The call's time runs from its first connection through a
// hold, and the end signal after the call went idle is still the call's.
TEST(Story, SignalsAreNamedByWhatTheMonitorWasHandlingAndTheCallClockRunsThroughHolds)
{
    Story story;
    story.tell(call(1000, "CONNECTED"));
    story.tell(handling(event(1010, "window.create", {{"class", "CallTickerWndClass"}, {"title", ""}}), WM_CALL_CONNECTED));
    EXPECT_EQ(story.tell(handling(sound(1200), WM_CALL_CONNECTED)).what, "start signal: chime, 313 ms, volume 50%");
    story.tell(call(20000, "ONHOLD"));
    const auto held = story.tell(handling(sound(57000, 0xFFFF), WM_TIMER, IDT_REGULAR_SIGNAL));
    EXPECT_EQ(held.what, "periodic signal: beep, 313 ms, full volume");
    ASSERT_TRUE(held.call_time);
    EXPECT_EQ(*held.call_time, 56000);
    story.tell(call(60000, "CONNECTED"));
    EXPECT_EQ(*story.tell(handling(sound(117000, 0xFFFF), WM_TIMER, IDT_REGULAR_SIGNAL)).call_time, 116000);
    story.tell(call(130000, "DISCONNECTED"));
    story.tell(call(130000, "IDLE"));
    const auto end = story.tell(handling(sound(130100), WM_CALL_ENDED));
    EXPECT_EQ(end.what, "end signal: chime, 313 ms, volume 50%");
    EXPECT_EQ(Story::format(end).find("call 1 2:09.100"), 12u) << Story::format(end);
    story.tell(handling(event(131000, "window.destroy", {{"class", "CallTickerWndClass"}, {"title", ""}}), WM_CALL_ENDED));
    // A missed call, then a sound the monitor gives in no call step.
    story.tell(call(140000, "OFFERING", 2));
    story.tell(call(141000, "IDLE", 2));
    const auto after = story.tell(handling(sound(142000), WM_TIMER, IDT_SCREEN_OFF));
    EXPECT_EQ(after.what, "sound, 313 ms, volume 50%");
    EXPECT_FALSE(after.call_time);
}

// A second schedule for the same call is said in words; the call's time
// does not start again.
TEST(Story, AScheduleThatStartsAgainIsSaid)
{
    Story story;
    const json window = event(0, "window.create", {{"class", "CallTickerWndClass"}, {"title", ""}});
    story.tell(call(0, "CONNECTED"));
    EXPECT_EQ(story.tell(handling(window, WM_CALL_CONNECTED)).what,
              "call timer window created: the monitor's schedule starts for call 1");
    story.tell(call(9000, "CONNECTED", 2));
    story.tell(call(9000, "DISCONNECTED", 2));
    story.tell(handling(event(9100, "window.destroy", {{"class", "CallTickerWndClass"}, {"title", ""}}), WM_CALL_ENDED));
    story.tell(call(20000, "CONNECTED"));
    json again = window;
    again["t"] = 20010;
    const auto told = story.tell(handling(again, WM_CALL_CONNECTED));
    EXPECT_NE(told.what.find("starts again for call 1"), std::string::npos) << told.what;
    EXPECT_EQ(*told.call_time, 20010);
    // After a boot, call 1 is another call.
    story.tell(call(500, "CONNECTED"));
    again["t"] = 510;
    EXPECT_EQ(story.tell(handling(again, WM_CALL_CONNECTED)).what,
              "call timer window created: the monitor's schedule starts for call 1");
}

// The held call hung up by the other side ends the monitor's schedule while
// the other call goes on: that end signal is the held call's.
TEST(Story, AnEndSignalBelongsToTheCallThatWasDisconnected)
{
    Story story;
    story.tell(call(0, "CONNECTED"));
    story.tell(call(5000, "ONHOLD"));
    story.tell(call(5000, "CONNECTED", 2));
    story.tell(call(9000, "DISCONNECTED"));
    const auto end = story.tell(handling(sound(9100), WM_CALL_ENDED));
    EXPECT_EQ(end.call, 1u);
    EXPECT_EQ(*end.call_time, 9100);
    story.tell(call(9200, "IDLE"));
    EXPECT_EQ(story.tell(event(9300, "key", {{"key", "RETURN"}}, "phone")).call, 2u);
}

TEST(Story, WithoutAStartSignalTheFirstOneIsPeriodicAndVibrationsCount)
{
    Story story;
    story.tell(call(0, "CONNECTED"));
    EXPECT_EQ(story.tell(event(10, "timer.set", {{"id", IDT_REGULAR_SIGNAL}, {"ms", 55000}})).what,
              "periodic-signal timer set to 0:55.000");
    EXPECT_EQ(story.tell(handling(event(55000, "led", {{"led", 1}, {"on", true}}), WM_TIMER, IDT_REGULAR_SIGNAL)).what,
              "periodic signal: vibration (vibrator on)");
    EXPECT_EQ(story.tell(event(55400, "led", {{"led", 1}, {"on", false}})).what, "vibrator off");
    EXPECT_EQ(story.tell(event(55500, "timer.set", {{"id", 7}, {"ms", 10}}, "Other.exe")).what,
              "timer 7 set to 0:00.010");
}

TEST(Story, NumbersAreToldByName)
{
    Story story;
    EXPECT_EQ(story.tell(event(0, "thread.post", {{"msg", 1027}, {"wparam", 0}, {"lparam", 0}, {"tid", 7},
                                                  {"to_pid", 42}, {"ok", true}}, "CallTickerCfg.exe"))
                  .what,
              "posts WM_MONITOR_QUIT to thread 7 of process 42");
    EXPECT_EQ(story.tell(event(0, "waveout.message", {{"msg", MM_WOM_FORCESPEAKER}, {"param", 1}, {"ok", true}})).what,
              "sound to the loudspeaker");
    EXPECT_EQ(story.tell(event(0, "playsound", {{"resource", 101}, {"flags", SND_RESOURCE}, {"ms", 791.2},
                                                {"found", true}}))
                  .what,
              "start-up signal: plays sound resource 101, 791 ms, synchronous");
    story.tell(event(0, "waveout.open", {{"format", {{"channels", 2}, {"bits", 16}, {"rate", 8000}}}, {"ok", true}}));
    EXPECT_EQ(story.tell(event(0, "waveout.volume", {{"volume", 0x4000FFFF}, {"stream", true}})).what,
              "this sound's volume set to left full volume, right volume 25% (0x4000FFFF)");
    EXPECT_EQ(story.tell(event(0, "backlight", {{"device", "BKL1:"}, {"state", "D4"}, {"flags", 1}})).what,
              "screen off (backlight D4)");
    EXPECT_EQ(story.tell(event(0, "messagebox", {{"text", "Failed to initialize TAPI."}, {"caption", "CallTicker"},
                                                 {"type", MB_OK | MB_ICONEXCLAMATION}}))
                  .what,
              "message box \"CallTicker\": Failed to initialize TAPI. (OK, exclamation mark)");
    EXPECT_EQ(story.tell(event(0, "messagebox.end", {{"result", IDOK}})).what, "message box closed: OK");
    // A dialog's result as the program returned it, named where it has a name.
    EXPECT_EQ(story.tell(event(0, "dialog.end", {{"result", IDOK}}, "CallTickerCfg.exe")).what, "dialog closed: IDOK");
    EXPECT_EQ(story.tell(event(0, "dialog.end", {{"result", 0x800D}}, "CallTickerCfg.exe")).what,
              "dialog closed: IDM_OK (32781)");
    EXPECT_EQ(story.tell(event(0, "dialog.end", {{"result", 0x800D}}, "DialogProbe.exe")).what, "dialog closed: 32781");
    EXPECT_EQ(story.tell(event(0, "dialog.end", {{"result", -1}}, "DialogProbe.exe")).what,
              "dialog failed: it ended without a result (-1)");
    EXPECT_EQ(story.tell(event(0, "messagebox.end", {{"result", 0}})).what, "message box closed: no answer (0)");
}

TEST(Story, TheStepsUnderASoundAreDetailsUnlessTheyFailed)
{
    Story story;
    EXPECT_TRUE(story.tell(event(0, "waveout.open", {{"format", nullptr}, {"ok", true}})).detail);
    EXPECT_FALSE(story.tell(event(0, "waveout.open", {{"format", nullptr}, {"ok", false}})).detail);
    EXPECT_TRUE(story.tell(event(0, "waveout.volume", {{"volume", 0xFFFF}, {"stream", true}})).detail);
    EXPECT_FALSE(story.tell(event(0, "waveout.volume", {{"volume", 0xFFFF}, {"stream", false}})).detail);
    EXPECT_FALSE(story.tell(sound(0)).detail);
    EXPECT_FALSE(story.tell(event(0, "waveout.message", {{"msg", 0x999}, {"param", 0}, {"ok", false}})).detail);
}

TEST(Story, LinesOfAnotherShapeAreToldAsWellAsTheyCanBe)
{
    Story story;
    const auto told = story.tell(json{{"t", "soon"}, {"event", "call"}, {"state", 5}});
    EXPECT_EQ(told.t, 0);
    EXPECT_EQ(told.what.rfind("call 0 5 (line ?", 0), 0u) << told.what;
    EXPECT_EQ(story.tell(event(1, "custom.thing", {{"a", 1}, {"b", "x y"}})).what, "custom.thing  a=1  b=x y");
    const std::string line = story.line(json{{"event", 7}});
    EXPECT_NE(line.find("0:00.000"), std::string::npos);
    EXPECT_NE(line.find("?"), std::string::npos);
}

} // namespace
