// The process entry of every device program: attach to the device, run the
// program's WinMain with its resource module and command line, and leave
// the device with WinMain's result as exit code.
#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/stat.h>

#include <windows.h>

#include "device/channel.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"
#include "resources/module.h"

namespace {

std::filesystem::path executable_path(const char* argv0)
{
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::absolute(argv0) : self;
}

std::string command_line(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!line.empty())
            line += ' ';
        line += arg.find(' ') == std::string::npos ? arg : "\"" + arg + "\"";
    }
    return line;
}

// A configuration the program cannot use as written is not ignored in
// silence: each problem is one line of the program's output (its log).
void warn_about_config()
{
    for (const std::string& problem : wince::device::config_problems())
        std::fprintf(stderr, "%s: warning: %s; defaults used\n", wince::device::program_name().c_str(),
                     problem.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    using namespace wince;
    // Whatever the program makes on the device is its owner's alone, as the
    // platform's own files are.
    ::umask(077);
    const auto exe = executable_path(argv[0]);
    device::set_program(exe);
    warn_about_config();
    const std::string cmdline = command_line(argc, argv);
    channel::end_with_device();
    process::attach(cmdline);
    eventlog::write("process.start", {{"path", device::narrow(device::device_path(exe))}, {"cmdline", cmdline}});

    std::wstring wide_cmdline = device::widen(cmdline);
    int code;
    {
        sync::DeviceThread main_thread;
        code = WinMain(resources::program_module(), nullptr, wide_cmdline.data(), 1 /* SW_SHOWNORMAL */);
    }
    eventlog::write("process.exit", {{"code", code}});
    process::detach(static_cast<uint32_t>(code));
    return code;
}
