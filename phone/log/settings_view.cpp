// The settings as phone status shows them and phone reg add checks them.
#include "log/settings_view.h"

#include <windows.h>

#include "parsing.h"
#include "settings.h"

namespace phone {
namespace {

enum class Kind { enabled, signal, interval, lead, screen };

struct Setting {
    const char* name;
    Kind kind;
    int fallback;       // what the monitor reads when nothing is stored
    int entries;        // of its table, for an index
    const char* role;   // for a signal type
};

// The tables' sizes are the settings dialog's lists; the milliseconds come
// from the programs' own lookups.
const Setting settings[] = {
    {"Enabled", Kind::enabled, 1, 0, ""},
    {"OnSoundType", Kind::signal, SignalSound, 0, "start signal"},
    {"OffSoundType", Kind::signal, SignalSound, 0, "end signal"},
    {"RegularSoundType", Kind::signal, SignalSound, 0, "periodic signal"},
    {"RegularSoundDelay", Kind::interval, 1, 9, ""},
    {"RegularSoundBefore", Kind::lead, 5, 10, ""},
    {"TurnOffScr", Kind::screen, 1, 6, ""},
};

const Setting* find_setting(const std::string& name)
{
    for (const Setting& setting : settings)
        if (upper(setting.name) == upper(name))
            return &setting;
    return nullptr;
}

// 60000 -> "1 min.", 90000 -> "1 min. 30 sec.", 5000 -> "5 sec."
std::string duration(int ms)
{
    const int seconds = ms / 1000, minutes = seconds / 60, rest = seconds % 60;
    std::string text;
    if (minutes)
        text = std::to_string(minutes) + " min.";
    if (rest || !minutes)
        text += (text.empty() ? "" : " ") + std::to_string(rest) + " sec.";
    return text;
}

int table_ms(Kind kind, int index)
{
    switch (kind) {
    case Kind::interval: return RegularSoundDelayMs(index);
    case Kind::lead: return RegularSoundBeforeMs(index);
    default: return TurnOffScrMs(index);
    }
}

std::string signal_words(int type)
{
    switch (type) {
    case SignalNone: return "none";
    case SignalSound: return "sound";
    case SignalVibrate: return "vibration";
    default: return "none (" + std::to_string(type) + " is no signal type)";
    }
}

std::string meaning(const Setting& setting, int value)
{
    switch (setting.kind) {
    case Kind::enabled:
        return value ? "the monitor runs (started at boot and by the settings program)" : "the monitor is off";
    case Kind::signal:
        if (setting.name == std::string("RegularSoundType") && value != SignalNone && value != SignalSound &&
            value != SignalVibrate)
            return "periodic signal: none, though its timer runs (" + std::to_string(value) + " is no signal type)";
        return std::string(setting.role) + ": " + signal_words(value);
    case Kind::interval:
        return "interval " + duration(table_ms(setting.kind, value));
    case Kind::lead:
        return "signal " + duration(table_ms(setting.kind, value)) + " before each interval ends";
    case Kind::screen: {
        const int ms = table_ms(setting.kind, value);
        return ms < 0 ? "screen stays on during calls" : "screen off " + duration(ms) + " into a call";
    }
    }
    return {};
}

std::optional<uint32_t> stored_dword(HKEY key, const char* name)
{
    if (!key)
        return std::nullopt;
    DWORD type = 0, data = 0, size = sizeof data;
    const std::wstring wide(name, name + std::char_traits<char>::length(name));
    if (RegQueryValueExW(key, wide.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data)
        return std::nullopt;
    return data;
}

} // namespace

std::vector<SettingView> read_settings()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Apps\\CallTicker", 0, KEY_READ, &key) != ERROR_SUCCESS)
        key = nullptr;
    std::vector<SettingView> views;
    for (const Setting& setting : settings) {
        SettingView view;
        view.name = setting.name;
        view.stored = stored_dword(key, setting.name);
        // The monitor reads the low 16 bits as a signed number.
        view.value = view.stored ? static_cast<short>(*view.stored & 0xFFFF) : setting.fallback;
        view.meaning = meaning(setting, view.value);
        views.push_back(view);
    }
    if (key)
        RegCloseKey(key);
    return views;
}

std::optional<std::string> setting_warning(const std::string& name, uint32_t data)
{
    const Setting* setting = find_setting(name);
    if (!setting)
        return std::nullopt;
    const int value = static_cast<short>(data & 0xFFFF);
    const std::string shown = std::string(setting->name) + " " + std::to_string(static_cast<int32_t>(data));
    if (static_cast<uint32_t>(static_cast<int32_t>(value)) != data && setting->kind != Kind::enabled)
        return shown + " is read as " + std::to_string(value) + " (only the low 16 bits count): " +
               meaning(*setting, value);
    switch (setting->kind) {
    case Kind::enabled:
        if (data != 0 && (data & 0xFFFF) == 0)
            return shown + " is read as off (only the low 16 bits count)";
        return std::nullopt;
    case Kind::signal:
        if (value == SignalNone || value == SignalSound || value == SignalVibrate)
            return std::nullopt;
        return shown + " is no signal type (0 none, 1 sound, 2 vibrate): " + meaning(*setting, value);
    default:
        if (value >= 0 && value < setting->entries)
            return std::nullopt;
        return shown + " is outside 0-" + std::to_string(setting->entries - 1) + ": the default applies, " +
               meaning(*setting, -1);
    }
}

std::optional<std::string> setting_type_warning(const std::string& name, const std::string& type)
{
    const Setting* setting = find_setting(name);
    if (!setting || type == "REG_DWORD")
        return std::nullopt;
    return std::string(setting->name) + " is read only as a REG_DWORD: as " + type + " the default applies, " +
           meaning(*setting, setting->fallback);
}

} // namespace phone
