// phone timeline: a picture of the calls in the device's event log.
#include <cstdio>

#include "call_history.h"
#include "common.h"
#include "device/eventlog.h"
#include "device/device.h"
#include "timeline.h"

namespace phone {

void add_timeline_commands(CLI::App& app)
{
    auto out = std::make_shared<std::string>("timeline.svg");
    CLI::App* cmd = app.add_subcommand(
        "timeline", "A picture of the calls in the log: connected spans, signals by kind, dark spans, interval marks");
    cmd->add_option("--out,-o", *out, "The picture to write, .svg or .png")->type_name("FILE")->capture_default_str();
    cmd->callback([out] {
        if (!std::filesystem::exists(wince::device::log_file()))
            throw Failure("no event log at " + wince::device::log_file().string() + " (run phone init first)");
        const auto calls = call_history(wince::eventlog::read_all());
        if (calls.empty())
            throw Failure("no connected call in the event log of " + wince::device::root().string());
        draw_timeline(calls, *out);
        std::printf("%s  %zu call%s\n", out->c_str(), calls.size(), calls.size() == 1 ? "" : "s");
    });
}

} // namespace phone
