// The event log in words.  Every event the device logs has its sentence; an
// event this file does not know yet is still shown, with its fields, so the
// readable log never hides anything the raw one has.
#include "story.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include <windows.h>
#include <mmsystem.h>
#include <tapi.h>

#include "parsing.h"
#include "monitor.h"
#include "../config/resource.h"
#include "tapi/names.h"

namespace phone {
namespace {

using nlohmann::json;

std::string text_of(const json& event, const char* field)
{
    if (!event.contains(field))
        return "?";
    const json& value = event[field];
    return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Fields are read leniently: a log line of another shape than the device
// writes is told as well as it can be, never a reason to stop.
uint64_t number_of(const json& event, const char* field)
{
    const auto it = event.find(field);
    if (it == event.end() || !it->is_number())
        return 0;
    if (it->is_number_unsigned())
        return it->get<uint64_t>();
    const double value = it->get<double>();
    return value > 0 && value < 1.8e19 ? static_cast<uint64_t>(value) : 0;
}

double real_of(const json& event, const char* field)
{
    const auto it = event.find(field);
    return it != event.end() && it->is_number() ? it->get<double>() : 0.0;
}

bool flag(const json& event, const char* field, bool otherwise = true)
{
    const auto it = event.find(field);
    return it != event.end() && it->is_boolean() ? it->get<bool>() : otherwise;
}

std::string ms_words(const json& event)
{
    const auto it = event.find("ms");
    if (it == event.end() || !it->is_number())
        return "";
    return std::to_string(std::lround(it->get<double>())) + " ms";
}

std::string hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string percent(uint32_t level)
{
    if (level == 0xFFFF)
        return "full volume";
    if (level == 0)
        return "muted";
    return "volume " + std::to_string(std::lround(level * 100.0 / 0xFFFF)) + "%";
}

// Everything an unknown event carries, so nothing is lost from sight.
std::string fields_of(const json& event)
{
    std::string text = text_of(event, "event");
    for (auto it = event.begin(); it != event.end(); ++it) {
        if (it.key() == "t" || it.key() == "exe" || it.key() == "pid" || it.key() == "event")
            continue;
        text += "  " + it.key() + "=" + text_of(event, it.key().c_str());
    }
    return text;
}

std::string sound_flags(uint64_t flags)
{
    if ((flags & SND_RESOURCE) == SND_RESOURCE)
        flags &= ~static_cast<uint64_t>(SND_RESOURCE);
    else if (flags & SND_FILENAME)
        flags &= ~static_cast<uint64_t>(SND_FILENAME);
    std::string text = flags & SND_ASYNC ? "asynchronous" : "synchronous";
    if (flags & SND_NODEFAULT)
        text += ", no default";
    if (flags & SND_LOOP)
        text += ", looped";
    return text;
}

std::string message_box_result(uint64_t result)
{
    switch (result) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return std::to_string(result);
    }
}

// A dialog's result as the program passed it to EndDialog: the name of a
// standard button's id, or of one of the settings program's own, else the
// number.  What the program did before it ended is for its other events.
std::string dialog_result(const std::string& exe, uint64_t result)
{
    static const std::map<uint64_t, std::string> standard = {
        {IDOK, "IDOK"},     {IDCANCEL, "IDCANCEL"}, {IDABORT, "IDABORT"}, {IDRETRY, "IDRETRY"},
        {IDIGNORE, "IDIGNORE"}, {IDYES, "IDYES"},   {IDNO, "IDNO"}};
    static const std::map<uint64_t, std::string> settings_program = {
        {IDM_OK, "IDM_OK"}, {IDM_DONE, "IDM_DONE"}, {WM_CLOSE, "WM_CLOSE"}};
    if (const auto it = standard.find(result); it != standard.end())
        return it->second;
    if (exe == "CallTickerCfg.exe")
        if (const auto it = settings_program.find(result); it != settings_program.end())
            return it->second + " (" + std::to_string(result) + ")";
    return std::to_string(result);
}

std::string message_box_type(uint64_t type)
{
    static const char* const buttons[] = {"OK", "OK, Cancel", "Abort, Retry, Ignore", "Yes, No, Cancel",
                                          "Yes, No", "Retry, Cancel"};
    const uint64_t set = type & MB_TYPEMASK;
    std::string text = set < std::size(buttons) ? buttons[set] : "buttons " + std::to_string(set);
    switch (type & 0xF0) {
    case MB_ICONHAND: return text + ", stop sign";
    case MB_ICONQUESTION: return text + ", question mark";
    case MB_ICONEXCLAMATION: return text + ", exclamation mark";
    case MB_ICONINFORMATION: return text + ", information sign";
    default: return text;
    }
}

std::string media_words(uint64_t media)
{
    if (media == LINEMEDIAMODE_INTERACTIVEVOICE)
        return "voice";
    return wince::tapi::media_modes_name(static_cast<uint32_t>(media));
}

std::string call_state_words(const std::string& state)
{
    static const std::map<std::string, std::string> words = {
        {"LINECALLSTATE_OFFERING", "incoming, ringing"},
        {"LINECALLSTATE_DIALING", "dialling"},
        {"LINECALLSTATE_RINGBACK", "ringing at the other end"},
        {"LINECALLSTATE_PROCEEDING", "proceeding"},
        {"LINECALLSTATE_CONNECTED", "connected"},
        {"LINECALLSTATE_ONHOLD", "on hold"},
        {"LINECALLSTATE_DISCONNECTED", "disconnected"},
        {"LINECALLSTATE_IDLE", "over, idle"},
        {"LINECALLSTATE_BUSY", "busy"},
    };
    const auto it = words.find(state);
    if (it != words.end())
        return it->second;
    const std::string prefix = "LINECALLSTATE_";
    return state.rfind(prefix, 0) == 0 ? state.substr(prefix.size()) : state;
}

// The monitor's two timers by what they are for; any other by its id.
std::string timer_name(const json& event)
{
    if (text_of(event, "exe") == "CallTicker.exe") {
        if (number_of(event, "id") == IDT_REGULAR_SIGNAL)
            return "periodic-signal timer";
        if (number_of(event, "id") == IDT_SCREEN_OFF)
            return "screen-off timer";
    }
    return "timer " + text_of(event, "id");
}

std::string backlight_words(const json& event)
{
    const std::string state = text_of(event, "state");
    if (state == "D4")
        return "screen off (backlight D4)";
    if (state == "D0")
        return "screen on (backlight D0)";
    if (state == "PwrDeviceUnspecified")
        return "backlight handed back to the system";
    return "backlight " + state;
}

// The steps under a signal that went as they should: the signal's own line
// says what was heard, at what volume, where.
bool is_detail(const json& event)
{
    const std::string name = text_of(event, "event");
    if (name == "waveout.done" || name == "waveout.close")
        return true;
    if (name == "waveout.open" || name == "waveout.message")
        return flag(event, "ok");
    return name == "waveout.volume" && flag(event, "stream", false);
}

} // namespace

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

// What a signal is, from where it falls in the calls: one given as a call
// connects, before the program arms its timers, starts it; the later ones
// are periodic; the one after the call, before the program is done with it
// (its call window goes), ends it.
std::string Story::signal_role()
{
    if (!connected_.empty()) {
        if (!start_given_) {
            start_given_ = true;
            return "start signal";
        }
        return "periodic signal";
    }
    if (end_pending_) {
        end_pending_ = false;
        return "end signal";
    }
    return "";
}

std::string Story::describe_call(const json& event)
{
    const auto id = static_cast<uint32_t>(number_of(event, "call"));
    const std::string state = text_of(event, "state");
    const double t = real_of(event, "t");
    if (state == "LINECALLSTATE_CONNECTED") {
        if (connected_.empty())
            start_given_ = end_pending_ = false;
        connected_.emplace(id, t);
    } else if (connected_.erase(id) && connected_.empty()) {
        end_pending_ = true;
    }
    std::string text = "call " + std::to_string(id) + " " + call_state_words(state);
    if (event.contains("number") && event["number"].is_string() && !event["number"].get<std::string>().empty())
        text += (state == "LINECALLSTATE_OFFERING" ? " from " : " ") + event["number"].get<std::string>();
    return text + " (line " + text_of(event, "line") + ", " + media_words(number_of(event, "media")) + ")";
}

std::string Story::describe_sound(const json& event)
{
    const std::string role = signal_role();
    const long pid = static_cast<long>(number_of(event, "pid"));
    const unsigned channels = channels_.count(pid) ? channels_[pid] : 1;
    std::string sound = role == "periodic signal" ? "beep" : role.empty() ? "sound" : "chime";
    std::string text = (role.empty() ? "" : role + ": ") + sound + ", " + ms_words(event);
    if (event.contains("volume"))
        text += ", " + volume_words(static_cast<uint32_t>(number_of(event, "volume")), channels);
    if (flag(event, "speaker", false))
        text += ", loudspeaker";
    return text;
}

std::string Story::describe_led(const json& event)
{
    const uint64_t led = number_of(event, "led");
    const bool on = flag(event, "on", false);
    const std::string what = led == 1 ? "vibrator" : "LED " + std::to_string(led);
    if (led == 1 && on) {
        const std::string role = signal_role();
        if (!role.empty())
            return role + ": vibration (vibrator on)";
    }
    return what + (on ? flag(event, "blink", false) ? " blinking" : " on" : " off");
}

std::string Story::describe(const json& event)
{
    const std::string name = text_of(event, "event");
    if (name == "process.start")
        return "started: " + text_of(event, "path") +
               (text_of(event, "cmdline").empty() ? "" : " " + text_of(event, "cmdline"));
    if (name == "process.exit")
        return "ended (exit code " + text_of(event, "code") + ")";
    if (name == "call")
        return describe_call(event);
    if (name == "waveout.write")
        return describe_sound(event);
    if (name == "led")
        return describe_led(event);
    if (name == "backlight")
        return backlight_words(event);
    if (name == "playsound") {
        const std::string sound = event.contains("resource") && event["resource"].is_number()
                                      ? "sound resource " + text_of(event, "resource")
                                      : "sound \"" + text_of(event, "resource") + "\"";
        return "plays " + sound + (flag(event, "found") ? "" : " (missing: the default sound instead)") + ", " +
               ms_words(event) + ", " + sound_flags(number_of(event, "flags"));
    }
    if (name == "waveout.open") {
        const long pid = static_cast<long>(number_of(event, "pid"));
        if (!flag(event, "ok"))
            return "sound output could not be opened";
        std::string format;
        if (event.contains("format") && event["format"].is_object()) {
            const json& f = event["format"];
            channels_[pid] = static_cast<unsigned>(number_of(f, "channels"));
            format = ": " + std::to_string(number_of(f, "bits")) + "-bit " +
                     (channels_[pid] == 2 ? "stereo" : channels_[pid] == 1 ? "mono" :
                                                        std::to_string(channels_[pid]) + " channels") +
                     ", " + std::to_string(number_of(f, "rate")) + " Hz";
        }
        return "sound output opened" + format;
    }
    if (name == "waveout.message") {
        const uint64_t msg = number_of(event, "msg"), param = number_of(event, "param");
        std::string text = msg == MM_WOM_SETSECONDARYGAINCLASS ? "sound in gain class " + std::to_string(param)
                           : msg == MM_WOM_FORCESPEAKER ? (param ? "sound to the loudspeaker" : "sound to the earpiece")
                                                        : "wave driver message " + hex(msg) + " (" + hex(param) + ")";
        return text + (flag(event, "ok") ? "" : " (not supported)");
    }
    if (name == "waveout.volume") {
        const auto volume = static_cast<uint32_t>(number_of(event, "volume"));
        const long pid = static_cast<long>(number_of(event, "pid"));
        const bool stream = flag(event, "stream", false);
        return std::string(stream ? "this sound's" : "device") + " volume set to " +
               volume_words(volume, channels_.count(pid) ? channels_[pid] : 1) + " (" + hex(volume) + ")";
    }
    if (name == "waveout.done")
        return "sound played to its end";
    if (name == "waveout.reset")
        return "sound stopped";
    if (name == "waveout.close")
        return "sound output closed";
    if (name == "thread.post") {
        std::string text = "posts " + message_name(static_cast<uint32_t>(number_of(event, "msg")));
        if (number_of(event, "wparam") || number_of(event, "lparam"))
            text += " (" + hex(number_of(event, "wparam")) + ", " + hex(number_of(event, "lparam")) + ")";
        text += " to thread " + text_of(event, "tid");
        if (number_of(event, "to_pid"))
            text += " of process " + text_of(event, "to_pid");
        return text + (flag(event, "ok") ? "" : ": not delivered");
    }
    if (name == "timer.set") {
        start_given_ = true;
        return timer_name(event) + " set to " + device_time(real_of(event, "ms"));
    }
    if (name == "timer.kill")
        return timer_name(event) + " stopped";
    if (name == "window.destroy")
        end_pending_ = false;
    if (name == "window.create" || name == "window.destroy")
        return std::string("window \"") + text_of(event, "title") + "\" (" + text_of(event, "class") + ", " +
               (flag(event, "visible", false) ? "visible" : "hidden") + ")" +
               (name == "window.create" ? " created" : " destroyed");
    if (name == "line.open")
        return flag(event, "ok") ? "watches line " + text_of(event, "line")
                                 : "could not open line " + text_of(event, "line");
    if (name == "line.close")
        return "stops watching line " + text_of(event, "line");
    if (name == "reg.set")
        return "registry: " + text_of(event, "key") + "\\" + text_of(event, "value") + " = " +
               text_of(event, "data") + " (" + text_of(event, "type") + ")";
    if (name == "reg.create")
        return "registry: key " + text_of(event, "key") + " created";
    if (name == "reg.error")
        return "registry error: " + text_of(event, "message");
    if (name == "messagebox")
        return "message box \"" + text_of(event, "caption") + "\": " + text_of(event, "text") + " (" +
               message_box_type(number_of(event, "type")) + ")";
    if (name == "messagebox.end")
        return "message box closed: " + message_box_result(number_of(event, "result"));
    if (name == "dialog.open")
        return "dialog \"" + text_of(event, "title") + "\" opened (template " + text_of(event, "template") + ")";
    if (name == "dialog.end")
        return "dialog closed: " + dialog_result(text_of(event, "exe"), number_of(event, "result"));
    if (name == "foreground")
        return "\"" + text_of(event, "title") + "\" comes to the front";
    if (name == "tap")
        return "tap on " + text_of(event, "target");
    if (name == "shell.execute")
        return (flag(event, "ok") ? "starts " : "could not start ") + text_of(event, "file");
    if (name == "key")
        return "key " + text_of(event, "key") + " pressed";
    if (name == "channel.reject")
        return "refused a message from another process: " + text_of(event, "reason");
    return fields_of(event);
}

Told Story::tell(const json& event)
{
    Told told;
    told.t = real_of(event, "t");
    told.exe = event.contains("exe") && event["exe"].is_string() ? event["exe"].get<std::string>() : "?";
    told.what = describe(event);
    told.detail = is_detail(event);
    if (!connected_.empty()) {
        double since = told.t;
        for (const auto& [id, at] : connected_)
            since = std::min(since, at);
        told.call_time = told.t - since;
    }
    return told;
}

std::string Story::line(const json& event) { return format(tell(event)); }

std::string Story::format(const Told& told)
{
    char head[96];
    std::snprintf(head, sizeof head, "%10s  %-14s  %-17s  ", device_time(told.t).c_str(),
                  told.call_time ? ("call " + device_time(*told.call_time)).c_str() : "",
                  told.exe.c_str());
    return head + told.what;
}

} // namespace phone
