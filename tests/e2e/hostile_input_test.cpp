// The device under hostile and clumsy input, driven through the phone tool
// on real processes: a flood of bad datagrams at the running monitor, a
// device.json that cannot be used, a hive in trouble, a device made with a
// careless umask, a folder of the user's own given as a device, and two
// boots at once.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include <csignal>

#include <dirent.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child.h"
#include "device/device.h"
#include "kernel/process_table.h"
#include "phone_runner.h"
#include "test_device.h"

using nlohmann::json;
using testing_support::Phone;

namespace {

namespace fs = std::filesystem;

constexpr const char* kMonitor = "\\Program Files\\CallTicker\\CallTicker.exe";
constexpr int kStartBytes = 17444; // the start and end chime
constexpr int kBeepBytes = 6904;

class HostileDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("callticker-hostile-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        phone_ = std::make_unique<Phone>(dir_);
        phone_->ok({"init", "--clock-rate", "100", "--audio", "null"});
    }

    void TearDown() override
    {
        if (monitor_ != 0 && kill(static_cast<pid_t>(monitor_), 0) == 0) {
            phone_->run({"post", "--process", "CallTicker.exe", "WM_MONITOR_QUIT"});
            phone_->wait_for("process.exit", [this](const json& e) { return e["pid"] == monitor_; }, 5);
        }
        testing_support::end_programs_of(dir_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Starts the monitor and waits until it watches its line.
    long StartMonitor()
    {
        monitor_ = static_cast<long>(testing_support::started_pid(phone_->ok({"run", kMonitor})));
        EXPECT_FALSE(phone_->wait_for("line.open", [this](const json& e) { return e["pid"] == monitor_; }).is_null());
        return monitor_;
    }

    // A whole call of `seconds`, returning once the monitor has played its
    // end chime.  The call's messages reach the monitor behind whatever
    // datagrams wait on its socket, which on a loaded host (or under a
    // sanitizer) can take longer than an ordinary wait allows.
    void Call(const std::string& seconds)
    {
        phone_->ok({"call", "talk", seconds});
        const double ended = phone_->events("call").back()["t"];
        ASSERT_FALSE(phone_->wait_for("waveout.close", [this, ended](const json& e) {
                               return e["pid"] == monitor_ && e["t"].get<double>() > ended;
                           }, 90).is_null());
    }

    fs::path dir_;
    std::unique_ptr<Phone> phone_;
    long monitor_ = 0;
};

size_t entries_of(const fs::path& folder)
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
        ++count;
    return count;
}

// The entries of `folder` once no more than `most` (a bounded real-time
// wait: a playback's audio thread ends a moment after its last event).
size_t entries_once_at_most(const fs::path& folder, size_t most)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (entries_of(folder) > most && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return entries_of(folder);
}

// Datagrams no process of the device would send: random bytes, valid
// messages cut short, empty ones, messages of the platform's kinds with one
// field of the wrong type, range or name, unknown kinds and oversized ones.
class HostileDatagrams {
public:
    explicit HostileDatagrams(unsigned seed) : random_(seed) {}

    std::string next(int index)
    {
        switch (index % 10) {
        case 0:
        case 1:
            return random_bytes();
        case 2:
        case 3:
            return truncated();
        case 4:
            return "";
        case 9:
            if (index % 100 == 99)
                return std::string(70 * 1024, ' ');
            return json{{"kind", pick({"post", "Key", "tapi2", "", "post_thread "})}, {"tid", 1}}.dump();
        default:
            return wrong_typed().dump();
        }
    }

private:
    std::string pick(std::initializer_list<const char*> choices)
    {
        std::uniform_int_distribution<size_t> which(0, choices.size() - 1);
        return *(choices.begin() + which(random_));
    }

    std::string random_bytes()
    {
        std::uniform_int_distribution<int> length(1, 300), byte(0, 255);
        std::string bytes(static_cast<size_t>(length(random_)), '\0');
        for (char& c : bytes)
            c = static_cast<char>(byte(random_));
        return bytes;
    }

    json valid_message()
    {
        switch (std::uniform_int_distribution<int>(0, 3)(random_)) {
        case 0:
            return {{"kind", "post_thread"}, {"tid", 1234}, {"msg", 0x8001}, {"wparam", 1}, {"lparam", -1}};
        case 1:
            return {{"kind", "post_window"}, {"hwnd", 0x10004}, {"msg", 0x0111}, {"wparam", 2}, {"lparam", 0}};
        case 2:
            return {{"kind", "key"}, {"window", 0x10004}, {"key", "RETURN"}};
        default:
            return {{"kind", "tapi"}, {"line", 0},  {"message", 2},       {"call", 99},
                    {"state", 4},     {"media", 4}, {"outbound", false}, {"params", {1, 2, 3}}};
        }
    }

    std::string truncated()
    {
        const std::string whole = valid_message().dump();
        return whole.substr(0, std::uniform_int_distribution<size_t>(1, whole.size() - 1)(random_));
    }

    // Values that break each field of the platform's messages: the wrong
    // type, or a number out of the field's range.
    json wrong_value(const std::string& field)
    {
        static const std::map<std::string, std::vector<json>> wrong = [] {
            const std::vector<json> u32 = {"x", -1, 1.5, 1ull << 36, json::array({1}), json::object(), nullptr, true};
            const std::vector<json> u64 = {"x", -1, 1.5, json::array({1}), json::object(), nullptr, true};
            return std::map<std::string, std::vector<json>>{
                {"tid", u32},    {"msg", u32},   {"line", u32},    {"message", u32}, {"call", u32},
                {"state", u32},  {"media", u32}, {"wparam", u64},  {"hwnd", u64},    {"window", u64},
                {"lparam", {"x", 1.5, 18446744073709551615ull, json::array(), json::object(), nullptr, false}},
                {"key", {5, -1, 1.5, json::array({"RETURN"}), json::object(), nullptr, true}},
                {"outbound", {"x", 0, 1.5, json::array(), json::object(), nullptr}},
                {"params", {"x", 7, json::array({1, 2, 3, 4}), json::array({"1"}), json::array({-1}), nullptr}},
            };
        }();
        const auto& choices = wrong.at(field);
        return choices[std::uniform_int_distribution<size_t>(0, choices.size() - 1)(random_)];
    }

    // A message of a real kind with one field broken, missing, or one field
    // too many.
    json wrong_typed()
    {
        json message = valid_message();
        std::vector<std::string> fields;
        for (auto it = message.begin(); it != message.end(); ++it)
            if (it.key() != "kind")
                fields.push_back(it.key());
        const std::string field = fields[std::uniform_int_distribution<size_t>(0, fields.size() - 1)(random_)];
        switch (std::uniform_int_distribution<int>(0, 5)(random_)) {
        case 0:
            message["surplus"] = 1;
            break;
        case 1:
            // Every field of the other kinds is required; of "tapi" only this.
            message.erase(message["kind"] == "tapi" ? "message" : field);
            break;
        default:
            message[field] = wrong_value(field);
        }
        return message;
    }

    std::mt19937 random_;
};

void send_datagram(int fd, const std::string& socket_file, const std::string& bytes)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket_file.copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address),
              static_cast<ssize_t>(bytes.size()));
}

} // namespace

TEST_F(HostileDevice, TenThousandBadDatagramsLeaveTheMonitorWhole)
{
    const long pid = StartMonitor();
    const fs::path proc = "/proc/" + std::to_string(pid);
    const size_t threads = entries_of(proc / "task");
    Call("10"); // the first call opens the registry: its descriptors belong to the monitor from then on
    const size_t descriptors = entries_of(proc / "fd");
    const size_t events_before = phone_->events().size();

    const std::string socket_file = (dir_ / "run/proc" / (std::to_string(pid) + ".sock")).string();
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    HostileDatagrams hostile(20240611);
    constexpr int kDatagrams = 10000;
    for (int i = 0; i < kDatagrams; ++i)
        send_datagram(fd, socket_file, hostile.next(i));
    close(fd);

    // Still hearing calls: a whole call gives every signal.
    Call("130");
    std::vector<int> writes;
    std::vector<std::string> backlight;
    std::map<std::string, int> rejections;
    const auto events = phone_->events();
    for (size_t i = events_before; i < events.size(); ++i) {
        const json& e = events[i];
        if (e["pid"] != pid)
            continue;
        if (e["event"] == "waveout.write")
            writes.push_back(e["bytes"]);
        else if (e["event"] == "backlight")
            backlight.push_back(e["state"]);
        else if (e["event"] == "channel.reject")
            ++rejections[e["reason"]];
    }
    EXPECT_EQ(writes, (std::vector<int>{kStartBytes, kBeepBytes, kBeepBytes, kStartBytes}));
    EXPECT_EQ(backlight, (std::vector<std::string>{"D4", "D0", "PwrDeviceUnspecified"}));
    // Each reason once, whatever the flood.
    EXPECT_GE(rejections.size(), 8u);
    for (const auto& [reason, count] : rejections)
        EXPECT_EQ(count, 1) << reason;

    EXPECT_EQ(entries_once_at_most(proc / "task", threads), threads);
    EXPECT_EQ(entries_of(proc / "fd"), descriptors);

    // And still hearing its own quit message.
    phone_->ok({"post", "--process", "CallTicker.exe", "WM_MONITOR_QUIT"});
    const json exit = phone_->wait_for("process.exit", [pid](const json& e) { return e["pid"] == pid; });
    ASSERT_FALSE(exit.is_null());
    EXPECT_EQ(exit["code"], 0);
}

TEST_F(HostileDevice, AnUnusableDeviceJsonIsOneErrorForPhoneAndAWarningForPrograms)
{
    json config = json::parse(std::ifstream(dir_ / "device.json"));
    config["clock_rate"] = "fast";
    std::ofstream(dir_ / "device.json") << config.dump();

    const auto status = phone_->run({"status"});
    EXPECT_NE(status.status, 0);
    EXPECT_EQ(status.errors, "phone: " + (dir_ / "device.json").string() +
                                 ": field \"clock_rate\" must be a number from 0.001 to 10000\n");
    EXPECT_EQ(status.output, "");

    // A program runs on the defaults and says so in its log.
    wince::device::set_root(dir_);
    int error = 0;
    const auto started =
        wince::process::spawn(dir_ / "Program Files/CallTicker/CallTicker.exe", {}, error);
    ASSERT_TRUE(started) << std::strerror(error);
    const long pid = monitor_ = static_cast<long>(*started);
    std::ifstream log(dir_ / "run" / ("CallTicker.exe." + std::to_string(pid) + ".log"));
    std::string first;
    std::getline(log, first);
    EXPECT_EQ(first, "CallTicker.exe: warning: " + (dir_ / "device.json").string() +
                         ": field \"clock_rate\" must be a number from 0.001 to 10000; defaults used");
    EXPECT_FALSE(phone_->wait_for("line.open", [pid](const json& e) { return e["pid"] == pid; }).is_null());

    // init, which rewrites device.json, is what mends it.
    kill(static_cast<pid_t>(pid), SIGKILL);
    monitor_ = 0;
    phone_->ok({"init"});
    EXPECT_EQ(phone_->run({"status"}).status, 0);
}

TEST_F(HostileDevice, PhoneRegSaysWhenTheHiveIsDamagedOrLocked)
{
    const std::string hive = "registry hive " + (dir_ / "registry.db").string();
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir_ / "registry.db").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        // Reading goes on while another process writes; writing waits a
        // while, then says why it failed.
        const auto query = phone_->run({"reg", "query", "HKLM"});
        EXPECT_EQ(query.status, 0) << query.errors;
        const auto add = phone_->run({"reg", "add", "HKLM\\Software\\X", "/v", "V", "/d", "1", "/f"});
        EXPECT_NE(add.status, 0);
        EXPECT_EQ(add.errors, "phone: ERROR: " + hive + " is locked by another process\n");
        sqlite3_close(db);
    }

    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(dir_ / ("registry.db" + std::string(suffix)));
    std::ofstream(dir_ / "registry.db", std::ios::binary) << std::string(8192, '\x17');
    const auto query = phone_->run({"reg", "query", "HKLM\\Software"});
    EXPECT_NE(query.status, 0);
    EXPECT_EQ(query.errors, "phone: ERROR: " + hive + " is damaged: file is not a database\n");
}

// Another process holding the hive whole (SQLite's exclusive locking mode)
// before a call costs the monitor no time: each read gives up at once and
// takes its default, so every signal comes on time in device time, and the
// failure is logged once, not once per read.
TEST_F(HostileDevice, AHiveHeldExclusivelyElsewhereKeepsEverySignalOnTime)
{
    phone_->ok({"init", "--clock-rate", "20", "--audio", "null"});
    // Taken while no program of the device has the hive open: from then on
    // no other connection can read it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "registry.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; COMMIT;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    const long pid = StartMonitor();
    Call("70");
    sqlite3_close(db);

    double connected = -1;
    std::vector<json> chimes;
    std::vector<double> beeps, dark;
    int hive_errors = 0;
    for (const json& e : phone_->events()) {
        if (e["event"] == "call" && e["state"] == "LINECALLSTATE_CONNECTED")
            connected = e["t"];
        if (e["pid"] != pid)
            continue;
        if (e["event"] == "waveout.write" && e["bytes"] == kStartBytes)
            chimes.push_back(e);
        else if (e["event"] == "waveout.write" && e["bytes"] == kBeepBytes)
            beeps.push_back(e["t"]);
        else if (e["event"] == "backlight" && e["state"] == "D4")
            dark.push_back(e["t"]);
        else if (e["event"] == "reg.error")
            ++hive_errors;
    }
    // 3 device seconds are 150 ms of real time at rate 20; a read that
    // waited for the hive would cost 5 s of device time or more.
    constexpr double kSlack = 3000;
    ASSERT_EQ(chimes.size(), 2u);
    EXPECT_NEAR(chimes[0]["t"].get<double>(), connected, kSlack);
    const double start_ended = chimes[0]["t"].get<double>() + chimes[0]["ms"].get<double>();
    ASSERT_EQ(dark.size(), 1u);
    EXPECT_NEAR(dark[0], start_ended + 5000, kSlack);
    ASSERT_EQ(beeps.size(), 1u);
    EXPECT_NEAR(beeps[0], start_ended + 55000, kSlack);
    EXPECT_EQ(hive_errors, 1);
}

TEST_F(HostileDevice, ADeviceMadeUnderACarelessUmaskIsStillItsOwnersAlone)
{
    fs::remove_all(dir_);
    const mode_t before = umask(0);
    phone_->ok({"init", "--clock-rate", "100", "--audio", "wav"});
    const long pid = StartMonitor();
    phone_->ok({"call", "talk", "10"});
    phone_->ok({"reg", "add", "HKCU\\Software\\Mine", "/v", "V", "/d", "1", "/f"});
    umask(before);
    ASSERT_FALSE(phone_->wait_for("waveout.write", [pid](const json& e) { return e["pid"] == pid; }).is_null());

    std::vector<std::string> open_to_others;
    std::set<std::string> kinds;
    struct stat status {};
    ASSERT_EQ(stat(dir_.c_str(), &status), 0);
    if (status.st_mode & 077)
        open_to_others.push_back(dir_.string());
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
        ASSERT_EQ(lstat(entry.path().c_str(), &status), 0);
        kinds.insert(S_ISDIR(status.st_mode) ? "folder" : S_ISSOCK(status.st_mode) ? "socket" : "file");
        if (status.st_mode & 077)
            open_to_others.push_back(entry.path().string());
    }
    EXPECT_EQ(open_to_others, std::vector<std::string>{});
    EXPECT_EQ(kinds, (std::set<std::string>{"file", "folder", "socket"}));

    if (!testing_support::can_become_another_user())
        return;
    // Another user can neither look into the device nor reach the monitor.
    const std::string socket_file = (dir_ / "run/proc" / (std::to_string(pid) + ".sock")).string();
    const int stranger = testing_support::exit_code_in_child([&] {
        if (!testing_support::become_another_user())
            return 99;
        if (opendir(dir_.c_str()) != nullptr || errno != EACCES)
            return 1;
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socket_file.copy(address.sun_path, sizeof address.sun_path - 1);
        const std::string quit = json{{"kind", "post_thread"}, {"tid", pid}, {"msg", 0x8003}}.dump();
        if (sendto(fd, quit.data(), quit.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address) >= 0 ||
            errno != EACCES)
            return 2;
        return 0;
    });
    EXPECT_EQ(stranger, 0);
}

// What a folder holds: each entry's path, kind, mode and a hash of its content.
std::map<std::string, std::string> contents_of(const fs::path& folder)
{
    std::map<std::string, std::string> found;
    struct stat status {};
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        lstat(entry.path().c_str(), &status);
        std::string content;
        if (S_ISREG(status.st_mode)) {
            std::ifstream in(entry.path(), std::ios::binary);
            content.assign(std::istreambuf_iterator<char>(in), {});
        }
        found[entry.path().lexically_relative(folder).string()] =
            std::to_string(status.st_mode) + " " + std::to_string(std::hash<std::string>{}(content));
    }
    lstat(folder.c_str(), &status);
    found["."] = std::to_string(status.st_mode);
    return found;
}

TEST(HostileFolder, InitAndDemoRefuseAFolderOfTheUsersOwnAndTouchNothingInIt)
{
    testing_support::TempDevice place;
    const fs::path mine = place.dir() / "mine";
    fs::create_directories(mine / "run");
    fs::create_directories(mine / "pictures");
    std::ofstream(mine / "run/mine") << "x\n";
    std::ofstream(mine / "registry.db") << "y\n";
    std::ofstream(mine / "pictures/settings.png") << "z\n";
    fs::permissions(mine, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    const auto before = contents_of(mine);

    const Phone phone(mine);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"init"}, std::vector<std::string>{"demo", "--clock-rate", "100"}}) {
        const auto refused = phone.run(command);
        EXPECT_NE(refused.status, 0) << command[0];
        EXPECT_EQ(refused.errors, "phone: " + mine.string() +
                                      " is not a device and not empty: give a new or empty folder (nothing in "
                                      "it was touched)\n")
            << command[0];
        EXPECT_EQ(contents_of(mine), before) << command[0];
    }

    // An empty folder of the user's becomes a device and keeps its mode.
    const fs::path empty = place.dir() / "empty";
    fs::create_directory(empty);
    fs::permissions(empty, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    Phone(empty).ok({"init"});
    EXPECT_EQ(fs::status(empty).permissions(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    Phone(empty).ok({"init"}); // and is a device from then on
}

TEST_F(HostileDevice, TwoBootsAtOnceEachBootsOrSaysTheDeviceIsBusy)
{
    for (int round = 0; round < 6; ++round) {
        const auto first = phone_->start({"boot"});
        const auto second = phone_->start({round % 2 ? "boot" : "init"});
        for (const auto& result : {first->finish(), second->finish()}) {
            if (result.status != 0) {
                EXPECT_NE(result.errors.find(" is busy: another init or boot is still running on it"),
                          std::string::npos)
                    << "round " << round << ": " << result.errors;
            }
        }
    }
}
