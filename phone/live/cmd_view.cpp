// phone view: a live view of a device in the terminal (ncurses): the
// phone's screen, the status of its outputs and calls, the settings and
// the readable log's tail.  Keys go to the device; a few function keys
// place and change calls and start the settings program.
//
// It sleeps in poll() on the terminal, an inotify watch of the device
// folder and, only while a call is connected, a timer that advances the
// call's duration; it redraws only when one of them wakes it.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstring>
#include <deque>
#include <string>

#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <windows.h>
#include <nled.h>
#include <tapi.h>

#include "audio/output.h"
#include "log/call_history.h"
#include "commands/commands.h"
#include "device/channel.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/files.h"
#include "drivers/power_state.h"
#include "kernel/process_table.h"
#include "render/screen_text.h"
#include "screens/shown_screen.h"
#include "live/view_keys.h"
#include "log/settings_view.h"
#include "log/story.h"
#include "tapi/names.h"
#include "tapi/radio.h"
#include "user/keys.h"
#include "user/toplevel.h"

namespace phone {
namespace {

namespace device = wince::device;
namespace radio = wince::tapi::radio;
using nlohmann::json;

constexpr int kMinWidth = 80;
constexpr int kMinHeight = 24;
constexpr int kScreenWidth = 44; // the phone's screen as screen_text frames it
constexpr size_t kTailKept = 200;

using wince::device::Descriptor;

// The log read as it grows: every event kept for the call history, the
// last lines told in words for the tail.
class LogFollower {
public:
    // True when new events came.
    bool read()
    {
        struct stat info {};
        if (::stat(device::log_file().c_str(), &info) != 0)
            return false;
        if (info.st_ino != inode_ || info.st_size < offset_) {
            *this = LogFollower();
            inode_ = info.st_ino;
        }
        Descriptor fd(device::open_private(device::log_file(), O_RDONLY)); // never a FIFO's reader
        if (fd.get() < 0)
            return false;
        bool grew = false;
        char buffer[65536];
        ssize_t n;
        while ((n = ::pread(fd.get(), buffer, sizeof buffer, offset_)) > 0) {
            offset_ += n;
            pending_.append(buffer, static_cast<size_t>(n));
        }
        size_t start = 0;
        for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
            json event = json::parse(pending_.substr(start, end - start), nullptr, false);
            if (!event.is_object())
                continue;
            tail_.push_back(story_.line(event));
            if (tail_.size() > kTailKept)
                tail_.pop_front();
            events_.push_back(std::move(event));
            grew = true;
        }
        pending_.erase(0, start);
        return grew;
    }

    const std::deque<std::string>& tail() const { return tail_; }
    const std::vector<json>& events() const { return events_; }

private:
    ino_t inode_ = 0;
    off_t offset_ = 0;
    std::string pending_;
    Story story_;
    std::deque<std::string> tail_;
    std::vector<json> events_;
};

bool vibrating()
{
    NLED_SETTINGS_INFO settings{};
    settings.LedNum = 1;
    return NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, &settings) && settings.OffOnBlink != 0;
}

// What the view shows, gathered anew at each change.
struct Snapshot {
    double now = 0;
    bool dark = false;
    bool vibrating = false;
    DWORD volume = 0;
    std::vector<radio::Call> calls;
    std::vector<CallRecord> history;
    std::vector<SettingView> settings;
    std::vector<std::string> screen; // framed, without its blank rows
};

// The screen as `phone screen` shows it, with the rows between controls
// left out so that a whole dialog fits beside the status.
std::vector<std::string> screen_lines()
{
    const std::string text = screen_text(shown_screen());
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (line.find_first_not_of(" |") != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

Snapshot gather(const LogFollower& log)
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

void put(int y, int x, const std::string& text, int width, attr_t attributes = A_NORMAL)
{
    if (width <= 0)
        return;
    attron(attributes);
    mvaddnstr(y, x, text.c_str(), width);
    attroff(attributes);
}

class View {
public:
    void draw(const Snapshot& s, const LogFollower& log)
    {
        erase();
        int height, width;
        getmaxyx(stdscr, height, width);
        if (width < kMinWidth || height < kMinHeight) {
            put(0, 0, "phone view needs a terminal of 80 x 24 or larger (F10 quits)", width);
            refresh();
            return;
        }
        header(s, width);
        const int panel_height = 17;
        screen_panel(s, 1, panel_height);
        status_panel(s, 1, kScreenWidth + 2, width - kScreenWidth - 2, panel_height);
        log_tail(log, 1 + panel_height, width, height - panel_height - 2);
        footer(height - 1, width);
        refresh();
    }

    void say(const std::string& message) { message_ = message; }

private:
    void header(const Snapshot& s, int width)
    {
        const std::string title = " phone view  " + device::root().string();
        const std::string clock = "device time " + device_time(s.now) + " ";
        put(0, 0, std::string(width, ' '), width, A_REVERSE);
        put(0, 0, title, width - static_cast<int>(clock.size()) - 1, A_REVERSE | A_BOLD);
        put(0, width - static_cast<int>(clock.size()), clock, static_cast<int>(clock.size()), A_REVERSE);
    }

    void screen_panel(const Snapshot& s, int top, int height)
    {
        if (s.dark) {
            put(top + height / 2, 0, centred("(backlight off: screen dark)", kScreenWidth), kScreenWidth, A_DIM);
            return;
        }
        for (int i = 0; i < height && i < static_cast<int>(s.screen.size()); ++i)
            put(top + i, 0, s.screen[i], kScreenWidth);
    }

    void status_panel(const Snapshot& s, int top, int left, int width, int height)
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
        for (const auto& call : s.calls) {
            std::string text = "  " + std::to_string(call.id) + "  " +
                               wince::tapi::call_state_name(call.state).substr(strlen("LINECALLSTATE_")) + "  " +
                               wince::tapi::media_modes_name(call.media);
            if (call.connected_at)
                text += "  " + call_time(s.now - *call.connected_at);
            if (!call.number.empty())
                text += "  " + call.number;
            line(text, call.state == LINECALLSTATE_CONNECTED ? A_BOLD : A_NORMAL);
        }
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
        // The settings' meanings, word-wrapped to the panel.
        std::string words;
        for (const auto& setting : s.settings) {
            const std::string meaning = setting.meaning + (&setting == &s.settings.back() ? "" : ",");
            size_t at = 0;
            while (at < meaning.size()) {
                const size_t space = meaning.find(' ', at);
                const std::string word = meaning.substr(at, space == std::string::npos ? std::string::npos : space - at);
                at = space == std::string::npos ? meaning.size() : space + 1;
                if (!words.empty() && static_cast<int>(words.size() + 1 + word.size()) > width - 2) {
                    line("  " + words);
                    words.clear();
                }
                words += (words.empty() ? "" : " ") + word;
            }
        }
        if (!words.empty())
            line("  " + words);
    }

    void log_tail(const LogFollower& log, int top, int width, int height)
    {
        mvhline(top, 0, '-', width);
        put(top, 2, " log ", width);
        const auto& tail = log.tail();
        const int rows = height - 1;
        const size_t first = tail.size() > static_cast<size_t>(rows) ? tail.size() - rows : 0;
        for (size_t i = first; i < tail.size(); ++i)
            put(top + 1 + static_cast<int>(i - first), 0, tail[i], width);
    }

    void footer(int y, int width)
    {
        const std::string keys =
            message_.empty() ? "F3 ring F4 answer F5 hold F6 resume F7 hang up F8 data F9 settings F10 quit"
                             : message_;
        put(y, 0, std::string(width, ' '), width, A_REVERSE);
        put(y, 0, keys, width, A_REVERSE);
    }

    static std::string centred(const std::string& text, int width)
    {
        const int pad = std::max(0, (width - static_cast<int>(text.size())) / 2);
        return std::string(pad, ' ') + text;
    }

    std::string message_;
};

// inotify on the device folder and its runtime state.  Changes to lock and
// scratch files are no news: the view's own reads open those.
class DeviceWatch {
public:
    DeviceWatch() : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    {
        if (fd_.get() < 0)
            throw Failure(std::string("cannot watch the device: ") + std::strerror(errno));
        add(device::root());
        add(device::run_dir());
        add(device::run_dir() / "windows");
        add(device::run_dir() / "proc");
    }

    int fd() const { return fd_.get(); }

    // Reads what inotify has; true when something that matters changed.
    bool drain()
    {
        alignas(inotify_event) char buffer[8192];
        bool news = false;
        ssize_t n;
        while ((n = ::read(fd_.get(), buffer, sizeof buffer)) > 0) {
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                at += sizeof(inotify_event) + event->len;
                const std::string name = event->len ? event->name : "";
                if ((event->mask & IN_CREATE) && (event->mask & IN_ISDIR))
                    add(device::run_dir() / name);
                news = news || matters(event->wd, name);
            }
        }
        return news;
    }

private:
    void add(const std::filesystem::path& dir)
    {
        const int wd = ::inotify_add_watch(fd_.get(), dir.c_str(),
                                           IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_ONLYDIR);
        if (wd >= 0 && dir == device::root())
            root_ = wd;
    }

    bool matters(int wd, const std::string& name) const
    {
        if (wd == root_)
            return name == "events.jsonl" || name == "device.json" || name == "run";
        auto ends = [&](const char* tail) {
            return name.size() >= strlen(tail) && name.compare(name.size() - strlen(tail), strlen(tail), tail) == 0;
        };
        return !(ends(".lock") || ends(".log") || ends(".new") || ends(".tmp") || name == "guard");
    }

    Descriptor fd_;
    int root_ = -1;
};

// Curses for the life of the view, whatever ends it.
struct Curses {
    Curses()
    {
        std::setlocale(LC_ALL, "");
        initscr();
        raw();
        noecho();
        keypad(stdscr, TRUE);
        nodelay(stdscr, TRUE);
        set_escdelay(25);
        curs_set(0);
    }
    ~Curses() { endwin(); }
};

void arm(int timer, bool ticking)
{
    const timespec period{0, ticking ? 200'000'000 : 0};
    const itimerspec schedule{period, period};
    ::timerfd_settime(timer, 0, &schedule, nullptr);
}

void run_view()
{
    if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO))
        throw Failure("view needs a terminal (it is interactive; try phone status or phone log --follow)");
    DeviceWatch watch;
    Descriptor timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    LogFollower log;
    log.read();
    Curses curses;
    View view;
    bool ticking = false;
    for (bool redraw = true;;) {
        if (redraw) {
            const Snapshot snapshot = gather(log);
            view.draw(snapshot, log);
            if (call_connected(snapshot) != ticking)
                arm(timer.get(), ticking = !ticking);
        }
        pollfd waits[] = {{STDIN_FILENO, POLLIN, 0}, {watch.fd(), POLLIN, 0}, {timer.get(), POLLIN, 0}};
        if (::poll(waits, 3, -1) < 0 && errno != EINTR)
            throw Failure(std::string("view: ") + std::strerror(errno));
        redraw = false;
        if (waits[2].revents & POLLIN) {
            uint64_t expirations;
            redraw = ::read(timer.get(), &expirations, sizeof expirations) > 0;
        }
        if (waits[1].revents & POLLIN) {
            const bool changed = watch.drain();
            redraw = log.read() || changed || redraw;
        }
        for (int ch; (ch = getch()) != ERR;) {
            if (ch == KEY_F(10) || ch == 3 /* Ctrl-C */)
                return;
            if (ch == KEY_RESIZE) {
                redraw = true;
                continue;
            }
            view.say(act(ch));
            redraw = true;
        }
    }
}

} // namespace

void add_view_commands(CLI::App& app)
{
    auto* view = app.add_subcommand("view", "Interactive: the screen, the status and the log live; keys go to the device");
    view->footer("Keys go to the device (F1 F2 soft keys, arrows, Tab, Enter, Esc, Space, characters).\n"
                 "F3 an incoming voice call, F4 answer, F5 hold, F6 resume, F7 hang up, F8 an incoming\n"
                 "data call, F9 start the settings program, F10 or Ctrl-C quit.");
    view->callback(run_view);
}

} // namespace phone
