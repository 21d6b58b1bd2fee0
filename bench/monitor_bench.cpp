// Timing harness for the call monitor on a real device at clock rate 1:
//  - latency from a call's connection to the start sound's waveout.write
//    (target: under 5 ms median);
//  - lateness of a platform timer re-armed at each firing, as the call
//    window does (target: median under 1 ms, 99th percentile under 5 ms);
//  - the idle monitor's wake-ups per second for each of its threads
//    (target: none on the main thread) and its resident memory.
// Prints one line per figure; run it on an otherwise quiet machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <tapi.h>

#include "device/clock.h"
#include "device/device.h"
#include "kernel/sync.h"
#include "phone_runner.h"
#include "tapi/radio.h"
#include "test_device.h"

using nlohmann::json;
using testing_support::Phone;

namespace {

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    return values[index];
}

void report(const char* what, const std::vector<double>& values, const char* unit)
{
    std::printf("%-44s n=%-4zu median %8.3f %s   p90 %8.3f %s   p99 %8.3f %s\n", what, values.size(),
                percentile(values, 0.5), unit, percentile(values, 0.9), unit, percentile(values, 0.99), unit);
}

std::map<std::string, long> read_status(const std::string& path)
{
    std::map<std::string, long> fields;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        try {
            fields[line.substr(0, colon)] = std::stol(line.substr(colon + 1));
        } catch (const std::logic_error&) {
            // not a number: not a field we read
        }
    }
    return fields;
}

// Connection -> start sound, measured on the device clock of the log.
void answer_to_start_sound(const Phone& phone, long monitor_pid)
{
    std::vector<double> latencies;
    for (int round = 0; round < 30; ++round) {
        const size_t writes_before = phone.events("waveout.write").size();
        const auto call = wince::tapi::radio::place(0, LINECALLSTATE_OFFERING, LINEMEDIAMODE_INTERACTIVEVOICE, false, "");
        wince::tapi::radio::change_state(call.id, LINECALLSTATE_CONNECTED);
        const json connected = phone.wait_for("call", [&](const json& e) {
            return e["call"] == call.id && e["state"] == "LINECALLSTATE_CONNECTED";
        });
        json write;
        for (int tries = 0; tries < 500 && write.is_null(); ++tries) {
            auto writes = phone.events("waveout.write");
            if (writes.size() > writes_before && writes[writes_before]["pid"] == monitor_pid)
                write = writes[writes_before];
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (!connected.is_null() && !write.is_null())
            latencies.push_back(write["t"].get<double>() - connected["t"].get<double>());
        std::this_thread::sleep_for(std::chrono::milliseconds(900)); // the chime plays
        wince::tapi::radio::change_state(call.id, LINECALLSTATE_DISCONNECTED);
        wince::tapi::radio::change_state(call.id, LINECALLSTATE_IDLE);
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
    }
    report("connected -> start sound waveout.write", latencies, "ms");
}

// A window timer re-armed from its own WM_TIMER, as the periodic signal is.
void rearmed_timer_lateness()
{
    constexpr UINT kInterval = 20;
    constexpr int kFirings = 300;
    std::vector<double> lateness;
    std::thread pump = wince::sync::spawn_device_thread([&] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = L"BenchTimer";
        RegisterClassW(&wc);
        HWND hwnd = CreateWindowExW(0, L"BenchTimer", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        double armed = wince::clock::now();
        SetTimer(hwnd, 2, kInterval, nullptr);
        MSG msg;
        while (static_cast<int>(lateness.size()) < kFirings && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message != WM_TIMER)
                continue;
            const double now = wince::clock::now();
            lateness.push_back(now - (armed + kInterval));
            armed = now;
            SetTimer(hwnd, 2, kInterval, nullptr);
        }
        DestroyWindow(hwnd);
    });
    pump.join();
    report("re-armed timer lateness", lateness, "ms");
}

void idle_monitor(long pid)
{
    const std::string task_dir = "/proc/" + std::to_string(pid) + "/task";
    auto switches = [&] {
        std::map<long, long> per_thread;
        for (const auto& task : std::filesystem::directory_iterator(task_dir)) {
            auto status = read_status(task.path() / "status");
            per_thread[std::stol(task.path().filename())] = status["voluntary_ctxt_switches"] + status["nonvoluntary_ctxt_switches"];
        }
        return per_thread;
    };
    constexpr double kSeconds = 10;
    const auto before = switches();
    std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
    const auto after = switches();
    for (const auto& [tid, count] : after) {
        const long earlier = before.count(tid) ? before.at(tid) : 0;
        std::printf("idle wake-ups/s, thread %-8ld%s %6.2f\n", tid, tid == pid ? " (main)" : "        ",
                    (count - earlier) / kSeconds);
    }
    const auto status = read_status("/proc/" + std::to_string(pid) + "/status");
    std::printf("idle resident memory                         %ld KiB (peak %ld KiB)\n", status.at("VmRSS"),
                status.at("VmHWM"));
}

} // namespace

int main()
{
    const auto dir = std::filesystem::temp_directory_path() / ("callticker-bench-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    Phone phone(dir);
    wince::device::set_program("monitor_bench");
    if (phone.run({"init", "--clock-rate", "1", "--audio", "null"}).status != 0) {
        std::fprintf(stderr, "monitor_bench: phone init failed\n");
        return 1;
    }
    wince::device::set_root(dir);
    const auto started = phone.run({"run", "\\Program Files\\CallTicker\\CallTicker.exe"});
    const long pid = std::stol(started.output);
    phone.wait_for("playsound");
    std::this_thread::sleep_for(std::chrono::seconds(1));

    idle_monitor(pid);
    answer_to_start_sound(phone, pid);
    rearmed_timer_lateness();

    phone.run({"post", "--process", "CallTicker.exe", "WM_MONITOR_QUIT"});
    phone.wait_for("process.exit", [pid](const json& e) { return e["pid"] == pid; }, 5);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
