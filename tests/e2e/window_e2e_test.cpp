// phone window on a virtual X display, driven as a user drives it: clicks
// of xdotool on its face, and its pixels read back with ImageMagick.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "live/face_layout.h"
#include "phone_runner.h"
#include "test_device.h"
#include "user/screen_model.h"

extern char** environ;

using nlohmann::json;
using testing_support::Phone;
using testing_support::TempDevice;

namespace {

namespace fs = std::filesystem;

constexpr int kZoom = 2;
constexpr int kEnabled = 1000; // the settings program's Enabled check box

// Output of a shell command, or empty when it failed.
std::string shell(const std::string& command)
{
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe.get()))
        out += buffer;
    return out;
}

// `phone window` inside `xvfb-run -a`: the window's process tells the
// display it got, and ending it ends xvfb-run and its X server.
class WindowOnDisplay {
public:
    WindowOnDisplay(const fs::path& device, const fs::path& scratch) : told_(scratch / "display")
    {
        const std::string script = "echo \"$DISPLAY $XAUTHORITY $$\" > '" + told_.string() +
                                   ".new' && mv '" + told_.string() + ".new' '" + told_.string() +
                                   "' && exec env GSK_RENDERER=cairo GTK_A11Y=none '" +
                                   (testing_support::bin_dir() / "phone").string() + "' --device '" +
                                   device.string() + "' window --zoom " + std::to_string(kZoom);
        std::vector<std::string> args = {"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "sh", "-c", script};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP); // its own group, to end it whole
        EXPECT_EQ(posix_spawnp(&runner_, "xvfb-run", nullptr, &attributes, argv.data(), environ), 0);
        posix_spawnattr_destroy(&attributes);
        read_display();
        window_id_ = x("xdotool search --sync --onlyvisible --name '^phone: ' | head -n 1");
        EXPECT_FALSE(window_id_.empty()) << "the window never showed";
    }

    ~WindowOnDisplay()
    {
        if (window_pid_ > 0)
            ::kill(window_pid_, SIGTERM);
        for (int i = 0; i < 200 && ::waitpid(runner_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (::waitpid(runner_, nullptr, WNOHANG) == 0) {
            ::kill(-runner_, SIGKILL);
            ::waitpid(runner_, nullptr, 0);
        }
    }

    // A left click at a point of the window, in its pixels.
    void click(double x_at, double y_at)
    {
        x("xdotool mousemove --window " + window_id_ + " " + std::to_string(static_cast<int>(x_at)) + " " +
          std::to_string(static_cast<int>(y_at)) + " click 1");
    }

    // The display's pixels at `box` of the window (at 0,0: no window manager).
    fs::path capture(const phone::Box& box, const fs::path& file)
    {
        x("import -window root -crop " + std::to_string(box.width) + "x" + std::to_string(box.height) + "+" +
          std::to_string(box.x) + "+" + std::to_string(box.y) + " +repage '" + file.string() + "'");
        return file;
    }

private:
    std::string x(const std::string& command)
    {
        std::string out = shell("DISPLAY=" + display_ + " XAUTHORITY=" + xauthority_ + " timeout 20 " + command);
        while (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }

    void read_display()
    {
        for (int i = 0; i < 400 && !fs::exists(told_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream in(told_);
        ASSERT_TRUE(in >> display_ >> xauthority_ >> window_pid_) << "xvfb-run did not start the window";
    }

    fs::path told_;
    pid_t runner_ = -1;
    pid_t window_pid_ = -1;
    std::string display_, xauthority_, window_id_;
};

class WindowE2E : public ::testing::Test {
protected:
    WindowE2E() : dev_(json{{"clock_rate", 20}, {"audio", "null"}}), phone_(dev_.dir()) {}

    void open_settings()
    {
        phone_.ok({"run", (testing_support::bin_dir() / "CallTickerCfg.exe").string()});
        EXPECT_FALSE(phone_.wait_for("dialog.open").is_null());
    }

    phone::FaceLayout layout() const
    {
        const auto screen = wince::screen::current();
        return phone::face_layout(screen.width, screen.height, kZoom);
    }

    bool logged_call_state(const std::string& state) const
    {
        return !phone_.wait_for("call", [&](const json& e) { return e["state"] == state; }).is_null();
    }

    TempDevice dev_;
    Phone phone_;
};

TEST_F(WindowE2E, ClicksOnTheScreenTapAndTheLeftSoftKeyStoresTheSettings)
{
    open_settings();
    WindowOnDisplay window(dev_.dir(), dev_.dir());
    const auto face = layout();
    wince::screen::Rect box;
    for (const auto& control : wince::screen::current().controls)
        if (control.id == kEnabled)
            box = control.rect;
    window.click(face.screen.x + (box.x + 6) * kZoom, face.screen.y + (box.y + box.height / 2) * kZoom);
    const json ui = phone_.ui_until([](const json& ui) { return ui.is_object() && ui["controls"][0]["checked"] == false; });
    EXPECT_EQ(ui["controls"][0]["checked"], false) << ui.dump();

    window.click(face.soft_left.centre_x(), face.soft_left.centre_y());
    EXPECT_FALSE(phone_.wait_for("reg.set", [](const json& e) { return e["value"] == "Enabled" && e["data"] == 0; })
                     .is_null());
}

TEST_F(WindowE2E, TalkKeyAnswersTheRingingCallAndEndKeyDropsIt)
{
    WindowOnDisplay window(dev_.dir(), dev_.dir());
    const auto face = layout();
    phone_.ok({"call", "incoming", "--number", "5550100"});
    window.click(face.talk.centre_x(), face.talk.centre_y());
    EXPECT_TRUE(logged_call_state("LINECALLSTATE_CONNECTED"));
    window.click(face.end.centre_x(), face.end.centre_y());
    EXPECT_TRUE(logged_call_state("LINECALLSTATE_IDLE"));
}

// The window was open before the device booted, which made its run/ anew.
TEST_F(WindowE2E, ShowsTheSamePixelsAsTheScreenshotAlsoAfterABoot)
{
    WindowOnDisplay window(dev_.dir(), dev_.dir());
    phone_.ok({"boot"});
    open_settings();
    const auto face = layout();
    const fs::path expected = dev_.dir() / "screenshot.png";
    phone_.ok({"screenshot", expected.string(), "--scale", std::to_string(kZoom)});
    // The window draws when it has seen the change: compare until it has.
    std::string differing;
    for (int i = 0; i < 40; ++i) {
        const fs::path shown = window.capture(face.screen, dev_.dir() / "shown.png");
        differing = shell("compare -metric AE '" + shown.string() + "' '" + expected.string() + "' null: 2>&1");
        if (differing == "0")
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(differing, "0") << "pixels differing between the window's screen and phone screenshot";
}

} // namespace
