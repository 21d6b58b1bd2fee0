// The device's event log, events.jsonl: one JSON object per line, appended by
// every process of the device, each line written whole (never torn or
// interleaved with another process's line; a line that cannot be written
// whole, on a full disk say, is not written at all).
#pragma once

#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace wince::eventlog {

// Appends {"t": device ms, "pid", "exe", "event", ...fields}.
void write(std::string_view event, const nlohmann::json& fields = nlohmann::json::object());

// The whole log of the current device, oldest first; lines that do not parse
// are skipped.
std::vector<nlohmann::json> read_all();

} // namespace wince::eventlog
