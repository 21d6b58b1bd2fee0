// phone call ... and phone line-event: the radio side of the device's
// telephony.  Every change goes to the programs that have the line open.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include <tapi.h>

#include "common.h"
#include "device/clock.h"
#include "device/device.h"
#include "tapi/names.h"
#include "tapi/radio.h"

namespace phone {
namespace {

namespace radio = wince::tapi::radio;

struct CallOptions {
    std::string media = "INTERACTIVEVOICE";
    std::string line;
};

uint32_t choose_line(const CallOptions& options, uint32_t media)
{
    const auto lines = wince::tapi::line_devices();
    uint32_t line;
    if (options.line.empty()) {
        auto cellular = wince::tapi::default_cellular_line();
        if (!cellular)
            throw Failure("the device has no line named \"Cellular Line\": choose one with --line");
        line = *cellular;
    } else {
        const uint64_t id = parse_number(options.line, "line");
        if (id >= lines.size())
            throw Failure("no line " + options.line + ": the device has " + std::to_string(lines.size()) +
                          " line(s)");
        line = static_cast<uint32_t>(id);
    }
    if ((lines[line].media_modes & media) != media)
        throw Failure("line " + std::to_string(line) + " does not support media " +
                      wince::tapi::media_modes_name(media) + " (it supports " +
                      wince::tapi::media_modes_name(lines[line].media_modes) + ")");
    return line;
}

uint32_t parse_media(const std::string& text)
{
    auto media = wince::tapi::parse_media_modes(text);
    if (!media)
        throw Failure("unknown media mode '" + text + "': give names such as INTERACTIVEVOICE or DATAMODEM, or a number");
    return *media;
}

uint32_t parse_call_id(const std::string& text)
{
    const uint64_t id = parse_number(text, "call id");
    if (id > 0xFFFFFFFFull || !radio::find(static_cast<uint32_t>(id)))
        throw Failure("no call " + text + " on the device (see phone status)");
    return static_cast<uint32_t>(id);
}

void print_call(const radio::Call& call)
{
    std::printf("%u %s line %u %s\n", call.id, wince::tapi::call_state_name(call.state).c_str(), call.line,
                wince::tapi::media_modes_name(call.media).c_str());
}

void set_state(uint32_t id, uint32_t state)
{
    auto call = radio::change_state(id, state);
    if (!call)
        throw Failure("no call " + std::to_string(id) + " on the device (it went idle)");
    print_call(*call);
}

// answer, hold, resume: a change that only makes sense from some states.
void change_from(const std::string& id_text, uint32_t allowed_from, uint32_t state, const char* verb)
{
    const uint32_t id = parse_call_id(id_text);
    const auto call = radio::find(id);
    if (!(call->state & allowed_from))
        throw Failure("cannot " + std::string(verb) + " call " + id_text + ": it is " +
                      wince::tapi::call_state_name(call->state));
    set_state(id, state);
}

void drop(uint32_t id)
{
    const auto call = radio::find(id);
    if (call && call->state != LINECALLSTATE_DISCONNECTED)
        set_state(id, LINECALLSTATE_DISCONNECTED);
    set_state(id, LINECALLSTATE_IDLE);
}

void add_new_call_options(CLI::App* command, CallOptions& options)
{
    command->add_option("--media", options.media, "Media mode(s): INTERACTIVEVOICE, DATAMODEM... or a number")
        ->capture_default_str();
    command->add_option("--line", options.line, "Line device id (default: the last \"Cellular Line\")");
}

void talk(double seconds, const CallOptions& options)
{
    const uint32_t media = parse_media(options.media);
    const uint32_t line = choose_line(options, media);
    auto call = radio::place(line, LINECALLSTATE_OFFERING, media, false, "");
    print_call(call);
    set_state(call.id, LINECALLSTATE_CONNECTED);
    const double ends = wince::clock::now() + seconds * 1000.0;
    std::this_thread::sleep_until(wince::clock::real_time_of(ends));
    drop(call.id);
}

} // namespace

void add_call_commands(CLI::App& app)
{
    auto* call = app.add_subcommand("call", "Calls on the device's radio");
    call->require_subcommand(1);

    static CallOptions incoming_options;
    auto* incoming = call->add_subcommand("incoming", "A new incoming call (offering); prints its id");
    add_new_call_options(incoming, incoming_options);
    incoming->callback([] {
        const uint32_t media = parse_media(incoming_options.media);
        const uint32_t line = choose_line(incoming_options, media);
        print_call(radio::place(line, LINECALLSTATE_OFFERING, media, false, ""));
    });

    static CallOptions dial_options;
    static std::string number;
    auto* dial = call->add_subcommand("dial", "A new outgoing call (dialling); prints its id");
    dial->add_option("NUMBER", number, "The number dialled")->required();
    add_new_call_options(dial, dial_options);
    dial->callback([] {
        const uint32_t media = parse_media(dial_options.media);
        const uint32_t line = choose_line(dial_options, media);
        print_call(radio::place(line, LINECALLSTATE_DIALING, media, true, number));
    });

    static std::string id;
    constexpr uint32_t ringing = LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED | LINECALLSTATE_DIALTONE |
                                 LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_PROCEEDING;
    auto* answer = call->add_subcommand("answer", "The call is connected");
    answer->add_option("ID", id, "Call id")->required();
    answer->callback([] { change_from(id, ringing, LINECALLSTATE_CONNECTED, "answer"); });

    auto* hold = call->add_subcommand("hold", "The call is put on hold");
    hold->add_option("ID", id, "Call id")->required();
    hold->callback([] { change_from(id, LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, "hold"); });

    auto* resume = call->add_subcommand("resume", "The held call is connected again");
    resume->add_option("ID", id, "Call id")->required();
    resume->callback([] {
        change_from(id, LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER,
                    LINECALLSTATE_CONNECTED, "resume");
    });

    auto* drop_command = call->add_subcommand("drop", "The call is disconnected, then idle");
    drop_command->add_option("ID", id, "Call id")->required();
    drop_command->callback([] { drop(parse_call_id(id)); });

    auto* idle = call->add_subcommand("idle", "The call goes idle at once, without a disconnection");
    idle->add_option("ID", id, "Call id")->required();
    idle->callback([] { set_state(parse_call_id(id), LINECALLSTATE_IDLE); });

    static std::string state;
    auto* state_command = call->add_subcommand("state", "Any call state, e.g. CONNECTED or LINECALLSTATE_BUSY");
    state_command->add_option("ID", id, "Call id")->required();
    state_command->add_option("STATE", state, "Call state")->required();
    state_command->callback([] {
        const uint32_t call_id = parse_call_id(id);
        auto value = wince::tapi::parse_call_state(state);
        if (!value)
            throw Failure("unknown call state '" + state + "': give one such as CONNECTED or LINECALLSTATE_ONHOLD");
        set_state(call_id, *value);
    });

    static CallOptions talk_options;
    static std::string seconds;
    auto* talk_command = call->add_subcommand(
        "talk", "A whole call: offering, connected for SECONDS of device time, dropped");
    talk_command->add_option("SECONDS", seconds, "Device seconds of talk")->required();
    add_new_call_options(talk_command, talk_options);
    talk_command->callback([] {
        double value = -1;
        try {
            size_t used = 0;
            value = std::stod(seconds, &used);
            if (used != seconds.size())
                value = -1;
        } catch (const std::exception&) {
        }
        if (!(value >= 0) || !std::isfinite(value))
            throw Failure("invalid SECONDS '" + seconds + "': expected a number of seconds, 0 or more");
        talk(value, talk_options);
    });

    static std::string message;
    static std::vector<std::string> params;
    static std::string event_line;
    auto* line_event = app.add_subcommand(
        "line-event", "A line message other than a call state (e.g. LINE_LINEDEVSTATE) to every program with a line open");
    line_event->add_option("MESSAGE", message, "LINE_ message by name or number")->required();
    line_event->add_option("PARAMS", params, "Up to three message parameters")->expected(0, 3);
    line_event->add_option("--line", event_line, "Only programs with this line open");
    line_event->callback([] {
        auto id = wince::tapi::parse_line_message(message);
        if (!id)
            throw Failure("unknown line message '" + message + "': give one such as LINE_LINEDEVSTATE, or a number");
        if (*id == LINE_CALLSTATE)
            throw Failure("call states come from 'phone call', not from line-event");
        uint32_t values[3] = {0, 0, 0};
        for (size_t i = 0; i < params.size(); ++i) {
            const uint64_t value = parse_number(params[i], "parameter");
            if (value > 0xFFFFFFFFull)
                throw Failure("parameter " + params[i] + " does not fit in 32 bits");
            values[i] = static_cast<uint32_t>(value);
        }
        std::optional<uint32_t> line;
        if (!event_line.empty()) {
            const uint64_t value = parse_number(event_line, "line");
            if (value >= wince::tapi::line_devices().size())
                throw Failure("no line " + event_line + " on the device");
            line = static_cast<uint32_t>(value);
        }
        const int reached = radio::line_message(*id, values[0], values[1], values[2], line);
        std::printf("%s sent to %d process(es)\n", wince::tapi::line_message_name(*id).c_str(), reached);
    });
}

} // namespace phone
