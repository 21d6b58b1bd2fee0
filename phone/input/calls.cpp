// Call changes on the device's radio, checked as a user of the phone would
// expect them: only a ringing call can be answered, only a connected one
// held.
#include "input/calls.h"

#include <cctype>
#include <cstring>
#include <optional>

#include <tapi.h>

#include "device/device.h"
#include "parsing.h"
#include "tapi/names.h"

namespace phone::calls {
namespace {

namespace radio = wince::tapi::radio;

constexpr uint32_t ringing_states = LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED | LINECALLSTATE_DIALTONE |
                                    LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_PROCEEDING;
constexpr uint32_t held_states = LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER;

std::string line_list(const wince::tapi::LineDevices& lines)
{
    std::string text;
    for (uint32_t id = 0; id < lines.size(); ++id)
        text += (id ? ", " : "") + std::to_string(id) +
                (lines[id].name ? " \"" + wince::device::narrow(*lines[id].name) + "\"" : " (no name)");
    return text.empty() ? "none" : text;
}

uint32_t choose_line(const std::string& word, uint32_t media)
{
    const auto lines = wince::tapi::line_devices();
    uint32_t line;
    if (word.empty()) {
        auto cellular = wince::tapi::default_cellular_line();
        if (!cellular)
            throw Failure("the device has no line named \"Cellular Line\": choose one with --line (lines: " +
                          line_list(lines) + ")");
        line = *cellular;
    } else {
        line = line_by_word(word);
    }
    if ((lines[line].media_modes & media) != media)
        throw Failure("line " + std::to_string(line) + " does not support media " +
                      wince::tapi::media_modes_name(media) + " (it supports " +
                      wince::tapi::media_modes_name(lines[line].media_modes) + ")");
    return line;
}

Call place(const NewCall& call, uint32_t state, bool outbound)
{
    const uint32_t media = parse_media(call.media);
    return radio::place(choose_line(call.line, media), state, media, outbound, call.number);
}

std::string state_name(const std::optional<Call>& call)
{
    return call ? wince::tapi::call_state_name(call->state) : std::string("gone");
}

// "1 CONNECTED, 2 OFFERING", or "there are no calls".
std::string call_list()
{
    std::string text;
    for (const auto& call : radio::calls())
        text += (text.empty() ? "" : ", ") + std::to_string(call.id) + " " +
                wince::tapi::call_state_name(call.state).substr(std::strlen("LINECALLSTATE_"));
    return text.empty() ? "there are no calls" : "calls: " + text;
}

// A change that only makes sense from some states.
Call change_from(uint32_t id, uint32_t allowed_from, uint32_t state, const char* verb)
{
    const auto call = radio::find(id);
    if (!call || !(call->state & allowed_from))
        throw Failure("cannot " + std::string(verb) + " call " + std::to_string(id) + ": it is " + state_name(call));
    return set_state(id, state);
}

} // namespace

Call incoming(const NewCall& call) { return place(call, LINECALLSTATE_OFFERING, false); }

Call dial(const NewCall& call) { return place(call, LINECALLSTATE_DIALING, true); }

std::vector<Call> answer(uint32_t id)
{
    const auto call = radio::find(id);
    if (!call || !ringing(*call))
        throw Failure("cannot answer call " + std::to_string(id) + ": it is " + state_name(call));
    return radio::answer(id);
}

Call hold(uint32_t id) { return change_from(id, LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, "hold"); }

Call resume(uint32_t id) { return change_from(id, held_states, LINECALLSTATE_CONNECTED, "resume"); }

std::vector<Call> swap()
{
    auto changed = radio::swap();
    if (changed.empty())
        throw Failure("cannot swap: that needs one connected and one held call (" + call_list() + ")");
    return changed;
}

std::vector<Call> drop(uint32_t id)
{
    auto changed = radio::drop(id);
    if (changed.empty())
        throw Failure("no call " + std::to_string(id) + " on the device (it went idle)");
    return changed;
}

Call set_state(uint32_t id, uint32_t state)
{
    auto call = radio::change_state(id, state);
    if (!call)
        throw Failure("no call " + std::to_string(id) + " on the device (it went idle)");
    return *call;
}

bool ringing(const Call& call) { return (call.state & ringing_states) != 0; }

uint32_t only_ringing_call()
{
    std::vector<uint32_t> found;
    for (const auto& call : radio::calls())
        if (ringing(call))
            found.push_back(call.id);
    if (found.size() == 1)
        return found[0];
    if (found.empty())
        throw Failure("no call is ringing (" + call_list() + ")");
    std::string ids;
    for (uint32_t call_id : found)
        ids += (ids.empty() ? "" : ", ") + std::to_string(call_id);
    throw Failure("calls " + ids + " are ringing: say which to answer (phone call answer ID)");
}

uint32_t call_id(const std::string& text)
{
    const uint64_t id = parse_number(text, "call id");
    if (id > 0xFFFFFFFFull || !radio::find(static_cast<uint32_t>(id)))
        throw Failure("no call " + text + " on the device (see phone status)");
    return static_cast<uint32_t>(id);
}

uint32_t line_by_word(const std::string& word)
{
    const auto lines = wince::tapi::line_devices();
    if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0]))) {
        const uint64_t id = parse_number(word, "line");
        if (id >= lines.size())
            throw Failure("no line " + word + ": the device's lines are " + line_list(lines));
        return static_cast<uint32_t>(id);
    }
    std::optional<uint32_t> found;
    for (uint32_t id = 0; id < lines.size(); ++id)
        if (lines[id].name && upper(wince::device::narrow(*lines[id].name)) == upper(word))
            found = id;
    if (!found)
        throw Failure("no line named \"" + word + "\": the device's lines are " + line_list(lines));
    return *found;
}

uint32_t parse_media(const std::string& text)
{
    auto media = wince::tapi::parse_media_modes(text);
    if (!media)
        throw Failure("unknown media mode '" + text + "': give names such as INTERACTIVEVOICE or DATAMODEM, or a number");
    return *media;
}

} // namespace phone::calls
