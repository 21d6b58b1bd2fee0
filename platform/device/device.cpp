// Device folder, paths, configuration and fault injection.
#include "device.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

#include <unistd.h>

namespace wince::device {
namespace {

std::mutex state_mutex;
std::optional<fs::path> explicit_root;
std::optional<nlohmann::json> loaded_config;
fs::path current_program;
std::string current_program_name;
std::map<std::string, long, std::less<>> fault_calls;

fs::path default_root()
{
    if (const char* dir = std::getenv("WINCE_DEVICE_DIR"); dir && *dir)
        return dir;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return fs::path(state) / "wince-device";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "state" / "wince-device";
}

void merge(nlohmann::json& base, const nlohmann::json& overlay)
{
    for (auto it = overlay.begin(); it != overlay.end(); ++it) {
        if (it->is_object() && base.contains(it.key()) && base[it.key()].is_object())
            merge(base[it.key()], *it);
        else
            base[it.key()] = *it;
    }
}

} // namespace

fs::path root()
{
    std::lock_guard lock(state_mutex);
    return explicit_root ? *explicit_root : default_root();
}

void set_root(const fs::path& dir)
{
    std::lock_guard lock(state_mutex);
    explicit_root = fs::absolute(dir);
    loaded_config.reset();
}

fs::path config_file() { return root() / "device.json"; }
fs::path registry_file() { return root() / "registry.db"; }
fs::path log_file() { return root() / "events.jsonl"; }
fs::path run_dir() { return root() / "run"; }
fs::path install_dir() { return root() / "Program Files" / "CallTicker"; }
fs::path startup_dir() { return root() / "Windows" / "StartUp"; }

fs::path host_path(std::wstring_view device_path)
{
    std::string path = narrow(device_path);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    const fs::path as_host(path);
    const fs::path in_device = root() / as_host.relative_path();
    // A program started from outside the device sees its host path written
    // with backslashes; such a path maps back to the host.
    if (!fs::exists(in_device) && as_host.is_absolute() && as_host.parent_path() != as_host.root_path() &&
        fs::exists(as_host.parent_path()))
        return as_host;
    return in_device;
}

std::wstring device_path(const fs::path& host)
{
    const fs::path dir = fs::weakly_canonical(root());
    const fs::path abs = fs::weakly_canonical(fs::absolute(host));
    const fs::path rel = abs.lexically_relative(dir);
    std::string text;
    if (!rel.empty() && rel.native().rfind("..", 0) != 0)
        text = "/" + rel.generic_string();
    else
        text = abs.generic_string();
    for (char& c : text)
        if (c == '/')
            c = '\\';
    return widen(text);
}

nlohmann::json default_config()
{
    return {
        {"clock_rate", 1.0},
        {"dpi", 96},
        {"screen", {{"width", 240}, {"height", 320}}},
        {"audio", "auto"},
        {"lines", nlohmann::json::array({{{"name", "Cellular Line"},
                                          {"media_modes", {"INTERACTIVEVOICE", "DATAMODEM"}}}})},
        {"faults", nlohmann::json::object()},
    };
}

const nlohmann::json& config()
{
    std::lock_guard lock(state_mutex);
    if (!loaded_config) {
        nlohmann::json merged = default_config();
        std::ifstream in(explicit_root ? *explicit_root / "device.json" : default_root() / "device.json");
        if (in) {
            nlohmann::json file = nlohmann::json::parse(in, nullptr, false);
            if (file.is_object())
                merge(merged, file);
        }
        loaded_config = std::move(merged);
    }
    return *loaded_config;
}

void reload_config()
{
    std::lock_guard lock(state_mutex);
    loaded_config.reset();
}

void write_config(const nlohmann::json& config)
{
    const fs::path file = config_file();
    fs::create_directories(file.parent_path());
    const fs::path temp = file.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << config.dump(2) << '\n';
    }
    fs::rename(temp, file);
    reload_config();
}

void set_program(const fs::path& executable)
{
    std::lock_guard lock(state_mutex);
    current_program = executable;
    current_program_name = executable.filename().string();
}

const fs::path& program_path()
{
    std::lock_guard lock(state_mutex);
    return current_program;
}

const std::string& program_name()
{
    std::lock_guard lock(state_mutex);
    return current_program_name;
}

bool inject_fault(std::string_view api)
{
    const nlohmann::json& faults = config()["faults"];
    if (!faults.is_object())
        return false;
    const std::string name = program_name();
    const nlohmann::json* rule = nullptr;
    for (const std::string& who : {name, std::string("*")}) {
        auto prog = faults.find(who);
        if (prog != faults.end() && prog->is_object()) {
            auto entry = prog->find(std::string(api));
            if (entry != prog->end()) {
                rule = &*entry;
                break;
            }
        }
    }
    if (!rule)
        return false;
    if (rule->is_string())
        return *rule == "fail";
    if (rule->is_number_integer()) {
        std::lock_guard lock(state_mutex);
        long& used = fault_calls[std::string(api)];
        if (used < rule->get<long>()) {
            ++used;
            return true;
        }
    }
    return false;
}

std::wstring widen(std::string_view utf8)
{
    std::wstring out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80) { cp = c; len = 1; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; len = 2; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; len = 3; }
        else if ((c >> 3) == 30) { cp = c & 0x07; len = 4; }
        else { out.push_back(0xFFFD); ++i; continue; }
        if (i + len > utf8.size()) { out.push_back(0xFFFD); break; }
        for (size_t k = 1; k < len; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(static_cast<wchar_t>(cp));
        i += len;
    }
    return out;
}

std::string narrow(std::wstring_view wide)
{
    std::string out;
    for (wchar_t w : wide) {
        auto cp = static_cast<char32_t>(w);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace wince::device
