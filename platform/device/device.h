// The device folder: where an emulated phone keeps everything its processes
// share (configuration, registry hive, event log, installed programs and
// runtime state), how device paths map onto it, and the per-process identity
// of the program that runs on it.  Two device folders never see each other.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace wince::device {

namespace fs = std::filesystem;

// The device folder: set explicitly (phone --device, tests), else
// WINCE_DEVICE_DIR, else $XDG_STATE_HOME/wince-device, else
// ~/.local/state/wince-device.
fs::path root();
void set_root(const fs::path& dir);

// Well-known places inside the device folder.
fs::path config_file();   // device.json
fs::path registry_file(); // registry.db
fs::path log_file();      // events.jsonl
fs::path run_dir();       // run/: runtime state, cleared at boot
fs::path install_dir();   // Program Files/CallTicker
fs::path startup_dir();   // Windows/StartUp

// "\A\B" <-> DIR/A/B.  A host path outside the device folder is shown with
// '/' written as '\', and such a path maps back to the same host path.
fs::path host_path(std::wstring_view device_path);
std::wstring device_path(const fs::path& host);

// device.json merged over the defaults; read once per process (reload() for
// tools that rewrite it).  A field of the wrong type or out of range keeps
// its default; a file that is too large (over 1 MiB), nested too deep or not
// valid JSON leaves every default.
const nlohmann::json& config();
nlohmann::json default_config();
void reload_config();
// What config() could not take from device.json, one line each, naming the
// file and the field: DIR/device.json: field "clock_rate" must be ...
std::vector<std::string> config_problems();
// Changes each time config() reads device.json anew, for what is derived
// from the configuration and kept.
uint64_t config_generation();
// Writes device.json whole; throws std::runtime_error naming the file when
// it cannot (a full disk, say).
void write_config(const nlohmann::json& config);

// This process's program: host path of its executable and its file name
// ("CallTicker.exe"); the name selects the fault-injection entry.
void set_program(const fs::path& executable);
const fs::path& program_path();
const std::string& program_name();

// Fault injection from device.json "faults": {"Prog.exe"|"*": {"Api": "fail"|N}}.
// Returns true when this call of `api` in this program is to fail; a count N
// fails the next N calls of this process.
bool inject_fault(std::string_view api);

// UTF-8 <-> host wide strings.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

} // namespace wince::device
