// The cellular panel: GTK widgets over the radio's calls.  A button changes
// the radio through the same call actions as `phone call`; the panel shows
// the outcome only when the device's watch reports the change, so that two
// windows on one device and `phone call` in a terminal all agree.
#include "live/window_panel.h"

#include <memory>

#include <tapi.h>

#include "log/call_history.h"
#include "log/event_words.h"
#include "log/story.h"
#include "parsing.h"
#include "tapi/names.h"

namespace phone {
namespace {

using Action = std::function<void()>;

void on_clicked(GtkWidget* button, Action action)
{
    g_signal_connect_data(
        button, "clicked",
        G_CALLBACK(+[](GtkButton*, gpointer held) { (*static_cast<Action*>(held))(); }),
        new Action(std::move(action)), +[](gpointer held, GClosure*) { delete static_cast<Action*>(held); },
        GConnectFlags(0));
}

GtkWidget* button(const char* label, Action action, bool sensitive = true)
{
    GtkWidget* widget = gtk_button_new_with_label(label);
    on_clicked(widget, std::move(action));
    gtk_widget_set_sensitive(widget, sensitive);
    return widget;
}

GtkWidget* left_label(const std::string& text)
{
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 40);
    return label;
}

GtkWidget* heading(const char* text)
{
    GtkWidget* label = left_label(text);
    gtk_widget_add_css_class(label, "heading");
    return label;
}

// In the log's words ("incoming, ringing"), so the panel and the log agree.
std::string short_state(uint32_t state) { return event_words::call_state_words(wince::tapi::call_state_name(state)); }

std::string describe(const calls::Call& call)
{
    const bool voice = call.media & LINEMEDIAMODE_INTERACTIVEVOICE;
    return "Call " + std::to_string(call.id) + (call.outbound ? " to " : " from ") +
           (call.number.empty() ? std::string("(no caller id)") : call.number) + ", " +
           (voice ? "voice" : wince::tapi::media_modes_name(call.media));
}

std::string time_of(const calls::Call& call, double now)
{
    return short_state(call.state) + (call.connected_at ? "  " + call_time(now - *call.connected_at) : "");
}

bool connected(const calls::Call& call) { return call.state == LINECALLSTATE_CONNECTED; }

bool held(const calls::Call& call)
{
    return call.state & (LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF | LINECALLSTATE_ONHOLDPENDTRANSFER);
}

// What the rows show, to rebuild them only when it changes.
std::string rows_key(const std::vector<calls::Call>& list)
{
    std::string key;
    for (const auto& call : list)
        key += std::to_string(call.id) + ":" + std::to_string(call.state) + ";";
    return key;
}

} // namespace

CallPanel::CallPanel(std::function<void(const std::string&)> report)
    : report_(std::move(report)), box_(gtk_box_new(GTK_ORIENTATION_VERTICAL, 6))
{
    gtk_widget_add_css_class(box_, "panel");
    gtk_widget_set_size_request(box_, 300, -1);
    gtk_widget_set_margin_start(box_, 12);
    gtk_widget_set_margin_end(box_, 12);
    gtk_widget_set_margin_top(box_, 12);
    gtk_widget_set_margin_bottom(box_, 12);
    build_new_calls();
    gtk_box_append(GTK_BOX(box_), heading("Calls"));
    rows_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_box_append(GTK_BOX(box_), rows_);
    gtk_box_append(GTK_BOX(box_), heading("Device"));
    clock_ = left_label("");
    sound_ = left_label("");
    gtk_box_append(GTK_BOX(box_), clock_);
    gtk_box_append(GTK_BOX(box_), sound_);
}

void CallPanel::build_new_calls()
{
    gtk_box_append(GTK_BOX(box_), heading("Ring the phone"));
    number_ = gtk_entry_new();
    gtk_entry_set_placeholder_text(GTK_ENTRY(number_), "Caller's number (optional)");
    gtk_editable_set_text(GTK_EDITABLE(number_), "+1 555 0100");
    gtk_box_append(GTK_BOX(box_), number_);
    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_box_append(GTK_BOX(buttons), button("Voice call", [this] { ring("INTERACTIVEVOICE", false); }));
    gtk_box_append(GTK_BOX(buttons), button("Data call", [this] { ring("DATAMODEM", false); }));
    waiting_ = button("Call waiting", [this] { ring("INTERACTIVEVOICE", true); }, false);
    gtk_widget_set_tooltip_text(waiting_, "A second voice call while one is connected");
    gtk_box_append(GTK_BOX(buttons), waiting_);
    gtk_box_append(GTK_BOX(box_), buttons);
}

void CallPanel::ring(const char* media, bool waiting)
{
    calls::NewCall call;
    call.media = media;
    call.number = gtk_editable_get_text(GTK_EDITABLE(number_));
    act([call] { calls::incoming(call); }, waiting ? "A call is waiting" : "The phone rings");
}

void CallPanel::act(const std::function<void()>& action, const std::string& done)
{
    try {
        action();
        report_(done);
    } catch (const std::exception& failure) {
        report_(failure.what());
    }
}

void CallPanel::show(const PanelState& state)
{
    bool any_connected = false;
    for (const auto& call : state.calls)
        any_connected = any_connected || connected(call);
    gtk_widget_set_sensitive(waiting_, any_connected);
    if (rows_key(state.calls) != shown_)
        rebuild_rows(state);
    for (const auto& [id, label] : times_)
        for (const auto& call : state.calls)
            if (call.id == id)
                gtk_label_set_text(GTK_LABEL(label), time_of(call, state.device_time).c_str());
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", state.clock_rate);
    gtk_label_set_text(GTK_LABEL(clock_),
                       ("Device time " + device_time(state.device_time) + ", clock at " + rate + "x").c_str());
    gtk_label_set_text(GTK_LABEL(sound_), state.sound.c_str());
}

void CallPanel::rebuild_rows(const PanelState& state)
{
    shown_ = rows_key(state.calls);
    times_.clear();
    while (GtkWidget* child = gtk_widget_get_first_child(rows_))
        gtk_box_remove(GTK_BOX(rows_), child);
    int connected_count = 0, held_count = 0;
    for (const auto& call : state.calls) {
        connected_count += connected(call);
        held_count += held(call);
    }
    for (const auto& call : state.calls)
        add_row(call, connected_count == 1 && held_count == 1);
    if (state.calls.empty())
        gtk_box_append(GTK_BOX(rows_), left_label("No calls"));
}

void CallPanel::add_row(const calls::Call& call, bool swappable)
{
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_widget_add_css_class(row, "call");
    gtk_box_append(GTK_BOX(row), left_label(describe(call)));
    GtkWidget* time = left_label("");
    times_.emplace_back(call.id, time);
    gtk_box_append(GTK_BOX(row), time);
    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    const uint32_t id = call.id;
    const std::string which = "call " + std::to_string(id);
    gtk_box_append(GTK_BOX(buttons), button("Answer", [this, id, which] { act([id] { calls::answer(id); }, "Answered " + which); },
                                            calls::ringing(call) && !call.outbound));
    gtk_box_append(GTK_BOX(buttons), button("Hold", [this, id, which] { act([id] { calls::hold(id); }, "Held " + which); },
                                            connected(call)));
    gtk_box_append(GTK_BOX(buttons), button("Resume", [this, id, which] { act([id] { calls::resume(id); }, "Resumed " + which); },
                                            held(call)));
    gtk_box_append(GTK_BOX(buttons), button("Swap", [this] { act([] { calls::swap(); }, "Swapped the calls"); },
                                            swappable && (connected(call) || held(call))));
    gtk_box_append(GTK_BOX(buttons), button("Drop", [this, id, which] { act([id] { calls::drop(id); }, "Dropped " + which); }));
    gtk_box_append(GTK_BOX(row), buttons);
    gtk_box_append(GTK_BOX(rows_), row);
}

} // namespace phone
