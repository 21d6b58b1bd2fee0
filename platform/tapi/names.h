// Names of the telephony constants as the event log, device.json and the
// phone tool spell them: call states ("LINECALLSTATE_CONNECTED"), media modes
// ("INTERACTIVEVOICE", with or without the LINEMEDIAMODE_ prefix) and line
// messages ("LINE_LINEDEVSTATE").
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace wince::tapi {

// "LINECALLSTATE_CONNECTED"; an unknown value as its hexadecimal number.
std::string call_state_name(uint32_t state);
// A single state by name (prefix optional, any case) or by number.
std::optional<uint32_t> parse_call_state(const std::string& text);

// "INTERACTIVEVOICE|DATAMODEM"
std::string media_modes_name(uint32_t modes);
// One or more media modes joined by '|' or ',', by name or number; nullopt
// when a part is unknown or the result is 0.
std::optional<uint32_t> parse_media_modes(const std::string& text);

std::string line_message_name(uint32_t message);
std::optional<uint32_t> parse_line_message(const std::string& text);

} // namespace wince::tapi
