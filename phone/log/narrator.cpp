// Narration from the log.  Which call a line belongs to and its time come
// from the story, as phone log tells them; which interval a signal announces
// from the call history of everything told so far, as the timeline draws it.
#include "log/narrator.h"

#include <cmath>

#include "log/call_history.h"
#include "log/story.h"

namespace phone {
namespace {

using nlohmann::json;

std::string short_state(const std::string& state)
{
    const std::string prefix = "LINECALLSTATE_";
    return state.rfind(prefix, 0) == 0 ? state.substr(prefix.size()) : state;
}

// "minute 2" for whole minutes, else the talk time: "0:30".
std::string interval_end(double ms)
{
    const long seconds = std::lround(ms / 1000);
    if (seconds % 60 == 0)
        return "minute " + std::to_string(seconds / 60);
    char text[48];
    std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
    return text;
}

std::string seconds(double ms)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.0f s", ms / 1000);
    return text;
}

// A periodic signal announces the end of an interval of the schedule it
// came in; after a restart, or in a schedule begun for another call, the
// interval is named with the schedule's start.
std::string announced(const Signal& signal, const CallRecord& call)
{
    if (signal.schedule < 0)
        return {};
    const Schedule& schedule = call.schedules[static_cast<size_t>(signal.schedule)];
    const int interval = schedule.settings.interval_ms();
    if (interval <= 0 || !schedule.armed)
        return {};
    const double k = std::ceil((signal.at - schedule.timed_from) / interval);
    const double lead = schedule.timed_from + k * interval - signal.at;
    std::string words = ": " + seconds(lead) + " before " + interval_end(k * interval);
    if (schedule.restart)
        words += " of the schedule restarted at " + call_time(schedule.from);
    else if (schedule.from <= 0 && schedule.timed_from < 0)
        words += " of the schedule begun before call " + std::to_string(call.id);
    return words;
}

} // namespace

std::string Narrator::signal_sentence(const json& event, const Told& told)
{
    if (!told.call)
        return {};
    const auto calls = call_history(events_);
    for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
        if (call->id != *told.call || call->signals.empty())
            continue;
        const auto& signal = call->signals.back();
        if (std::fabs(signal.at - (event.value("t", 0.0) - call->connected_at)) > 0.5)
            return {};
        std::string what = signal.kind == SignalKind::Vibration
                               ? "vibration"
                               : std::string(signal_kind_name(signal.kind)) + " at " + volume_words(signal.volume);
        switch (signal.role) {
        case SignalRole::Start:
            return what + ": the call is connected" +
                   (signal.schedule >= 0 && call->schedules[signal.schedule].restart
                        ? " again, the monitor's schedule starts anew"
                        : "");
        case SignalRole::End:
            return what + ": the call has ended";
        case SignalRole::Periodic:
            return what + announced(signal, *call);
        }
    }
    return {};
}

std::optional<std::string> Narrator::tell(const json& event)
{
    events_.push_back(event);
    const Told told = story_.tell(event);
    const std::string name = event.value("event", std::string());
    const std::string exe = event.value("exe", std::string());
    std::string words;
    if (name == "process.start")
        words = exe + " starts" + (event.value("cmdline", std::string()).empty() ? "" : " (" + event["cmdline"].get<std::string>() + ")");
    else if (name == "process.exit" && exe != "phone")
        words = exe + " ends";
    else if (name == "playsound" && exe == "CallTicker.exe")
        words = std::string("chime: ") + exe + (monitor_step(event) == MonitorStep::StartUp ? " has started" : " quits");
    else if (name == "line.open" && event.value("ok", false))
        words = exe + " watches the cellular line";
    else if (name == "call") {
        const std::string state = short_state(event.value("state", std::string()));
        const std::string number = event.value("number", std::string());
        if (state == "CONNECTED" || state == "DISCONNECTED" || state == "OFFERING" || state == "ONHOLD")
            words = "call " + std::to_string(event.value("call", 0)) + " " +
                    (state == "OFFERING" ? "rings" + (number.empty() ? "" : " (" + number + ")")
                     : state == "CONNECTED" ? "is connected"
                     : state == "ONHOLD"    ? "is on hold"
                                            : "is disconnected");
    } else if (name == "waveout.write" || (name == "led" && event.value("led", -1) == 1 && event.value("on", false)))
        words = signal_sentence(event, told);
    else if (name == "backlight" && event.value("state", std::string()) == "D4")
        words = "the screen goes dark";
    else if (name == "backlight" && event.value("state", std::string()) == "D0")
        words = "the screen lights up";
    else if (name == "reg.set" && exe == "CallTickerCfg.exe")
        words = "stored " + event.value("value", std::string()) + " = " + event.value("data", json()).dump();
    else if (name == "dialog.open")
        words = "dialog \"" + event.value("title", std::string()) + "\" opens";
    if (words.empty())
        return std::nullopt;
    const std::string when = told.call ? "call " + std::to_string(*told.call) + "  " + call_time(*told.call_time)
                                       : "device  " + call_time(told.t);
    return when + "  " + words;
}

} // namespace phone
