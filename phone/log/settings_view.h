// CallTicker's seven settings as a user reads them: what is stored under
// HKLM\Software\Apps\CallTicker, what it means to the monitor (through the
// programs' own settings tables, so the two never disagree), and a warning
// for a value the monitor will not take as written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace phone {

inline constexpr const char* settings_key = "HKEY_LOCAL_MACHINE\\Software\\Apps\\CallTicker";

struct SettingView {
    std::string name;                // "RegularSoundDelay"
    std::optional<uint32_t> stored;  // the REG_DWORD stored, if one is
    int value = 0;                   // what the monitor reads (the default when none is stored)
    std::string meaning;             // "interval 1 min."
};

// The seven in the settings dialog's order.
std::vector<SettingView> read_settings();

// For a REG_DWORD about to be stored as `name` in the settings key: why
// the monitor will not use it as written, naming what applies instead;
// nothing when it will.
std::optional<std::string> setting_warning(const std::string& name, uint32_t data);
// For a value of another type stored under a setting's name.
std::optional<std::string> setting_type_warning(const std::string& name, const std::string& type);

} // namespace phone
