// Words for the values the event log holds.
#include "log/event_words.h"

#include <cmath>
#include <cstdio>
#include <map>

#include <windows.h>
#include <mmsystem.h>
#include <tapi.h>

#include "monitor.h"
#include "parsing.h"
#include "log/story.h"
#include "../config/resource.h"
#include "tapi/names.h"

namespace phone::event_words {

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

bool flag(const json& event, const char* field, bool otherwise)
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
    // No button was pressed: a WM_QUIT or its owner's end closed the box.
    case 0: return "no answer (0)";
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
    switch (type & MB_ICONMASK) {
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

} // namespace phone::event_words
