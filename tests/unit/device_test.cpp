// The device folder, its configuration, its privacy, its clock, the
// manual-clock scheduler and the event log.
#include <csignal>
#include <fstream>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <windows.h>
#include <pm.h>
#include <tapi.h>

#include "child.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "device/files.h"
#include "device/run_state.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"
#include "tapi/radio.h"
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

namespace {

// Replaces device.json with `text` as written and has the configuration
// read again.
void write_raw_config(const TempDevice& dev, const std::string& text)
{
    std::ofstream(dev.dir() / "device.json", std::ios::trunc) << text;
    device::reload_config();
}

} // namespace

TEST(DeviceConfig, AFieldOfTheWrongTypeKeepsItsDefaultAndIsNamed)
{
    TempDevice dev;
    write_raw_config(dev, R"({"clock_rate": "fast", "dpi": 120, "audio": "loud", "volume": -3,
                             "screen": {"width": 480, "height": 0}, "lines": ["Radio", {"name": 5}],
                             "faults": {"*": {"CreateThread": true}}, "unknown to the platform": [1]})");
    const auto& config = device::config();
    EXPECT_EQ(config["clock_rate"], 1.0);
    EXPECT_EQ(config["dpi"], 120);
    EXPECT_EQ(config["audio"], "auto");
    EXPECT_EQ(config["screen"], device::default_config()["screen"]);
    EXPECT_EQ(config["lines"], device::default_config()["lines"]);
    EXPECT_EQ(config["faults"], nlohmann::json::object());
    EXPECT_FALSE(device::inject_fault("CreateThread"));

    const std::string file = (dev.dir() / "device.json").string();
    const std::vector<std::string> expected = {
        file + ": field \"audio\" must be one of \"auto\", \"null\", \"wav\", \"alsa\"",
        file + ": field \"clock_rate\" must be a number from 0.001 to 10000",
        file + ": field \"faults.*.CreateThread\" must be \"fail\" or a count",
        file + ": field \"lines[1].name\" must be a string or null",
        file + ": field \"screen.height\" must be a whole number from 1 to 10000",
        file + ": field \"volume\" must be a whole number from 0 to 4294967295",
    };
    EXPECT_EQ(device::config_problems(), expected);
}

TEST(DeviceConfig, AFileTooDeepTooLargeOrNotJsonIsRefusedWholeNamingTheFile)
{
    TempDevice dev;
    const std::string file = (dev.dir() / "device.json").string();
    const int depth = 100000; // merged field by field, this once overflowed the stack
    std::string deep;
    for (int i = 0; i < depth; ++i)
        deep += "{\"a\":";
    deep += "1" + std::string(depth, '}');
    write_raw_config(dev, deep);
    EXPECT_EQ(device::config(), device::default_config());
    EXPECT_EQ(device::config_problems(), std::vector<std::string>{file + ": nested deeper than 16 levels"});

    write_raw_config(dev, "{\"padding\": \"" + std::string(2 << 20, 'x') + "\"}");
    EXPECT_EQ(device::config(), device::default_config());
    EXPECT_EQ(device::config_problems(), std::vector<std::string>{file + ": larger than 1024 KiB"});

    write_raw_config(dev, "{\"clock_rate\": 5,");
    EXPECT_EQ(device::config()["clock_rate"], 1.0);
    ASSERT_EQ(device::config_problems().size(), 1u);
    EXPECT_EQ(device::config_problems()[0].rfind(file + ": not valid JSON: parse error at line 1", 0), 0u)
        << device::config_problems()[0];
}

namespace {

// A device process that has made one of each of the platform's files: its
// process-table entry and channel socket, a log line, a run-state document,
// its open lines, the clock, a named mutex's files and the hive.
class EverythingMade {
public:
    EverythingMade()
    {
        device::set_program("privacy.exe");
        wince::process::attach("");
        wince::eventlog::write("test.private");
        wince::run_state::update("privacy", [](nlohmann::json& doc) { doc["seen"] = true; });
        wince::tapi::radio::publish_open_lines({0});
        wince::clock::boot();
        mutex_ = CreateMutexW(nullptr, FALSE, L"PrivacyMutex");
        DWORD disposition = 0;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Private", 0, nullptr, 0, 0, nullptr, &key_,
                                  &disposition),
                  ERROR_SUCCESS);
    }
    ~EverythingMade()
    {
        RegCloseKey(key_);
        CloseHandle(mutex_);
        wince::tapi::radio::publish_open_lines({});
        wince::process::detach(0);
    }

private:
    HANDLE mutex_ = nullptr;
    HKEY key_ = nullptr;
};

} // namespace

TEST(DevicePrivacy, EverythingThePlatformMakesIsTheOwnersAloneWhateverTheUmask)
{
    const mode_t umask_before = umask(0);
    {
        TempDevice dev;
        EverythingMade made;
        std::vector<std::string> open_to_others;
        struct stat status {};
        ASSERT_EQ(stat(dev.dir().c_str(), &status), 0);
        if (status.st_mode & 077)
            open_to_others.push_back(dev.dir().string());
        size_t seen = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dev.dir())) {
            ++seen;
            ASSERT_EQ(lstat(entry.path().c_str(), &status), 0);
            if (status.st_mode & 077)
                open_to_others.push_back(entry.path().string());
        }
        EXPECT_GE(seen, 15u); // hive and its WAL, socket, mutex files, run state...
        EXPECT_EQ(open_to_others, std::vector<std::string>{});
    }
    umask(umask_before);
}

TEST(DevicePrivacy, AnotherUserReachesNothingOfTheDevice)
{
    if (!testing_support::can_become_another_user())
        GTEST_SKIP() << "needs root to act as another user";
    TempDevice dev;
    EverythingMade made;
    const std::string socket_file = (device::run_dir() / "proc" / (std::to_string(getpid()) + ".sock")).string();
    const std::vector<std::filesystem::path> files = {
        dev.dir() / "device.json",          dev.dir() / "events.jsonl",
        dev.dir() / "registry.db",          device::run_dir() / "mutex" / "guard",
        device::run_dir() / "mutex" / "PrivacyMutex.lock",
        device::run_dir() / "proc" / (std::to_string(getpid()) + ".json"),
    };
    // Exit code 0: refused everywhere; N: reached files[N - 1]; 50: reached
    // the channel's socket.
    const int stranger = testing_support::exit_code_in_child([&] {
        if (!testing_support::become_another_user())
            return 99;
        for (size_t i = 0; i < files.size(); ++i) {
            const int fd = open(files[i].c_str(), O_RDONLY);
            if (fd >= 0 || errno != EACCES)
                return static_cast<int>(i + 1);
        }
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socket_file.copy(address.sun_path, sizeof address.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 || errno != EACCES)
            return 50;
        return 0;
    });
    EXPECT_EQ(stranger, 0);
}

TEST(DeviceFiles, ALinkFifoOrFolderWhereTheDeviceKeepsAFileIsRefusedAndWhatALinkNamesIsUntouched)
{
    TempDevice dev;
    const auto outside = std::filesystem::path(dev.dir().string() + "-outside");
    std::filesystem::create_directory(outside);
    std::ofstream(outside / "mine") << "mine\n";
    std::filesystem::permissions(outside / "mine", std::filesystem::perms(0644));
    struct stat before {};
    ASSERT_EQ(stat((outside / "mine").c_str(), &before), 0);

    std::filesystem::create_symlink(outside / "mine", dev.dir() / "events.jsonl");
    std::filesystem::create_symlink(outside / "mine", dev.dir() / "registry.db");
    std::filesystem::create_directory_symlink(outside, device::run_dir());
    wince::eventlog::write("test.event", {});
    EXPECT_TRUE(wince::eventlog::read_all().empty());
    DWORD values = 0;
    EXPECT_NE(RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_FALSE(wince::run_state::update("drivers", [](nlohmann::json& doc) { doc["backlight"] = 1; }));
    EXPECT_EQ(wince::run_state::write_failure(),
              "cannot write " + (device::run_dir() / "drivers.json").string() + ": a folder on its path is a symbolic link or no folder");

    ASSERT_EQ(mkfifo((dev.dir() / "device.json.fifo").c_str(), 0600), 0);
    std::filesystem::rename(dev.dir() / "device.json.fifo", dev.dir() / "device.json");
    device::reload_config();
    EXPECT_EQ(device::config_problems(),
              std::vector<std::string>{(dev.dir() / "device.json").string() + ": not a regular file"});

    struct stat after {};
    ASSERT_EQ(stat((outside / "mine").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside), {}), 1);
    std::filesystem::remove_all(outside);
}

TEST(RunState, AChangeThatCannotBeStoredFailsSayingWhy)
{
    TempDevice dev;
    const auto small = dev.dir() / "small";
    const int result = testing_support::exit_code_on_small_file_system(small, 64, [&] {
        device::set_root(small);
        std::ofstream(small / "device.json") << "{}";
        device::make_private_dirs(device::run_dir());
        std::ofstream filler(small / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
        if (wince::run_state::update("drivers", [](nlohmann::json& doc) { doc["backlight"] = 1; }))
            return 1;
        if (wince::run_state::write_failure() !=
            "cannot write " + (device::run_dir() / "drivers.json").string() + ": No space left on device")
            return 2;
        if (SetDevicePower(const_cast<wchar_t*>(L"BKL1:"), POWER_NAME, D4) != ERROR_DISK_FULL ||
            GetLastError() != ERROR_DISK_FULL)
            return 3;
        try {
            wince::tapi::radio::place(0, LINECALLSTATE_OFFERING, LINEMEDIAMODE_INTERACTIVEVOICE, false, "");
            return 4;
        } catch (const std::runtime_error& error) {
            return std::string(error.what()).find("radio.json: No space left on device") != std::string::npos ? 0 : 5;
        }
    });
    if (result == testing_support::no_small_file_system)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    EXPECT_EQ(result, 0);
}

// A reader that lives on across a boot by another process (the phone's
// window) keeps the boot it read until it forgets it.
TEST(DeviceClock, AReaderFollowsANewBootOnceItForgetsTheOld)
{
    TempDevice dev;
    wince::clock::forget_boot();
    wince::clock::boot();
    const auto hour_ago = std::chrono::steady_clock::now() - std::chrono::hours(1);
    std::ofstream(dev.dir() / "run" / "clock")
        << std::chrono::duration_cast<std::chrono::nanoseconds>(hour_ago.time_since_epoch()).count();
    EXPECT_LT(wince::clock::now(), 60000);
    wince::clock::forget_boot();
    EXPECT_GE(wince::clock::now(), 3600000);
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
