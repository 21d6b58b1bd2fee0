// The timeline picture: one row per call on a common scale of call time,
// so that calls of different lengths and settings compare at a glance.
#pragma once

#include <filesystem>
#include <vector>

#include "log/call_history.h"

namespace phone {

// Draws the calls into `file`, an SVG or a PNG by its extension; throws
// Failure when the file cannot be written.
void draw_timeline(const std::vector<CallRecord>& calls, const std::filesystem::path& file);

} // namespace phone
