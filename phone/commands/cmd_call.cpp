// phone call ... and phone line-event: the radio side of the device's
// telephony.  Every change goes to the programs that have the line open.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <tapi.h>

#include <nlohmann/json.hpp>

#include "commands/commands.h"
#include "input/calls.h"
#include "log/story.h"
#include "device/clock.h"
#include "device/device.h"
#include "tapi/names.h"
#include "tapi/radio.h"

namespace phone {
namespace {

namespace radio = wince::tapi::radio;

constexpr double max_talk_seconds = 86400;

struct CallOptions {
    calls::NewCall call;
    bool quiet = false;
};

// How changes of calls are printed: `call talk` tells them as the log does,
// in words or as the log's JSON; the commands of one step print
// "ID STATE line N MEDIA", the form scripts read.
enum class CallOutput { fields, words, json };
CallOutput call_output = CallOutput::fields;

// The call event the radio logs for this change.
nlohmann::json call_event(const radio::Call& call)
{
    nlohmann::json event = {{"event", "call"},
                            {"call", call.id},
                            {"line", call.line},
                            {"state", wince::tapi::call_state_name(call.state)},
                            {"media", call.media}};
    if (!call.number.empty())
        event["number"] = call.number;
    return event;
}

void print_call(const radio::Call& call)
{
    switch (call_output) {
    case CallOutput::words:
        std::printf("%s\n", Story().tell(call_event(call)).what.c_str());
        break;
    case CallOutput::json:
        std::printf("%s\n", call_event(call).dump().c_str());
        break;
    case CallOutput::fields:
        std::printf("%u %s line %u %s\n", call.id, wince::tapi::call_state_name(call.state).c_str(), call.line,
                    wince::tapi::media_modes_name(call.media).c_str());
        break;
    }
    std::fflush(stdout); // a talk's lines as they come, also into a pipe
}

void print_calls(const std::vector<calls::Call>& changed)
{
    for (const auto& call : changed)
        print_call(call);
}

void add_new_call_options(CLI::App* command, CallOptions& options)
{
    command->add_option("--media", options.call.media,
                        "Media mode(s), joined by '|': INTERACTIVEVOICE, AUTOMATEDVOICE, DATAMODEM, G3FAX, TDD,\n"
                        "G4FAX, DIGITALDATA, TELETEX, VIDEOTEX, TELEX, MIXED, ADSI, VOICEVIEW, UNKNOWN, or a number")
        ->capture_default_str();
    command->add_option("--line", options.call.line,
                        "Line device by number or name (default: the last \"Cellular Line\")");
}

void add_quiet_option(CLI::App* command, CallOptions& options)
{
    command->add_flag("--quiet,-q", options.quiet, "Print only the call's id (for scripts)");
}

void print_new_call(const calls::Call& call, const CallOptions& options)
{
    if (options.quiet)
        std::printf("%u\n", call.id);
    else
        print_call(call);
}

// SIGINT, SIGTERM and SIGHUP end a talk the way hanging up does: the call
// is dropped, never left connected on the device.  The handler only wakes
// the waiting thread through a pipe.
int hang_up_pipe[2] = {-1, -1};
volatile sig_atomic_t hang_up_signal = 0;

void on_hang_up(int signal)
{
    hang_up_signal = signal;
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(hang_up_pipe[1], &byte, 1);
}

void catch_hang_ups()
{
    if (::pipe2(hang_up_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Failure(std::string("cannot prepare the call: ") + std::strerror(errno));
    struct sigaction action {};
    action.sa_handler = on_hang_up;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

// Waits until device time `ends` or a hang-up signal; false on a signal.
bool talk_until(double ends)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(wince::clock::real_time_of(ends) -
                                                                         std::chrono::steady_clock::now());
        if (hang_up_signal)
            return false;
        if (left.count() <= 0)
            return true;
        pollfd woken{hang_up_pipe[0], POLLIN, 0};
        ::poll(&woken, 1, static_cast<int>(std::min<long long>(left.count(), 3600 * 1000)));
    }
}

void talk(double seconds, const CallOptions& options)
{
    catch_hang_ups();
    const auto call = calls::incoming(options.call);
    print_call(call);
    print_call(calls::set_state(call.id, LINECALLSTATE_CONNECTED));
    const double ends = wince::clock::now() + seconds * 1000.0;
    const bool whole = talk_until(ends);
    print_calls(calls::drop(call.id));
    if (!whole)
        throw Failure("call " + std::to_string(call.id) + " dropped: " + strsignal(hang_up_signal));
}

double parse_talk_seconds(const std::string& seconds)
{
    double value = -1;
    try {
        size_t used = 0;
        value = std::stod(seconds, &used);
        if (used != seconds.size())
            value = -1;
    } catch (const std::exception&) {
    }
    if (!(value >= 0 && value <= max_talk_seconds))
        throw Failure("invalid SECONDS '" + seconds + "': give a number of seconds from 0 to 86400 (a day)");
    return value;
}

// The id each one-call command takes (they are parsed one at a time).
std::string call_word;

void add_new_call_commands(CLI::App* call)
{
    static CallOptions incoming_options;
    auto* incoming = call->add_subcommand("incoming", "A new incoming call (offering); prints its id");
    add_new_call_options(incoming, incoming_options);
    add_quiet_option(incoming, incoming_options);
    incoming->add_option("--number", incoming_options.call.number, "The caller's number (caller id)");
    incoming->callback([] { print_new_call(calls::incoming(incoming_options.call), incoming_options); });

    static CallOptions dial_options;
    auto* dial = call->add_subcommand("dial", "A new outgoing call (dialling); prints its id");
    dial->add_option("NUMBER", dial_options.call.number, "The number dialled")->required();
    add_new_call_options(dial, dial_options);
    add_quiet_option(dial, dial_options);
    dial->callback([] { print_new_call(calls::dial(dial_options.call), dial_options); });
}

void add_change_commands(CLI::App* call)
{
    auto* answer = call->add_subcommand(
        "answer", "The ringing call is connected; a connected call is put on hold first, as the network does");
    answer->add_option("ID", call_word, "Call id (default: the only ringing call)");
    answer->callback([] { print_calls(calls::answer(call_word.empty() ? calls::only_ringing_call() : calls::call_id(call_word))); });

    auto* hold = call->add_subcommand("hold", "The call is put on hold");
    hold->add_option("ID", call_word, "Call id")->required();
    hold->callback([] { print_call(calls::hold(calls::call_id(call_word))); });

    auto* resume = call->add_subcommand("resume", "The held call is connected again");
    resume->add_option("ID", call_word, "Call id")->required();
    resume->callback([] { print_call(calls::resume(calls::call_id(call_word))); });

    auto* swap = call->add_subcommand("swap", "The connected call is put on hold and the held one connected");
    swap->callback([] { print_calls(calls::swap()); });

    auto* drop = call->add_subcommand("drop", "The call is disconnected, then idle");
    drop->add_option("ID", call_word, "Call id")->required();
    drop->callback([] { print_calls(calls::drop(calls::call_id(call_word))); });
}

void add_state_commands(CLI::App* call)
{
    auto* idle = call->add_subcommand("idle", "The call goes idle at once, without a disconnection");
    idle->add_option("ID", call_word, "Call id")->required();
    idle->callback([] { print_call(calls::set_state(calls::call_id(call_word), LINECALLSTATE_IDLE)); });

    static std::string state;
    auto* state_command = call->add_subcommand("state", "Any call state, e.g. CONNECTED or LINECALLSTATE_BUSY");
    state_command->add_option("ID", call_word, "Call id")->required();
    state_command->add_option("STATE", state,
                              "Call state (LINECALLSTATE_ prefix optional): IDLE, OFFERING, ACCEPTED, DIALTONE,\n"
                              "DIALING, RINGBACK, BUSY, SPECIALINFO, CONNECTED, PROCEEDING, ONHOLD, CONFERENCED,\n"
                              "ONHOLDPENDCONF, ONHOLDPENDTRANSFER, DISCONNECTED, UNKNOWN, or a number")
        ->required();
    state_command->callback([] {
        const uint32_t call_id = calls::call_id(call_word);
        auto value = wince::tapi::parse_call_state(state);
        if (!value)
            throw Failure("unknown call state '" + state + "': give one such as CONNECTED or LINECALLSTATE_ONHOLD");
        print_call(calls::set_state(call_id, *value));
    });
}

void add_talk_command(CLI::App* call)
{
    static CallOptions talk_options;
    static std::string seconds;
    static bool talk_json = false;
    auto* talk_command = call->add_subcommand(
        "talk", "A whole call: offering, connected for SECONDS of device time, dropped");
    talk_command->add_option("SECONDS", seconds, "Device seconds of talk")->required();
    add_new_call_options(talk_command, talk_options);
    talk_command->add_option("--number", talk_options.call.number, "The caller's number (caller id)");
    talk_command->add_flag("--json", talk_json, "Each change as the log's call event, one JSON object a line");
    talk_command->footer("Prints each change of the call as it comes, in the log's words.\n"
                         "Ctrl-C, SIGTERM or SIGHUP during the call drops it, as hanging up would.");
    talk_command->callback([] {
        call_output = talk_json ? CallOutput::json : CallOutput::words;
        talk(parse_talk_seconds(seconds), talk_options);
    });
}

void add_line_event_command(CLI::App& app)
{
    static std::string message;
    static std::vector<std::string> params;
    static std::string event_line;
    auto* line_event = app.add_subcommand(
        "line-event", "A line message other than a call state (e.g. LINE_LINEDEVSTATE) to every program with a line open");
    line_event->add_option("MESSAGE", message,
                           "LINE_ message (prefix optional): ADDRESSSTATE, CALLINFO, CLOSE, DEVSPECIFIC,\n"
                           "DEVSPECIFICFEATURE, GATHERDIGITS, GENERATE, LINEDEVSTATE, MONITORDIGITS, MONITORMEDIA,\n"
                           "MONITORTONE, REPLY, REQUEST, CREATE, APPNEWCALL, REMOVE, or a number")
        ->required();
    line_event->add_option("PARAMS", params, "Up to three message parameters")->expected(0, 3);
    line_event->add_option("--line", event_line, "Only programs with this line open (number or name)");
    line_event->callback([] {
        auto id = wince::tapi::parse_line_message(message);
        if (!id)
            throw Failure("unknown line message '" + message + "': give one such as LINE_LINEDEVSTATE, or a number");
        if (*id == LINE_CALLSTATE)
            throw Failure("call states come from 'phone call', not from line-event");
        uint32_t values[3] = {0, 0, 0};
        for (size_t i = 0; i < params.size(); ++i) {
            values[i] = parse_uint32(params[i], "parameter");
        }
        std::optional<uint32_t> line;
        if (!event_line.empty())
            line = calls::line_by_word(event_line);
        const int reached = radio::line_message(*id, values[0], values[1], values[2], line);
        std::printf("%s sent to %d process(es)\n", wince::tapi::line_message_name(*id).c_str(), reached);
    });
}

} // namespace

void add_call_commands(CLI::App& app)
{
    auto* call = app.add_subcommand("call", "Calls on the device's radio");
    call->require_subcommand(1);
    add_new_call_commands(call);
    add_change_commands(call);
    add_state_commands(call);
    add_talk_command(call);
    add_line_event_command(app);
}

} // namespace phone
