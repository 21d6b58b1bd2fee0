// The screen and the stylus between real processes: DialogProbe.exe's
// dialogs as phone screen and phone ui show them, driven through phone tap,
// select and key only.  Every command the program receives is stored in
// the registry, so the log says what arrived and in which order.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <windows.h>
#include <pm.h>

#include "phone_runner.h"
#include "test_device.h"
#include "user/screen_model.h"

using testing_support::CommandResult;
using testing_support::Phone;
using testing_support::started_pid;
using testing_support::TempDevice;

namespace {

const std::string probe = DIALOG_PROBE;
constexpr int idc_check = 1000, idc_first = 1001, idc_second = 1002;

// The stored values of the probe's key, in the order they were written.
std::vector<uint32_t> stored(const Phone& phone, const std::string& value)
{
    std::vector<uint32_t> out;
    for (const auto& e : phone.events("reg.set"))
        if (e["value"] == value)
            out.push_back(e["data"].get<uint32_t>());
    return out;
}

uint32_t command(int id, int code) { return static_cast<uint32_t>(id | code << 16); }

const nlohmann::json& control(const nlohmann::json& ui, int id)
{
    for (const auto& c : ui["controls"])
        if (c["id"] == id)
            return c;
    static const nlohmann::json none;
    ADD_FAILURE() << "no control " << id << " in " << ui.dump();
    return none;
}

namespace screen = wince::screen;

// The device's screen until `done` holds (real time, bounded).
screen::Screen screen_until(const std::function<bool(const screen::Screen&)>& done)
{
    screen::Screen s;
    for (int i = 0; i < 200; ++i) {
        s = screen::current();
        if (done(s))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return s;
}

const screen::Control& shown_control(const screen::Screen& s, int id)
{
    for (const auto& c : s.controls)
        if (c.id == id)
            return c;
    static const screen::Control none;
    ADD_FAILURE() << "no control " << id;
    return none;
}

// phone tap X Y at the middle of `r`.
std::vector<std::string> tap_middle(const screen::Rect& r)
{
    return {"tap", std::to_string(r.x + r.width / 2), std::to_string(r.y + r.height / 2)};
}

class ScreenE2E : public ::testing::Test {
protected:
    ScreenE2E() : dev_(nlohmann::json{{"clock_rate", 20}}), phone_(dev_.dir()) {}

    uint32_t start()
    {
        const uint32_t pid = started_pid(phone_.ok({"run", probe}));
        EXPECT_FALSE(phone_.wait_for("dialog.open", [&](const auto& e) { return e["pid"] == pid; }).is_null());
        return pid;
    }

    // Waits until the program has taken the command.
    void expect_command(uint32_t value)
    {
        EXPECT_FALSE(phone_.wait_for("reg.set", [&](const auto& e) {
            return e["value"] == "Command" && e["data"] == value;
        }).is_null()) << "command " << std::hex << value;
    }

    TempDevice dev_;
    Phone phone_;
};

} // namespace

TEST_F(ScreenE2E, TheScreenShowsTheDialogAndTapsActAsTheFingerWould)
{
    // No program yet: the phone's own home screen.
    EXPECT_NE(phone_.ok({"screen"}).find("| Home "), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(phone_.ok({"ui"}))["owner"], "phone");
    const uint32_t pid = start();

    const std::string text = phone_.ok({"screen"});
    for (const char* part : {"| Probe", "[ok] |", "|>[x] Enabled", "First:", "[Sound", "v]", "| OK ", "Actions ^",
                             "   1001  list       First:\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    std::vector<std::string> keys;
    const auto in_order = nlohmann::ordered_json::parse(phone_.ok({"ui"}));
    for (auto it = in_order.begin(); it != in_order.end(); ++it)
        keys.push_back(it.key());
    nlohmann::json ui = nlohmann::json::parse(phone_.ok({"ui"}));
    EXPECT_EQ(keys, (std::vector<std::string>{"title", "pid", "hwnd", "controls", "softkeys", "menu", "messagebox"}));
    EXPECT_EQ(ui["title"], "Probe");
    EXPECT_EQ(ui["pid"], pid);
    EXPECT_EQ(ui["softkeys"], nlohmann::json({"OK", "Actions"}));
    EXPECT_EQ(control(ui, idc_check)["checked"], true);
    EXPECT_EQ(control(ui, idc_first)["items"], nlohmann::json({"None", "Sound", "Vibrate"}));
    EXPECT_EQ(control(ui, idc_second)["selection"], -1);

    // A check box takes the tap as press and release: BN_CLICKED.
    phone_.ok({"tap", "control", "1000"});
    expect_command(command(idc_check, 0));
    // An item of a list, named by its label: the list opens, the item is
    // chosen (SELENDOK just before SELCHANGE), the list closes.
    phone_.ok({"select", "second", "2"});
    expect_command(command(idc_second, 8)); // CBN_CLOSEUP
    const auto commands = stored(phone_, "Command");
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(std::vector<uint32_t>(commands.end() - 4, commands.end()),
              (std::vector<uint32_t>{command(idc_second, 7), command(idc_second, 9), command(idc_second, 1),
                                     command(idc_second, 8)}));
    ui = phone_.ui_until([](const auto& u) { return control(u, idc_second)["selection"] == 2; });
    EXPECT_EQ(control(ui, idc_check)["checked"], false);
    EXPECT_EQ(control(ui, idc_second)["text"], "Vibrate");

    // The right soft key's menu, then the About box over the dialog.
    phone_.ok({"tap", "softkey", "right"});
    ui = phone_.ui_until([](const auto& u) { return !u["menu"].is_null(); });
    EXPECT_EQ(ui["menu"], nlohmann::json({"About...", "Warn"}));
    phone_.ok({"tap", "menu", "About..."});
    ui = phone_.ui_until([](const auto& u) { return u["softkeys"] == nlohmann::json({"Done"}); });
    EXPECT_EQ(control(ui, 1008)["text"], "Probe 2.0");
    EXPECT_EQ(control(ui, 1008)["bold"], true);
    const std::string about = phone_.ok({"screen"});
    EXPECT_NE(about.find("*Probe 2.0*"), std::string::npos) << about;
    EXPECT_NE(about.find("[icon 135]"), std::string::npos) << about;
    EXPECT_EQ(phone_.events("tap").back()["target"], "menu About...");

    // The title bar's ok ends the About box; the dialog keeps its changes.
    phone_.ok({"tap", "ok"});
    ui = phone_.ui_until([](const auto& u) { return u["softkeys"].size() == 2; });
    EXPECT_EQ(control(ui, idc_check)["checked"], false);
    EXPECT_EQ(control(ui, idc_second)["selection"], 2);

    // A message box owned by the dialog, on top of it; Return dismisses it.
    phone_.ok({"tap", "softkey", "right"});
    phone_.ui_until([](const auto& u) { return !u["menu"].is_null(); });
    phone_.ok({"tap", "menu", "Warn"});
    ui = phone_.ui_until([](const auto& u) { return !u["messagebox"].is_null(); });
    EXPECT_EQ(ui["messagebox"]["caption"], "Probe");
    EXPECT_EQ(ui["messagebox"]["type"], 16);
    EXPECT_NE(phone_.ok({"screen"}).find("(X) Something went wrong."), std::string::npos);
    EXPECT_NE(phone_.run({"tap", "control", "1000"}).errors.find("covers it (dismiss it with 'phone tap ok' or "
                                                                 "'phone key RETURN')"),
              std::string::npos);
    phone_.ok({"key", "RETURN"});
    EXPECT_FALSE(phone_.wait_for("reg.set", [](const auto& e) { return e["value"] == "Warned"; }).is_null());
    EXPECT_EQ(stored(phone_, "Warned"), (std::vector<uint32_t>{1}));

    // The left soft key stores what the controls show.
    phone_.ui_until([](const auto& u) { return u["messagebox"].is_null(); });
    phone_.ok({"tap", "softkey", "left"});
    EXPECT_FALSE(phone_.wait_for("process.exit", [&](const auto& e) { return e["pid"] == pid; }).is_null());
    EXPECT_EQ(stored(phone_, "Checked"), (std::vector<uint32_t>{0}));
    EXPECT_EQ(stored(phone_, "First"), (std::vector<uint32_t>{1}));
    EXPECT_EQ(stored(phone_, "Second"), (std::vector<uint32_t>{2}));
}

TEST_F(ScreenE2E, TapsAtWhatTheScreenDoesNotShowAreRefusedWithOneClearLine)
{
    const auto refused = [&](const std::vector<std::string>& args, const std::string& says) {
        const auto r = phone_.run(args);
        EXPECT_NE(r.status, 0) << args[0];
        EXPECT_NE(r.errors.find(says), std::string::npos) << r.errors;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
    };
    refused({"tap", "ok"}, "cannot tap ok: the phone's own screen 'Home' is shown");
    start();
    refused({"tap", "control", "4242"}, "no control 4242 on the screen of 'Probe'");
    refused({"tap", "menu", "About..."}, "no menu is open");
    refused({"tap", "softkey", "middle"}, "softkey takes left or right");
    refused({"select", "1000", "0"}, "is a BUTTON, not a list");
    refused({"select", "1001", "3"}, "control 1001 has 3 items: no item 3");
    refused({"tap", "control", "-1"}, "names 2 controls");
    refused({"tap", "control", "Third:"},
            "no control labelled 'Third:' on the screen of 'Probe' (labels: 'Enabled', 'First:', 'Second:')");
    phone_.ok({"tap", "softkey", "right"});
    phone_.ui_until([](const auto& u) { return !u["menu"].is_null(); });
    refused({"tap", "menu", "Nothing"}, "the open menu has no item 'Nothing' (it has 'About...', 'Warn')");
    EXPECT_EQ(phone_.events("tap").size(), 1u); // only the soft key was tapped
}

TEST_F(ScreenE2E, TapsAtPixelsGoWhereTheScreenShowsThem)
{
    const uint32_t pid = start();
    const screen::Screen s = screen_until([](const auto& shown) { return shown.softkeys.size() == 2; });
    const screen::Rect check = shown_control(s, idc_check).rect;

    const std::string below = std::to_string(s.softkey_bar.y - 4);
    EXPECT_EQ(phone_.ok({"tap", "10", below}), "tapped (10," + below + "): nothing there\n");
    const auto off = phone_.run({"tap", "240", "10"});
    EXPECT_NE(off.status, 0);
    EXPECT_EQ(off.errors, "phone: cannot tap (240,10): the screen is 240 x 320 pixels, from (0,0) to (239,319)\n");
    EXPECT_TRUE(phone_.events("tap").empty());

    EXPECT_EQ(phone_.ok(tap_middle(check)), "tapped (" + std::to_string(check.x + check.width / 2) + "," +
                                                std::to_string(check.y + check.height / 2) +
                                                "): check box 1000 \"Enabled\"\n");
    expect_command(command(idc_check, 0));

    // The list opens where the picture shows it; its first row picks "None".
    phone_.ok(tap_middle(shown_control(s, idc_first).rect));
    screen::Screen open = screen_until([](const auto& shown) { return shown_control(shown, idc_first).dropped; });
    phone_.ok(tap_middle(screen::dropped_list(open, shown_control(open, idc_first)).items[0]));
    expect_command(command(idc_first, 8)); // CBN_CLOSEUP

    // A tap on the check box while the second list is open only closes it.
    phone_.ok(tap_middle(shown_control(s, idc_second).rect));
    screen_until([](const auto& shown) { return shown_control(shown, idc_second).dropped; });
    EXPECT_NE(phone_.ok(tap_middle(check)).find("outside the open list of combo box 1002"), std::string::npos);
    expect_command(command(idc_second, 10)); // CBN_SELENDCANCEL
    const auto ui = phone_.ui_until([](const auto& u) { return control(u, idc_first)["selection"] == 0; });
    EXPECT_EQ(control(ui, idc_check)["checked"], false);

    // The right soft key's menu, its About box, the title bar's ok, then the
    // left soft key stores what the dialog shows.
    phone_.ok(tap_middle(s.softkeys[1].rect));
    open = screen_until([](const auto& shown) { return shown.menu.has_value(); });
    ASSERT_TRUE(open.menu);
    phone_.ok(tap_middle(screen::menu_items(open, *open.menu)[0]));
    screen_until([](const auto& shown) { return shown.softkeys.size() == 1; });
    EXPECT_NE(phone_.ok(tap_middle(s.ok)).find("): \"ok\" in the title bar\n"), std::string::npos);
    screen_until([](const auto& shown) { return shown.softkeys.size() == 2; });
    phone_.ok(tap_middle(s.softkeys[0].rect));
    EXPECT_FALSE(phone_.wait_for("process.exit", [&](const auto& e) { return e["pid"] == pid; }).is_null());
    EXPECT_EQ(stored(phone_, "Checked"), (std::vector<uint32_t>{0}));
    EXPECT_EQ(stored(phone_, "First"), (std::vector<uint32_t>{0}));
    EXPECT_EQ(stored(phone_, "Second"), (std::vector<uint32_t>{0xFFFFFFFF}));
}

// Entries in run/windows/ that no program of the device wrote (a FIFO, a
// folder, a file cut short, a huge one) are passed over with one warning
// each; and a program whose own entry was spoilt is asked to write it anew.
TEST_F(ScreenE2E, DamagedWindowEntriesAreSkippedWithAWarningAndNeverHang)
{
    namespace fs = std::filesystem;
    const fs::path windows = dev_.dir() / "run" / "windows";
    fs::create_directories(windows);
    ASSERT_EQ(mkfifo((windows / "1.json").c_str(), 0600), 0);
    fs::create_directory(windows / "2.json");
    std::ofstream(windows / "3.json") << R"({"pid": 3, "windows": [{"hwnd": 4, "vis)";
    std::ofstream(windows / "4.json").close();
    fs::resize_file(windows / "4.json", 300 << 20);
    const std::vector<std::string> warnings = {
        (windows / "1.json").string() + " skipped: a FIFO",
        (windows / "2.json").string() + " skipped: a folder",
        (windows / "3.json").string() + " skipped: not a window entry (damaged or cut short)",
        (windows / "4.json").string() + " skipped: larger than 1 MiB",
    };

    const uint32_t pid = start();
    const std::string picture = (dev_.dir() / "screen.png").string();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"ui"}, {"screen"}, {"key", "DOWN"}, {"tap", "control", "1000"}, {"screenshot", picture}}) {
        const CommandResult result = phone_.run_within(args);
        EXPECT_EQ(result.status, 0) << args[0] << ": " << result.errors;
        for (const std::string& warning : warnings)
            EXPECT_NE(result.errors.find("phone: warning: " + warning + "\n"), std::string::npos) << result.errors;
        EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 4) << result.errors;
    }
    expect_command(command(idc_check, 0));
    phone_.ui_until([](const auto& u) { return control(u, idc_check)["checked"] == false; });

    // The program's own entry cut short, then replaced by a folder: it is
    // asked to write it again, and the screen still shows its dialog.
    const fs::path own = windows / (std::to_string(pid) + ".json");
    std::ofstream(own, std::ios::trunc) << R"({"pid": )";
    for (int round = 0; round < 2; ++round) {
        const CommandResult ui = phone_.run_within({"ui"});
        ASSERT_EQ(ui.status, 0) << ui.errors;
        const auto shown = nlohmann::json::parse(ui.output);
        EXPECT_EQ(shown["pid"], pid) << round << ": " << ui.output;
        EXPECT_EQ(control(shown, idc_check)["checked"], false);
        fs::remove(own);
        fs::create_directory(own);
    }
}

TEST_F(ScreenE2E, KeysAloneDriveTheDialog)
{
    const uint32_t pid = start();
    // Tab to the first list, one item down, back to the check box, Space, OK.
    phone_.ok({"key", "TAB", "DOWN", "SHIFT+TAB", "SPACE"});
    expect_command(command(idc_check, 0));
    phone_.ok({"key", "F1"});
    EXPECT_FALSE(phone_.wait_for("process.exit", [&](const auto& e) { return e["pid"] == pid; }).is_null());
    EXPECT_EQ(stored(phone_, "Checked"), (std::vector<uint32_t>{0}));
    EXPECT_EQ(stored(phone_, "First"), (std::vector<uint32_t>{2}));
    EXPECT_EQ(stored(phone_, "Second"), (std::vector<uint32_t>{0xFFFFFFFF}));
}

TEST_F(ScreenE2E, ASecondStartBringsTheFirstWindowForward)
{
    const uint32_t first = start();
    const auto dialog = phone_.wait_for("window.create", [&](const auto& e) { return e["pid"] == first; });
    const uint32_t second = started_pid(phone_.ok({"run", probe}));
    const auto exit = phone_.wait_for("process.exit", [&](const auto& e) { return e["pid"] == second; });
    ASSERT_FALSE(exit.is_null());
    EXPECT_EQ(exit["code"], 0);
    const auto raised = phone_.wait_for("foreground", [&](const auto& e) { return e["pid"] == first; });
    ASSERT_FALSE(raised.is_null());
    EXPECT_EQ(raised["hwnd"], dialog["hwnd"]);
    EXPECT_EQ(raised["title"], "Probe");
    EXPECT_EQ(phone_.events("dialog.open").size(), 1u);
}

TEST(ScreenDpi, TheDialogKeepsItsLayoutAtTwiceTheDpi)
{
    std::string shown[2];
    for (int i = 0; i < 2; ++i) {
        TempDevice dev(nlohmann::json{{"clock_rate", 20}, {"dpi", i == 0 ? 96 : 192}});
        Phone phone(dev.dir());
        const uint32_t pid = started_pid(phone.ok({"run", probe}));
        ASSERT_FALSE(phone.wait_for("dialog.open", [&](const auto& e) { return e["pid"] == pid; }).is_null());
        shown[i] = phone.ok({"screen"});
        phone.ok({"tap", "ok"});
        ASSERT_FALSE(phone.wait_for("process.exit", [&](const auto& e) { return e["pid"] == pid; }).is_null());
    }
    EXPECT_EQ(shown[0], shown[1]);
}

// The screen is dark only while the backlight is off; the phone's screen
// under it still takes its soft keys, as a panel does without its light.
TEST_F(ScreenE2E, OnlyTheBacklightDarkensTheScreen)
{
    ASSERT_EQ(SetDevicePower(const_cast<wchar_t*>(L"BKL1:"), POWER_NAME, D4), static_cast<DWORD>(ERROR_SUCCESS));
    phone_.ok({"call", "incoming"});
    EXPECT_EQ(phone_.ok({"ui"}), "null\n");
    EXPECT_EQ(phone_.ok({"screen"}), "The screen is dark: the backlight is off.\n");
    phone_.ok({"key", "F2"}); // Ignore
    EXPECT_EQ(phone_.events("call").back()["state"], "LINECALLSTATE_IDLE");

    ASSERT_EQ(SetDevicePower(const_cast<wchar_t*>(L"BKL1:"), POWER_NAME, PwrDeviceUnspecified),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(nlohmann::json::parse(phone_.ok({"ui"}))["screen"], "home");
}
