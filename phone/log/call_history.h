// What happened during each call of a device, read back from its event log:
// when the call was connected and for how long, which signals the monitor
// gave during it and at what call time, when it was held, when the screen
// was dark, when the monitor's schedule ran, and which settings were in
// force.  The timeline picture, the demo's summary and the story are drawn
// from this, so they tell one call time and one role for each signal.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace phone {

enum class SignalKind { Chime, Beep, Vibration };

// "chime", "beep", "vibration"
const char* signal_kind_name(SignalKind kind);

// What the monitor's main thread was handling when it logged an event, read
// from the event's "handling": its own start-up (nothing taken from its
// queue yet), WM_CALL_CONNECTED, the periodic timer's WM_TIMER,
// WM_CALL_ENDED, WM_MONITOR_QUIT, or something else (the screen-off timer, a
// key).  Other for the events of any other program.
enum class MonitorStep { StartUp, CallConnected, Periodic, CallEnded, Quit, Other };
MonitorStep monitor_step(const nlohmann::json& event);

// Whether the event was logged by the call monitor, CallTicker.exe.
bool from_monitor(const nlohmann::json& event);

// The part a signal plays, from the step the monitor gave it in: a start
// signal answers WM_CALL_CONNECTED, a periodic one the periodic timer, an
// end signal WM_CALL_ENDED or the end of a call at quit.
enum class SignalRole { Start, Periodic, End };

// "start", "periodic", "end"
const char* signal_role_word(SignalRole role);
// "start signal", "periodic signal", "end signal"
std::string signal_role_name(SignalRole role);

// The role of a sound written (waveout.write) or a vibration begun (led 1
// on) by the monitor; none for any other event or a step that gives none.
std::optional<SignalRole> signal_role(const nlohmann::json& event);

// The calls' clocks, event by event.  A call's time runs from its first
// CONNECTED to its IDLE, through holds.  The monitor does not tell calls
// apart, so its signals belong to the call that made it act last: the
// voice call connected last, or the call disconnected last.
class CallClocks {
public:
    // Takes `call` events; a boot (the clock going back) forgets every call.
    void add(const nlohmann::json& event);

    // The call the monitor's actions now belong to, if any call has been
    // connected; it stays after the call has gone idle.
    std::optional<uint32_t> focus() const { return focus_; }
    bool live(uint32_t id) const { return live_.count(id) != 0; }
    // The call connected most recently among those not idle yet.
    std::optional<uint32_t> latest_live() const;
    // Device ms of the call's first connection; none if it never was.
    std::optional<double> connected_at(uint32_t id) const;

private:
    std::map<uint32_t, double> connected_at_;
    std::map<uint32_t, double> live_; // connected once and not idle yet -> when last connected
    std::optional<uint32_t> focus_;
    double last_t_ = 0;
};

struct Signal {
    SignalKind kind;
    SignalRole role;
    double at;     // call time: device ms since the call was first connected
    double length; // device ms the sound or the pulse lasts
    uint32_t volume = 0; // sounds: the stream's volume as written (low word left)
    int schedule = -1;   // index into the call's schedules
};

struct Span {
    double from; // call time, device ms
    double to;
};

// The seven settings as the monitor reads them: each is the stored index
// (low 16 bits, signed), or its default when nothing was stored.
struct SettingsInForce {
    bool enabled = true;
    int on_type = 1;
    int off_type = 1;
    int regular_type = 1;
    int delay_index = 1;
    int before_index = 5;
    int screen_off_index = 1;

    int interval_ms() const;
    int lead_ms() const;
    int screen_off_ms() const; // -1: never
};

// "None", "Sound", "Vibrate", or the stored number when it is none of them.
std::string signal_type_name(int type);

// One run of the monitor's schedule (its call timer window, from before the
// start signal to after the end signal) as seen from one call, in that
// call's time.  It may have begun before this call was connected (call
// waiting) and end before or after it.
struct Schedule {
    double from;
    double to;
    bool armed = false;       // the periodic timer was armed (after the start signal)
    double timed_from = 0;    // when armed: its intervals count from here (before 0 when it began earlier)
    bool restart = false;     // it began during this call, after another schedule had
    SettingsInForce settings; // in force when it began
};

struct CallRecord {
    uint32_t id = 0;
    uint32_t media = 0;
    std::string number;      // the caller's or the dialled number, when known
    double connected_at = 0; // device ms since boot
    double duration = 0;     // from the first connection to the end
    bool ended = false;      // false: still going when the log ends
    std::vector<Span> held;  // call times when it was not connected
    std::vector<Signal> signals;
    std::vector<Span> dark;  // call times with the backlight off
    std::vector<Schedule> schedules;
    SettingsInForce settings; // in force when it was first connected

    bool voice() const; // interactive voice exactly: the calls the monitor times
};

// Calls that were connected, in the order they were connected.  A call that
// was never connected (offered, then dropped) has no record.  Each signal
// and dark span belongs to the call that made the monitor act last (see
// CallClocks).
std::vector<CallRecord> call_history(const std::vector<nlohmann::json>& events);

// "2:05.3": minutes, seconds and tenths of device time.
std::string call_time(double ms);

} // namespace phone
