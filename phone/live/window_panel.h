// The cellular panel beside the phone's face: rings new calls into the
// device and shows each call with the changes it allows, the device time
// and clock rate, and whether the device is heard.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "input/calls.h"

namespace phone {

struct PanelState {
    std::vector<calls::Call> calls;
    double device_time = 0; // ms since boot
    double clock_rate = 1;
    std::string sound;      // why the device is heard or silent
};

class CallPanel {
public:
    // `report` shows the outcome of a button, or why it failed.
    explicit CallPanel(std::function<void(const std::string&)> report);
    CallPanel(const CallPanel&) = delete;
    CallPanel& operator=(const CallPanel&) = delete;

    GtkWidget* widget() const { return box_; }
    void show(const PanelState& state);

private:
    void build_new_calls();
    void rebuild_rows(const PanelState& state);
    void add_row(const calls::Call& call, bool swappable);
    void ring(const char* media, bool waiting);
    void act(const std::function<void()>& action, const std::string& done);

    std::function<void(const std::string&)> report_;
    GtkWidget* box_;
    GtkWidget* number_ = nullptr;
    GtkWidget* waiting_ = nullptr;
    GtkWidget* rows_ = nullptr;
    GtkWidget* clock_ = nullptr;
    GtkWidget* sound_ = nullptr;
    std::vector<std::pair<uint32_t, GtkWidget*>> times_; // each call's time label
    std::string shown_ = "none yet";                     // the calls and states the rows show
};

} // namespace phone
