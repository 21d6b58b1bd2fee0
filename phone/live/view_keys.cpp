// What the keys of phone view do: the function keys that place and change
// calls and start the settings program, and the keys that go to the device.
#include "live/view_keys.h"

#include <cstring>
#include <optional>

#include <curses.h>

#include <tapi.h>

#include "device/device.h"
#include "input/keys.h"
#include "kernel/process_table.h"
#include "parsing.h"
#include "tapi/names.h"
#include "tapi/radio.h"

namespace phone {
namespace {

namespace device = wince::device;
namespace radio = wince::tapi::radio;

constexpr const char* kSettingsProgram = "\\Program Files\\CallTicker\\CallTickerCfg.exe";

// The newest call in one of `states`, if any.
std::optional<radio::Call> newest_call(uint32_t states)
{
    const auto calls = radio::calls();
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->state & states)
            return *it;
    return std::nullopt;
}

std::string place_call(uint32_t media)
{
    const auto line = wince::tapi::default_cellular_line();
    if (!line)
        return "the device has no line named \"Cellular Line\"";
    const auto lines = wince::tapi::line_devices();
    if ((lines[*line].media_modes & media) != media)
        return "the cellular line does not take " + wince::tapi::media_modes_name(media) + " calls";
    const auto call = radio::place(*line, LINECALLSTATE_OFFERING, media, false, "");
    return "call " + std::to_string(call.id) + " rings (" + wince::tapi::media_modes_name(media) + ")";
}

std::string move_call(uint32_t from, uint32_t to, const char* verb)
{
    const auto call = newest_call(from);
    if (!call)
        return std::string("no call to ") + verb;
    radio::change_state(call->id, to);
    return "call " + std::to_string(call->id) + ": " + verb;
}

// As the network does: a connected call is held first.
std::string answer_newest()
{
    const auto call = newest_call(LINECALLSTATE_OFFERING | LINECALLSTATE_DIALING);
    if (!call)
        return "no call to answer";
    radio::answer(call->id);
    return "call " + std::to_string(call->id) + ": answer";
}

std::string hang_up()
{
    const auto call = newest_call(~static_cast<uint32_t>(LINECALLSTATE_IDLE));
    if (!call)
        return "no call to hang up";
    if (call->state != LINECALLSTATE_DISCONNECTED)
        radio::change_state(call->id, LINECALLSTATE_DISCONNECTED);
    radio::change_state(call->id, LINECALLSTATE_IDLE);
    return "call " + std::to_string(call->id) + " hung up";
}

std::string start_settings_program()
{
    const auto program = device::host_path(device::widen(kSettingsProgram));
    int error = 0;
    if (!wince::process::spawn(program, {}, error))
        return std::string("cannot start the settings program: ") + std::strerror(error);
    return "settings program started";
}

std::string press(const std::string& name)
{
    try {
        press_key(key_named(name));
    } catch (const Failure& failure) {
        return failure.what();
    }
    return {};
}

// The device key a terminal key stands for, if any.
std::optional<std::string> device_key(int ch)
{
    switch (ch) {
    case KEY_F(1): return "F1";
    case KEY_F(2): return "F2";
    case KEY_UP: return "UP";
    case KEY_DOWN: return "DOWN";
    case KEY_LEFT: return "LEFT";
    case KEY_RIGHT: return "RIGHT";
    case '\t': return "TAB";
    case '\n': case '\r': case KEY_ENTER: return "RETURN";
    case 27: return "ESCAPE";
    case ' ': return "SPACE";
    case KEY_BACKSPACE: case 127: case 8: return "BACK";
    }
    if (ch > ' ' && ch < 127)
        return std::string(1, static_cast<char>(ch));
    return std::nullopt;
}

} // namespace

std::string act(int ch)
{
    try {
        switch (ch) {
        case KEY_F(3): return place_call(LINEMEDIAMODE_INTERACTIVEVOICE);
        case KEY_F(4): return answer_newest();
        case KEY_F(5): return move_call(LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, "hold");
        case KEY_F(6): return move_call(LINECALLSTATE_ONHOLD, LINECALLSTATE_CONNECTED, "resume");
        case KEY_F(7): return hang_up();
        case KEY_F(8): return place_call(LINEMEDIAMODE_DATAMODEM);
        case KEY_F(9): return start_settings_program();
        }
        if (const auto key = device_key(ch))
            return press(*key);
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

} // namespace phone
