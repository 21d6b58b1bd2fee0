// The phone tool as a user first meets it: a folder that is no device,
// mistyped words, numbers that make no sense, the readable log of a call,
// waiting on the device, a talk that is hung up, an init over a running
// monitor, an import that fails, and the volume the chimes are heard at.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "audio/output.h"
#include "kernel/process_table.h"
#include "monitor_sounds.h"
#include "phone_runner.h"

using nlohmann::json;
using testing_support::CommandResult;
using testing_support::onoff_sound;
using testing_support::Phone;
using testing_support::regular_sound;
namespace fs = std::filesystem;

namespace {

constexpr const char* kMonitor = "\\Program Files\\CallTicker\\CallTicker.exe";
constexpr const char* kSettings = "HKLM\\Software\\Apps\\CallTicker";

// Fast enough for a call of minutes; a loaded host may still make a signal
// late by a few device seconds.
constexpr int kRate = 25;

bool one_line(const std::string& text)
{
    return !text.empty() && text.find('\n') == text.size() - 1;
}

class PhoneUser : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("callticker-user-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        phone_ = std::make_unique<Phone>(dir_);
    }

    void TearDown() override
    {
        if (fs::exists(dir_ / "device.json"))
            phone_->run({"init"}); // ends whatever still runs
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    void Init(const std::string& audio = "null")
    {
        phone_->ok({"init", "--clock-rate", std::to_string(kRate), "--audio", audio});
    }

    long StartMonitor()
    {
        const long pid = static_cast<long>(testing_support::started_pid(phone_->ok({"run", kMonitor})));
        EXPECT_FALSE(phone_->wait_for("line.open", [pid](const json& e) { return e["pid"] == pid; }).is_null());
        return pid;
    }

    fs::path dir_;
    std::unique_ptr<Phone> phone_;
};

TEST_F(PhoneUser, AFolderThatIsNoDeviceIsReportedAndLeftAsItWas)
{
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"status"}, {"log"}, {"call", "incoming"}, {"reg", "add", kSettings, "/v", "Enabled", "/t", "REG_DWORD", "/d", "1"},
             {"run", kMonitor}, {"wait", "1"}}) {
        const CommandResult result = phone_->run(args);
        EXPECT_NE(result.status, 0) << args[0];
        EXPECT_EQ(result.errors, "phone: no device at " + dir_.string() + ": run 'phone init' first\n") << args[0];
        EXPECT_FALSE(fs::exists(dir_)) << args[0];
    }
    // An existing folder that holds no device gains nothing either.
    fs::create_directories(dir_);
    EXPECT_NE(phone_->run({"call", "talk", "1"}).status, 0);
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(PhoneUser, UnknownWordsAreNamedWithTheNearestCommand)
{
    Init();
    CommandResult result = phone_->run({"stauts"});
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.errors, "phone: unknown command 'stauts': did you mean 'status'? (see phone --help)\n");
    result = phone_->run({"call", "tlak", "10"});
    EXPECT_EQ(result.errors, "phone: unknown call command 'tlak': did you mean 'talk'? (see phone call --help)\n");
    result = phone_->run({"reg", "exprot", "HKLM", "x.reg"});
    EXPECT_NE(result.errors.find("did you mean 'export'?"), std::string::npos) << result.errors;

    result = phone_->run({"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.rfind("phone (CallTicker) ", 0), 0u);

    // A command that needs a subcommand names them; --help-all shows every
    // option of every command, down to the subcommands of one.
    for (const auto& [command, first] : std::vector<std::pair<std::string, std::string>>{
             {"tap", "ok, softkey, menu, control"}, {"call", "incoming, dial, answer"}, {"reg", "query, add"}}) {
        result = phone_->run({command});
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.errors.rfind("phone: " + command + " needs one of: " + first, 0), 0u) << result.errors;
        EXPECT_TRUE(one_line(result.errors)) << result.errors;
    }
    const std::string all = phone_->ok({"--help-all"});
    const std::regex incoming(R"(incoming\b[^]*?--media[^]*?--number[^]*?\bdial\b)");
    EXPECT_TRUE(std::regex_search(all, incoming)) << all;
    EXPECT_NE(all.find("--clock-rate"), std::string::npos);

    // Help names the values a command takes.
    EXPECT_NE(phone_->ok({"call", "state", "--help"}).find("ONHOLDPENDTRANSFER"), std::string::npos);
    EXPECT_NE(phone_->ok({"call", "incoming", "--help"}).find("DATAMODEM"), std::string::npos);
    EXPECT_NE(phone_->ok({"reg", "--help"}).find("REG_DWORD"), std::string::npos);
    EXPECT_NE(phone_->ok({"log", "--help"}).find("waveout.write"), std::string::npos);
}

TEST_F(PhoneUser, NumbersThatMakeNoSenseAreRefusedInOneLine)
{
    for (const std::string rate : {"inf", "nan", "0", "0.0001", "20000", "-1", "fast"}) {
        const CommandResult result = phone_->run({"init", "--clock-rate", rate});
        EXPECT_NE(result.status, 0) << rate;
        EXPECT_TRUE(one_line(result.errors)) << result.errors;
        EXPECT_FALSE(fs::exists(dir_ / "device.json")) << rate;
    }
    // The demo takes its clock rate as init does, up to the rate its steps keep up with.
    for (const std::string rate : {"0", "fast", "1001"}) {
        const CommandResult result = phone_->run({"demo", "--clock-rate", rate});
        EXPECT_EQ(result.errors, "phone: invalid --clock-rate '" + rate + "': give a number from 0.001 to 1000\n");
    }
    Init();
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"call", "talk", "-1"},
             {"call", "talk", "86401"},
             {"call", "talk", "inf"},
             {"post", "--process", "phone", "0x100000000"},
             {"post", "--process", "phone", "WM_QUIT", "4294967296"},
             {"post", "--thread", "99999999999", "WM_QUIT"},
             {"line-event", "LINE_LINEDEVSTATE", "1", "0x1FFFFFFFF"},
             {"wait", "-5"}}) {
        const CommandResult result = phone_->run(args);
        EXPECT_NE(result.status, 0) << args[2];
        EXPECT_TRUE(one_line(result.errors)) << result.errors;
    }
    EXPECT_TRUE(phone_->events("call").empty());
}

TEST_F(PhoneUser, LogSkipsAMalformedLineAndFilters)
{
    Init();
    phone_->ok({"call", "incoming", "--number", "5550100"});
    std::ofstream(dir_ / "events.jsonl", std::ios::app) << "{\"t\": 1, \"event\": \"torn\n[1, 2]\n";
    phone_->ok({"reg", "add", kSettings, "/v", "OnSoundType", "/t", "REG_DWORD", "/d", "2"});

    CommandResult result = phone_->run({"log"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.errors.find("line 2 is not an event, skipped"), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("line 3 is not an event, skipped"), std::string::npos) << result.errors;
    EXPECT_NE(result.output.find("call 1 incoming, ringing from 5550100 (line 0, voice)"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("OnSoundType = 2 (REG_DWORD)"), std::string::npos) << result.output;

    // The raw lines stay as the device wrote them, the torn ones left out.
    result = phone_->run({"log", "--json"});
    std::istringstream raw(result.output);
    int lines = 0;
    for (std::string line; std::getline(raw, line); ++lines)
        EXPECT_TRUE(json::parse(line, nullptr, false).is_object()) << line;
    EXPECT_EQ(lines, 1 + 4); // the call, the key's three creations and the value

    const std::string calls = phone_->ok({"log", "--event", "c*l"});
    EXPECT_NE(calls.find("call 1"), std::string::npos);
    EXPECT_EQ(calls.find("registry"), std::string::npos);
    EXPECT_EQ(phone_->ok({"log", "--exe", "CallTicker.exe"}), "");
    EXPECT_EQ(phone_->ok({"log", "--since", "59:00"}), "");
}

TEST_F(PhoneUser, CallsTakeLineNamesQuietlyAndCarryTheCallerId)
{
    ASSERT_EQ(phone_->run({"init", "--line", "Data Line", "--line", "Cellular Line"}).status, 0);
    // A talk tells its call as the log does, or gives the log's events.
    EXPECT_EQ(phone_->ok({"call", "talk", "0"}),
              "call 1 incoming, ringing (line 1, voice)\ncall 1 connected (line 1, voice)\n"
              "call 1 disconnected (line 1, voice)\ncall 1 over, idle (line 1, voice)\n");
    std::istringstream talked(phone_->ok({"call", "talk", "0", "--json", "--number", "5550100"}));
    const auto logged = phone_->events("call");
    ASSERT_EQ(logged.size(), 8u);
    size_t at = 4;
    for (std::string line; std::getline(talked, line); ++at) {
        json event = logged.at(at);
        for (const char* field : {"t", "pid", "exe"})
            event.erase(field);
        EXPECT_EQ(json::parse(line), event);
    }
    EXPECT_EQ(at, 8u);
    ASSERT_EQ(phone_->run({"init", "--line", "Data Line", "--line", "Cellular Line"}).status, 0);
    EXPECT_EQ(phone_->ok({"call", "incoming", "--quiet", "--line", "cellular line", "--number", "5550100"}), "1\n");
    EXPECT_EQ(phone_->ok({"call", "dial", "5550199", "-q", "--line", "0"}), "2\n");
    const auto calls = phone_->events("call");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0]["line"], 1);
    EXPECT_EQ(calls[0]["number"], "5550100");
    EXPECT_EQ(calls[1]["line"], 0);
    const CommandResult result = phone_->run({"call", "incoming", "--line", "Voice Line"});
    EXPECT_EQ(result.errors,
              "phone: no line named \"Voice Line\": the device's lines are 0 \"Data Line\", 1 \"Cellular Line\"\n");
}

TEST_F(PhoneUser, WaitReturnsOnTheEventOrGivesUp)
{
    Init();
    auto waiting = phone_->start({"wait", "--event", "call", "--timeout", "600"});
    // The wait counts only what comes after it began: an event is sent
    // until the wait has seen one.
    for (int i = 0; i < 200; ++i) {
        phone_->ok({"call", "incoming", "--quiet"});
        siginfo_t ended{};
        if (::waitid(P_PID, static_cast<id_t>(waiting->pid()), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            ended.si_pid != 0)
            break;
        ::usleep(50'000);
    }
    CommandResult result = waiting->finish();
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("incoming, ringing"), std::string::npos) << result.output;
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1);

    // --since counts what the log already holds.
    result = phone_->run({"wait", "--event", "call", "--since", "0", "--timeout", "1", "--json"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(json::parse(result.output)["call"], 1);

    result = phone_->run({"wait", "--event", "led", "--timeout", "2", "--json"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, "phone: no led event within 0:02.000 of device time\n");

    // Seconds of device time, whatever the rate.
    const double before = json::parse(phone_->ok({"status", "--json"}))["time"];
    phone_->ok({"wait", "0:10"});
    EXPECT_GE(json::parse(phone_->ok({"status", "--json"}))["time"].get<double>(), before + 10000);
}

TEST_F(PhoneUser, HangingUpATalkDropsItsCall)
{
    Init();
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        auto talk = phone_->start({"call", "talk", "3600"});
        ASSERT_FALSE(phone_->wait_for("call", [](const json& e) {
                               return e["state"] == "LINECALLSTATE_CONNECTED";
                           }).is_null());
        ::kill(talk->pid(), signal);
        const CommandResult result = talk->finish();
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.errors.find("dropped"), std::string::npos) << result.errors;
        EXPECT_TRUE(json::parse(phone_->ok({"status", "--json"}))["calls"].empty()) << strsignal(signal);
        const auto calls = phone_->events("call");
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[calls.size() - 2]["state"], "LINECALLSTATE_DISCONNECTED");
        EXPECT_EQ(calls.back()["state"], "LINECALLSTATE_IDLE");
        phone_->ok({"init", "--clock-rate", std::to_string(kRate), "--audio", "null"});
    }
}

TEST_F(PhoneUser, InitOverARunningMonitorLeavesNoOrphan)
{
    Init();
    const long pid = StartMonitor();
    const std::string out = phone_->ok({"init"});
    EXPECT_NE(out.find("ended CallTicker.exe (" + std::to_string(pid) + ")"), std::string::npos) << out;
    // Gone from the host, not only from the table (at most a zombie its parent has yet to reap).
    EXPECT_FALSE(wince::process::host_start_of(static_cast<uint32_t>(pid)));
    EXPECT_EQ(phone_->ok({"ps"}), "no processes on the device\n");
}

TEST_F(PhoneUser, AnImportWithAnErrorOnItsLastLineChangesNothing)
{
    Init();
    phone_->ok({"reg", "add", kSettings, "/v", "OnSoundType", "/t", "REG_DWORD", "/d", "1"});
    const std::string before = phone_->ok({"reg", "query", "HKLM", "/s"});
    const size_t events = phone_->events().size();
    const fs::path file = dir_ / "settings.reg";
    std::ofstream(file) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Apps\\CallTicker]\n\"OnSoundType\"=dword:00000002\n"
                           "\"RegularSoundDelay\"=dword:00000003\n\n[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
                           "\"Name\"=\"text\"\n\"Broken\"=dword:nothex\n";
    const CommandResult result = phone_->run({"reg", "import", file.string()});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.errors.find("line 9"), std::string::npos) << result.errors;
    EXPECT_TRUE(one_line(result.errors));
    EXPECT_EQ(phone_->ok({"reg", "query", "HKLM", "/s"}), before);
    EXPECT_EQ(phone_->events().size(), events);

    // Without the broken line all of it applies.
    std::ofstream(file) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Apps\\CallTicker]\n\"OnSoundType\"=dword:00000002\n";
    phone_->ok({"reg", "import", file.string()});
    EXPECT_NE(phone_->ok({"reg", "query", kSettings, "/v", "OnSoundType"}).find("0x2"), std::string::npos);
}

// An import reads only a regular file of a .reg file's size, and takes a
// string only as it stands: a folder, a device, a FIFO, a huge file, a NUL
// or bytes that are not UTF-8 are each refused in one line, and nothing
// changes.
TEST_F(PhoneUser, AnImportRefusesWhatIsNoRegFileInOneLine)
{
    Init();
    ASSERT_EQ(mkfifo((dir_ / "pipe.reg").c_str(), 0600), 0);
    std::ofstream(dir_ / "huge.reg") << "REGEDIT4\n";
    fs::resize_file(dir_ / "huge.reg", 5 << 20);
    const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Imported]\n\"Fine\"=\"yes\"\n";
    std::ofstream(dir_ / "nul.reg") << head << std::string("\"Cut\"=\"be\0fore\"\n", 16);
    std::ofstream(dir_ / "latin1.reg") << head << "\"Caf\xe9\"=\"x\"\n";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {dir_.string(), dir_.string() + " is a folder: give a .reg file"},
        {"/dev/zero", "/dev/zero is not a regular file: give a .reg file"},
        {(dir_ / "pipe.reg").string(), "pipe.reg is not a regular file"},
        {(dir_ / "huge.reg").string(), "huge.reg is larger than 4 MiB"},
        {(dir_ / "nul.reg").string(), "line 5: a NUL character"},
        {(dir_ / "latin1.reg").string(), "line 5: text that is not valid UTF-8"},
    };
    for (const auto& [file, says] : refused) {
        const CommandResult result = phone_->run_within({"reg", "import", file});
        EXPECT_NE(result.status, 0) << file;
        EXPECT_NE(result.errors.find(says), std::string::npos) << result.errors;
        EXPECT_TRUE(one_line(result.errors)) << result.errors;
    }
    EXPECT_NE(phone_->run({"reg", "query", "HKCU\\Software\\Imported"}).status, 0);
}

// What the tool writes for the user (a screenshot, a timeline, an export)
// is made with the user's umask, as any file of a command-line tool; a file
// that cannot be written is named with the reason.
TEST_F(PhoneUser, FilesWrittenForTheUserFollowTheUmaskAndAFailureSaysWhy)
{
    Init();
    phone_->ok({"call", "talk", "2"});
    const mode_t before = umask(027);
    const std::vector<std::vector<std::string>> writes = {
        {"screenshot", (dir_ / "screen.png").string()},
        {"timeline", "--out", (dir_ / "calls.svg").string()},
        {"timeline", "--out", (dir_ / "calls.png").string()},
        {"reg", "export", "HKLM", (dir_ / "hive.reg").string()},
    };
    for (const auto& args : writes) {
        phone_->ok(args);
        struct stat status {};
        ASSERT_EQ(stat(args.back().c_str(), &status), 0) << args.back();
        EXPECT_EQ(status.st_mode & 0777, 0640u) << args.back();
    }
    umask(before);

    const fs::path nowhere = dir_ / "no-such-folder";
    const std::vector<std::vector<std::string>> failing = {
        {"screenshot", (nowhere / "screen.png").string()},
        {"timeline", "--out", (nowhere / "calls.svg").string()},
        {"timeline", "--out", (nowhere / "calls.png").string()},
    };
    for (const auto& args : failing) {
        const CommandResult result = phone_->run(args);
        EXPECT_NE(result.status, 0);
        EXPECT_EQ(result.errors, "phone: cannot write " + args.back() + ": No such file or directory\n");
    }
    EXPECT_FALSE(fs::exists(nowhere));
}

TEST_F(PhoneUser, QueryCountsMatchesAndShowsAnUnsetDefault)
{
    Init();
    phone_->ok({"reg", "add", kSettings + std::string("\\Sub"), "/v", "A", "/d", "x"});
    phone_->ok({"reg", "add", kSettings, "/v", "B", "/t", "REG_DWORD", "/d", "1"});
    const std::string all = phone_->ok({"reg", "query", kSettings, "/s"});
    EXPECT_NE(all.find("End of search: 3 match(es) found.\n"), std::string::npos) << all;
    EXPECT_EQ(phone_->ok({"reg", "query", kSettings, "/ve"}),
              "\nHKEY_LOCAL_MACHINE\\Software\\Apps\\CallTicker\n    (Default)    REG_SZ    (value not set)\n\n");
    // A key the shell stripped of its backslashes (HKLM\Software unquoted).
    const CommandResult eaten = phone_->run({"reg", "query", "HKLMSoftwareAppsCallTicker"});
    EXPECT_NE(eaten.status, 0);
    EXPECT_NE(eaten.errors.find("no backslash, the shell may have eaten them; quote the key"), std::string::npos)
        << eaten.errors;
    EXPECT_TRUE(one_line(eaten.errors)) << eaten.errors;
}

TEST_F(PhoneUser, StatusShowsTheSettingsAndWarnsOfOnesOutOfRange)
{
    Init();
    std::string status = phone_->ok({"status"});
    EXPECT_NE(status.find("RegularSoundDelay        1  interval 1 min. (default)"), std::string::npos) << status;
    EXPECT_NE(status.find("sound        null: silent"), std::string::npos) << status;

    const CommandResult added =
        phone_->run({"reg", "add", kSettings, "/v", "RegularSoundDelay", "/t", "REG_DWORD", "/d", "12"});
    EXPECT_EQ(added.status, 0);
    EXPECT_EQ(added.errors, "phone: warning: RegularSoundDelay 12 is outside 0-8: the default applies, interval 1 min.\n");
    phone_->ok({"reg", "add", kSettings, "/v", "TurnOffScr", "/t", "REG_DWORD", "/d", "0"});
    status = phone_->ok({"status"});
    EXPECT_NE(status.find("RegularSoundDelay       12  interval 1 min.\n"), std::string::npos) << status;
    EXPECT_NE(status.find("TurnOffScr               0  screen stays on during calls\n"), std::string::npos) << status;
    EXPECT_NE(status.find("OnSoundType              1  start signal: sound (default)"), std::string::npos) << status;
}

// The peak of the 16-bit samples of a WAV file the wav backend saved.
int peak_of(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int peak = 0;
    for (size_t at = 44; at + 1 < bytes.size(); at += 2) {
        const auto sample = static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8));
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    return peak;
}

TEST_F(PhoneUser, ADefaultCallReadsAsAStoryAndTheBeepLeavesTheChimesAlone)
{
    Init("wav");
    const long pid = StartMonitor();
    phone_->ok({"call", "talk", "70"});
    ASSERT_FALSE(phone_->wait_for("window.destroy", [pid](const json& e) { return e["pid"] == pid; }).is_null());

    // The end chime plays at the user's volume after the full-level beep.
    std::vector<json> writes;
    for (auto& e : phone_->events("waveout.write"))
        if (e["pid"] == pid)
            writes.push_back(e);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[1]["bytes"], regular_sound().bytes);
    EXPECT_EQ(writes[1]["volume"], 0xFFFF);
    EXPECT_EQ(writes[2]["volume"], writes[0]["volume"]);
    EXPECT_EQ(json::parse(phone_->ok({"status", "--json"}))["volume"], writes[0]["volume"]);

    // And the saved sound says the same: start-up sound, start chime, beep, end chime.
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir_ / "audio"))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(fs::file_size(files[3]), 44u + onoff_sound().bytes);
    EXPECT_EQ(peak_of(files[3]), peak_of(files[1]));
    EXPECT_GT(peak_of(files[1]), 0);
    const double half = wince::audio::volume_gain(writes[0]["volume"].get<uint32_t>() & 0xFFFF);
    EXPECT_LT(peak_of(files[3]), 32767 * half + 1);

    const std::string story = phone_->ok({"log"});
    const std::string chime = std::to_string(std::lround(onoff_sound().ms)) + " ms";
    const std::string beep = std::to_string(std::lround(regular_sound().ms)) + " ms";
    for (const std::string& told : std::vector<std::string>{"call 1 connected (line 0, voice)",
                                    "start signal: chime, " + chime + ", volume 50%, loudspeaker",
                                    "screen off (backlight D4)",
                                    "periodic signal: beep, " + beep + ", full volume",
                                    "call 1 disconnected (line 0, voice)", "screen on (backlight D0)",
                                    "end signal: chime, " + chime + ", volume 50%, loudspeaker"})
        EXPECT_NE(story.find(told), std::string::npos) << told << "\n" << story;
    // The beep comes the lead time before the first minute of the call is up.
    EXPECT_TRUE(std::regex_search(story, std::regex(R"(call 1 0:5[5-9]\.\d{3}\s+CallTicker\.exe\s+periodic signal)")))
        << story;
}

} // namespace

namespace {

// (call, state) of each call event, the state without its LINECALLSTATE_.
std::vector<std::pair<int, std::string>> call_changes(const Phone& phone)
{
    std::vector<std::pair<int, std::string>> out;
    for (const auto& e : phone.events("call"))
        out.emplace_back(e["call"].get<int>(), e["state"].get<std::string>().substr(14));
    return out;
}

std::vector<std::string> phone_presses(const Phone& phone)
{
    std::vector<std::string> out;
    for (const auto& e : phone.events())
        if (e["exe"] == "phone" && (e["event"] == "key" || e["event"] == "tap"))
            out.push_back(e["event"] == "key" ? "key " + e["key"].get<std::string>() + " to " + e["target"].dump()
                                              : "tap " + e["target"].get<std::string>());
    return out;
}

} // namespace

TEST_F(PhoneUser, ThePhonesOwnScreensTakeTheSoftKeysAndActOnTheCalls)
{
    Init();
    const auto ui = [this] { return json::parse(phone_->ok({"ui"})); };
    json shown = ui();
    EXPECT_EQ(shown["owner"], "phone");
    EXPECT_EQ(shown["screen"], "home");
    EXPECT_EQ(shown["softkeys"], json::array());

    phone_->ok({"call", "incoming", "--number", "5550100"});
    shown = ui();
    EXPECT_EQ(shown["screen"], "incoming");
    EXPECT_EQ(shown["softkeys"], json({"Answer", "Ignore"}));
    EXPECT_NE(shown["controls"].dump().find("\"5550100\""), std::string::npos) << shown.dump();
    phone_->ok({"key", "F1"}); // Answer
    shown = ui();
    EXPECT_EQ(shown["screen"], "call");
    EXPECT_EQ(shown["softkeys"], json({"", "End"}));

    phone_->ok({"call", "incoming", "--number", "5550199"});
    phone_->ok({"tap", "softkey", "left"}); // Answer: the connected call is held first
    phone_->ok({"key", "F2"});              // End: the call shown, the one just answered
    EXPECT_NE(ui()["controls"].dump().find("Call 1 on hold"), std::string::npos);
    phone_->ok({"tap", "softkey", "right"}); // End
    EXPECT_EQ(ui()["screen"], "home");
    const CommandResult none = phone_->run({"tap", "softkey", "left"});
    EXPECT_NE(none.errors.find("no left soft key on the screen of 'Home'"), std::string::npos) << none.errors;

    phone_->ok({"call", "incoming"});
    phone_->ok({"key", "F2"}); // Ignore
    EXPECT_EQ(call_changes(*phone_), (std::vector<std::pair<int, std::string>>{
                                         {1, "OFFERING"}, {1, "CONNECTED"}, {2, "OFFERING"}, {1, "ONHOLD"},
                                         {2, "CONNECTED"}, {2, "DISCONNECTED"}, {2, "IDLE"}, {1, "DISCONNECTED"},
                                         {1, "IDLE"}, {3, "OFFERING"}, {3, "DISCONNECTED"}, {3, "IDLE"}}));
    // Each press is logged by the phone, which took it, before what it changed.
    EXPECT_EQ(phone_presses(*phone_), (std::vector<std::string>{"key F1 to 0", "tap softkey left", "key F2 to 0",
                                                                "tap softkey right", "key F2 to 0"}));
    const auto all = phone_->events();
    const auto first_press = std::find_if(all.begin(), all.end(), [](const json& e) { return e["event"] == "key"; });
    ASSERT_NE(first_press, all.end());
    EXPECT_EQ((*std::next(first_press))["state"], "LINECALLSTATE_CONNECTED");
}

TEST_F(PhoneUser, InACallTheProgramsKeepTheirKeysAndTheirWindowsAndARingingCallComesOnTop)
{
    Init();
    // The screen stays lit through the call: a loaded host must not let the
    // monitor darken it before the screens are read.
    phone_->ok({"reg", "add", "HKLM\\Software\\Apps\\CallTicker", "/v", "TurnOffScr", "/t", "REG_DWORD", "/d", "0",
                "/f"});
    const long monitor = StartMonitor();
    phone_->ok({"call", "incoming", "--number", "5550100"});
    phone_->ok({"key", "F1"});
    ASSERT_FALSE(phone_->wait_for("window.create", [monitor](const json& e) { return e["pid"] == monitor; }).is_null());
    // Return still reaches the monitor's hidden window, under the in-call screen.
    phone_->ok({"key", "RETURN"});
    const auto key = phone_->wait_for("key", [monitor](const json& e) { return e["pid"] == monitor; });
    ASSERT_FALSE(key.is_null());
    EXPECT_NE(key["target"], 0);

    // The settings program's dialog is in front during the call; a waiting
    // call rings over it, and once it is ignored the dialog is back.
    const long settings = static_cast<long>(
        testing_support::started_pid(phone_->ok({"run", "\\Program Files\\CallTicker\\CallTickerCfg.exe"})));
    ASSERT_FALSE(phone_->wait_for("dialog.open", [settings](const json& e) { return e["pid"] == settings; }).is_null());
    // The dialog is on the screen once its program has shown it, a moment
    // after it opened.
    json shown = phone_->ui_until([settings](const json& ui) { return ui.is_object() && ui["pid"] == settings; });
    EXPECT_EQ(shown["pid"], settings);
    EXPECT_FALSE(shown.contains("owner"));
    phone_->ok({"call", "incoming", "--number", "5550199"});
    EXPECT_EQ(json::parse(phone_->ok({"ui"}))["screen"], "incoming");
    phone_->ok({"tap", "softkey", "right"}); // Ignore
    EXPECT_EQ(json::parse(phone_->ok({"ui"}))["pid"], settings);
    EXPECT_EQ(call_changes(*phone_).back(), (std::pair<int, std::string>{2, "IDLE"}));
    phone_->ok({"tap", "softkey", "left"}); // the dialog's own soft key: it stores and ends
    EXPECT_FALSE(phone_->wait_for("process.exit", [settings](const json& e) { return e["pid"] == settings; }).is_null());
    EXPECT_EQ(call_changes(*phone_).back(), (std::pair<int, std::string>{2, "IDLE"})); // call 1 goes on
}
