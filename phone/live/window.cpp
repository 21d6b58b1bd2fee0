// The phone's window: its face (the screen as `phone screenshot` draws it,
// the soft keys, the d-pad, the talk, end and volume keys, the notification
// light and the vibrator) beside the cellular panel.  It sleeps in GTK's
// main loop: the device's changes wake it through file monitors, the user
// through input, and while a call is connected a one-second tick moves the
// call time on.
#include "live/window.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <gtk/gtk.h>

#include <windows.h>
#include <nled.h>
#include <tapi.h>

#include "audio/output.h"
#include "device/clock.h"
#include "device/device.h"
#include "input/calls.h"
#include "input/keys.h"
#include "input/stylus.h"
#include "live/face_layout.h"
#include "live/gtk_handles.h"
#include "live/window_face.h"
#include "live/window_panel.h"
#include "live/window_watch.h"
#include "parsing.h"
#include "render/screenshot.h"
#include "screens/shown_screen.h"
#include "user/screen_model.h"

namespace phone {
namespace {

namespace screen = wince::screen;

// What the window shows of the device, read anew on every change.
struct DeviceLook {
    screen::Screen screen; // dark while the backlight is off
    bool vibrating = false;
    bool led = false;
    PanelState panel;
};

bool led_on(UINT led)
{
    NLED_SETTINGS_INFO settings{};
    settings.LedNum = led;
    return NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, &settings) && settings.OffOnBlink != 0;
}

DeviceLook look()
{
    DeviceLook now;
    now.screen = shown_screen();
    now.vibrating = led_on(1); // LED 1 is the vibrator
    now.led = led_on(0);
    now.panel.calls = wince::tapi::radio::calls();
    now.panel.device_time = wince::clock::now();
    now.panel.clock_rate = wince::clock::rate();
    now.panel.sound = "Sound: " + wince::audio::backend_reason();
    return now;
}

bool call_connected(const DeviceLook& now)
{
    return std::any_of(now.panel.calls.begin(), now.panel.calls.end(),
                       [](const calls::Call& call) { return call.state == LINECALLSTATE_CONNECTED; });
}

// The key a keyboard key stands for on the device, if any.
std::optional<std::string> device_key(guint keyval)
{
    switch (keyval) {
    case GDK_KEY_F1: return "F1";
    case GDK_KEY_F2: return "F2";
    case GDK_KEY_Up: return "UP";
    case GDK_KEY_Down: return "DOWN";
    case GDK_KEY_Left: return "LEFT";
    case GDK_KEY_Right: return "RIGHT";
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter: return "RETURN";
    case GDK_KEY_Escape: return "ESCAPE";
    case GDK_KEY_Tab: return "TAB";
    case GDK_KEY_ISO_Left_Tab: return "SHIFT+TAB";
    case GDK_KEY_BackSpace: return "BACK";
    default: break;
    }
    const gunichar character = gdk_keyval_to_unicode(keyval);
    if (character >= 0x20 && character < 0x7F)
        return std::string(1, static_cast<char>(character));
    return std::nullopt;
}

class PhoneWindow {
public:
    PhoneWindow(int zoom, std::function<void()> closed);
    PhoneWindow(const PhoneWindow&) = delete;
    PhoneWindow& operator=(const PhoneWindow&) = delete;

private:
    void build();
    void refresh();
    void tick_while_connected();
    void report(const std::string& text);
    void press(FaceKey key);
    void send_key(const std::string& name);
    void talk();
    void end();
    void click(double x, double y);

    static void draw(GtkDrawingArea* area, cairo_t* cr, int width, int height, gpointer self);
    static void on_pressed(GtkGestureClick* gesture, int presses, double x, double y, gpointer self);
    static gboolean on_key(GtkEventControllerKey* keys, guint keyval, guint code, GdkModifierType state, gpointer self);
    static gboolean on_tick(gpointer self);
    static void on_destroy(GtkWidget* window, gpointer self);

    DeviceLook now_;
    FaceLayout layout_;
    GtkWidget* face_ = nullptr;
    GtkWidget* message_ = nullptr;
    std::unique_ptr<CallPanel> panel_;
    std::unique_ptr<DeviceWatch> watch_;
    SourceId tick_;
    std::function<void()> closed_;
};

PhoneWindow::PhoneWindow(int zoom, std::function<void()> closed) : now_(look()), closed_(std::move(closed))
{
    if (zoom == 0)
        zoom = now_.screen.dpi >= 192 ? 1 : 2;
    layout_ = face_layout(now_.screen.width, now_.screen.height, zoom);
    build();
    watch_ = std::make_unique<DeviceWatch>([this] { refresh(); });
    refresh();
}

void PhoneWindow::build()
{
    GtkWidget* window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), ("phone: " + wince::device::root().string()).c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    g_signal_connect(window, "destroy", G_CALLBACK(on_destroy), this);

    face_ = gtk_drawing_area_new();
    gtk_drawing_area_set_content_width(GTK_DRAWING_AREA(face_), layout_.face.width);
    gtk_drawing_area_set_content_height(GTK_DRAWING_AREA(face_), layout_.face.height);
    gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(face_), draw, this, nullptr);
    gtk_widget_set_focusable(face_, TRUE);
    gtk_widget_set_valign(face_, GTK_ALIGN_START);
    GtkGesture* clicks = gtk_gesture_click_new();
    g_signal_connect(clicks, "pressed", G_CALLBACK(on_pressed), this);
    gtk_widget_add_controller(face_, GTK_EVENT_CONTROLLER(clicks));
    GtkEventController* keys = gtk_event_controller_key_new();
    g_signal_connect(keys, "key-pressed", G_CALLBACK(on_key), this);
    gtk_widget_add_controller(face_, keys);

    panel_ = std::make_unique<CallPanel>([this](const std::string& text) { report(text); });
    message_ = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(message_), 0);
    gtk_label_set_wrap(GTK_LABEL(message_), TRUE);
    gtk_box_append(GTK_BOX(panel_->widget()), message_);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_append(GTK_BOX(row), face_);
    gtk_box_append(GTK_BOX(row), panel_->widget());
    gtk_window_set_child(GTK_WINDOW(window), row);
    gtk_widget_grab_focus(face_);
    gtk_window_present(GTK_WINDOW(window));
}

void PhoneWindow::refresh()
{
    try {
        now_ = look();
    } catch (const std::exception& failure) {
        report(std::string("cannot read the device: ") + failure.what());
    }
    panel_->show(now_.panel);
    gtk_widget_queue_draw(face_);
    tick_while_connected();
}

void PhoneWindow::tick_while_connected()
{
    if (call_connected(now_) && !tick_.active())
        tick_.set(g_timeout_add_seconds(1, on_tick, this));
    else if (!call_connected(now_))
        tick_.clear();
}

gboolean PhoneWindow::on_tick(gpointer self)
{
    auto* window = static_cast<PhoneWindow*>(self);
    window->now_.panel.device_time = wince::clock::now();
    window->panel_->show(window->now_.panel);
    return G_SOURCE_CONTINUE;
}

void PhoneWindow::on_destroy(GtkWidget*, gpointer self)
{
    // Nothing may draw into the widgets that are going.
    auto* window = static_cast<PhoneWindow*>(self);
    window->watch_.reset();
    window->tick_.clear();
    window->closed_();
}

void PhoneWindow::report(const std::string& text) { gtk_label_set_text(GTK_LABEL(message_), text.c_str()); }

void PhoneWindow::send_key(const std::string& name)
{
    try {
        press_key(key_named(name));
        report("");
    } catch (const std::exception& failure) {
        report(failure.what());
    }
}

void PhoneWindow::press(FaceKey key)
{
    switch (key) {
    case FaceKey::soft_left: return send_key("F1");
    case FaceKey::soft_right: return send_key("F2");
    case FaceKey::up: return send_key("UP");
    case FaceKey::down: return send_key("DOWN");
    case FaceKey::left: return send_key("LEFT");
    case FaceKey::right: return send_key("RIGHT");
    case FaceKey::action: return send_key("RETURN");
    case FaceKey::volume_up: return send_key("TVOLUMEUP");
    case FaceKey::volume_down: return send_key("TVOLUMEDOWN");
    case FaceKey::talk: return talk();
    case FaceKey::end: return end();
    }
}

// The phone answers a ringing incoming call itself, as a phone's talk key
// does whatever program is in front; the key then reaches that program too.
void PhoneWindow::talk()
{
    std::string done = "No call is ringing";
    try {
        for (const auto& call : wince::tapi::radio::calls())
            if (calls::ringing(call) && !call.outbound) {
                calls::answer(call.id);
                done = "Answered call " + std::to_string(call.id);
                break;
            }
        press_key(key_named("TTALK"));
    } catch (const std::exception& failure) {
        if (done.rfind("Answered", 0) != 0)
            done = failure.what();
    }
    report(done);
}

// The end key drops the connected call, else turns away a ringing one.
void PhoneWindow::end()
{
    std::string done = "No call to end";
    try {
        std::optional<calls::Call> target;
        for (const auto& call : wince::tapi::radio::calls())
            if (call.state == LINECALLSTATE_CONNECTED || (!target && calls::ringing(call)))
                target = call;
        if (target) {
            calls::drop(target->id);
            done = "Dropped call " + std::to_string(target->id);
        }
        press_key(key_named("TEND"));
    } catch (const std::exception& failure) {
        if (done.rfind("Dropped", 0) != 0)
            done = failure.what();
    }
    report(done);
}

void PhoneWindow::click(double x, double y)
{
    gtk_widget_grab_focus(face_);
    if (const auto key = layout_.key_at(x, y))
        return press(*key);
    const auto pixel = layout_.screen_pixel(x, y);
    if (!pixel)
        return;
    try {
        tap_at(pixel->first, pixel->second);
        report("");
    } catch (const std::exception& failure) {
        report(failure.what());
    }
}

void PhoneWindow::on_pressed(GtkGestureClick*, int, double x, double y, gpointer self)
{
    static_cast<PhoneWindow*>(self)->click(x, y);
}

gboolean PhoneWindow::on_key(GtkEventControllerKey*, guint keyval, guint, GdkModifierType, gpointer self)
{
    auto* window = static_cast<PhoneWindow*>(self);
    if (keyval == GDK_KEY_F3)
        window->talk();
    else if (keyval == GDK_KEY_F4)
        window->end();
    else if (const auto name = device_key(keyval))
        window->send_key(*name);
    else
        return FALSE;
    return TRUE;
}

void PhoneWindow::draw(GtkDrawingArea*, cairo_t* cr, int, int, gpointer self)
{
    const auto* window = static_cast<PhoneWindow*>(self);
    draw_face(cr, window->layout_, window->now_.screen, {window->now_.vibrating, window->now_.led});
}

} // namespace

void run_window(int zoom)
{
    if (!gtk_init_check())
        throw Failure("cannot open a window: no display (is DISPLAY or WAYLAND_DISPLAY set?)");
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> held(loop, g_main_loop_unref);
    PhoneWindow window(zoom, [loop] { g_main_loop_quit(loop); });
    g_main_loop_run(loop);
}

} // namespace phone
