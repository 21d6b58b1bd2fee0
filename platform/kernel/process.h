// The device's process table: which programs run on the device, their
// threads, and their liveness.  A process attaches at start (entry point) and
// detaches at exit; a process killed with -9 is seen as dead by its pid and
// start time, and holds nothing (mutexes, table entry) any more.
#pragma once

#include <cstdint>
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
};

// Registers this process on the device (run/proc/<pid>) and starts the
// channel reader.  `cmdline` is the program's command line.
void attach(const std::string& cmdline);
// Logs nothing; removes this process from the table.
void detach();

// Thread registration: every thread the platform runs program code on.
void add_thread(uint32_t tid);
void remove_thread(uint32_t tid);

// Live processes of the device, oldest first.
std::vector<Info> list();
std::optional<Info> find(uint32_t pid);
std::optional<Info> find_by_exe(const std::string& exe);
bool alive(uint32_t pid);

// The process that owns a host thread id, if it is a live device process.
std::optional<uint32_t> owner_of_thread(uint32_t tid);

} // namespace wince::process
