// Device-wide runtime state shared by the device's processes: small JSON
// documents in run/ (the radio's calls, the audio volume, the LEDs and the
// backlight), each read and rewritten under an exclusive advisory lock so
// that concurrent updates from several processes never lose one another.
// Cleared with run/ at boot, so every document starts from its defaults.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace wince::run_state {

// The document run/<name>.json, or an empty object when there is none yet.
nlohmann::json read(const std::string& name);

// Reads the document, lets `change` modify it and writes it back, all under
// the document's lock.  Returns the document as written.
nlohmann::json update(const std::string& name, const std::function<void(nlohmann::json&)>& change);

} // namespace wince::run_state
