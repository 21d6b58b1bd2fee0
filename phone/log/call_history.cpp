// Calls rebuilt from the event log.  What a signal is comes from the log
// itself: every event the monitor's main thread logs carries the message it
// was handling ("handling").  Which call a signal belongs to is the call
// that made the monitor act last; the monitor's schedule (its call timer
// window) and the dark screen are device-wide and drawn on every call they
// overlap.
#include "log/call_history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <windows.h>
#include <tapi.h>

#include "monitor.h"
#include "settings.h"

namespace phone {
namespace {

using nlohmann::json;

constexpr const char* kMonitorExe = "CallTicker.exe";
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

// A field of the type asked for, or `otherwise`: a log line of another
// shape than the device writes is read as well as it can be.
template <class T>
T field(const json& event, const char* name, T otherwise)
{
    if (!event.is_object())
        return otherwise;
    const auto it = event.find(name);
    if (it == event.end())
        return otherwise;
    try {
        return it->get<T>();
    } catch (const json::exception&) {
        return otherwise;
    }
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
    if (!ends_with(lower(field(event, "key", std::string())), kSettingsKey))
        return;
    const std::string name = lower(field(event, "value", std::string()));
    const int index = stored_index(field(event, "data", json()));
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

// A run of the monitor's schedule in device time, before it is shown on
// the calls it overlaps.
struct DeviceSchedule {
    double from;
    std::optional<double> to;
    std::optional<double> timed_from;
    std::optional<uint32_t> started_for; // the call that started it
    std::optional<uint32_t> ended_by;    // the call whose end ended it
    SettingsInForce settings;
};

struct DeviceSpan {
    double from;
    double to;
};

class HistoryBuilder {
public:
    void add(const json& event)
    {
        const std::string name = field(event, "event", std::string());
        const double t = field(event, "t", 0.0);
        // A boot restarts the clock: whatever was open then ended unseen.
        if (name == "boot" || t + 1000 < last_t_)
            close_everything();
        last_t_ = std::max(last_t_, t);
        if (name == "reg.set")
            apply_setting(settings_, event);
        else if (name == "call")
            on_call(event, t);
        else if (!from_monitor(event))
            return;
        else if (name == "window.create" && field(event, "class", std::string()) == kTimerWindowClass)
            on_schedule_start(t);
        else if (name == "window.destroy" && field(event, "class", std::string()) == kTimerWindowClass)
            on_schedule_end(t);
        else if (name == "timer.set" && field(event, "id", 0) == IDT_REGULAR_SIGNAL)
            on_periodic_timer(t);
        else if (name == "waveout.write")
            on_sound(event, t);
        else if (name == "led" && field(event, "led", -1) == 1)
            on_vibrator(event, t);
        else if (name == "backlight")
            on_backlight(event, t);
    }

    std::vector<CallRecord> finish()
    {
        close_everything();
        return std::move(finished_);
    }

private:
    void on_call(const json& event, double t)
    {
        const uint32_t id = field(event, "call", 0u);
        const std::string state = field(event, "state", std::string());
        clocks_.add(event);
        auto open = open_.find(id);
        if (state == "LINECALLSTATE_CONNECTED") {
            if (open == open_.end()) {
                CallRecord record;
                record.id = id;
                record.media = field(event, "media", 0u);
                record.number = field(event, "number", std::string());
                record.connected_at = t;
                record.settings = settings_;
                records_.push_back(record);
                open_[id] = records_.size() - 1;
            } else {
                back_on(records_[open->second], t);
            }
            return;
        }
        if (open == open_.end())
            return;
        auto& record = records_[open->second];
        if (state == "LINECALLSTATE_DISCONNECTED" || state == "LINECALLSTATE_IDLE") {
            back_on(record, t);
            if (!record.ended)
                record.duration = t - record.connected_at;
            record.ended = true;
            if (state == "LINECALLSTATE_IDLE")
                open_.erase(open);
        } else if (!away_since_.count(id)) {
            away_since_[id] = t;
        }
    }

    void back_on(CallRecord& record, double t)
    {
        const auto away = away_since_.find(record.id);
        if (away == away_since_.end())
            return;
        record.held.push_back({away->second - record.connected_at, t - record.connected_at});
        away_since_.erase(away);
    }

    // The record of the call the monitor acts for now, if it has one.
    CallRecord* focus_record()
    {
        const auto focus = clocks_.focus();
        if (!focus)
            return nullptr;
        for (auto it = records_.rbegin(); it != records_.rend(); ++it)
            if (it->id == *focus)
                return &*it;
        return nullptr;
    }

    void on_schedule_start(double t)
    {
        schedules_.push_back(DeviceSchedule{t, std::nullopt, std::nullopt, clocks_.focus(), std::nullopt, settings_});
        running_ = schedules_.size() - 1;
    }

    void on_schedule_end(double t)
    {
        if (!running_)
            return;
        schedules_[*running_].to = t;
        schedules_[*running_].ended_by = clocks_.focus();
        running_.reset();
    }

    void on_periodic_timer(double t)
    {
        if (running_ && !schedules_[*running_].timed_from)
            schedules_[*running_].timed_from = t;
    }

    void add_signal(SignalKind kind, SignalRole role, const json& event, double t)
    {
        CallRecord* record = focus_record();
        if (!record)
            return;
        Signal signal{kind, role, t - record->connected_at, field(event, "ms", 0.0), field(event, "volume", 0u)};
        signal.schedule = running_ ? static_cast<int>(*running_) : -1;
        record->signals.push_back(signal);
        if (kind == SignalKind::Vibration)
            vibration_ = {record->id, record->signals.size() - 1};
    }

    void on_sound(const json& event, double t)
    {
        const auto role = signal_role(event);
        if (!role)
            return;
        // The start and end signals are forced to the loudspeaker; the
        // periodic beep is not.
        add_signal(field(event, "speaker", false) ? SignalKind::Chime : SignalKind::Beep, *role, event, t);
    }

    void on_vibrator(const json& event, double t)
    {
        if (field(event, "on", false)) {
            if (const auto role = signal_role(event))
                add_signal(SignalKind::Vibration, *role, event, t);
            return;
        }
        if (!vibration_)
            return;
        for (auto& record : records_)
            if (record.id == vibration_->first) {
                auto& pulse = record.signals[vibration_->second];
                pulse.length = t - record.connected_at - pulse.at;
            }
        vibration_.reset();
    }

    void on_backlight(const json& event, double t)
    {
        if (field(event, "state", std::string()) == "D4") {
            if (!dark_since_)
                dark_since_ = t;
        } else if (dark_since_) {
            dark_.push_back({*dark_since_, t});
            dark_since_.reset();
        }
    }

    // What went on in device time, laid onto the calls it overlaps.
    void distribute()
    {
        for (auto& record : records_) {
            const double begins = record.connected_at, ends = record.connected_at + record.duration;
            for (const auto& dark : dark_)
                if (dark.from < ends && dark.to > begins)
                    record.dark.push_back({std::max(dark.from, begins) - begins, std::min(dark.to, ends) - begins});
            bool had_schedule = false;
            std::map<int, int> shown_as; // device schedule -> this call's
            for (size_t i = 0; i < schedules_.size(); ++i) {
                const auto& run = schedules_[i];
                const double to = run.to.value_or(last_t_);
                const bool its_end = run.ended_by == record.id;
                if (!(run.from <= ends && (to > begins || its_end)))
                    continue;
                Schedule shown;
                shown.from = std::max(run.from, begins) - begins;
                shown.to = (its_end ? to : std::min(to, ends)) - begins;
                shown.armed = run.timed_from.has_value();
                shown.timed_from = run.timed_from.value_or(run.from) - begins;
                shown.restart = had_schedule && run.from > begins;
                shown.settings = run.settings;
                had_schedule = true;
                shown_as[static_cast<int>(i)] = static_cast<int>(record.schedules.size());
                record.schedules.push_back(shown);
            }
            for (auto& signal : record.signals) {
                const auto it = shown_as.find(signal.schedule);
                signal.schedule = it == shown_as.end() ? -1 : it->second;
            }
        }
    }

    void close_everything()
    {
        if (dark_since_)
            dark_.push_back({*dark_since_, last_t_});
        dark_since_.reset();
        for (auto& [id, index] : open_)
            if (!records_[index].ended)
                records_[index].duration = last_t_ - records_[index].connected_at;
        for (auto& [id, since] : away_since_)
            for (auto& record : records_)
                if (record.id == id && !record.ended)
                    record.held.push_back({since - record.connected_at, record.duration});
        distribute();
        finished_.insert(finished_.end(), records_.begin(), records_.end());
        HistoryBuilder next;
        next.settings_ = settings_;
        next.finished_ = std::move(finished_);
        *this = std::move(next);
    }

    SettingsInForce settings_;
    CallClocks clocks_;
    std::vector<CallRecord> records_;       // of this boot
    std::vector<CallRecord> finished_;      // of earlier boots
    std::map<uint32_t, size_t> open_;       // call id -> record, until it goes idle
    std::map<uint32_t, double> away_since_; // call id -> not connected since
    std::vector<DeviceSchedule> schedules_;
    std::optional<size_t> running_;         // the schedule whose window exists
    std::vector<DeviceSpan> dark_;
    std::optional<double> dark_since_;
    std::optional<std::pair<uint32_t, size_t>> vibration_; // the pulse that has not ended: call, signal
    double last_t_ = 0;
};

} // namespace

bool from_monitor(const json& event) { return field(event, "exe", std::string()) == kMonitorExe; }

MonitorStep monitor_step(const json& event)
{
    if (!from_monitor(event))
        return MonitorStep::Other;
    const auto handling = event.find("handling");
    if (handling == event.end() || !handling->is_number_unsigned())
        return MonitorStep::StartUp;
    switch (handling->get<uint64_t>()) {
    case WM_CALL_CONNECTED:
        return MonitorStep::CallConnected;
    case WM_CALL_ENDED:
        return MonitorStep::CallEnded;
    case WM_MONITOR_QUIT:
        return MonitorStep::Quit;
    case WM_TIMER:
        return field(event, "handling_wparam", 0ull) == IDT_REGULAR_SIGNAL ? MonitorStep::Periodic : MonitorStep::Other;
    default:
        return MonitorStep::Other;
    }
}

const char* signal_role_word(SignalRole role)
{
    switch (role) {
    case SignalRole::Start:
        return "start";
    case SignalRole::Periodic:
        return "periodic";
    case SignalRole::End:
        return "end";
    }
    return "?";
}

std::string signal_role_name(SignalRole role) { return std::string(signal_role_word(role)) + " signal"; }

std::optional<SignalRole> signal_role(const json& event)
{
    const std::string name = field(event, "event", std::string());
    const bool signal = name == "waveout.write" || (name == "led" && field(event, "led", -1) == 1 && field(event, "on", false));
    if (!signal)
        return std::nullopt;
    switch (monitor_step(event)) {
    case MonitorStep::CallConnected:
        return SignalRole::Start;
    case MonitorStep::Periodic:
        return SignalRole::Periodic;
    case MonitorStep::CallEnded:
    case MonitorStep::Quit:
        return SignalRole::End;
    default:
        return std::nullopt;
    }
}

void CallClocks::add(const json& event)
{
    const double t = field(event, "t", 0.0);
    if (t + 1000 < last_t_)
        *this = CallClocks();
    last_t_ = std::max(last_t_, t);
    if (field(event, "event", std::string()) != "call")
        return;
    const uint32_t id = field(event, "call", 0u);
    const std::string state = field(event, "state", std::string());
    if (state == "LINECALLSTATE_CONNECTED") {
        connected_at_.emplace(id, t);
        live_[id] = t;
        // Only a voice call makes the monitor start.
        if (field(event, "media", 0u) == LINEMEDIAMODE_INTERACTIVEVOICE)
            focus_ = id;
    } else if (state == "LINECALLSTATE_DISCONNECTED") {
        if (connected_at_.count(id))
            focus_ = id;
    } else if (state == "LINECALLSTATE_IDLE") {
        live_.erase(id);
    }
}

std::optional<uint32_t> CallClocks::latest_live() const
{
    std::optional<uint32_t> latest;
    for (const auto& [id, since] : live_)
        if (!latest || since >= live_.at(*latest))
            latest = id;
    return latest;
}

std::optional<double> CallClocks::connected_at(uint32_t id) const
{
    const auto it = connected_at_.find(id);
    return it == connected_at_.end() ? std::nullopt : std::optional(it->second);
}

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
