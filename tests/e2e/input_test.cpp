// Keys and posted messages between real processes: phone key reaches a
// program's hidden window while no window is shown, then the message box it
// opens; phone post reaches windows and every thread of a program.

#include <gtest/gtest.h>

#include "phone_runner.h"
#include "test_device.h"

using testing_support::Phone;
using testing_support::started_pid;
using testing_support::TempDevice;

namespace {

const std::string probe = WINDOW_PROBE;

auto from(uint32_t pid)
{
    return [pid](const nlohmann::json& e) { return e["pid"] == pid; };
}

} // namespace

TEST(PhoneInput, KeysReachTheHiddenWindowAndThenTheMessageBoxItOpens)
{
    TempDevice dev(nlohmann::json{{"clock_rate", 50}});
    Phone phone(dev.dir());
    const uint32_t pid = started_pid(phone.ok({"run", probe}));
    ASSERT_NE(pid, 0u);
    const auto hidden = phone.wait_for("window.create", from(pid));
    ASSERT_FALSE(hidden.is_null());
    EXPECT_EQ(hidden["class"], "ProbeWndClass");
    EXPECT_EQ(hidden["visible"], false);

    // Nothing is visible: the key goes to the newest window still alive.
    phone.ok({"key", "RETURN"});
    const auto key = phone.wait_for("key", from(pid));
    EXPECT_EQ(key["key"], "RETURN");
    EXPECT_EQ(key["target"], hidden["hwnd"]);
    const auto box = phone.wait_for("window.create", [&](const nlohmann::json& e) { return e["class"] == "#32770"; });
    ASSERT_FALSE(box.is_null());
    EXPECT_EQ(box["title"], "Probe");
    EXPECT_EQ(box["visible"], true);

    // Now the box is the foreground window and takes the keys.
    phone.ok({"key", "ESCAPE"});
    const auto end = phone.wait_for("messagebox.end", from(pid));
    ASSERT_FALSE(end.is_null());
    EXPECT_EQ(end["result"], 2); // IDCANCEL
    EXPECT_EQ(phone.events("messagebox")[0]["caption"], "Probe");

    const auto unknown = phone.run({"key", "RETURN", "HOME"});
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.errors.find("unknown key 'HOME'"), std::string::npos);
    EXPECT_EQ(phone.events("key").size(), 2u); // nothing of a rejected command was sent

    // A window message by class, as another program would post it.
    phone.ok({"post", "--window", "ProbeWndClass", "WM_KEYDOWN", "0x0D"});
    const auto second = phone.wait_for("window.create", [&](const nlohmann::json& e) {
        return e["class"] == "#32770" && e["hwnd"] != box["hwnd"];
    });
    ASSERT_FALSE(second.is_null());
    phone.ok({"key", "RETURN"});
    ASSERT_FALSE(phone.wait_for("messagebox.end", [](const nlohmann::json& e) { return e["result"] == 1; }).is_null());

    // Every thread of the program gets the thread message; it ends with wParam.
    phone.ok({"post", "--process", "WindowProbe.exe", "0x8001", "5"});
    const auto exit = phone.wait_for("process.exit", from(pid));
    ASSERT_FALSE(exit.is_null());
    EXPECT_EQ(exit["code"], 5);
    const auto posts = phone.events("thread.post");
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(posts.back()["to_pid"], pid);
    EXPECT_EQ(posts.back()["msg"], 0x8001);
    EXPECT_EQ(posts.back()["ok"], true);
}

TEST(PhoneInput, NothingToReachIsOneClearError)
{
    TempDevice dev;
    Phone phone(dev.dir());
    auto result = phone.run({"key", "RETURN"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.errors.find("no window"), std::string::npos);

    result = phone.run({"post", "--process", "CallTicker.exe", "WM_MONITOR_QUIT"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.errors.find("CallTicker.exe"), std::string::npos);

    result = phone.run({"post", "--thread", "999999999", "WM_QUIT"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.errors.find("999999999"), std::string::npos);

    result = phone.run({"post", "--window", "CallTickerWndClass", "WM_USER"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.errors.find("CallTickerWndClass"), std::string::npos);

    result = phone.run({"post", "WM_USER"});
    EXPECT_NE(result.status, 0);
}
