// phone log and phone wait: the device's event log, told as a story or as
// the raw JSON lines, and waiting on the device's clock or on its log.
// --follow and wait --event are woken by changes in the device folder (the
// folder, not the file, so that a log init replaces is still seen).
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <fnmatch.h>

#include "commands/commands.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/watch.h"
#include "log/log_follower.h"
#include "log/story.h"

namespace phone {
namespace {

namespace device = wince::device;
using nlohmann::json;

struct Filter {
    std::string exe;
    std::string event = "*";
    double since = 0; // device ms

    bool matches(const json& e) const
    {
        const auto text = [&e](const char* field) {
            const auto it = e.find(field);
            return it != e.end() && it->is_string() ? it->get<std::string>() : std::string();
        };
        const auto t = e.find("t");
        if (since > 0 && (t == e.end() || !t->is_number() || t->get<double>() < since))
            return false;
        if (!exe.empty() && upper(text("exe")) != upper(exe))
            return false;
        return ::fnmatch(event.c_str(), text("event").c_str(), 0) == 0;
    }
};

struct LogOptions {
    bool follow = false;
    bool all = false;
    bool json = false;
    bool details = false;
    Filter filter;
};

// "90", "1:30", "1:30.250" or "1:00:00": device time as a user writes it.
double parse_device_time(const std::string& text, const std::string& what)
{
    double total = 0;
    size_t start = 0;
    int parts = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        const std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        size_t used = 0;
        double value = -1;
        try {
            value = std::stod(part, &used);
        } catch (const std::exception&) {
        }
        const bool last = colon == std::string::npos;
        if (part.empty() || used != part.size() || !(value >= 0) || !std::isfinite(value) ||
            (!last && value != std::floor(value)) || (parts > 0 && value >= 60) || ++parts > 3)
            throw Failure("invalid " + what + " '" + text + "': give seconds (90) or m:ss (1:30) of device time");
        total = total * 60 + value;
        if (last)
            break;
        start = colon + 1;
    }
    return total * 1000;
}

// Hands each event the log gained to `each` (with its line as written),
// warning of lines that hold none.  A log that was replaced starts the
// story again.
void read_log(LogFollower& log, Story& story, const std::function<void(const json&, const std::string&)>& each)
{
    LogNews news = log.read();
    if (news.restarted)
        story = Story();
    for (const size_t line : news.not_events)
        std::fprintf(stderr, "phone: warning: %s line %zu is not an event, skipped\n", device::log_file().c_str(),
                     line);
    for (const auto& logged : news.events)
        each(logged.event, logged.line);
    std::fflush(stdout);
}

// The device folder, where the log is appended to and where init puts a
// new one; watched from before the first read, so nothing written between
// is missed.
device::FolderWatch watch_log()
{
    device::FolderWatch watch;
    if (!watch || watch.add(device::root()) < 0)
        throw Failure("cannot watch the log in " + device::root().string() + ": " + std::strerror(errno));
    return watch;
}

// Sleeps until the device folder changes or, when the wait has an end,
// until that real instant; false when it ended.
bool wait_for_change(device::FolderWatch& watch, std::optional<std::chrono::steady_clock::time_point> until)
{
    int timeout = -1;
    if (until) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        timeout = static_cast<int>(std::min<long long>(left.count(), 24LL * 3600 * 1000));
    }
    const int ready = watch.wait(timeout);
    if (ready < 0)
        throw Failure(std::string("cannot watch the log: ") + std::strerror(errno));
    watch.drain();
    return ready > 0 || !until || std::chrono::steady_clock::now() < *until;
}

void print(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

void show_log(const LogOptions& options)
{
    if (!options.follow && !std::filesystem::exists(device::log_file()))
        throw Failure("no event log at " + device::log_file().string() + " (run phone init first)");
    // Events before a follow's start are still told to the story, silently,
    // so that a signal is known for what it is in the call it belongs to.
    bool quiet = options.follow && !options.all;
    Story story;
    // Asking for events by name asks for the steps among them too.
    const bool details = options.details || options.filter.event != "*";
    const auto show = [&](const json& event, const std::string& raw) {
        if (options.json) {
            if (!quiet && options.filter.matches(event))
                print(raw);
            return;
        }
        const Told told = story.tell(event);
        if (!quiet && options.filter.matches(event) && (details || !told.detail))
            print(Story::format(told));
    };
    std::optional<device::FolderWatch> watch;
    if (options.follow)
        watch = watch_log();
    LogFollower log;
    read_log(log, story, show);
    quiet = false;
    while (watch) {
        wait_for_change(*watch, std::nullopt);
        read_log(log, story, show);
    }
}

struct WaitOptions {
    std::string seconds;
    std::string timeout;
    bool json = false;
    bool earlier = false; // --since: events already logged count too
    Filter filter;
};

void sleep_device_time(double ms)
{
    std::this_thread::sleep_until(wince::clock::real_time_of(wince::clock::now() + ms));
}

// Waits for the first matching event the log gains from now on, and prints it.
void wait_for_event(const WaitOptions& options)
{
    if (!std::filesystem::exists(device::log_file()))
        throw Failure("no event log at " + device::log_file().string() + " (run phone init first)");
    std::optional<std::chrono::steady_clock::time_point> until;
    double timeout = 0;
    if (!options.timeout.empty()) {
        timeout = parse_device_time(options.timeout, "--timeout");
        until = wince::clock::real_time_of(wince::clock::now() + timeout);
    }
    Story story;
    bool seen = false, replaying = true;
    const auto check = [&](const json& event, const std::string& raw) {
        const std::string text = options.json ? raw : story.line(event);
        if ((!replaying || options.earlier) && !seen && options.filter.matches(event)) {
            seen = true;
            print(text);
        }
    };
    device::FolderWatch watch = watch_log();
    LogFollower log;
    read_log(log, story, check);
    replaying = false;
    while (!seen) {
        if (!wait_for_change(watch, until))
            throw Failure("no " + options.filter.event + " event within " + device_time(timeout) + " of device time");
        read_log(log, story, check);
    }
}

void add_filter_options(CLI::App* cmd, Filter& filter)
{
    cmd->add_option("--exe", filter.exe, "Only events of this program (e.g. CallTicker.exe, phone)");
    cmd->add_option("--event", filter.event,
                    "Only events whose name matches this glob: process.*, call, waveout.write, led, backlight,\n"
                    "reg.*, thread.post, timer.*, window.*, line.*, playsound, messagebox*, key, channel.reject");
}

} // namespace

void add_log_commands(CLI::App& app)
{
    auto options = std::make_shared<LogOptions>();
    CLI::App* cmd = app.add_subcommand("log", "The event log as a story of the device, or the raw JSON lines");
    cmd->add_flag("--follow,-f", options->follow, "Keep printing new events as they come (from the end)");
    cmd->add_flag("--all", options->all, "With --follow: start with the events already in the log");
    cmd->add_flag("--json", options->json, "Raw JSON lines as the device writes them");
    cmd->add_flag("--details", options->details,
                  "Also the steps under each sound that went as it should (device opened, driver requests,\n"
                  "the stream's volume, played, closed); --event and --json show them always");
    add_filter_options(cmd, options->filter);
    cmd->add_option_function<std::string>(
           "--since", [options](const std::string& text) { options->filter.since = parse_device_time(text, "--since"); },
           "Only events from this device time on (seconds, or m:ss.mmm as the log shows it)")
        ->type_name("TIME");
    cmd->footer("Each line: device time, the call's time while a call is connected, the program, what happened.\n"
                "Times are m:ss.mmm of device time since the device booted.");
    cmd->callback([options] { show_log(*options); });

    auto waiting = std::make_shared<WaitOptions>();
    CLI::App* wait = app.add_subcommand(
        "wait", "Wait SECONDS of device time, or until the log gains an event (--event NAME)");
    wait->add_option("SECONDS", waiting->seconds, "Device time to wait (seconds, or m:ss)");
    add_filter_options(wait, waiting->filter);
    wait->add_option("--timeout", waiting->timeout, "With --event: give up after this much device time (seconds)")
        ->type_name("S");
    wait->add_option_function<std::string>(
           "--since",
           [waiting](const std::string& text) {
               waiting->filter.since = parse_device_time(text, "--since");
               waiting->earlier = true;
           },
           "Events already in the log from this device time on count too (--since 0: any)")
        ->type_name("TIME");
    wait->add_flag("--json", waiting->json, "Print the event as its raw JSON line");
    wait->footer("With --event, prints the event that came and exits 0, or exits 1 when --timeout passes first.\n"
                 "Only events logged after the wait begins count, unless --since says from when.");
    wait->callback([waiting] {
        const bool for_event = waiting->filter.event != "*" || !waiting->filter.exe.empty();
        if (for_event == !waiting->seconds.empty())
            throw Failure("wait: give either SECONDS or --event NAME");
        if (!for_event && (!waiting->timeout.empty() || waiting->earlier))
            throw Failure("wait: --timeout and --since go with --event");
        if (!for_event)
            sleep_device_time(parse_device_time(waiting->seconds, "SECONDS"));
        else
            wait_for_event(*waiting);
    });
}

} // namespace phone
