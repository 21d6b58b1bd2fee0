// phone call ... and phone line-event: the radio side of the device's
// telephony.  Every change goes to the programs that have the line open.
#include <cctype>
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
    std::string media = "INTERACTIVEVOICE";
    std::string line;
    std::string number;
    bool quiet = false;
};

std::string line_list(const wince::tapi::LineDevices& lines)
{
    std::string text;
    for (uint32_t id = 0; id < lines.size(); ++id)
        text += (id ? ", " : "") + std::to_string(id) +
                (lines[id].name ? " \"" + wince::device::narrow(*lines[id].name) + "\"" : " (no name)");
    return text.empty() ? "none" : text;
}

// A line by its number or its name (the last line of that name, as the
// default "Cellular Line" is found).
uint32_t line_by_word(const std::string& word, const wince::tapi::LineDevices& lines)
{
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

uint32_t choose_line(const CallOptions& options, uint32_t media)
{
    const auto lines = wince::tapi::line_devices();
    uint32_t line;
    if (options.line.empty()) {
        auto cellular = wince::tapi::default_cellular_line();
        if (!cellular)
            throw Failure("the device has no line named \"Cellular Line\": choose one with --line (lines: " +
                          line_list(lines) + ")");
        line = *cellular;
    } else {
        line = line_by_word(options.line, lines);
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

constexpr uint32_t ringing = LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED | LINECALLSTATE_DIALTONE |
                             LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_PROCEEDING;

// "1 CONNECTED, 2 OFFERING", or "there are no calls".
std::string call_list()
{
    std::string text;
    for (const auto& call : radio::calls())
        text += (text.empty() ? "" : ", ") + std::to_string(call.id) + " " +
                wince::tapi::call_state_name(call.state).substr(std::strlen("LINECALLSTATE_"));
    return text.empty() ? "there are no calls" : "calls: " + text;
}

uint32_t only_ringing_call()
{
    std::vector<uint32_t> found;
    for (const auto& call : radio::calls())
        if (call.state & ringing)
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

// The connected calls are held first, so the log shows the hold before the
// answer, as the network signals them.
void answer_call(uint32_t id)
{
    const auto call = radio::find(id);
    if (!call || !(call->state & ringing))
        throw Failure("cannot answer call " + std::to_string(id) + ": it is " +
                      (call ? wince::tapi::call_state_name(call->state) : std::string("gone")));
    for (const auto& changed : radio::answer(id))
        print_call(changed);
}

void drop(uint32_t id)
{
    const auto changed = radio::drop(id);
    if (changed.empty())
        throw Failure("no call " + std::to_string(id) + " on the device (it went idle)");
    for (const auto& call : changed)
        print_call(call);
}

void add_new_call_options(CLI::App* command, CallOptions& options)
{
    command->add_option("--media", options.media,
                        "Media mode(s), joined by '|': INTERACTIVEVOICE, AUTOMATEDVOICE, DATAMODEM, G3FAX, TDD,\n"
                        "G4FAX, DIGITALDATA, TELETEX, VIDEOTEX, TELEX, MIXED, ADSI, VOICEVIEW, UNKNOWN, or a number")
        ->capture_default_str();
    command->add_option("--line", options.line, "Line device by number or name (default: the last \"Cellular Line\")");
}

void add_quiet_option(CLI::App* command, CallOptions& options)
{
    command->add_flag("--quiet,-q", options.quiet, "Print only the call's id (for scripts)");
}

void print_new_call(const radio::Call& call, const CallOptions& options)
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
    const uint32_t media = parse_media(options.media);
    const uint32_t line = choose_line(options, media);
    catch_hang_ups();
    auto call = radio::place(line, LINECALLSTATE_OFFERING, media, false, options.number);
    print_call(call);
    set_state(call.id, LINECALLSTATE_CONNECTED);
    const double ends = wince::clock::now() + seconds * 1000.0;
    const bool whole = talk_until(ends);
    drop(call.id);
    if (!whole)
        throw Failure("call " + std::to_string(call.id) + " dropped: " + strsignal(hang_up_signal));
}

} // namespace

void add_call_commands(CLI::App& app)
{
    auto* call = app.add_subcommand("call", "Calls on the device's radio");
    call->require_subcommand(1);

    static CallOptions incoming_options;
    auto* incoming = call->add_subcommand("incoming", "A new incoming call (offering); prints its id");
    add_new_call_options(incoming, incoming_options);
    add_quiet_option(incoming, incoming_options);
    incoming->add_option("--number", incoming_options.number, "The caller's number (caller id)");
    incoming->callback([] {
        const uint32_t media = parse_media(incoming_options.media);
        const uint32_t line = choose_line(incoming_options, media);
        print_new_call(radio::place(line, LINECALLSTATE_OFFERING, media, false, incoming_options.number),
                       incoming_options);
    });

    static CallOptions dial_options;
    static std::string number;
    auto* dial = call->add_subcommand("dial", "A new outgoing call (dialling); prints its id");
    dial->add_option("NUMBER", number, "The number dialled")->required();
    add_new_call_options(dial, dial_options);
    add_quiet_option(dial, dial_options);
    dial->callback([] {
        const uint32_t media = parse_media(dial_options.media);
        const uint32_t line = choose_line(dial_options, media);
        print_new_call(radio::place(line, LINECALLSTATE_DIALING, media, true, number), dial_options);
    });

    static std::string id;
    auto* answer = call->add_subcommand(
        "answer", "The ringing call is connected; a connected call is put on hold first, as the network does");
    answer->add_option("ID", id, "Call id (default: the only ringing call)");
    answer->callback([] { answer_call(id.empty() ? only_ringing_call() : parse_call_id(id)); });

    auto* hold = call->add_subcommand("hold", "The call is put on hold");
    hold->add_option("ID", id, "Call id")->required();
    hold->callback([] { change_from(id, LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD, "hold"); });

    auto* resume = call->add_subcommand("resume", "The held call is connected again");
    resume->add_option("ID", id, "Call id")->required();
    resume->callback([] {
        change_from(id, LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER,
                    LINECALLSTATE_CONNECTED, "resume");
    });

    auto* swap = call->add_subcommand("swap", "The connected call is put on hold and the held one connected");
    swap->callback([] {
        const auto changed = radio::swap();
        if (changed.empty())
            throw Failure("cannot swap: that needs one connected and one held call (" + call_list() + ")");
        for (const auto& changed_call : changed)
            print_call(changed_call);
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
    state_command->add_option("STATE", state,
                              "Call state (LINECALLSTATE_ prefix optional): IDLE, OFFERING, ACCEPTED, DIALTONE,\n"
                              "DIALING, RINGBACK, BUSY, SPECIALINFO, CONNECTED, PROCEEDING, ONHOLD, CONFERENCED,\n"
                              "ONHOLDPENDCONF, ONHOLDPENDTRANSFER, DISCONNECTED, UNKNOWN, or a number")
        ->required();
    state_command->callback([] {
        const uint32_t call_id = parse_call_id(id);
        auto value = wince::tapi::parse_call_state(state);
        if (!value)
            throw Failure("unknown call state '" + state + "': give one such as CONNECTED or LINECALLSTATE_ONHOLD");
        set_state(call_id, *value);
    });

    static CallOptions talk_options;
    static std::string seconds;
    static bool talk_json = false;
    auto* talk_command = call->add_subcommand(
        "talk", "A whole call: offering, connected for SECONDS of device time, dropped");
    talk_command->add_option("SECONDS", seconds, "Device seconds of talk")->required();
    add_new_call_options(talk_command, talk_options);
    talk_command->add_option("--number", talk_options.number, "The caller's number (caller id)");
    talk_command->add_flag("--json", talk_json, "Each change as the log's call event, one JSON object a line");
    talk_command->footer("Prints each change of the call as it comes, in the log's words.\n"
                         "Ctrl-C, SIGTERM or SIGHUP during the call drops it, as hanging up would.");
    talk_command->callback([] {
        call_output = talk_json ? CallOutput::json : CallOutput::words;
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
        talk(value, talk_options);
    });

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
            line = line_by_word(event_line, wince::tapi::line_devices());
        const int reached = radio::line_message(*id, values[0], values[1], values[2], line);
        std::printf("%s sent to %d process(es)\n", wince::tapi::line_message_name(*id).c_str(), reached);
    });
}

} // namespace phone
