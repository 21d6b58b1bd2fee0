// phone init: creates or resets a device folder and installs the programs.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <windows.h>

#include "audio/output.h"
#include "common.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/files.h"
#include "kernel/process_table.h"

namespace phone {
namespace {

namespace fs = std::filesystem;
namespace device = wince::device;

struct InitOptions {
    std::optional<double> clock_rate;
    std::vector<std::string> lines;
    std::optional<int> dpi;
    std::optional<std::string> audio;
};

const char* const program_files[] = {"CallTicker.exe", "CallTickerCfg.exe"};
const wchar_t* const startup_target = L"\"\\Program Files\\CallTicker\\CallTickerCfg.exe\" reset";

nlohmann::json device_config(const InitOptions& options)
{
    nlohmann::json config = device::default_config();
    if (options.clock_rate)
        config["clock_rate"] = *options.clock_rate;
    if (options.dpi) {
        if (*options.dpi <= 0)
            throw Failure("--dpi must be a positive number");
        config["dpi"] = *options.dpi;
    }
    if (options.audio) {
        const std::string& audio = *options.audio;
        if (audio != "auto" && audio != "null" && audio != "wav" && audio != "alsa")
            throw Failure("--audio must be one of auto, null, wav, alsa (not '" + audio + "')");
        config["audio"] = audio;
    }
    if (!options.lines.empty()) {
        // Every line supports interactive voice and data, as the default one does.
        const nlohmann::json media = device::default_config()["lines"][0]["media_modes"];
        nlohmann::json lines = nlohmann::json::array();
        for (const auto& name : options.lines)
            lines.push_back({{"name", name.empty() ? nlohmann::json(nullptr) : nlohmann::json(name)},
                             {"media_modes", media}});
        config["lines"] = lines;
    }
    return config;
}

void remove_path(const fs::path& path)
{
    std::error_code error;
    fs::remove_all(path, error);
    if (error)
        throw Failure("cannot remove " + path.string() + ": " + error.message());
}

// The registry hive, its WAL and the event log start empty; run/ is cleared.
void reset_state()
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        remove_path(device::registry_file().string() + suffix);
    remove_path(device::log_file());
    remove_path(device::run_dir());
    device::make_private_dirs(device::run_dir());
    if (const int log = device::open_private(device::log_file(), O_WRONLY | O_CREAT); log >= 0)
        ::close(log);
    wince::clock::boot();
    // Opening the hive creates it.
    DWORD values = 0;
    if (RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        throw Failure("cannot create the registry hive " + device::registry_file().string());
}

fs::path own_folder()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error)
        throw Failure("cannot find the phone tool's own folder: " + error.message());
    return self.parent_path();
}

std::vector<std::string> install_programs()
{
    const fs::path from = own_folder();
    remove_path(device::install_dir());
    device::make_private_dirs(device::install_dir());
    std::vector<std::string> installed;
    for (const char* name : program_files) {
        if (!fs::exists(from / name))
            continue;
        std::error_code error;
        fs::copy_file(from / name, device::install_dir() / name, fs::copy_options::overwrite_existing, error);
        fs::permissions(device::install_dir() / name, fs::perms::owner_all, fs::perm_options::replace, error);
        if (error)
            throw Failure("cannot install " + std::string(name) + ": " + error.message());
        installed.push_back(name);
    }
    return installed;
}

// The device's shortcut format: the number of characters after '#', '#',
// then the quoted target and its arguments.
void write_startup_shortcut()
{
    const std::string target = device::narrow(startup_target);
    const std::string text = std::to_string(std::wstring(startup_target).size()) + "#" + target;
    if (!device::replace_file(device::startup_dir() / "CallTickerCfg.lnk", text))
        throw Failure(std::string("cannot write the startup shortcut: ") + std::strerror(errno));
}

// A reset sweeps the process table, the log and the hive from under any
// program still running: it would live on unseen by ps, an orphan.  So the
// device's programs are ended first, as a soft reset ends them.
std::vector<std::string> end_programs()
{
    std::vector<std::string> ended;
    if (!fs::is_regular_file(device::config_file()))
        return ended; // no device yet: nothing of it can run
    for (const auto& program : wince::process::end_all())
        ended.push_back(program.exe + " (" + std::to_string(program.pid) + ")");
    return ended;
}

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const auto& word : words)
        text += (text.empty() ? "" : ", ") + word;
    return text;
}

void init(const InitOptions& options)
{
    const fs::path root = device::root();
    if (fs::exists(root) && !fs::is_directory(root))
        throw Failure(root.string() + " exists and is not a folder");
    const nlohmann::json config = device_config(options);
    const auto ended = end_programs();
    // The device is its owner's alone, even in a folder that was not.
    if (!device::make_private_dirs(root) || ::chmod(root.c_str(), 0700) != 0)
        throw Failure("cannot make the device folder " + root.string() + ": " + std::strerror(errno));
    device::write_config(config);
    reset_state();
    const auto installed = install_programs();
    write_startup_shortcut();

    std::printf("%s initialised; installed: %s%s\n", root.c_str(),
                installed.empty() ? "nothing" : joined(installed).c_str(),
                ended.empty() ? "" : ("; ended " + joined(ended)).c_str());
    // Sound asked for that will not be heard is said at once.
    device::reload_config();
    if (config["audio"] == "alsa" && wince::audio::backend_name() != "alsa")
        std::printf("sound: %s\n", wince::audio::backend_reason().c_str());
}

} // namespace

void add_device_commands(CLI::App& app)
{
    auto options = std::make_shared<InitOptions>();
    CLI::App* cmd = app.add_subcommand("init", "Create or reset the device and install the programs");
    cmd->add_option_function<std::string>(
           "--clock-rate", [options](const std::string& text) { options->clock_rate = parse_clock_rate(text, max_clock_rate); },
           "Device time per real time, 0.001 to 10000 (default 1)")
        ->type_name("R");
    cmd->add_option("--line", options->lines, "A line device by name (repeatable; \"\" for a line without a name)")
        ->allow_extra_args(false);
    cmd->add_option_function<int>("--dpi", [options](int dpi) { options->dpi = dpi; }, "Screen dpi (default 96)");
    cmd->add_option_function<std::string>("--audio", [options](const std::string& a) { options->audio = a; },
                                          "Audio backend: auto, null, wav or alsa");
    cmd->callback([options] { init(*options); });
}

} // namespace phone
