// CallTickerCfg.exe as its user meets it: real programs on a device driven
// through the phone tool only (its screen as JSON, the stylus and the
// keys), and what they did read back from the event log and the registry.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "kernel/process_table.h"
#include "phone_runner.h"
#include "test_device.h"

using nlohmann::json;
using testing_support::Phone;

namespace {

namespace fs = std::filesystem;

constexpr const char* kConfig = "\\Program Files\\CallTicker\\CallTickerCfg.exe";
constexpr const char* kKey = "HKLM\\Software\\Apps\\CallTicker";
constexpr double kRate = 25;
// Device time a loaded host may add to a wait: 4 s is 160 ms of real time.
constexpr double kTimingSlack = 4000;

const char* const kValueOrder[] = {"Enabled",           "OnSoundType",        "OffSoundType", "RegularSoundType",
                                   "RegularSoundDelay", "RegularSoundBefore", "TurnOffScr"};

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("callticker-cfg-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        phone_ = std::make_unique<Phone>(dir_);
        phone_->ok({"init", "--clock-rate", std::to_string(static_cast<int>(kRate)), "--audio", "null"});
    }

    void TearDown() override
    {
        // A soft reset ends whatever a test left running.
        phone_->run({"init"});
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Starts the settings program with `args` and waits for its dialog.
    long Open(const std::vector<std::string>& args = {})
    {
        std::vector<std::string> run = {"run", kConfig};
        run.insert(run.end(), args.begin(), args.end());
        const long pid = static_cast<long>(testing_support::started_pid(phone_->ok(run)));
        EXPECT_FALSE(phone_->wait_for("dialog.open", [pid](const json& e) { return e["pid"] == pid; }).is_null());
        return pid;
    }

    json Ui() const { return json::parse(phone_->ok({"ui"}), nullptr, false); }

    static bool Shows(const json& ui, int id, const char* field, const json& value)
    {
        for (const auto& c : ui.value("controls", json::array()))
            if (c["id"] == id)
                return c.value(field, json()) == value;
        return false;
    }
    static bool MenuOpen(const json& ui) { return ui.contains("menu") && !ui["menu"].is_null(); }

    static json Control(const json& ui, int id)
    {
        for (const auto& c : ui["controls"])
            if (c["id"] == id)
                return c;
        ADD_FAILURE() << "no control " << id << " in " << ui.dump();
        return json::object();
    }

    json ExitOf(long pid) const
    {
        return phone_->wait_for("process.exit", [pid](const json& e) { return e["pid"] == pid; });
    }

    bool Running(const std::string& exe) const
    {
        for (const auto& p : json::parse(phone_->ok({"ps", "--json"})))
            if (p["exe"] == exe)
                return true;
        return false;
    }

    std::vector<json> Stored(long pid) const
    {
        std::vector<json> sets;
        for (auto& e : phone_->events("reg.set"))
            if (e["pid"] == pid)
                sets.push_back(e);
        return sets;
    }

    void StartMonitor()
    {
        phone_->ok({"run", "\\Program Files\\CallTicker\\CallTicker.exe"});
        ASSERT_TRUE(Running("CallTicker.exe"));
    }

    fs::path dir_;
    std::unique_ptr<Phone> phone_;
};

TEST_F(Settings, WithoutStoredSettingsTheDialogShowsTheDefaultsAndStoresNothing)
{
    const long pid = Open();
    const json ui = Ui();
    EXPECT_EQ(ui["title"], "CallTicker");
    EXPECT_EQ(Control(ui, 1000)["checked"], true);
    EXPECT_EQ(Control(ui, 1000)["focused"], true);
    const std::pair<int, size_t> lists[] = {{1001, 3}, {1002, 3}, {1003, 3}, {1004, 9}, {1021, 10}, {1005, 6}};
    for (const auto& [id, count] : lists)
        EXPECT_EQ(Control(ui, id)["items"].size(), count) << "control " << id;
    for (int id : {1001, 1002, 1003})
        EXPECT_EQ(Control(ui, id)["text"], "Sound");
    EXPECT_EQ(Control(ui, 1004)["text"], "1 min.");
    EXPECT_EQ(Control(ui, 1021)["text"], "5 seconds");
    EXPECT_EQ(Control(ui, 1021)["items"][1], "1 seconds");
    EXPECT_EQ(Control(ui, 1005)["text"], "5 sec.");

    // Opening made the key, and nothing in it.
    const auto query = phone_->run({"reg", "query", kKey});
    EXPECT_EQ(query.status, 0) << query.errors;
    phone_->ok({"tap", "ok"});
    ASSERT_FALSE(ExitOf(pid).is_null());
    EXPECT_TRUE(Stored(pid).empty());
}

TEST_F(Settings, OkStoresEveryValueInOrderThenStartsTheMonitorAndEnds)
{
    const long pid = Open();
    // Every list away from its default, and each value read from its own
    // list: no two neighbours alike.
    const std::pair<int, int> choices[] = {{1001, 0}, {1002, 2}, {1003, 0}, {1004, 3}, {1021, 7}, {1005, 4}};
    for (const auto& [id, index] : choices)
        phone_->ok({"select", std::to_string(id), std::to_string(index)});
    phone_->ui_until([&](const json& ui) {
        for (const auto& [id, index] : choices)
            if (!Shows(ui, id, "selection", index))
                return false;
        return true;
    });
    phone_->ok({"tap", "softkey", "left"});
    const json exit = ExitOf(pid);
    ASSERT_FALSE(exit.is_null());
    EXPECT_EQ(exit["code"], 0);

    const auto stored = Stored(pid);
    ASSERT_EQ(stored.size(), 7u);
    std::vector<int> data;
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(stored[i]["value"], kValueOrder[i]);
        data.push_back(stored[i]["data"].get<int>());
    }
    EXPECT_EQ(data, (std::vector<int>{1, 0, 2, 0, 3, 7, 4}));
    EXPECT_TRUE(Running("CallTicker.exe"));
    EXPECT_TRUE(phone_->events("messagebox").empty());

    // Again while it runs: each list shows its stored value; stored,
    // nothing started, no message.
    const long again = Open();
    const json ui = Ui();
    for (const auto& [id, index] : choices)
        EXPECT_EQ(Control(ui, id)["selection"], index) << "control " << id;
    phone_->ok({"tap", "softkey", "left"});
    ASSERT_FALSE(ExitOf(again).is_null());
    EXPECT_EQ(Stored(again).size(), 7u);
    EXPECT_EQ(phone_->events("shell.execute").size(), 1u);
    EXPECT_TRUE(phone_->events("messagebox").empty());
}

TEST_F(Settings, OkWithEnabledClearedStopsTheRunningMonitor)
{
    StartMonitor();
    const long pid = Open();
    phone_->ok({"tap", "control", "1000"});
    EXPECT_EQ(Control(phone_->ui_until([](const json& ui) { return Shows(ui, 1000, "checked", false); }), 1000)["checked"],
              false);
    phone_->ok({"tap", "softkey", "left"});
    ASSERT_FALSE(ExitOf(pid).is_null());
    EXPECT_FALSE(phone_->wait_for("process.exit", [](const json& e) { return e["exe"] == "CallTicker.exe"; }).is_null());
    EXPECT_EQ(Stored(pid).front()["data"], 0);
    EXPECT_TRUE(phone_->events("shell.execute").empty());
}

TEST_F(Settings, EveryOtherWayOutStoresNothing)
{
    const std::vector<std::vector<std::string>> ways = {
        {"tap", "ok"}, {"key", "ESCAPE"}, {"post", "--window", "#32770", "WM_COMMAND", "2"},
        {"post", "--window", "#32770", "WM_CLOSE"}};
    for (const auto& way : ways) {
        const long pid = Open();
        phone_->ok({"tap", "control", "1000"});
        phone_->ui_until([](const json& ui) { return Shows(ui, 1000, "checked", false); });
        phone_->ok(way);
        ASSERT_FALSE(ExitOf(pid).is_null()) << way.front() << " " << way.back();
        EXPECT_TRUE(Stored(pid).empty()) << way.back();
    }
    EXPECT_TRUE(phone_->events("shell.execute").empty());
}

TEST_F(Settings, AStoredPositionOutsideItsListShowsNoSelectionAndOkStoresMinusOne)
{
    phone_->ok({"reg", "add", kKey, "/v", "OnSoundType", "/t", "REG_DWORD", "/d", "7", "/f"});
    phone_->ok({"reg", "add", kKey, "/v", "TurnOffScr", "/t", "REG_DWORD", "/d", "0xFFFFFFFF", "/f"});
    const long pid = Open();
    const json ui = Ui();
    EXPECT_EQ(Control(ui, 1001)["selection"], -1);
    EXPECT_EQ(Control(ui, 1005)["selection"], -1);
    EXPECT_EQ(Control(ui, 1002)["selection"], 1);
    phone_->ok({"tap", "softkey", "left"});
    ASSERT_FALSE(ExitOf(pid).is_null());
    const auto stored = Stored(pid);
    ASSERT_EQ(stored.size(), 7u);
    EXPECT_EQ(stored[1]["data"], 0xFFFFFFFFu);
    EXPECT_EQ(stored[6]["data"], 0xFFFFFFFFu);
}

TEST_F(Settings, TheAboutBoxComesAndGoesLeavingUnsavedChangesInPlace)
{
    const long pid = Open();
    phone_->ok({"select", "1004", "4"});
    phone_->ui_until([](const json& ui) { return Shows(ui, 1004, "text", "3 min."); });
    for (int round = 0; round < 3; ++round) {
        phone_->ok({"tap", "softkey", "right"});
        phone_->ui_until(MenuOpen);
        phone_->ok({"tap", "menu", "About..."});
        const json about = phone_->ui_until([](const json& ui) { return Shows(ui, 1008, "text", "CallTicker 1.3"); });
        EXPECT_EQ(about["title"], "CallTicker");
        const json title = Control(about, 1008);
        EXPECT_EQ(title["text"], "CallTicker 1.3");
        EXPECT_EQ(title["bold"], true);
        int plain_lines = 0;
        for (const auto& c : about["controls"])
            plain_lines += c["id"] == -1 && c["class"] == "STATIC" && !c["text"].get<std::string>().empty() &&
                           c["bold"] == false;
        EXPECT_EQ(plain_lines, 2);
        EXPECT_EQ(about["softkeys"], json::array({"Done"}));
        // Done, or the ok in the title bar.
        phone_->ok(round == 1 ? std::vector<std::string>{"tap", "ok"}
                              : std::vector<std::string>{"tap", "softkey", "left"});
        const json back = phone_->ui_until([](const json& ui) { return Shows(ui, 1004, "text", "3 min."); });
        EXPECT_EQ(Control(back, 1004)["text"], "3 min.") << "round " << round;
        EXPECT_EQ(back["softkeys"], json::array({"OK", "Actions"}));
    }
    EXPECT_TRUE(Stored(pid).empty());
    EXPECT_EQ(phone_->events("dialog.open").size(), 4u);
}

TEST_F(Settings, WithoutTheMonitorBesideItOkShowsWhyAndStillCloses)
{
    fs::remove(dir_ / "Program Files" / "CallTicker" / "CallTicker.exe");
    const long pid = Open();
    phone_->ok({"tap", "softkey", "left"});
    const json box = phone_->wait_for("messagebox", [pid](const json& e) { return e["pid"] == pid; });
    ASSERT_FALSE(box.is_null());
    EXPECT_EQ(box["text"], "Program not activated. Please perform soft reset and try again.");
    EXPECT_EQ(box["caption"], "CallTicker");
    EXPECT_EQ(box["type"], 0x10);
    EXPECT_EQ(Ui()["messagebox"]["caption"], "CallTicker");
    EXPECT_EQ(Stored(pid).size(), 7u);
    phone_->ok({"key", "RETURN"});
    ASSERT_FALSE(ExitOf(pid).is_null());
}

TEST_F(Settings, AMonitorThatIgnoresItsQuitMessageIsLeftAfterTwoSeconds)
{
    // A stand-in that sleeps through every message, under the monitor's name.
    fs::copy_file(TINY_PROGRAM, dir_ / "Program Files" / "CallTicker" / "CallTicker.exe",
                  fs::copy_options::overwrite_existing);
    phone_->ok({"run", "\\Program Files\\CallTicker\\CallTicker.exe", "exit", "0", "600000"});
    const long pid = Open();
    phone_->ok({"tap", "control", "1000"});
    phone_->ui_until([](const json& ui) { return Shows(ui, 1000, "checked", false); });
    phone_->ok({"tap", "softkey", "left"});
    const json exit = ExitOf(pid);
    ASSERT_FALSE(exit.is_null());
    double tapped = -1;
    for (const auto& e : phone_->events("tap"))
        if (e["target"] == "softkey left")
            tapped = e["t"];
    ASSERT_GE(tapped, 0);
    EXPECT_GE(exit["t"].get<double>() - tapped, 2000);
    EXPECT_LT(exit["t"].get<double>() - tapped, 2000 + kTimingSlack);
    EXPECT_TRUE(Running("CallTicker.exe"));
}

TEST_F(Settings, ASecondStartBringsTheFirstForwardAndEnds)
{
    const long first = Open();
    phone_->ok({"tap", "softkey", "right"});
    phone_->ui_until(MenuOpen);
    phone_->ok({"tap", "menu", "About..."});
    phone_->ui_until([](const json& ui) { return Shows(ui, 1008, "text", "CallTicker 1.3"); });
    const long second = static_cast<long>(testing_support::started_pid(phone_->ok({"run", kConfig})));
    const json exit = ExitOf(second);
    ASSERT_FALSE(exit.is_null());
    EXPECT_EQ(exit["code"], 0);
    for (const auto& e : phone_->events("dialog.open"))
        EXPECT_EQ(e["pid"], first);
    // The first instance's window, the About box, comes forward at the
    // second one's request: after the second started, however loaded the host.
    const json started = phone_->wait_for("process.start", [second](const json& e) { return e["pid"] == second; });
    ASSERT_FALSE(started.is_null());
    const double asked = started["t"];
    const json forward = phone_->wait_for("foreground", [first, asked](const json& e) {
        return e["pid"] == first && e["t"].get<double>() >= asked;
    });
    ASSERT_FALSE(forward.is_null());
    EXPECT_EQ(forward["title"], "CallTicker");
    // The first instance shows the change when it next takes its messages.
    const json ui = phone_->ui_until([&forward](const json& shown) { return shown["hwnd"] == forward["hwnd"]; });
    EXPECT_EQ(ui["pid"], first);
    EXPECT_EQ(ui["hwnd"], forward["hwnd"]);
}

TEST_F(Settings, ResetStartsAnEnabledMonitorAndNothingElse)
{
    const long reset = static_cast<long>(testing_support::started_pid(phone_->ok({"run", kConfig, "reset"})));
    ASSERT_FALSE(ExitOf(reset).is_null());
    EXPECT_TRUE(Running("CallTicker.exe"));
    EXPECT_TRUE(phone_->events("dialog.open").empty());
    EXPECT_EQ(phone_->run({"reg", "query", kKey}).status, 0);

    phone_->ok({"init", "--clock-rate", std::to_string(static_cast<int>(kRate)), "--audio", "null"});
    phone_->ok({"reg", "add", kKey, "/v", "Enabled", "/t", "REG_DWORD", "/d", "0", "/f"});
    const long off = static_cast<long>(testing_support::started_pid(phone_->ok({"run", kConfig, "reset"})));
    ASSERT_FALSE(ExitOf(off).is_null());
    EXPECT_FALSE(Running("CallTicker.exe"));
    EXPECT_TRUE(phone_->events("shell.execute").empty());

    // Anything but the exact word opens the dialog.
    for (const char* word : {"Reset", " reset", "/reset"}) {
        const long pid = Open({word});
        phone_->ok({"tap", "ok"});
        ASSERT_FALSE(ExitOf(pid).is_null()) << word;
    }
}

TEST_F(Settings, BootStartsTheEnabledMonitorWithItsChime)
{
    StartMonitor();
    const std::string out = phone_->ok({"boot"});
    EXPECT_NE(out.find("CallTickerCfg.exe reset"), std::string::npos) << out;
    // One monitor, started by the boot, not the one from before it.
    std::vector<long> monitors;
    for (const auto& p : json::parse(phone_->ok({"ps", "--json"})))
        if (p["exe"] == "CallTicker.exe")
            monitors.push_back(p["pid"]);
    ASSERT_EQ(monitors.size(), 1u);
    const long pid = monitors.front();
    EXPECT_FALSE(phone_->wait_for("playsound", [pid](const json& e) { return e["pid"] == pid; }).is_null());
    EXPECT_TRUE(Running("CallTicker.exe"));
}

TEST_F(Settings, BootRunsEveryGoodShortcutAndNamesABadOne)
{
    std::ofstream(dir_ / "Windows" / "StartUp" / "Broken.lnk") << "no target here";
    const auto result = phone_->run({"boot"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("startup shortcut Broken.lnk"), std::string::npos) << result.errors;
    EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1);
    EXPECT_TRUE(Running("CallTicker.exe"));
}

TEST_F(Settings, InitLeavesNoProgramRunningOnTheDeviceItResets)
{
    StartMonitor();
    const auto before = json::parse(phone_->ok({"ps", "--json"}));
    ASSERT_EQ(before.size(), 1u);
    const uint32_t pid = before[0]["pid"];
    phone_->ok({"init"});
    EXPECT_FALSE(wince::process::host_start_of(pid).has_value());
    EXPECT_FALSE(Running("CallTicker.exe"));
}

TEST_F(Settings, TheWholeDialogWorksWithKeysAlone)
{
    const long pid = Open();
    // Enabled off, then the start signal one down (Vibrate).
    phone_->ok({"key", "SPACE", "TAB", "DOWN"});
    json ui = phone_->ui_until([](const json& u) { return Shows(u, 1001, "text", "Vibrate"); });
    EXPECT_EQ(Control(ui, 1000)["checked"], false);
    EXPECT_EQ(Control(ui, 1001)["focused"], true);
    EXPECT_EQ(Control(ui, 1001)["text"], "Vibrate");
    // The right soft key's menu, its one item, and Done.
    phone_->ok({"key", "F2"});
    EXPECT_TRUE(MenuOpen(phone_->ui_until(MenuOpen)));
    phone_->ok({"key", "RETURN"});
    EXPECT_EQ(Control(phone_->ui_until([](const json& u) { return Shows(u, 1008, "text", "CallTicker 1.3"); }), 1008)["text"],
              "CallTicker 1.3");
    phone_->ok({"key", "F1"});
    EXPECT_EQ(Control(phone_->ui_until([](const json& u) { return Shows(u, 1001, "text", "Vibrate"); }), 1001)["text"],
              "Vibrate");
    // The left soft key stores.
    phone_->ok({"key", "F1"});
    ASSERT_FALSE(ExitOf(pid).is_null());
    const auto stored = Stored(pid);
    ASSERT_EQ(stored.size(), 7u);
    EXPECT_EQ(stored[0]["data"], 0);
    EXPECT_EQ(stored[1]["data"], 2);
}

} // namespace
