// A throw-away device folder for one test, and helpers to read its log.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace testing_support {

class TempDevice {
public:
    // Creates a fresh device folder with `config` merged into device.json
    // and makes it this process's device.
    explicit TempDevice(const nlohmann::json& config = nlohmann::json::object());
    ~TempDevice();
    TempDevice(const TempDevice&) = delete;
    TempDevice& operator=(const TempDevice&) = delete;

    const std::filesystem::path& dir() const { return dir_; }

    // Events of the log, optionally only those named `event`.
    std::vector<nlohmann::json> events(std::string_view event = {}) const;

private:
    std::filesystem::path dir_;
};

// Ends every process but this one whose device is `dir` or a folder in it,
// and waits until each has gone.
void end_programs_of(const std::filesystem::path& dir);

// Where the build put the programs and the phone tool.
std::filesystem::path bin_dir();

} // namespace testing_support
