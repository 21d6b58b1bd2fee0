// The device folder, its clock, the manual-clock scheduler and the event log.
#include <csignal>
#include <fstream>
#include <set>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/sync.h"
#include "test_device.h"

using testing_support::TempDevice;
namespace device = wince::device;
namespace ks = wince::sync;

TEST(DevicePaths, DevicePathsMapIntoTheFolderAndHostPathsMapBack)
{
    TempDevice dev;
    EXPECT_EQ(device::host_path(L"\\Program Files\\CallTicker\\CallTicker.exe"),
              dev.dir() / "Program Files/CallTicker/CallTicker.exe");
    EXPECT_EQ(device::device_path(dev.dir() / "Program Files/CallTicker/CallTickerCfg.exe"),
              L"\\Program Files\\CallTicker\\CallTickerCfg.exe");

    // A program started from outside the device sees its host path with
    // backslashes, and that path leads back to the host file.
    const auto outside = std::filesystem::temp_directory_path() / "CallTicker.exe";
    const std::wstring seen = device::device_path(outside);
    EXPECT_EQ(seen.find(L'/'), std::wstring::npos);
    EXPECT_EQ(device::host_path(seen), outside);
}

TEST(DeviceConfig, FileValuesMergeOverDefaultsAndFaultCountsRunOut)
{
    TempDevice dev({{"clock_rate", 50}, {"faults", {{"*", {{"CreateThread", 2}}}, {"other.exe", {{"CreateThread", "fail"}}}}}});
    EXPECT_EQ(device::config()["clock_rate"], 50);
    EXPECT_EQ(device::config()["lines"][0]["name"], "Cellular Line");
    EXPECT_TRUE(device::inject_fault("CreateThread"));
    EXPECT_TRUE(device::inject_fault("CreateThread"));
    EXPECT_FALSE(device::inject_fault("CreateThread"));
    EXPECT_FALSE(device::inject_fault("CreateEventW"));
}

TEST(ManualClock, AdvanceRunsDeviceThreadsAtTheirExactDeadlines)
{
    TempDevice dev;
    wince::clock::use_manual(0);
    std::vector<double> woke;
    std::thread worker = ks::spawn_device_thread([&] {
        for (int i = 0; i < 3; ++i) {
            auto held = ks::lock();
            ks::wait_until(held, ks::deadline_after(250), [] { return false; });
            woke.push_back(wince::clock::now());
        }
    });
    ks::advance(600);
    EXPECT_EQ(wince::clock::now(), 600);
    EXPECT_EQ(woke, (std::vector<double>{250, 500}));
    ks::advance(200);
    worker.join();
    EXPECT_EQ(woke, (std::vector<double>{250, 500, 750}));
}

TEST(EventLog, LinesFromManyProcessesNeverInterleave)
{
    TempDevice dev;
    constexpr int writers = 4, lines_each = 200;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
        pid_t child = fork();
        if (child == 0) {
            const std::string padding(300 + 40 * w, 'x');
            for (int i = 0; i < lines_each; ++i)
                wince::eventlog::write("test.line", {{"writer", w}, {"i", i}, {"padding", padding}});
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children)
        waitpid(child, nullptr, 0);

    std::set<std::pair<int, int>> seen;
    for (const auto& e : dev.events("test.line"))
        seen.insert({e["writer"].get<int>(), e["i"].get<int>()});
    EXPECT_EQ(seen.size(), static_cast<size_t>(writers * lines_each));
    EXPECT_EQ(dev.events().size(), static_cast<size_t>(writers * lines_each));
}

TEST(EventLog, ALineThatCannotBeWrittenWholeIsTakenBack)
{
    TempDevice dev;
    wince::eventlog::write("test.before");
    const auto log = dev.dir() / "events.jsonl";
    const auto size = std::filesystem::file_size(log);
    // A file size limit just past the log's end: the next line fits only in
    // part, as on a disk that fills up in the middle of a write.
    const int writer = testing_support::exit_code_in_child([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(size + 10), static_cast<rlim_t>(size + 10)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 1;
        wince::eventlog::write("test.cut", {{"padding", std::string(200, 'x')}});
        return 0;
    });
    ASSERT_EQ(writer, 0);
    EXPECT_EQ(std::filesystem::file_size(log), size);

    wince::eventlog::write("test.after");
    std::ifstream in(log);
    std::vector<std::string> events;
    for (std::string line; std::getline(in, line);)
        events.push_back(nlohmann::json::parse(line, nullptr, false).value("event", "(torn)"));
    EXPECT_EQ(events, (std::vector<std::string>{"test.before", "test.after"}));
}
