// The device clock: milliseconds since the device booted, running at the
// device's clock_rate times real time.  Every wait, timer, Sleep,
// GetTickCount and sound duration of the device is measured on it.
//
// Unit tests switch a process to a manual clock that stands still until the
// test advances it; advancing runs the device's threads in simulated time, so
// a ten-minute call is checked in milliseconds with exact times (see
// kernel/sync.h).  The manual clock is per process and never shared.
#pragma once

#include <chrono>
#include <limits>

namespace wince::clock {

inline constexpr double forever = std::numeric_limits<double>::infinity();

// Device milliseconds since boot.
double now();

// Device time -> the real instant at which it comes (real mode only).
std::chrono::steady_clock::time_point real_time_of(double device_ms);

double rate();

// Restarts the device clock at 0 for every process of the device (phone boot).
void boot();

// Forgets the boot instant this process has read, so that the next reading
// takes the device's own again: for a reader that outlives a boot of the
// device (the phone's window), never needed by the device's programs, which
// a boot ends.
void forget_boot();

// Switches this process to the manual clock, standing at `start_ms`.
void use_manual(double start_ms = 0);
bool manual();

// Manual clock only: sets the time (the kernel's scheduler does this while
// advancing; tests call kernel::sync::advance instead).
void set_manual_now(double device_ms);

} // namespace wince::clock
