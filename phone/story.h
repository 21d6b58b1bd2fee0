// The event log told in words a user knows: one event in, one line out,
// with device time and, while a voice call is connected, the call's own
// time ("0:55.812  CallTicker.exe  periodic signal: beep, 313 ms, full
// volume").  Whoever shows the log (phone log, a timeline, a narrated demo)
// feeds a Story the events in the log's order, because what an event means
// can depend on what came before: a sound while a call is connected is a
// start or periodic signal, the next one after the call is its end signal.
#pragma once

#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

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
    std::optional<double> call_time;  // ms since the call connected, while one is
    std::string what;                 // what happened, in words
    bool detail = false;              // a step under a signal that went as it should
};

class Story {
public:
    Told tell(const nlohmann::json& event);
    // tell() as one line: time, call time (when there is one), program, words.
    std::string line(const nlohmann::json& event);
    static std::string format(const Told& told);

private:
    std::string signal_role();
    std::string describe(const nlohmann::json& event);
    std::string describe_call(const nlohmann::json& event);
    std::string describe_sound(const nlohmann::json& event);
    std::string describe_led(const nlohmann::json& event);

    std::map<uint32_t, double> connected_; // call id -> when it connected
    bool start_given_ = false;             // the connected call has had its first signal
    bool end_pending_ = false;             // a call ended and its end signal has not come
    std::map<long, unsigned> channels_;    // pid -> channels of its open wave output
};

} // namespace phone
