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
#include "commands/commands.h"
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

// Removes what the device made at `path`; a link there goes, never what it
// points to.
void remove_path(const fs::path& path)
{
    if (!device::remove_tree(path))
        throw Failure("cannot remove " + device::refusal(path, errno));
}

// The registry hive, its WAL and the event log start empty; run/ is cleared.
void reset_state()
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        remove_path(device::registry_file().string() + suffix);
    remove_path(device::log_file());
    remove_path(device::run_dir());
    if (!device::make_private_dirs(device::run_dir()))
        throw Failure("cannot make " + device::refusal(device::run_dir(), errno));
    const int log = device::open_private(device::log_file(), O_WRONLY | O_CREAT);
    if (log < 0)
        throw Failure("cannot make the event log " + device::refusal(device::log_file(), errno));
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

// Copies the program `from` to `to`, a file of the device's that is written
// through no link.
void install_program(const fs::path& from, const fs::path& to)
{
    const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int target = device::open_private(to, O_WRONLY | O_CREAT | O_TRUNC);
    bool copied = source >= 0 && target >= 0;
    std::vector<char> buffer(1 << 16);
    for (ssize_t n = 1; copied && n > 0;) {
        n = ::read(source, buffer.data(), buffer.size());
        copied = n >= 0 && ::write(target, buffer.data(), static_cast<size_t>(n)) == n;
    }
    const int error = errno;
    copied = copied && ::fchmod(target, 0700) == 0;
    if (source >= 0)
        ::close(source);
    if (target >= 0)
        ::close(target);
    if (!copied)
        throw Failure("cannot install " + device::refusal(to, error));
}

std::vector<std::string> install_programs()
{
    const fs::path from = own_folder();
    remove_path(device::install_dir());
    if (!device::make_private_dirs(device::install_dir()))
        throw Failure("cannot make " + device::refusal(device::install_dir(), errno));
    std::vector<std::string> installed;
    for (const char* name : program_files) {
        if (!fs::exists(from / name))
            continue;
        install_program(from / name, device::install_dir() / name);
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
        throw Failure("cannot write the startup shortcut " +
                      device::refusal(device::startup_dir() / "CallTickerCfg.lnk", errno));
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
    const nlohmann::json config = device_config(options);
    // Only a new or empty folder becomes a device, and only a device is
    // reset: a folder of the user's own is refused untouched.
    const device::DeviceLock lock = device::claim_device();
    const auto ended = end_programs();
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
    cmd->footer("Makes a device of a folder that does not exist or is empty, and resets one that is a device\n"
                "(init marks it with the file .wince-device); any other folder is refused, untouched.  While\n"
                "an init or boot runs, another waits for it, up to 10 s, then says the device is busy.");
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
