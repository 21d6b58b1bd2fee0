// Device clock: a boot instant on the host's monotonic clock, shared by all
// processes of the device through run/clock, and the device's rate.
#include "clock.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include <unistd.h>

#include "device.h"
#include "files.h"

namespace wince::clock {
namespace {

using steady = std::chrono::steady_clock;

std::mutex clock_mutex;
std::optional<steady::time_point> boot_instant;
std::atomic<bool> manual_mode{false};
std::atomic<double> manual_now{0};

std::filesystem::path clock_file() { return device::run_dir() / "clock"; }

long long monotonic_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now().time_since_epoch()).count();
}

// Publishes `ns` as the boot instant.  With `replace` false an existing boot
// instant wins: link() makes creating the file atomic, so every process that
// starts on an unbooted device agrees on the first one.
void publish_boot(long long ns, bool replace)
{
    const std::string text = std::to_string(ns) + "\n";
    if (replace) {
        device::replace_file(clock_file(), text);
        return;
    }
    const auto temp = clock_file().string() + "." + std::to_string(::getpid()) + ".new";
    if (device::replace_file(temp, text))
        ::link(temp.c_str(), clock_file().c_str());
    ::unlink(temp.c_str());
}

// The published boot instant; none when run/clock is missing or damaged.
std::optional<long long> read_boot()
{
    const auto text = device::read_file(clock_file(), 64);
    if (!text)
        return std::nullopt;
    try {
        return std::stoll(*text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

steady::time_point boot_time()
{
    std::lock_guard lock(clock_mutex);
    if (!boot_instant) {
        auto ns = read_boot();
        if (!ns) {
            publish_boot(monotonic_ns(), false);
            ns = read_boot();
        }
        boot_instant = steady::time_point(std::chrono::nanoseconds(ns ? *ns : monotonic_ns()));
    }
    return *boot_instant;
}

} // namespace

double rate()
{
    const auto& value = device::config()["clock_rate"];
    double r = value.is_number() ? value.get<double>() : 1.0;
    return r > 0 ? r : 1.0;
}

double now()
{
    if (manual_mode.load())
        return manual_now.load();
    std::chrono::duration<double, std::milli> real = steady::now() - boot_time();
    return real.count() * rate();
}

steady::time_point real_time_of(double device_ms)
{
    if (device_ms == forever)
        return steady::time_point::max();
    std::chrono::duration<double, std::milli> real(device_ms / rate());
    return boot_time() + std::chrono::duration_cast<steady::duration>(real);
}

void boot()
{
    const long long ns = monotonic_ns();
    publish_boot(ns, true);
    std::lock_guard lock(clock_mutex);
    boot_instant = steady::time_point(std::chrono::nanoseconds(ns));
}

void forget_boot()
{
    std::lock_guard lock(clock_mutex);
    boot_instant.reset();
}

void use_manual(double start_ms)
{
    manual_now.store(start_ms);
    manual_mode.store(true);
}

bool manual() { return manual_mode.load(); }

void set_manual_now(double device_ms) { manual_now.store(device_ms); }

} // namespace wince::clock
