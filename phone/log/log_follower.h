// The device's event log read as it grows, by every command that follows
// it (log --follow, wait --event, view, demo).
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

#include <nlohmann/json.hpp>

#include "device/files.h"

namespace phone {

struct LoggedEvent {
    nlohmann::json event;
    std::string line; // as the device wrote it
};

// What the log gained since the last read.
struct LogNews {
    // The log was replaced (phone init makes a new one) or cut short since
    // the last read: `events` are from the start of the new log, and what
    // was learnt from the old one no longer holds.
    bool restarted = false;
    std::vector<LoggedEvent> events;
    std::vector<size_t> not_events; // numbers (from 1) of lines that hold no event
};

// Each read() takes the complete lines appended since the last; a line
// still being written is taken once it has its end.  The log last read is
// kept open, so that a new log can never take its inode number and pass
// for it.
class LogFollower {
public:
    LogNews read();

private:
    wince::device::Descriptor log_;
    off_t offset_ = 0;
    size_t lines_ = 0;
    std::string pending_;
};

} // namespace phone
