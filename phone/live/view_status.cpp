// phone view's status pane: the backlight, the vibrator, the volume, the
// calls, the last signals and the settings in words; and the snapshot of
// the device that every pane is drawn from.
#include <algorithm>
#include <cstring>

#include <nled.h>
#include <tapi.h>

#include "audio/output.h"
#include "device/clock.h"
#include "drivers/power_state.h"
#include "live/view_panes.h"
#include "tapi/names.h"

namespace phone::view {

namespace radio = wince::tapi::radio;

namespace {

bool vibrating()
{
    NLED_SETTINGS_INFO settings{};
    settings.LedNum = 1;
    return NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, &settings) && settings.OffOnBlink != 0;
}

// The settings' meanings as one text, word-wrapped to `width` columns.
std::vector<std::string> settings_lines(const std::vector<SettingView>& settings, int width)
{
    std::vector<std::string> lines;
    std::string words;
    for (const auto& setting : settings) {
        const std::string meaning = setting.meaning + (&setting == &settings.back() ? "" : ",");
        size_t at = 0;
        while (at < meaning.size()) {
            const size_t space = meaning.find(' ', at);
            const std::string word = meaning.substr(at, space == std::string::npos ? std::string::npos : space - at);
            at = space == std::string::npos ? meaning.size() : space + 1;
            if (!words.empty() && static_cast<int>(words.size() + 1 + word.size()) > width) {
                lines.push_back(words);
                words.clear();
            }
            words += (words.empty() ? "" : " ") + word;
        }
    }
    if (!words.empty())
        lines.push_back(words);
    return lines;
}

std::string call_line(const radio::Call& call, double now)
{
    std::string text = "  " + std::to_string(call.id) + "  " +
                       wince::tapi::call_state_name(call.state).substr(strlen("LINECALLSTATE_")) + "  " +
                       wince::tapi::media_modes_name(call.media);
    if (call.connected_at)
        text += "  " + call_time(now - *call.connected_at);
    if (!call.number.empty())
        text += "  " + call.number;
    return text;
}

} // namespace

Snapshot gather(const FollowedLog& log)
{
    Snapshot s;
    s.now = wince::clock::now();
    s.dark = wince::drivers::backlight().state == 4;
    s.vibrating = vibrating();
    s.volume = wince::audio::device_volume();
    s.calls = radio::calls();
    s.history = call_history(log.events());
    s.settings = read_settings();
    s.screen = screen_lines();
    return s;
}

bool call_connected(const Snapshot& s)
{
    return std::any_of(s.calls.begin(), s.calls.end(),
                       [](const radio::Call& call) { return call.state == LINECALLSTATE_CONNECTED; });
}

void draw_status(const Snapshot& s, int top, int left, int width, int height)
{
    int y = top;
    auto line = [&](const std::string& text, attr_t attributes = A_NORMAL) {
        if (y < top + height)
            put(y++, left, text, width, attributes);
    };
    line(std::string("backlight  ") + (s.dark ? "OFF, screen dark" : "on"), s.dark ? A_BOLD : A_NORMAL);
    line(s.vibrating ? "vibrator   on" : "vibrator   off", s.vibrating ? A_REVERSE | A_BOLD : A_NORMAL);
    line("volume     " + volume_percent(s.volume));
    line(s.calls.empty() ? "calls      none" : "calls", A_BOLD);
    for (const auto& call : s.calls)
        line(call_line(call, s.now), call.state == LINECALLSTATE_CONNECTED ? A_BOLD : A_NORMAL);
    line("last signals", A_BOLD);
    std::vector<std::string> signals;
    for (const auto& record : s.history)
        for (const auto& signal : record.signals)
            signals.push_back("  call " + std::to_string(record.id) + "  " + call_time(signal.at) + "  " +
                              signal_kind_name(signal.kind) + ", " + signal_role_name(signal.role));
    if (signals.empty())
        line("  none yet");
    for (size_t i = signals.size() > 3 ? signals.size() - 3 : 0; i < signals.size(); ++i)
        line(signals[i]);
    line("settings", A_BOLD);
    for (const auto& words : settings_lines(s.settings, width - 2))
        line("  " + words);
}

} // namespace phone::view
