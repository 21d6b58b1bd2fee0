// What happened during each call of a device, read back from its event log:
// when the call was connected and for how long, which signals the monitor
// gave during it and at what call time, when the screen was dark, and which
// settings were in force when it was connected.  The timeline picture and
// the demo's summary are drawn from this.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace phone {

enum class SignalKind { Chime, Beep, Vibration };

// "chime", "beep", "vibration"
const char* signal_kind_name(SignalKind kind);

// Start and end signals mark the call's ends; periodic ones come from the
// periodic timer.
enum class SignalRole { Start, Periodic, End };

struct Signal {
    SignalKind kind;
    SignalRole role;
    double at;     // call time: device ms since the call was connected
    double length; // device ms the sound or the pulse lasts
    uint32_t volume = 0; // sounds: the stream's volume as written (low word left)
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

struct CallRecord {
    uint32_t id = 0;
    uint32_t media = 0;
    double connected_at = 0; // device ms since boot
    double duration = 0;     // from the first connection to the disconnection
    bool ended = false;      // false: still connected when the log ends
    // Call time at which the monitor armed its timers, after the start
    // signal: its intervals count from here.  Negative when it never did.
    double timed_from = -1;
    std::vector<Span> held;  // call times when it was not connected
    std::vector<Signal> signals;
    std::vector<Span> dark;  // call times with the backlight off
    SettingsInForce settings;

    bool voice() const; // interactive voice exactly: the calls the monitor times
};

// Calls that were connected, in the order they were connected.  A call that
// was never connected (offered, then dropped) has no record.  Signals and
// dark spans belong to the voice call that the monitor's call timer window
// was created for, up to its end signal after the call is over.
std::vector<CallRecord> call_history(const std::vector<nlohmann::json>& events);

// "2:05.3": minutes, seconds and tenths of device time.
std::string call_time(double ms);

} // namespace phone
