// The stylus at a point of the screen: what lies under it and which tap
// (touch.h) that makes, decided as Windows decides where a mouse click goes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "screen_model.h"
#include "touch.h"

namespace wince::user::hit_test {

struct Hit {
    std::string what{};          // what lies there, in words; empty for nothing at all
    std::optional<touch::Tap> tap{}; // none: the tap reaches no program
    uint32_t pid = 0;            // the process that takes the tap
};

// The point (x, y) in device pixels of `screen`.
Hit at(const screen::Screen& screen, int x, int y);

} // namespace wince::user::hit_test
