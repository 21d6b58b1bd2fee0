// The event log told in words a user knows: one event in, one line out,
// with device time and, while a voice call is connected, the call's own
// time ("0:55.812  CallTicker.exe  periodic signal: beep, 313 ms, full
// volume").  What a signal is comes from the event itself (the message the
// monitor was handling when it gave it); whoever shows the log (phone log,
// phone view, a narrated demo) feeds a Story the events in the log's order,
// because which call a line belongs to, and that call's time, depend on the
// calls before it.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "log/call_history.h"

namespace phone {

// Device milliseconds as m:ss.mmm, or h:mm:ss.mmm from an hour on.
std::string device_time(double ms);

// A volume of the wave device as a user reads it: "full volume", "volume
// 50%", "muted"; both channels when they differ and `channels` is 2.
std::string volume_words(uint32_t volume, unsigned channels = 1);
// The same as a bare share of full level: "50%", "left 50%, right 25%".
std::string volume_percent(uint32_t volume, unsigned channels = 1);

struct Told {
    double t = 0;                     // device ms
    std::string exe;                  // the program that logged it
    std::optional<uint32_t> call;     // the call the line belongs to, while there is one
    std::optional<double> call_time;  // that call's time: ms since its first connection
    std::string what;                 // what happened, in words
    bool detail = false;              // a step under a signal that went as it should
};

// Everything the story remembers between events.  Each event's handler
// reads it; only the handlers named here change it.
struct StoryMemory {
    CallClocks clocks;                 // every call's clock (kept by Story::tell)
    std::set<uint32_t> scheduled;      // calls the monitor's schedule began for (window.create)
    bool schedule_running = false;     // the monitor's call timer window exists (window.create/destroy)
    std::map<long, unsigned> channels; // pid -> channels of its open wave output (waveout.open)
    double latest = 0;                 // the latest device time told: a boot sends the clock back (Story::tell)
};

class Story {
public:
    Told tell(const nlohmann::json& event);
    // tell() as one line: time, call and call time (when there is one), program, words.
    std::string line(const nlohmann::json& event);
    static std::string format(const Told& told);

private:
    std::optional<uint32_t> call_of(const nlohmann::json& event) const;

    StoryMemory memory_;
};

} // namespace phone
