// Hands a line message from the radio to this process's telephony
// applications: the "tapi" channel handler, also called directly when the
// radio is driven from this very process.
#pragma once

#include <nlohmann/json.hpp>

namespace wince::tapi {

void deliver(const nlohmann::json& message);

} // namespace wince::tapi
