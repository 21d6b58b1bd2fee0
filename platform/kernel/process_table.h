// The device's process table: which programs run on the device, their
// threads, and their liveness.  A process attaches at start (entry point) and
// detaches at exit; a process killed with -9 is seen as dead by its pid and
// start time, and holds nothing (mutexes, table entry) any more.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace wince::process {

struct Info {
    uint32_t pid = 0;
    std::string exe;          // file name, "CallTicker.exe"
    std::string path;         // host path of the executable
    std::wstring device_path; // as GetModuleFileNameW gives it
    std::string cmdline;
    double started = 0;       // device ms
    std::vector<uint32_t> threads; // host thread ids
    uint64_t host_start = 0;  // the host kernel's start time of the pid (tells reused pids apart)
};

// Registers this process on the device (run/proc/<pid>) and starts the
// channel reader.  `cmdline` is the program's command line.
void attach(const std::string& cmdline);
// Logs nothing; records `exit_code` for GetExitCodeProcess and removes this
// process from the table.
void detach(uint32_t exit_code);

// Thread registration: every thread the platform runs program code on.
void add_thread(uint32_t tid);
void remove_thread(uint32_t tid);

// Live processes of the device, oldest first.
std::vector<Info> list();
std::optional<Info> find(uint32_t pid);
std::optional<Info> find_by_exe(const std::string& exe);
bool alive(uint32_t pid);

// Ends every program of the device at once, as a soft reset does (their
// exit code is 1, as for a program killed from outside), and returns once
// they are gone, with what it ended.  The calling process is spared.
std::vector<Info> end_all();

// The process that owns a host thread id, if it is a live device process.
std::optional<uint32_t> owner_of_thread(uint32_t tid);

// Kernel internals (OpenProcess, ShellExecuteEx, phone run).

// The host kernel's start time of a running pid; none for a dead pid or a zombie.
std::optional<uint64_t> host_start_of(uint32_t pid);

// Exit code of the process that ran as `pid` with start time `host_start`,
// once it recorded one (detach) or was terminated (record_exit).
void record_exit(uint32_t pid, uint64_t host_start, uint32_t exit_code);
std::optional<uint32_t> recorded_exit(uint32_t pid, uint64_t host_start);

// Starts `program` on this device, detached from the caller (own session,
// stdin from /dev/null, output to run/<exe>.<pid>.log), and returns once it
// has settled (a thread of it waits for the first time), ended, or kept
// busy for a few seconds.  When it ended first, `ended_status` receives its
// wait status (exit code or signal).  On failure returns none and sets
// `error` to the errno (ENOENT for a missing program, EACCES, ...).
std::optional<uint32_t> spawn(const std::filesystem::path& program, const std::vector<std::string>& args,
                              int& error, std::optional<int>* ended_status = nullptr);

// Tells spawn() that this program has settled: called when a device thread
// of it first waits.
void settled();

// Takes over the descriptor on which the spawn() that started this program
// waits for settled() (attach calls it); the program's own children do not
// inherit it.
void take_status_fd();

} // namespace wince::process
