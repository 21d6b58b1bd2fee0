// phone view: a live view of a device in the terminal (ncurses): the
// phone's screen, the status of its outputs and calls, the settings and
// the readable log's tail (the panes, view_*.cpp).  Keys go to the device;
// a few function keys place and change calls and start the settings
// program (view_keys.cpp).
//
// It sleeps in poll() on the terminal, a watch of the device folder and,
// only while a call is connected, a timer that advances the call's
// duration; it redraws only when one of them wakes it.
#include <cerrno>
#include <clocale>
#include <cstring>

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "commands/commands.h"
#include "device/device.h"
#include "device/watch.h"
#include "live/view_keys.h"
#include "live/view_panes.h"

namespace phone {

void view::put(int y, int x, const std::string& text, int width, attr_t attributes)
{
    if (width <= 0)
        return;
    attron(attributes);
    mvaddnstr(y, x, text.c_str(), width);
    attroff(attributes);
}

namespace {

namespace device = wince::device;
using view::put;

constexpr int kMinWidth = 80;
constexpr int kMinHeight = 24;

// The panes laid out on the terminal, between a title and the keys.
class Layout {
public:
    void draw(const view::Snapshot& s, const view::FollowedLog& log)
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
        view::draw_screen(s, 1, panel_height);
        view::draw_status(s, 1, view::screen_width + 2, width - view::screen_width - 2, panel_height);
        view::draw_log(log, 1 + panel_height, width, height - panel_height - 2);
        footer(height - 1, width);
        refresh();
    }

    void say(const std::string& message) { message_ = message; }

private:
    static void header(const view::Snapshot& s, int width)
    {
        const std::string title = " phone view  " + device::root().string();
        const std::string clock = "device time " + device_time(s.now) + " ";
        put(0, 0, std::string(width, ' '), width, A_REVERSE);
        put(0, 0, title, width - static_cast<int>(clock.size()) - 1, A_REVERSE | A_BOLD);
        put(0, width - static_cast<int>(clock.size()), clock, static_cast<int>(clock.size()), A_REVERSE);
    }

    void footer(int y, int width) const
    {
        const std::string keys =
            message_.empty() ? "F3 ring F4 answer F5 hold F6 resume F7 hang up F8 data F9 settings F10 quit"
                             : message_;
        put(y, 0, std::string(width, ' '), width, A_REVERSE);
        put(y, 0, keys, width, A_REVERSE);
    }

    std::string message_;
};

// The device folder and its runtime state, each folder made in run/
// included.  Changes to lock and scratch files are no news: the view's own
// reads open those.
class DeviceWatch {
public:
    DeviceWatch()
    {
        if (!watch_)
            throw Failure(std::string("cannot watch the device: ") + std::strerror(errno));
        root_ = watch_.add(device::root());
        watch_run();
    }

    int fd() const { return watch_.fd(); }

    // True when something that matters changed.
    bool drain()
    {
        bool news = false;
        watch_.drain([&](const device::FolderChange& change) {
            if (change.folder == run_ && (change.mask & IN_CREATE) && (change.mask & IN_ISDIR))
                watch_.add(device::run_dir() / change.name);
            if (change.folder == root_ && change.name == "run")
                watch_run();
            news = news || matters(change);
        });
        return news;
    }

private:
    // run/ and the folders the programs make in it; boot makes run/ anew,
    // and its folders may be there before the view hears of it.
    void watch_run()
    {
        run_ = watch_.add(device::run_dir());
        watch_.add(device::run_dir() / "windows");
        watch_.add(device::run_dir() / "proc");
    }

    bool matters(const device::FolderChange& change) const
    {
        const std::string& name = change.name;
        if (change.folder == root_)
            return name == "events.jsonl" || name == "device.json" || name == "run";
        auto ends = [&](const char* tail) {
            return name.size() >= strlen(tail) && name.compare(name.size() - strlen(tail), strlen(tail), tail) == 0;
        };
        return !(ends(".lock") || ends(".log") || ends(".new") || ends(".tmp") || name == "guard");
    }

    device::FolderWatch watch_;
    int root_ = -1;
    int run_ = -1;
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
    device::Descriptor timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    view::FollowedLog log;
    log.read();
    Curses curses;
    Layout layout;
    bool ticking = false;
    for (bool redraw = true;;) {
        if (redraw) {
            const view::Snapshot snapshot = view::gather(log);
            layout.draw(snapshot, log);
            if (view::call_connected(snapshot) != ticking)
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
            layout.say(act(ch));
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
