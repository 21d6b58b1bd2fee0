// phone run and phone ps: starting programs on the device and listing its
// processes with their threads.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "commands/commands.h"
#include "log/story.h"
#include "device/device.h"
#include "kernel/process_table.h"

namespace phone {
namespace {

namespace fs = std::filesystem;

// A device path ("\Program Files\CallTicker\CallTicker.exe") or a host path.
fs::path program_location(const std::string& given)
{
    if (given.find('\\') != std::string::npos)
        return wince::device::host_path(wince::device::widen(given));
    return fs::absolute(given);
}

// For a program that ended before it settled: " exited at once with code N".
std::string how_it_ended(int wait_status)
{
    if (WIFEXITED(wait_status))
        return " exited at once with code " + std::to_string(WEXITSTATUS(wait_status));
    if (WIFSIGNALED(wait_status))
        return " was ended at once by signal " + std::to_string(WTERMSIG(wait_status)) + " (" +
               strsignal(WTERMSIG(wait_status)) + ")";
    return " ended at once";
}

void run_program(const std::vector<std::string>& words)
{
    if (words.empty())
        throw Failure("run: give the program to start, e.g. \"\\Program Files\\CallTicker\\CallTicker.exe\"");
    const std::string& given = words.front();
    const fs::path program = program_location(given);
    std::error_code error;
    if (!fs::is_regular_file(program, error))
        throw Failure("run: no program at '" + given + "' (" + program.string() + ")");
    int spawn_error = 0;
    std::optional<int> ended;
    const auto pid = wince::process::spawn(program, {words.begin() + 1, words.end()}, spawn_error, &ended);
    if (!pid)
        throw Failure("run: cannot start '" + given + "': " + std::strerror(spawn_error));
    std::printf("%u %s%s\n", *pid, program.filename().c_str(), ended ? how_it_ended(*ended).c_str() : "");
}

void list_processes(bool as_json)
{
    const auto processes = wince::process::list();
    if (as_json) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& p : processes)
            out.push_back({{"pid", p.pid},
                           {"exe", p.exe},
                           {"path", wince::device::narrow(p.device_path)},
                           {"cmdline", p.cmdline},
                           {"started", p.started},
                           {"threads", p.threads}});
        std::printf("%s\n", out.dump(2).c_str());
        return;
    }
    if (processes.empty()) {
        std::printf("no processes on the device\n");
        return;
    }
    std::printf("%-8s %-20s %10s  %s\n", "PID", "EXE", "STARTED", "PATH");
    for (const auto& p : processes) {
        std::printf("%-8u %-20s %10s  %s%s%s\n", p.pid, p.exe.c_str(), device_time(p.started).c_str(),
                    wince::device::narrow(p.device_path).c_str(), p.cmdline.empty() ? "" : " ", p.cmdline.c_str());
        for (uint32_t tid : p.threads)
            std::printf("  thread %u%s\n", tid, tid == p.pid ? " (main)" : "");
    }
}

} // namespace

void add_process_commands(CLI::App& app)
{
    auto* run = app.add_subcommand("run", "Start a program on the device (prints its process id)");
    static std::vector<std::string> words;
    run->add_option("PATH", words, "The program, then its arguments (after -- when they look like options)")
        ->required();
    run->footer("PATH is a device path (\"\\Program Files\\CallTicker\\CallTicker.exe\") or a host path;\n"
                "the program's output goes to run/<exe>.<pid>.log in the device folder.\n"
                "Prints the process id and the program's file name, and how the program ended\n"
                "when it did so before it first waited (\"exited at once with code N\").");
    run->callback([] { run_program(words); });

    auto* ps = app.add_subcommand("ps", "The device's processes and their threads");
    static bool as_json = false;
    ps->add_flag("--json", as_json, "As JSON");
    ps->callback([] { list_processes(as_json); });
}

} // namespace phone
