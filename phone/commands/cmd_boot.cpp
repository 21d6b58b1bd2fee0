// phone boot: the device's soft reset.  Its programs end at once, run/
// starts empty, the clock starts again at 0, and every startup shortcut in
// \Windows\StartUp is run, in the order of the shortcuts' file names.
#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "commands/commands.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/files.h"
#include "kernel/process_table.h"

namespace phone {
namespace {

namespace fs = std::filesystem;
namespace device = wince::device;

// What a shortcut starts: a device path and its arguments.
struct Target {
    std::string program;
    std::vector<std::string> args;
};

// Words of `text` split at blanks outside double quotes; the quotes go.
std::vector<std::string> split_words(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, in_word = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (in_word)
                words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word)
        words.push_back(word);
    return words;
}

// The device's shortcut format: the length of what follows '#', '#', then
// the target, quoted when it holds blanks, and its arguments.
std::optional<Target> parse_shortcut(const std::string& text, std::string& problem)
{
    std::string line = text.substr(0, text.find_first_of("\r\n"));
    const size_t hash = line.find('#');
    if (hash == std::string::npos || hash == 0 ||
        !std::all_of(line.begin(), line.begin() + static_cast<long>(hash), ::isdigit)) {
        problem = "not a shortcut (NN#\"\\path\\program.exe\" arguments)";
        return std::nullopt;
    }
    const auto words = split_words(line.substr(hash + 1));
    if (words.empty()) {
        problem = "the shortcut names no program";
        return std::nullopt;
    }
    return Target{words.front(), {words.begin() + 1, words.end()}};
}

std::string joined(const std::vector<std::string>& args)
{
    std::string text;
    for (const auto& a : args)
        text += " " + a;
    return text;
}

// Starts one shortcut's program; false with `problem` set when it cannot.
bool run_shortcut(const fs::path& shortcut, std::string& problem)
{
    // A shortcut names one program in a line; a file far larger is none.
    constexpr size_t max_shortcut_bytes = 64 * 1024;
    const auto text = device::read_file(shortcut, max_shortcut_bytes);
    if (!text) {
        problem = device::refusal(shortcut.filename(), errno);
        return false;
    }
    const auto target = parse_shortcut(*text, problem);
    if (!target)
        return false;
    int error = 0;
    std::optional<int> ended;
    const auto pid = wince::process::spawn(device::host_path(device::widen(target->program)), target->args, error, &ended);
    if (!pid) {
        problem = "cannot start '" + target->program + "': " + std::strerror(error);
        return false;
    }
    std::string how;
    if (ended && WIFEXITED(*ended))
        how = " (ended with code " + std::to_string(WEXITSTATUS(*ended)) + ")";
    else if (ended)
        how = " (ended by signal " + std::to_string(WTERMSIG(*ended)) + ")";
    std::printf("%u %s%s%s\n", *pid, fs::path(device::host_path(device::widen(target->program))).filename().c_str(),
                joined(target->args).c_str(), how.c_str());
    return true;
}

void boot()
{
    // A second boot or an init waits for this one to end.
    const device::DeviceLock lock = device::lock_device();
    wince::process::end_all();
    if (!device::remove_tree(device::run_dir()) || !device::make_private_dirs(device::run_dir()))
        throw Failure("boot: cannot clear " + device::refusal(device::run_dir(), errno));
    wince::clock::boot();

    // Every entry but a folder is taken as a shortcut, so that a link or a
    // FIFO among them is reported rather than passed over in silence.
    std::vector<fs::path> shortcuts;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(device::startup_dir(), error))
        if (!entry.is_directory(error) || entry.is_symlink(error))
            shortcuts.push_back(entry.path());
    std::sort(shortcuts.begin(), shortcuts.end());
    std::string first_problem;
    for (const auto& shortcut : shortcuts) {
        std::string problem;
        if (!run_shortcut(shortcut, problem) && first_problem.empty())
            first_problem = "boot: startup shortcut " + shortcut.filename().string() + ": " + problem;
    }
    if (shortcuts.empty())
        std::printf("no startup shortcuts\n");
    if (!first_problem.empty())
        throw Failure(first_problem);
}

} // namespace

void add_boot_command(CLI::App& app)
{
    auto* cmd = app.add_subcommand("boot", "Soft reset: end every program, clear run/, restart the clock, "
                                           "run the startup shortcuts");
    cmd->footer("Prints, for each program a startup shortcut started, its process id, file name and\n"
                "arguments, and how it ended when it did so before it first waited.");
    cmd->callback([] { boot(); });
}

} // namespace phone
