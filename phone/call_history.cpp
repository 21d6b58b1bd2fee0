// Calls rebuilt from the event log.  The monitor's call timer window is what
// ties a signal to a call: it exists exactly while the monitor times a call,
// from before the start signal to after the end signal, so every signal and
// dark span inside its life belongs to the voice call connected last before
// it was created.
#include "call_history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

#include <tapi.h>

#include "settings.h"

namespace phone {
namespace {

using nlohmann::json;

constexpr const char* kTimerWindowClass = "CallTickerWndClass";
constexpr const char* kSettingsKey = "\\software\\apps\\callticker";

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The monitor reads each value as a signed 16-bit number.
int stored_index(const json& data)
{
    if (!data.is_number_integer())
        return -1;
    return static_cast<int16_t>(data.get<int64_t>() & 0xFFFF);
}

void apply_setting(SettingsInForce& settings, const json& event)
{
    if (!ends_with(lower(event.value("key", std::string())), kSettingsKey))
        return;
    const std::string name = lower(event.value("value", std::string()));
    const int index = stored_index(event.value("data", json()));
    if (name == "enabled")
        settings.enabled = index != 0;
    else if (name == "onsoundtype")
        settings.on_type = index;
    else if (name == "offsoundtype")
        settings.off_type = index;
    else if (name == "regularsoundtype")
        settings.regular_type = index;
    else if (name == "regularsounddelay")
        settings.delay_index = index;
    else if (name == "regularsoundbefore")
        settings.before_index = index;
    else if (name == "turnoffscr")
        settings.screen_off_index = index;
}

struct OpenCall {
    size_t record;
    std::optional<double> away_since; // not connected since (held, ringing again)
};

struct TimerWindow {
    std::optional<size_t> record;
    bool armed = false; // the monitor arms its timers after the start signal
    std::optional<double> dark_since;
    std::optional<size_t> vibration; // the pulse that has not ended yet
};

class HistoryBuilder {
public:
    void add(const json& event)
    {
        const std::string name = event.value("event", std::string());
        const double t = event.value("t", 0.0);
        // A boot restarts the clock: whatever was open then ended unseen.
        if (name == "boot" || t + 1000 < last_t_)
            close_everything();
        last_t_ = std::max(last_t_, t);
        if (name == "reg.set")
            apply_setting(settings_, event);
        else if (name == "call")
            on_call(event, t);
        else if (name == "window.create" && event.value("class", std::string()) == kTimerWindowClass)
            on_window_create(event);
        else if (name == "window.destroy" && event.value("class", std::string()) == kTimerWindowClass)
            on_window_destroy(event, t);
        else if (name == "timer.set")
            on_timer_set(event, t);
        else if (name == "waveout.write")
            on_sound(event, t);
        else if (name == "led" && event.value("led", -1) == 1)
            on_vibrator(event, t);
        else if (name == "backlight")
            on_backlight(event, t);
    }

    std::vector<CallRecord> finish()
    {
        for (auto& [id, call] : calls_)
            records_[call.record].duration = last_t_ - records_[call.record].connected_at;
        return std::move(records_);
    }

private:
    void on_call(const json& event, double t)
    {
        const uint32_t id = event.value("call", 0u);
        const std::string state = event.value("state", std::string());
        auto open = calls_.find(id);
        if (state == "LINECALLSTATE_CONNECTED") {
            if (open == calls_.end()) {
                CallRecord record;
                record.id = id;
                record.media = event.value("media", 0u);
                record.connected_at = t;
                record.settings = settings_;
                records_.push_back(record);
                calls_[id] = OpenCall{records_.size() - 1, std::nullopt};
                last_voice_ = record.voice() ? std::optional(records_.size() - 1) : last_voice_;
            } else if (open->second.away_since) {
                auto& record = records_[open->second.record];
                record.held.push_back({*open->second.away_since - record.connected_at, t - record.connected_at});
                open->second.away_since.reset();
            }
            return;
        }
        if (open == calls_.end())
            return;
        auto& record = records_[open->second.record];
        if (state == "LINECALLSTATE_DISCONNECTED" || state == "LINECALLSTATE_IDLE") {
            if (open->second.away_since)
                record.held.push_back({*open->second.away_since - record.connected_at, t - record.connected_at});
            record.duration = t - record.connected_at;
            record.ended = true;
            calls_.erase(open);
        } else if (!open->second.away_since) {
            open->second.away_since = t;
        }
    }

    // The call that made the monitor create the window is the voice call
    // connected last (on a fast clock it may already be over).
    void on_window_create(const json& event)
    {
        TimerWindow window;
        window.record = last_voice_;
        windows_[key(event)] = window;
    }

    void on_window_destroy(const json& event, double t)
    {
        auto it = windows_.find(key(event));
        if (it == windows_.end())
            return;
        end_dark(it->second, t);
        windows_.erase(it);
    }

    // The timer window of the process that logged `event`, when it times a call.
    TimerWindow* window_of(const json& event)
    {
        const auto pid = event.value("pid", 0ll);
        for (auto& [window_key, window] : windows_)
            if (window_key.first == pid && window.record)
                return &window;
        return nullptr;
    }

    void on_timer_set(const json& event, double t)
    {
        auto it = windows_.find(key(event));
        if (it == windows_.end() || it->second.armed)
            return;
        it->second.armed = true;
        if (it->second.record) {
            auto& record = records_[*it->second.record];
            record.timed_from = t - record.connected_at;
        }
    }

    SignalRole role(const TimerWindow& window) const
    {
        if (records_[*window.record].ended)
            return SignalRole::End;
        return window.armed ? SignalRole::Periodic : SignalRole::Start;
    }

    void on_sound(const json& event, double t)
    {
        TimerWindow* window = window_of(event);
        if (!window)
            return;
        auto& record = records_[*window->record];
        // The start and end signals are forced to the loudspeaker; the
        // periodic beep is not.
        const SignalKind kind = event.value("speaker", false) ? SignalKind::Chime : SignalKind::Beep;
        record.signals.push_back({kind, role(*window), t - record.connected_at, event.value("ms", 0.0), event.value("volume", 0u)});
    }

    void on_vibrator(const json& event, double t)
    {
        TimerWindow* window = window_of(event);
        if (!window)
            return;
        auto& record = records_[*window->record];
        if (event.value("on", false)) {
            record.signals.push_back({SignalKind::Vibration, role(*window), t - record.connected_at, 0.0});
            window->vibration = record.signals.size() - 1;
        } else if (window->vibration) {
            auto& pulse = record.signals[*window->vibration];
            pulse.length = t - record.connected_at - pulse.at;
            window->vibration.reset();
        }
    }

    void on_backlight(const json& event, double t)
    {
        TimerWindow* window = window_of(event);
        if (!window)
            return;
        if (event.value("state", std::string()) == "D4") {
            if (!window->dark_since)
                window->dark_since = t;
        } else {
            end_dark(*window, t);
        }
    }

    void end_dark(TimerWindow& window, double t)
    {
        if (!window.dark_since || !window.record)
            return;
        auto& record = records_[*window.record];
        record.dark.push_back({*window.dark_since - record.connected_at, t - record.connected_at});
        window.dark_since.reset();
    }

    void close_everything()
    {
        for (auto& [window_key, window] : windows_)
            end_dark(window, last_t_);
        windows_.clear();
        for (auto& [id, call] : calls_) {
            auto& record = records_[call.record];
            record.duration = last_t_ - record.connected_at;
        }
        calls_.clear();
        last_voice_.reset();
        last_t_ = 0;
    }

    static std::pair<long long, std::string> key(const json& event)
    {
        return {event.value("pid", 0ll), event.value("hwnd", json()).dump()};
    }

    SettingsInForce settings_;
    std::vector<CallRecord> records_;
    std::map<uint32_t, OpenCall> calls_;
    std::map<std::pair<long long, std::string>, TimerWindow> windows_;
    std::optional<size_t> last_voice_;
    double last_t_ = 0;
};

} // namespace

const char* signal_kind_name(SignalKind kind)
{
    switch (kind) {
    case SignalKind::Chime:
        return "chime";
    case SignalKind::Beep:
        return "beep";
    case SignalKind::Vibration:
        return "vibration";
    }
    return "?";
}

int SettingsInForce::interval_ms() const { return RegularSoundDelayMs(delay_index); }
int SettingsInForce::lead_ms() const { return RegularSoundBeforeMs(before_index); }
int SettingsInForce::screen_off_ms() const { return TurnOffScrMs(screen_off_index); }

std::string signal_type_name(int type)
{
    switch (type) {
    case SignalNone:
        return "None";
    case SignalSound:
        return "Sound";
    case SignalVibrate:
        return "Vibrate";
    }
    return std::to_string(type);
}

bool CallRecord::voice() const { return media == LINEMEDIAMODE_INTERACTIVEVOICE; }

std::vector<CallRecord> call_history(const std::vector<json>& events)
{
    HistoryBuilder builder;
    for (const auto& event : events)
        if (event.is_object())
            builder.add(event);
    return builder.finish();
}

std::string call_time(double ms)
{
    const long tenths = std::lround(std::max(ms, 0.0) / 100.0);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
    return text;
}

} // namespace phone
