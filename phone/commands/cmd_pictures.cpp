// phone timeline and phone screenshot: pictures of the calls in the event
// log and of the screen as the device shows it.
#include <cstdio>

#include "log/call_history.h"
#include "commands/commands.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "render/screenshot.h"
#include "render/timeline.h"
#include "screens/shown_screen.h"

namespace phone {
namespace {

void timeline(const std::string& out)
{
    if (!std::filesystem::exists(wince::device::log_file()))
        throw Failure("no event log at " + wince::device::log_file().string() + " (run phone init first)");
    const auto calls = call_history(wince::eventlog::read_all());
    if (calls.empty())
        throw Failure("no connected call in the event log of " + wince::device::root().string());
    draw_timeline(calls, out);
    std::printf("%s  %zu call%s\n", out.c_str(), calls.size(), calls.size() == 1 ? "" : "s");
}

void screenshot(const std::string& out, int scale)
{
    const auto screen = shown_screen();
    write_screenshot(screen, scale, out);
    std::printf("%s  %d x %d pixels, %s\n", out.c_str(), screen.width * scale, screen.height * scale,
                screen.dark ? "backlight off" : screen.title.c_str());
}

} // namespace

void add_picture_commands(CLI::App& app)
{
    auto out = std::make_shared<std::string>("timeline.svg");
    CLI::App* timeline_command = app.add_subcommand(
        "timeline", "A picture of the calls in the log: connected spans, signals by kind, dark spans, interval marks");
    timeline_command->add_option("--out,-o", *out, "The picture to write, .svg or .png")
        ->type_name("FILE")
        ->capture_default_str();
    timeline_command->callback([out] { timeline(*out); });

    auto file = std::make_shared<std::string>();
    auto scale = std::make_shared<int>(1);
    CLI::App* screenshot_command =
        app.add_subcommand("screenshot", "The screen as the device shows it, as a PNG of its pixels");
    screenshot_command->add_option("FILE", *file, "The PNG to write")->required()->type_name("FILE.png");
    screenshot_command->add_option("--scale", *scale, "Each device pixel as N x N pixels (1 to 8)")
        ->type_name("N")
        ->capture_default_str();
    screenshot_command->callback([file, scale] { screenshot(*file, *scale); });
}

} // namespace phone
