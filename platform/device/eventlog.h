// The device's event log, events.jsonl: one JSON object per line, appended by
// every process of the device, each line written whole (never torn or
// interleaved with another process's line; a line that cannot be written
// whole, on a full disk say, is not written at all).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace wince::eventlog {

// What a thread is doing when it logs: the message it last took from its
// queue and has not yet come back for another.  Carried in every event the
// thread logs as "handling" (the message number) and "handling_wparam", so
// that a reader of the log knows which message an action answered.
struct Handling {
    uint32_t message = 0;
    uint64_t wparam = 0;
};

// The calling thread's; none before its first message and while it waits.
void set_handling(std::optional<Handling> handling);
std::optional<Handling> handling();

// Appends {"t": device ms, "pid", "exe", "event", "handling"..., ...fields};
// `fields` may name the handling itself (an action done on another
// thread's behalf).
void write(std::string_view event, const nlohmann::json& fields = nlohmann::json::object());

// The "handling" fields of `handling`, for an event logged on behalf of a
// thread other than the one that writes it.
nlohmann::json handling_fields(std::optional<Handling> handling);

// The whole log of the current device, oldest first; lines that do not parse
// are skipped.
std::vector<nlohmann::json> read_all();

} // namespace wince::eventlog
