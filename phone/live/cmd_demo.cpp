// phone demo: CallTicker from start to finish on a fresh device, narrated.
// Every step is a phone command as a user would type it, shown as it runs;
// what the device does meanwhile is told from its event log as it comes.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "log/call_history.h"
#include "commands/commands.h"
#include "device/device.h"
#include "device/files.h"
#include "device/watch.h"
#include "log/log_follower.h"
#include "log/narrator.h"

extern char** environ;

namespace phone {
namespace {

namespace fs = std::filesystem;
namespace device = wince::device;
using nlohmann::json;

constexpr const char* kSettingsProgram = "\\Program Files\\CallTicker\\CallTickerCfg.exe";

struct DemoOptions {
    std::string device;
    double clock_rate = 10;
    bool keep = false;
};

// Follows the log and tells what happens as it is appended.
class LiveNarration {
public:
    LiveNarration()
    {
        if (!watch_ || watch_.add(device::root()) < 0)
            throw Failure(std::string("demo: cannot watch the device: ") + std::strerror(errno));
    }

    int fd() const { return watch_.fd(); }

    void drain()
    {
        watch_.drain();
        for (const auto& logged : log_.read().events)
            if (auto words = narrator_.tell(logged.event))
                std::printf("        %s\n", words->c_str());
        std::fflush(stdout);
    }

    const std::vector<json>& events() const { return narrator_.events(); }

private:
    device::FolderWatch watch_;
    LogFollower log_;
    Narrator narrator_;
};

struct StepResult {
    int status = -1;
    std::string output;
    std::string errors;
};

// Runs `phone --device DIR args...`, telling the log while it runs.
StepResult run_phone(const std::vector<std::string>& args, LiveNarration* narration)
{
    std::vector<std::string> words = {"/proc/self/exe", "--device", device::root().string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // The step's output is kept in memory, not in the device folder, where
    // nothing but the device's own files belongs.
    const int out = ::memfd_create("demo-step.out", MFD_CLOEXEC), err = ::memfd_create("demo-step.err", MFD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    pid_t pid = 0;
    const int failed = out < 0 || err < 0 ? errno : posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) {
        ::close(out);
        ::close(err);
        throw Failure(std::string("demo: cannot run phone: ") + std::strerror(failed));
    }

    const int child = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    for (bool running = true; running;) {
        pollfd waits[] = {{child, POLLIN, 0}, {narration ? narration->fd() : -1, POLLIN, 0}};
        if (::poll(waits, 2, child < 0 ? 100 : -1) < 0 && errno != EINTR)
            break;
        if (narration)
            narration->drain();
        running = child >= 0 ? !(waits[0].revents & POLLIN) : ::waitpid(pid, nullptr, WNOHANG) == 0;
    }
    StepResult result;
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    if (child >= 0)
        ::close(child);
    auto slurp = [](int fd) {
        std::string text;
        char buffer[4096];
        ssize_t n;
        for (off_t at = 0; (n = ::pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
            text.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        return text;
    };
    result.output = slurp(out);
    result.errors = slurp(err);
    if (narration)
        narration->drain();
    return result;
}

std::string shown(const std::vector<std::string>& args)
{
    std::string line = "phone";
    for (const auto& arg : args)
        line += " " + (arg.find_first_of(" \\") == std::string::npos ? arg : "'" + arg + "'");
    return line;
}

class Demo {
public:
    explicit Demo(const DemoOptions& options) : options_(options) {}

    // Runs a step, showing it; fails the demo naming it when it fails.
    std::string step(const std::vector<std::string>& args)
    {
        std::printf("  $ %s\n", shown(args).c_str());
        std::fflush(stdout);
        const StepResult result = run_phone(args, narration_.get());
        if (result.status != 0) {
            std::string why = result.errors.substr(0, result.errors.find('\n'));
            throw Failure("demo: '" + shown(args) + "' failed: " + (why.empty() ? "no reason given" : why));
        }
        return result.output;
    }

    void heading(const std::string& words) { std::printf("\n%s\n", words.c_str()); }

    void show_screen()
    {
        const std::string text = step({"screen"});
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = text.substr(start, end - start);
            if (line.find_first_not_of(" |") != std::string::npos)
                std::printf("      %s\n", line.c_str());
        }
    }

    void run()
    {
        const auto started = std::chrono::steady_clock::now();
        heading("CallTicker demo on the device " + device::root().string());
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g", options_.clock_rate);
        step({"init", "--clock-rate", rate});
        narration_ = std::make_unique<LiveNarration>();
        heading("1. The phone starts: the settings program starts the monitor, which chimes.");
        step({"boot"});
        expect_event("line.open", "CallTicker.exe", "the monitor did not start watching the line after boot");

        heading("2. A voice call of 2:10 with the settings as they come: a chime at the start, a beep 5 s\n"
                "   before each minute, the screen dark after 5 s, a chime at the end.");
        talk("130");

        heading("3. The settings program, changed as a user would, with keys and taps.");
        step({"run", kSettingsProgram});
        show_screen();
        step({"tap", "control", "1003"});
        step({"key", "DOWN"});
        show_screen();
        step({"select", "1004", "0"});
        step({"tap", "control", "1021"});
        step({"key", "DOWN", "DOWN"});
        step({"select", "1005", "0"});
        show_screen();
        pictures_ = device::root() / "pictures";
        if (!device::make_private_dirs(pictures_))
            throw Failure("demo: cannot make " + device::refusal(pictures_, errno));
        step({"screenshot", (pictures_ / "settings.png").string(), "--scale", "2"});
        const size_t before_ok = narration_->events().size();
        step({"tap", "softkey", "left"});
        expect_event("process.exit", "CallTickerCfg.exe", "the settings program did not close on \"OK\"", before_ok);

        heading("4. A second call of 1:10 with the new settings: a vibration 10 s before each half\n"
                "   minute, and the screen stays on.");
        talk("70");

        step({"timeline", "--out", (pictures_ / "timeline.svg").string()});
        step({"timeline", "--out", (pictures_ / "timeline.png").string()});
        const size_t before_quit = narration_->events().size();
        step({"post", "--process", "CallTicker.exe", "WM_MONITOR_QUIT"});
        expect_event("process.exit", "CallTicker.exe", "the monitor did not quit when asked", before_quit);

        const auto calls = call_history(narration_->events());
        check(calls);
        summary(calls);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("\nDone in %.1f s of real time (device clock at %g times real time).\n", seconds,
                    options_.clock_rate);
    }

    void finish()
    {
        narration_.reset();
        if (options_.keep || !options_.device.empty()) {
            std::printf("The device stays at %s: try phone --device %s view (or log, timeline, reg query).\n",
                        device::root().c_str(), device::root().c_str());
            return;
        }
        // Only the pictures outlive a demo device that is not kept.
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(device::root(), ignored))
            if (entry.path() != pictures_)
                fs::remove_all(entry.path(), ignored);
    }

private:
    // A whole call, told up to its end signal.
    void talk(const std::string& seconds)
    {
        const size_t before = narration_->events().size();
        step({"call", "talk", seconds});
        expect_event("window.destroy", "CallTicker.exe", "the monitor did not finish timing the call", before);
    }

    // Waits (a few seconds of real time at most) for `exe` to log `event`.
    // Only events from the `since`-th on count.
    void expect_event(const std::string& event, const std::string& exe, const std::string& otherwise, size_t since = 0)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            const auto& events = narration_->events();
            for (size_t i = since; i < events.size(); ++i)
                if (events[i].value("event", std::string()) == event && events[i].value("exe", std::string()) == exe)
                    return;
            if (std::chrono::steady_clock::now() > deadline)
                throw Failure("demo: " + otherwise);
            pollfd wait{narration_->fd(), POLLIN, 0};
            ::poll(&wait, 1, 200);
            narration_->drain();
        }
    }

    static size_t count(const CallRecord& call, SignalKind kind, SignalRole role)
    {
        size_t n = 0;
        for (const auto& s : call.signals)
            n += s.kind == kind && s.role == role;
        return n;
    }

    void check(const std::vector<CallRecord>& calls)
    {
        if (calls.size() != 2)
            throw Failure("demo: the log shows " + std::to_string(calls.size()) + " calls, not the two placed");
        const auto& first = calls[0];
        if (count(first, SignalKind::Chime, SignalRole::Start) != 1 || count(first, SignalKind::Chime, SignalRole::End) != 1)
            throw Failure("demo: the first call did not get its start and end chimes");
        if (count(first, SignalKind::Beep, SignalRole::Periodic) != 2)
            throw Failure("demo: the first call did not get a beep before each of its two minutes");
        if (first.dark.empty())
            throw Failure("demo: the screen did not go dark during the first call");
        const auto& second = calls[1];
        if (second.settings.regular_type != 2 || second.settings.interval_ms() != 30000 ||
            second.settings.lead_ms() != 10000 || second.settings.screen_off_ms() != -1)
            throw Failure("demo: the settings program did not store Vibrate, 30 sec., 10 seconds and Never");
        if (count(second, SignalKind::Vibration, SignalRole::Periodic) != 2)
            throw Failure("demo: the second call did not vibrate before each of its two half minutes");
        if (!second.dark.empty())
            throw Failure("demo: the screen went dark in the second call although it was set to Never");
    }

    void summary(const std::vector<CallRecord>& calls)
    {
        heading("Summary");
        std::printf("  %-5s %-8s %-7s %-34s %-7s %s\n", "call", "length", "start", "periodic signals", "end", "screen");
        for (const auto& call : calls) {
            std::string start, end, periodic;
            for (const auto& s : call.signals) {
                if (s.role == SignalRole::Start)
                    start = signal_kind_name(s.kind);
                else if (s.role == SignalRole::End)
                    end = signal_kind_name(s.kind);
                else
                    periodic += (periodic.empty() ? std::string(signal_kind_name(s.kind)) + " at " : ", ") +
                                call_time(s.at);
            }
            const std::string screen =
                call.dark.empty() ? "stayed on" : "dark " + call_time(call.dark[0].from) + " to the end";
            std::printf("  %-5u %-8s %-7s %-34s %-7s %s\n", call.id, call_time(call.duration).c_str(),
                        start.empty() ? "none" : start.c_str(), periodic.empty() ? "none" : periodic.c_str(),
                        end.empty() ? "none" : end.c_str(), screen.c_str());
        }
        std::printf("\nPictures:\n  %s\n  %s\n  %s\n", (pictures_ / "settings.png").c_str(),
                    (pictures_ / "timeline.svg").c_str(), (pictures_ / "timeline.png").c_str());
    }

    const DemoOptions& options_;
    std::unique_ptr<LiveNarration> narration_;
    fs::path pictures_;
};

void run_demo(const DemoOptions& options)
{
    if (options.device.empty()) {
        std::string dir = (fs::temp_directory_path() / "callticker-demo-XXXXXX").string();
        if (!::mkdtemp(dir.data()))
            throw Failure(std::string("demo: cannot make a device folder: ") + std::strerror(errno));
        device::set_root(dir);
    } else {
        // A folder of the user's own is refused before anything is done in
        // it; init, the first step, takes the device lock itself.
        device::claim_device();
    }
    Demo demo(options);
    try {
        demo.run();
    } catch (...) {
        demo.finish();
        throw;
    }
    demo.finish();
}

} // namespace

void add_demo_commands(CLI::App& app, std::function<bool()> device_given)
{
    auto options = std::make_shared<DemoOptions>();
    auto* demo = app.add_subcommand(
        "demo", "CallTicker on a fresh device: boot, a narrated call, the settings changed, a second call");
    demo->add_option_function<std::string>(
            "--clock-rate",
            [options](const std::string& text) { options->clock_rate = parse_clock_rate(text, max_demo_clock_rate); },
            "Device time per real time, 0.001 to 1000 (default 10; 1 to hear the sounds; the programs cannot keep "
            "up with a faster clock)")
        ->type_name("R");
    demo->add_flag("--keep", options->keep, "Keep the device folder for view, log and timeline");
    demo->footer("Without --device the demo runs on a new folder under the temporary directory and removes\n"
                 "it afterwards, all but the pictures.  Ends with 0, or 1 and a line naming what did not happen.");
    demo->callback([options, device_given] {
        options->device = device_given() ? device::root().string() : std::string();
        run_demo(*options);
    });
}

} // namespace phone
