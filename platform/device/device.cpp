// Device folder, paths, configuration and fault injection.
#include "device.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>

#include <unistd.h>

#include "device/files.h"

namespace wince::device {
namespace {

std::mutex state_mutex;
std::optional<fs::path> explicit_root;
std::optional<nlohmann::json> loaded_config;
std::vector<std::string> config_problems_found; // of loaded_config
uint64_t loaded_generation = 0;
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

// device.json is read by every process of the device, the phone tool
// first: a file too large or nested too deep to parse and check cheaply is
// refused whole.
constexpr std::uintmax_t max_config_bytes = 1 << 20;
constexpr int max_config_depth = 16;

struct ConfigTooDeep {};

std::string quoted(const std::string& field) { return "field \"" + field + "\""; }

bool is_whole_number(const nlohmann::json& value, int64_t low, int64_t high)
{
    if (value.is_number_unsigned())
        return low <= 0 ? value.get<uint64_t>() <= static_cast<uint64_t>(high)
                        : value.get<uint64_t>() >= static_cast<uint64_t>(low) &&
                              value.get<uint64_t>() <= static_cast<uint64_t>(high);
    return value.is_number_integer() && value.get<int64_t>() >= low && value.get<int64_t>() <= high;
}

// Each check says why a value is no good as its field; empty when it is.

std::string check_clock_rate(const std::string& name, const nlohmann::json& value)
{
    if (value.is_number() && value.get<double>() >= 0.001 && value.get<double>() <= 10000)
        return {};
    return quoted(name) + " must be a number from 0.001 to 10000";
}

std::string check_dpi(const std::string& name, const nlohmann::json& value)
{
    return is_whole_number(value, 1, 10000) ? "" : quoted(name) + " must be a whole number from 1 to 10000";
}

std::string check_screen(const std::string& name, const nlohmann::json& value)
{
    if (!value.is_object())
        return quoted(name) + " must be an object with \"width\" and \"height\"";
    for (const char* side : {"width", "height"})
        if (value.contains(side) && !is_whole_number(value[side], 1, 10000))
            return quoted(name + "." + side) + " must be a whole number from 1 to 10000";
    return {};
}

std::string check_audio(const std::string& name, const nlohmann::json& value)
{
    if (value == "auto" || value == "null" || value == "wav" || value == "alsa")
        return {};
    return quoted(name) + " must be one of \"auto\", \"null\", \"wav\", \"alsa\"";
}

std::string check_volume(const std::string& name, const nlohmann::json& value)
{
    return is_whole_number(value, 0, 0xFFFFFFFF) ? "" : quoted(name) + " must be a whole number from 0 to 4294967295";
}

std::string check_line(const std::string& name, const nlohmann::json& line)
{
    if (line.is_string())
        return {};
    if (!line.is_object())
        return quoted(name) + " must be a name or an object";
    if (line.contains("name") && !line["name"].is_string() && !line["name"].is_null())
        return quoted(name + ".name") + " must be a string or null";
    if (!line.contains("media_modes"))
        return {};
    const auto& modes = line["media_modes"];
    const auto is_mode = [](const nlohmann::json& mode) {
        return mode.is_string() || is_whole_number(mode, 0, 0xFFFFFFFF);
    };
    if (!modes.is_array() || !std::all_of(modes.begin(), modes.end(), is_mode))
        return quoted(name + ".media_modes") + " must be a list of media mode names or numbers";
    return {};
}

std::string check_lines(const std::string& name, const nlohmann::json& value)
{
    if (!value.is_array())
        return quoted(name) + " must be a list of lines";
    for (size_t i = 0; i < value.size(); ++i)
        if (auto problem = check_line(name + "[" + std::to_string(i) + "]", value[i]); !problem.empty())
            return problem;
    return {};
}

std::string check_faults(const std::string& name, const nlohmann::json& value)
{
    if (!value.is_object())
        return quoted(name) + " must be an object of programs";
    for (auto program = value.begin(); program != value.end(); ++program) {
        const std::string at = name + "." + program.key();
        if (!program->is_object())
            return quoted(at) + " must be an object of platform calls";
        for (auto rule = program->begin(); rule != program->end(); ++rule)
            if (*rule != "fail" && !is_whole_number(*rule, 0, std::numeric_limits<int64_t>::max()))
                return quoted(at + "." + rule.key()) + " must be \"fail\" or a count";
    }
    return {};
}

// Why `value` is no good as the field `name`; empty when it is.  The
// defaults say which fields there are; a field they do not have is the
// business of whoever reads it.
std::string field_problem(const std::string& name, const nlohmann::json& value)
{
    using Check = std::string (*)(const std::string&, const nlohmann::json&);
    static const std::map<std::string, Check, std::less<>> checks = {
        {"clock_rate", check_clock_rate}, {"dpi", check_dpi},       {"screen", check_screen},
        {"audio", check_audio},           {"volume", check_volume}, {"lines", check_lines},
        {"faults", check_faults},
    };
    const auto check = checks.find(name);
    return check == checks.end() ? std::string() : check->second(name, value);
}

nlohmann::json parse_config(const std::string& text)
{
    return nlohmann::json::parse(text, [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth > max_config_depth)
            throw ConfigTooDeep{};
        return true;
    });
}

// device.json over the defaults: each field of the file that is sound
// replaces the default's, and each that is not leaves the default and adds
// a problem.  A file that cannot be read as a whole leaves all defaults.
nlohmann::json load_config(const fs::path& file, std::vector<std::string>& problems)
{
    nlohmann::json merged = default_config();
    const std::string where = file.string() + ": ";
    const std::optional<std::string> text = read_file(file, max_config_bytes);
    if (!text) {
        if (errno == EFBIG)
            problems.push_back(where + "larger than " + std::to_string(max_config_bytes / 1024) + " KiB");
        else if (errno != ENOENT)
            problems.push_back(refusal(file, errno));
        return merged;
    }
    nlohmann::json parsed;
    try {
        parsed = parse_config(*text);
    } catch (const ConfigTooDeep&) {
        problems.push_back(where + "nested deeper than " + std::to_string(max_config_depth) + " levels");
        return merged;
    } catch (const nlohmann::json::exception& bad) {
        std::string reason = bad.what();
        if (reason.rfind('[', 0) == 0 && reason.find("] ") != std::string::npos)
            reason = reason.substr(reason.find("] ") + 2);
        problems.push_back(where + "not valid JSON: " + reason);
        return merged;
    }
    if (!parsed.is_object()) {
        problems.push_back(where + "must hold a JSON object");
        return merged;
    }
    for (auto field = parsed.begin(); field != parsed.end(); ++field) {
        const std::string problem = field_problem(field.key(), *field);
        if (!problem.empty()) {
            problems.push_back(where + problem);
            continue;
        }
        if (field.key() == "screen")
            merged["screen"].update(*field);
        else
            merged[field.key()] = std::move(*field);
    }
    return merged;
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
    std::unique_lock lock(state_mutex);
    if (!loaded_config) {
        // Read without the lock: reading the file asks for root().
        const fs::path file = (explicit_root ? *explicit_root : default_root()) / "device.json";
        lock.unlock();
        std::vector<std::string> problems;
        nlohmann::json loaded = load_config(file, problems);
        lock.lock();
        if (!loaded_config) {
            loaded_config = std::move(loaded);
            config_problems_found = std::move(problems);
            ++loaded_generation;
        }
    }
    return *loaded_config;
}

uint64_t config_generation()
{
    config();
    std::lock_guard lock(state_mutex);
    return loaded_generation;
}

std::vector<std::string> config_problems()
{
    config();
    std::lock_guard lock(state_mutex);
    return config_problems_found;
}

void reload_config()
{
    std::lock_guard lock(state_mutex);
    loaded_config.reset();
}

void write_config(const nlohmann::json& config)
{
    const fs::path file = config_file();
    if (!replace_file(file, config.dump(2) + "\n"))
        throw std::runtime_error("cannot write " + refusal(file, errno));
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
