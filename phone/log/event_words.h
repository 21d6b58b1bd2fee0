// Words for the values the event log holds: a field read whatever its
// JSON type, a message box's type and result, a call's state, a timer's
// name, the backlight's state.  The story's handlers (story.cpp) build
// their sentences from these.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace phone::event_words {

using nlohmann::json;

std::string text_of(const json& event, const char* field);

// Fields are read leniently: a log line of another shape than the device
// writes is told as well as it can be, never a reason to stop.
uint64_t number_of(const json& event, const char* field);

double real_of(const json& event, const char* field);

bool flag(const json& event, const char* field, bool otherwise = true);

std::string ms_words(const json& event);

std::string hex(uint64_t value);

std::string percent(uint32_t level);

// Everything an unknown event carries, so nothing is lost from sight.
std::string fields_of(const json& event);

std::string sound_flags(uint64_t flags);

std::string message_box_result(uint64_t result);

// A dialog's result as the program passed it to EndDialog: the name of a
// standard button's id, or of one of the settings program's own, else the
// number.  What the program did before it ended is for its other events.
std::string dialog_result(const std::string& exe, uint64_t result);

std::string message_box_type(uint64_t type);

std::string media_words(uint64_t media);

std::string call_state_words(const std::string& state);

// The monitor's two timers by what they are for; any other by its id.
std::string timer_name(const json& event);

std::string backlight_words(const json& event);

// The steps under a signal that went as they should: the signal's own line
// says what was heard, at what volume, where.
bool is_detail(const json& event);

} // namespace phone::event_words
