// Test devices: a fresh folder under $TMPDIR with the default configuration
// merged with the test's own, removed when the test ends, after every
// program that ran on it (or on a device inside it) has ended.
#include "test_device.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "device/device.h"
#include "device/eventlog.h"
#include "device/files.h"

namespace testing_support {

TempDevice::TempDevice(const nlohmann::json& config)
{
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path base = tmp && *tmp ? tmp : "/tmp";
    std::random_device random;
    do {
        dir_ = base / ("callticker-test-" + std::to_string(random()));
    } while (std::filesystem::exists(dir_));
    wince::device::make_private_dirs(dir_);
    wince::device::set_root(dir_);
    wince::device::claim_device();
    nlohmann::json merged = wince::device::default_config();
    merged.merge_patch(config);
    wince::device::write_config(merged);
}

namespace {

// The device folder a process runs on, from its environment; empty when it
// has none or cannot be read (another user's, or gone).
std::string device_of(const std::filesystem::path& process)
{
    std::ifstream in(process / "environ", std::ios::binary);
    const std::string variable = "WINCE_DEVICE_DIR=";
    std::string entry;
    while (std::getline(in, entry, '\0'))
        if (entry.rfind(variable, 0) == 0)
            return entry.substr(variable.size());
    return {};
}

} // namespace

void end_programs_of(const std::filesystem::path& dir)
{
    const std::string prefix = dir.string() + "/";
    std::vector<int> dying;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos || std::stol(name) == ::getpid())
            continue;
        const std::string device = device_of(entry.path());
        if (device != dir.string() && device.rfind(prefix, 0) != 0)
            continue;
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, std::stoi(name), 0));
        if (pidfd >= 0 && ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0)
            dying.push_back(pidfd);
        else if (pidfd >= 0)
            ::close(pidfd);
    }
    for (const int pidfd : dying) {
        // Long enough for any process to die of SIGKILL on a loaded host.
        pollfd death{pidfd, POLLIN, 0};
        while (::poll(&death, 1, 10000) < 0) {
        }
        ::close(pidfd);
    }
}

TempDevice::~TempDevice()
{
    end_programs_of(dir_);
    // Nothing of this device's configuration (faults above all) may leak
    // into a later test of the same process.
    wince::device::reload_config();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<nlohmann::json> TempDevice::events(std::string_view event) const
{
    std::vector<nlohmann::json> selected;
    for (auto& e : wince::eventlog::read_all())
        if (event.empty() || e.value("event", "") == event)
            selected.push_back(std::move(e));
    return selected;
}

std::filesystem::path bin_dir() { return CALLTICKER_BIN_DIR; }

} // namespace testing_support
