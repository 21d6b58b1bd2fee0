// Device-wide runtime state shared by the device's processes: small JSON
// documents in run/ (the radio's calls, the audio volume, the LEDs and the
// backlight), each read and rewritten under an exclusive advisory lock so
// that concurrent updates from several processes never lose one another.
// Cleared with run/ at boot, so every document starts from its defaults.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include <windows.h>

namespace wince::run_state {

// The document run/<name>.json, or an empty object when there is none yet.
nlohmann::json read(const std::string& name);

// Reads the document, lets `change` modify it and writes it back, all under
// the document's lock.  False when it could not be written (the change is
// then lost): write_error() tells why.
bool update(const std::string& name, const std::function<void(nlohmann::json&)>& change);

// Why this thread's last update failed, as a Windows error code
// (ERROR_DISK_FULL on a full disk) and as a line naming the document.
DWORD write_error();
std::string write_failure();

} // namespace wince::run_state
