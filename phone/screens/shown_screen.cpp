// What the screen shows, chosen from the device's state, and the phone's
// own screens laid out in the shell's frame: the same title bar and
// soft-key bar as a program's window, the status bar's marks at the right of
// the title bar, and centred lines of text in between.
#include "screens/shown_screen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

#include <pm.h>
#include <tapi.h>

#include "device/clock.h"
#include "device/eventlog.h"
#include "drivers/power_state.h"
#include "log/call_history.h"
#include "tapi/names.h"
#include "user/display.h"

namespace phone {
namespace {

namespace screen = wince::screen;
namespace radio = wince::tapi::radio;

enum class Face { dark, program, home, incoming, in_call };
enum class Action { none, answer, ignore, end };

struct Choice {
    Face face;
    std::optional<radio::Call> call{}; // the call the phone's screen is about
};

bool ringing(const radio::Call& call)
{
    return (call.state & (LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED)) != 0;
}

// The call the in-call screen is about: the one connected last, else the
// newest call that does not ring.
std::optional<radio::Call> call_in_progress(const std::vector<radio::Call>& calls)
{
    std::optional<radio::Call> shown;
    for (const auto& call : calls)
        if (!ringing(call) &&
            (!shown || call.state == LINECALLSTATE_CONNECTED || shown->state != LINECALLSTATE_CONNECTED))
            shown = call;
    return shown;
}

Choice choose(const DeviceState& state)
{
    if (!state.backlight_on)
        return {Face::dark};
    for (const auto& call : state.calls)
        if (ringing(call))
            return {Face::incoming, call};
    if (!state.programs.dark)
        return {Face::program};
    if (auto call = call_in_progress(state.calls))
        return {Face::in_call, call};
    return {Face::home};
}

// The soft keys of each of the phone's screens, left and right.
std::array<Action, 2> softkeys_of(Face face)
{
    switch (face) {
    case Face::incoming:
        return {Action::answer, Action::ignore};
    case Face::in_call:
        return {Action::none, Action::end};
    default:
        return {Action::none, Action::none};
    }
}

const char* label_of(Action action)
{
    switch (action) {
    case Action::answer:
        return "Answer";
    case Action::ignore:
        return "Ignore";
    case Action::end:
        return "End";
    case Action::none:
        break;
    }
    return "";
}

std::string caller(const radio::Call& call) { return call.number.empty() ? "Unknown caller" : call.number; }

std::string state_words(uint32_t state)
{
    switch (state) {
    case LINECALLSTATE_CONNECTED:
        return "connected";
    case LINECALLSTATE_ONHOLD:
    case LINECALLSTATE_ONHOLDPENDCONF:
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
        return "on hold";
    case LINECALLSTATE_DIALTONE:
    case LINECALLSTATE_DIALING:
    case LINECALLSTATE_PROCEEDING:
        return "dialling";
    case LINECALLSTATE_RINGBACK:
        return "ringing";
    case LINECALLSTATE_DISCONNECTED:
        return "ended";
    default:
        return wince::tapi::call_state_name(state);
    }
}

// Its time as phone status tells it, from its first connection; empty
// before it was connected.
std::string time_of(const radio::Call& call, double now)
{
    return call.connected_at ? call_time(now - *call.connected_at) : "";
}

// Hours and minutes of device time, as a phone's clock shows the time.
std::string clock_of(double ms)
{
    const long minutes = static_cast<long>(std::floor(std::max(ms, 0.0) / 60000));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", minutes / 60, minutes % 60);
    return text;
}

// One of the phone's screens: the frame, the status bar, centred lines.
class PhoneFace {
public:
    PhoneFace(const DeviceState& state, Face face, const char* kind, const char* title)
        : s_(state.frame), unit_(state.frame.dpi / 96.0)
    {
        s_.dark = false;
        s_.owner = "phone";
        s_.kind = kind;
        s_.title = title;
        s_.status_bar = screen::StatusBar{state.cellular ? 4 : 0, 100, clock_of(state.now)};
        const auto actions = softkeys_of(face);
        if (actions[0] == Action::none && actions[1] == Action::none)
            s_.softkeys.clear();
        for (size_t i = 0; i < s_.softkeys.size(); ++i)
            s_.softkeys[i].label = label_of(actions[i]);
    }

    // A centred line of text, its top `y` pixels (at 96 dpi) into the client area.
    void line(const std::string& text, int y, int height, int font, bool bold = false)
    {
        if (text.empty())
            return;
        screen::Control c;
        c.kind = "STATIC";
        c.text = text;
        c.rect = {px(8), s_.client.y + px(y), s_.width - px(16), px(height)};
        c.font_height = px(font);
        c.bold = bold;
        c.face = "Tahoma";
        c.align = "center";
        s_.controls.push_back(c);
    }

    screen::Screen done() const { return s_; }

private:
    int px(int at_96) const { return static_cast<int>(std::lround(at_96 * unit_)); }

    screen::Screen s_;
    double unit_;
};

screen::Screen home_screen(const DeviceState& state)
{
    PhoneFace home(state, Face::home, "home", "Home");
    home.line(state.date, 16, 18, 12, true);
    home.line(clock_of(state.now), 44, 52, 40, true);
    home.line("device time", 96, 16, 11);
    return home.done();
}

std::string media_words(const radio::Call& call)
{
    return call.media == LINEMEDIAMODE_INTERACTIVEVOICE ? "" : wince::tapi::media_modes_name(call.media) + " call";
}

screen::Screen incoming_screen(const DeviceState& state, const radio::Call& call)
{
    const auto busy = call_in_progress(state.calls);
    PhoneFace incoming(state, Face::incoming, "incoming", "Phone");
    incoming.line(busy ? "Call waiting" : "Incoming call", 16, 20, 14, true);
    incoming.line("\u260E", 44, 56, 44);
    incoming.line(caller(call), 104, 30, 20, true);
    incoming.line(media_words(call), 136, 16, 11);
    if (busy && busy->state == LINECALLSTATE_CONNECTED)
        incoming.line("Answering holds call " + std::to_string(busy->id) + ", " + caller(*busy), 160, 16, 11);
    return incoming.done();
}

screen::Screen call_screen(const DeviceState& state, const radio::Call& call)
{
    PhoneFace in_call(state, Face::in_call, "call", "Phone");
    in_call.line(state.date, 8, 16, 11);
    in_call.line("Call " + std::to_string(call.id) + " " + state_words(call.state), 36, 18, 13, true);
    in_call.line(caller(call), 60, 30, 20, true);
    in_call.line(time_of(call, state.now), 96, 30, 22);
    in_call.line(media_words(call), 128, 16, 11);
    int y = 160;
    for (const auto& other : state.calls)
        if (other.id != call.id) {
            std::string words = "Call " + std::to_string(other.id) + "  " + caller(other) + "  " + state_words(other.state);
            if (other.connected_at)
                words += "  " + time_of(other, state.now);
            in_call.line(words, y, 16, 11);
            y += 18;
        }
    return in_call.done();
}

screen::Rect rect_of(const RECT& r) { return {r.left, r.top, r.right - r.left, r.bottom - r.top}; }

screen::Screen shell_frame()
{
    const auto layout = wince::user::display::layout();
    screen::Screen frame;
    frame.width = layout.width;
    frame.height = layout.height;
    frame.dpi = wince::user::display::dpi();
    frame.title_bar = rect_of(layout.title_bar);
    frame.client = rect_of(layout.client);
    frame.softkey_bar = rect_of(layout.softkey_bar);
    for (const RECT& key : layout.softkey)
        frame.softkeys.push_back({"", false, rect_of(key)});
    return frame;
}

std::string today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    return std::strftime(text, sizeof text, "%A, %-d %B %Y", &local) ? text : "";
}

} // namespace

DeviceState device_state()
{
    DeviceState state;
    state.backlight_on = wince::drivers::backlight().state != D4;
    state.calls = radio::calls();
    state.programs = screen::current();
    state.frame = shell_frame();
    state.now = wince::clock::now();
    state.date = today();
    state.cellular = wince::tapi::default_cellular_line().has_value();
    return state;
}

screen::Screen compose_screen(const DeviceState& state)
{
    const Choice choice = choose(state);
    switch (choice.face) {
    case Face::program:
        return state.programs;
    case Face::incoming:
        return incoming_screen(state, *choice.call);
    case Face::in_call:
        return call_screen(state, *choice.call);
    case Face::home:
        return home_screen(state);
    case Face::dark:
        break;
    }
    screen::Screen dark;
    dark.width = state.frame.width;
    dark.height = state.frame.height;
    dark.dpi = state.frame.dpi;
    return dark;
}

screen::Screen shown_screen() { return compose_screen(device_state()); }

screen::Screen touched_screen()
{
    DeviceState state = device_state();
    state.backlight_on = true;
    return compose_screen(state);
}

bool press_phone_softkey(int index, const std::string& event, const nlohmann::json& fields)
{
    if (index < 0 || index > 1)
        return false;
    DeviceState state = device_state();
    state.backlight_on = true;
    const Choice choice = choose(state);
    const Action action = softkeys_of(choice.face)[static_cast<size_t>(index)];
    if (action == Action::none)
        return false;
    wince::eventlog::write(event, fields);
    if (action == Action::answer)
        radio::answer(choice.call->id);
    else
        radio::drop(choice.call->id);
    return true;
}

} // namespace phone
