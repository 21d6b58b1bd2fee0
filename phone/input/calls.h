// The radio's calls as a user of the phone changes them: a new incoming or
// outgoing call, answer, hold, resume, swap and drop, each checked against
// the call's state first.  `phone call` and the phone's window share them;
// each throws Failure saying why a change cannot be made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tapi/radio.h"

namespace phone::calls {

using Call = wince::tapi::radio::Call;

struct NewCall {
    std::string media = "INTERACTIVEVOICE"; // LINEMEDIAMODE_ names joined by '|', or a number
    std::string line;                       // number or name; empty: the last "Cellular Line"
    std::string number;                     // caller id, or the number dialled
};

Call incoming(const NewCall& call);  // offering
Call dial(const NewCall& call);      // dialling
// Answers a ringing call; connected calls are held first, as the network
// does.  Returns the calls changed, in order.
std::vector<Call> answer(uint32_t id);
Call hold(uint32_t id);
Call resume(uint32_t id);
std::vector<Call> swap();
// Disconnected (unless it already is), then idle.
std::vector<Call> drop(uint32_t id);
Call set_state(uint32_t id, uint32_t state);

bool ringing(const Call& call); // offering, or on its way to connected
uint32_t only_ringing_call();   // throws unless exactly one call rings
// The call id a word names; throws when the device has no such call.
uint32_t call_id(const std::string& text);
// A line by its number or its name (the last line of that name).
uint32_t line_by_word(const std::string& word);
uint32_t parse_media(const std::string& text);

} // namespace phone::calls
