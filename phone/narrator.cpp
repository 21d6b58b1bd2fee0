// Narration from the log.  What a signal means (start, periodic, end, and
// which interval it announces) comes from the call history of everything
// told so far, so the words and the timeline never disagree.
#include "narrator.h"

#include <cmath>

#include "call_history.h"
#include "story.h"

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

} // namespace

std::string Narrator::when(double t, bool of_the_call) const
{
    const auto calls = call_history(events_);
    if (!calls.empty()) {
        const auto& call = calls.back();
        // The end signal and the screen lit again come after the call ends.
        if (!call.ended || (of_the_call && t - call.connected_at <= call.duration + 3000))
            return "call " + std::to_string(call.id) + "  " + call_time(t - call.connected_at);
    }
    return "device  " + call_time(t);
}

std::string Narrator::signal_sentence(const json& event)
{
    const auto calls = call_history(events_);
    if (calls.empty() || calls.back().signals.empty())
        return {};
    const auto& call = calls.back();
    const auto& signal = call.signals.back();
    if (std::fabs(signal.at - (event.value("t", 0.0) - call.connected_at)) > 0.5)
        return {};
    std::string what = signal.kind == SignalKind::Vibration
                           ? "vibration"
                           : std::string(signal_kind_name(signal.kind)) + " at " + volume_words(signal.volume);
    switch (signal.role) {
    case SignalRole::Start:
        return what + ": the call is connected";
    case SignalRole::End:
        return what + ": the call has ended";
    case SignalRole::Periodic:
        break;
    }
    const int interval = call.settings.interval_ms();
    if (interval <= 0 || call.timed_from < 0)
        return what;
    const double k = std::ceil((signal.at - call.timed_from) / interval);
    const double lead = call.timed_from + k * interval - signal.at;
    return what + ": " + seconds(lead) + " before " + interval_end(k * interval);
}

std::optional<std::string> Narrator::tell(const json& event)
{
    events_.push_back(event);
    const std::string name = event.value("event", std::string());
    const std::string exe = event.value("exe", std::string());
    const double t = event.value("t", 0.0);
    std::string words;
    if (name == "process.start")
        words = exe + " starts" + (event.value("cmdline", std::string()).empty() ? "" : " (" + event["cmdline"].get<std::string>() + ")");
    else if (name == "process.exit" && exe != "phone")
        words = exe + " ends";
    else if (name == "playsound")
        words = "chime: " + exe + (played_.insert(event.value("pid", 0ll)).second ? " has started" : " quits");
    else if (name == "line.open" && event.value("ok", false))
        words = exe + " watches the cellular line";
    else if (name == "call") {
        const std::string state = short_state(event.value("state", std::string()));
        if (state == "CONNECTED" || state == "DISCONNECTED" || state == "OFFERING")
            words = "call " + std::to_string(event.value("call", 0)) + " " +
                    (state == "OFFERING" ? "rings" : state == "CONNECTED" ? "is connected" : "is disconnected");
    } else if (name == "waveout.write" || (name == "led" && event.value("led", -1) == 1 && event.value("on", false)))
        words = signal_sentence(event);
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
    return when(t, name == "waveout.write" || name == "led" || name == "backlight" || name == "call") +
           "  " + words;
}

} // namespace phone
