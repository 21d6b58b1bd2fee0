// The event log in words.  Every event the device logs has its sentence; an
// event this file does not know yet is still shown, with its fields, so the
// readable log never hides anything the raw one has.
#include "log/story.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include <windows.h>
#include <mmsystem.h>
#include <tapi.h>

#include "log/event_words.h"
#include "parsing.h"
#include "monitor.h"
#include "tapi/names.h"

namespace phone {

using nlohmann::json;
using namespace event_words;

std::string device_time(double ms)
{
    if (!std::isfinite(ms) || ms < 0)
        ms = 0;
    ms = std::min(ms, 1e15); // some 30 000 years: past any device's uptime, within long long
    const auto total = static_cast<long long>(std::llround(ms));
    const long long hours = total / 3'600'000, minutes = total / 60'000 % 60, seconds = total / 1000 % 60,
                    millis = total % 1000;
    char text[48];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", hours, minutes, seconds, millis);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", minutes, seconds, millis);
    return text;
}

std::string volume_words(uint32_t volume, unsigned channels)
{
    const uint32_t left = volume & 0xFFFF, right = volume >> 16;
    if (channels != 2 || left == right)
        return percent(left);
    return "left " + percent(left) + ", right " + percent(right);
}

std::string volume_percent(uint32_t volume, unsigned channels)
{
    const auto share = [](uint32_t level) { return std::to_string(std::lround(level * 100.0 / 0xFFFF)) + "%"; };
    const uint32_t left = volume & 0xFFFF, right = volume >> 16;
    if (channels != 2 || left == right)
        return share(left);
    return "left " + share(left) + ", right " + share(right);
}

namespace {

// One event's sentence.  Handlers that remember something say so in
// StoryMemory; the rest read the event alone.
using Handler = std::string (*)(StoryMemory&, const json&);

bool is_timer_window(const json& event)
{
    return from_monitor(event) && text_of(event, "class") == "CallTickerWndClass";
}

std::string role_prefix(const json& event)
{
    const auto role = signal_role(event);
    return role ? std::string(signal_role_name(*role)) + ": " : "";
}

std::string process_start(StoryMemory&, const json& event)
{
    return "started: " + text_of(event, "path") +
           (text_of(event, "cmdline").empty() ? "" : " " + text_of(event, "cmdline"));
}

std::string process_exit(StoryMemory&, const json& event)
{
    return "ended (exit code " + text_of(event, "code") + ")";
}

std::string call_change(StoryMemory&, const json& event)
{
    const std::string state = text_of(event, "state");
    std::string text = "call " + std::to_string(number_of(event, "call")) + " " + call_state_words(state);
    if (event.contains("number") && event["number"].is_string() && !event["number"].get<std::string>().empty())
        text += (state == "LINECALLSTATE_OFFERING" ? " from " : " ") + event["number"].get<std::string>();
    return text + " (line " + text_of(event, "line") + ", " + media_words(number_of(event, "media")) + ")";
}

// The role comes from what the monitor was handling: a periodic signal is
// its beep, a start or end signal its chime.
std::string sound_written(StoryMemory& memory, const json& event)
{
    const auto role = signal_role(event);
    const long pid = static_cast<long>(number_of(event, "pid"));
    const unsigned channels = memory.channels.count(pid) ? memory.channels[pid] : 1;
    const std::string sound = !role ? "sound" : *role == SignalRole::Periodic ? "beep" : "chime";
    std::string text = role_prefix(event) + sound + ", " + ms_words(event);
    if (event.contains("volume"))
        text += ", " + volume_words(static_cast<uint32_t>(number_of(event, "volume")), channels);
    if (flag(event, "speaker", false))
        text += ", loudspeaker";
    return text;
}

std::string led_change(StoryMemory&, const json& event)
{
    const uint64_t led = number_of(event, "led");
    const bool on = flag(event, "on", false);
    if (signal_role(event))
        return role_prefix(event) + "vibration (vibrator on)";
    const std::string what = led == 1 ? "vibrator" : "LED " + std::to_string(led);
    return what + (on ? flag(event, "blink", false) ? " blinking" : " on" : " off");
}

std::string backlight_change(StoryMemory&, const json& event) { return backlight_words(event); }

// The monitor's own start-up and quit sounds, outside any call's schedule.
std::string sound_played(StoryMemory&, const json& event)
{
    std::string role;
    if (from_monitor(event)) {
        const MonitorStep step = monitor_step(event);
        role = step == MonitorStep::StartUp ? "start-up signal: " : step == MonitorStep::Quit ? "quit signal: " : "";
    }
    const std::string sound = event.contains("resource") && event["resource"].is_number()
                                  ? "sound resource " + text_of(event, "resource")
                                  : "sound \"" + text_of(event, "resource") + "\"";
    return role + "plays " + sound + (flag(event, "found") ? "" : " (missing: the default sound instead)") + ", " +
           ms_words(event) + ", " + sound_flags(number_of(event, "flags"));
}

std::string wave_opened(StoryMemory& memory, const json& event)
{
    const long pid = static_cast<long>(number_of(event, "pid"));
    if (!flag(event, "ok"))
        return "sound output could not be opened";
    std::string format;
    if (event.contains("format") && event["format"].is_object()) {
        const json& f = event["format"];
        const auto channels = static_cast<unsigned>(number_of(f, "channels"));
        memory.channels[pid] = channels;
        format = ": " + std::to_string(number_of(f, "bits")) + "-bit " +
                 (channels == 2 ? "stereo" : channels == 1 ? "mono" : std::to_string(channels) + " channels") +
                 ", " + std::to_string(number_of(f, "rate")) + " Hz";
    }
    return "sound output opened" + format;
}

std::string wave_message(StoryMemory&, const json& event)
{
    const uint64_t msg = number_of(event, "msg"), param = number_of(event, "param");
    std::string text = msg == MM_WOM_SETSECONDARYGAINCLASS ? "sound in gain class " + std::to_string(param)
                       : msg == MM_WOM_FORCESPEAKER ? (param ? "sound to the loudspeaker" : "sound to the earpiece")
                                                    : "wave driver message " + hex(msg) + " (" + hex(param) + ")";
    return text + (flag(event, "ok") ? "" : " (not supported)");
}

std::string wave_volume(StoryMemory& memory, const json& event)
{
    const auto volume = static_cast<uint32_t>(number_of(event, "volume"));
    const long pid = static_cast<long>(number_of(event, "pid"));
    const bool stream = flag(event, "stream", false);
    return std::string(stream ? "this sound's" : "device") + " volume set to " +
           volume_words(volume, memory.channels.count(pid) ? memory.channels[pid] : 1) + " (" + hex(volume) + ")";
}

std::string wave_done(StoryMemory&, const json&) { return "sound played to its end"; }
std::string wave_reset(StoryMemory&, const json&) { return "sound stopped"; }
std::string wave_closed(StoryMemory&, const json&) { return "sound output closed"; }

std::string thread_post(StoryMemory&, const json& event)
{
    std::string text = "posts " + message_name(static_cast<uint32_t>(number_of(event, "msg")));
    if (number_of(event, "wparam") || number_of(event, "lparam"))
        text += " (" + hex(number_of(event, "wparam")) + ", " + hex(number_of(event, "lparam")) + ")";
    text += " to thread " + text_of(event, "tid");
    if (number_of(event, "to_pid"))
        text += " of process " + text_of(event, "to_pid");
    return text + (flag(event, "ok") ? "" : ": not delivered");
}

std::string timer_set(StoryMemory&, const json& event)
{
    return timer_name(event) + " set to " + device_time(real_of(event, "ms"));
}

std::string timer_kill(StoryMemory&, const json& event) { return timer_name(event) + " stopped"; }

std::string window_words(const json& event, const char* done)
{
    return std::string("window \"") + text_of(event, "title") + "\" (" + text_of(event, "class") + ", " +
           (flag(event, "visible", false) ? "visible" : "hidden") + ") " + done;
}

// The monitor's call timer window is its schedule: a second one for a call
// starts the intervals anew while the call's own time runs on.
std::string window_created(StoryMemory& memory, const json& event)
{
    if (!is_timer_window(event))
        return window_words(event, "created");
    memory.schedule_running = true;
    const auto call = memory.clocks.focus();
    if (!call)
        return "call timer window created: the monitor's schedule starts";
    const std::string id = std::to_string(*call);
    if (!memory.scheduled.insert(*call).second)
        return "call timer window created: the monitor's schedule starts again for call " + id +
               " (a new start signal; its intervals count anew, call " + id + "'s time runs on)";
    return "call timer window created: the monitor's schedule starts for call " + id;
}

std::string window_destroyed(StoryMemory& memory, const json& event)
{
    if (!is_timer_window(event))
        return window_words(event, "destroyed");
    memory.schedule_running = false;
    return "call timer window destroyed: the monitor's schedule ends";
}

std::string line_opened(StoryMemory&, const json& event)
{
    return flag(event, "ok") ? "watches line " + text_of(event, "line") : "could not open line " + text_of(event, "line");
}

std::string line_closed(StoryMemory&, const json& event) { return "stops watching line " + text_of(event, "line"); }

std::string registry_set(StoryMemory&, const json& event)
{
    return "registry: " + text_of(event, "key") + "\\" + text_of(event, "value") + " = " + text_of(event, "data") +
           " (" + text_of(event, "type") + ")";
}

std::string registry_created(StoryMemory&, const json& event)
{
    return "registry: key " + text_of(event, "key") + " created";
}

std::string registry_error(StoryMemory&, const json& event) { return "registry error: " + text_of(event, "message"); }

std::string message_box(StoryMemory&, const json& event)
{
    return "message box \"" + text_of(event, "caption") + "\": " + text_of(event, "text") + " (" +
           message_box_type(number_of(event, "type")) + ")";
}

std::string message_box_end(StoryMemory&, const json& event)
{
    return "message box closed: " + message_box_result(number_of(event, "result"));
}

std::string dialog_open(StoryMemory&, const json& event)
{
    return "dialog \"" + text_of(event, "title") + "\" opened (template " + text_of(event, "template") + ")";
}

std::string dialog_end(StoryMemory&, const json& event)
{
    // DialogBox's -1 is its failure, never a result a program passes.
    const auto result = event.find("result");
    if (result != event.end() && result->is_number_integer() && result->get<int64_t>() == -1)
        return "dialog failed: it ended without a result (-1)";
    return "dialog closed: " + dialog_result(text_of(event, "exe"), number_of(event, "result"));
}

std::string foreground(StoryMemory&, const json& event) { return "\"" + text_of(event, "title") + "\" comes to the front"; }
std::string tap(StoryMemory&, const json& event) { return "tap on " + text_of(event, "target"); }
std::string key(StoryMemory&, const json& event) { return "key " + text_of(event, "key") + " pressed"; }

std::string shell_execute(StoryMemory&, const json& event)
{
    return (flag(event, "ok") ? "starts " : "could not start ") + text_of(event, "file");
}

std::string channel_reject(StoryMemory&, const json& event)
{
    return "refused a message from another process: " + text_of(event, "reason");
}

const std::map<std::string, Handler>& handlers()
{
    static const std::map<std::string, Handler> table = {
        {"process.start", process_start},   {"process.exit", process_exit},
        {"call", call_change},              {"waveout.write", sound_written},
        {"led", led_change},                {"backlight", backlight_change},
        {"playsound", sound_played},        {"waveout.open", wave_opened},
        {"waveout.message", wave_message},  {"waveout.volume", wave_volume},
        {"waveout.done", wave_done},        {"waveout.reset", wave_reset},
        {"waveout.close", wave_closed},     {"thread.post", thread_post},
        {"timer.set", timer_set},           {"timer.kill", timer_kill},
        {"window.create", window_created},  {"window.destroy", window_destroyed},
        {"line.open", line_opened},         {"line.close", line_closed},
        {"reg.set", registry_set},          {"reg.create", registry_created},
        {"reg.error", registry_error},      {"messagebox", message_box},
        {"messagebox.end", message_box_end}, {"dialog.open", dialog_open},
        {"dialog.end", dialog_end},         {"foreground", foreground},
        {"tap", tap},                       {"shell.execute", shell_execute},
        {"key", key},                       {"channel.reject", channel_reject},
    };
    return table;
}

} // namespace

// A line belongs to the call it changes, or else to the call the monitor
// acts for while that call lasts, and to the end of its schedule after
// it has gone idle (the end signal comes after the call); otherwise to the
// call still going that was connected last.
std::optional<uint32_t> Story::call_of(const json& event) const
{
    const auto& clocks = memory_.clocks;
    if (text_of(event, "event") == "call") {
        const auto id = static_cast<uint32_t>(number_of(event, "call"));
        if (clocks.connected_at(id))
            return id;
    }
    const auto focus = clocks.focus();
    if (!focus)
        return std::nullopt;
    if (clocks.live(*focus))
        return focus;
    const MonitorStep step = monitor_step(event);
    if (memory_.schedule_running && (step == MonitorStep::CallEnded || step == MonitorStep::Quit))
        return focus;
    return clocks.latest_live();
}

Told Story::tell(const json& event)
{
    Told told;
    told.t = real_of(event, "t");
    told.exe = event.contains("exe") && event["exe"].is_string() ? event["exe"].get<std::string>() : "?";
    // A boot starts the clock, the calls and the programs again.
    if (told.t + 1000 < memory_.latest)
        memory_ = StoryMemory();
    memory_.latest = std::max(memory_.latest, told.t);
    memory_.clocks.add(event);
    told.call = call_of(event);
    if (told.call)
        told.call_time = told.t - *memory_.clocks.connected_at(*told.call);
    const auto handler = handlers().find(text_of(event, "event"));
    told.what = handler == handlers().end() ? fields_of(event) : handler->second(memory_, event);
    told.detail = is_detail(event);
    return told;
}

std::string Story::line(const json& event) { return format(tell(event)); }

std::string Story::format(const Told& told)
{
    char head[128];
    const std::string call =
        told.call && told.call_time ? "call " + std::to_string(*told.call) + " " + device_time(*told.call_time) : "";
    std::snprintf(head, sizeof head, "%10s  %-16s  %-17s  ", device_time(told.t).c_str(), call.c_str(),
                  told.exe.c_str());
    return head + told.what;
}

} // namespace phone
