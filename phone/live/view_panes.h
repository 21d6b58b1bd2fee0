// The panes of phone view: the phone's screen, the status of its outputs
// and calls with the settings, and the readable log's tail.  Each pane is
// drawn from a Snapshot, the device as it was at the last change.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include <curses.h>

#include <windows.h>

#include "log/call_history.h"
#include "log/log_follower.h"
#include "log/settings_view.h"
#include "log/story.h"
#include "tapi/radio.h"

namespace phone::view {

inline constexpr int screen_width = 44; // the phone's screen as screen_text frames it

// The log as the view follows it: every event kept for the call history,
// the last lines told in words for the tail.
class FollowedLog {
public:
    // True when new events came (or the log started anew).
    bool read();

    const std::deque<std::string>& tail() const { return tail_; }
    const std::vector<nlohmann::json>& events() const { return events_; }

private:
    LogFollower follower_;
    Story story_;
    std::deque<std::string> tail_;
    std::vector<nlohmann::json> events_;
};

// What the view shows, gathered anew at each change.
struct Snapshot {
    double now = 0;
    bool dark = false;
    bool vibrating = false;
    DWORD volume = 0;
    std::vector<wince::tapi::radio::Call> calls;
    std::vector<CallRecord> history;
    std::vector<SettingView> settings;
    std::vector<std::string> screen; // framed, without its blank rows
};

Snapshot gather(const FollowedLog& log);
bool call_connected(const Snapshot& s);

// The phone's screen as `phone screen` shows it, without its blank rows.
std::vector<std::string> screen_lines();

// `text` at row `y`, column `x`, cut to `width` columns.
void put(int y, int x, const std::string& text, int width, attr_t attributes = A_NORMAL);

void draw_screen(const Snapshot& s, int top, int height);
void draw_status(const Snapshot& s, int top, int left, int width, int height);
void draw_log(const FollowedLog& log, int top, int width, int height);

} // namespace phone::view
