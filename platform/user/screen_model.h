// The device's screen as a model that other processes read: what the phone
// shows right now, in device pixels, composed from the top-level windows
// that each process publishes (run/windows/<pid>.json, rewritten atomically
// on every change of its windows, controls, menus and message boxes).
//
// The screen shows its foreground window (the topmost visible top-level
// window): a title bar (with an "ok" button when the window asked for one),
// the window's controls between the title bar and the soft-key bar, the soft
// keys, and on top an open menu or a message box.  When the foreground is a
// menu or a message box, the window beneath it is the base of the picture.
// With no visible window the screen is dark.  The phone composes its own
// screens (home, incoming call, in call) from this one and the device's
// state: those carry an owner and the marks of the status bar.
//
// Readers that redraw on change watch watch_dir() with inotify
// (IN_CLOSE_WRITE, IN_MOVED_TO, IN_DELETE) and call current() again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wince::screen {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

// An icon's pixels, decoded from the program's own icon resource: rows top
// to bottom, 4 bytes per pixel in the order R, G, B, A (A 0 transparent).
struct Icon {
    int resource = 0;   // the icon group's ordinal (SS_ICON's resource id)
    std::string module{}; // device path of the program that carries it
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;
    bool operator==(const Icon&) const = default;
};

struct Control {
    int id = -1;            // the control id; -1 for IDC_STATIC (0xFFFF)
    std::string kind{};       // "BUTTON", "STATIC" or "COMBOBOX"
    std::string text{};       // a combo box: the text of its edit part
    Rect rect{};              // on the screen; a combo box without its list
    bool focused = false;
    bool bold = false;
    int font_height = 0;    // character height in pixels
    std::string face{};       // the font's face name
    std::string align{};      // "left" or "center"
    std::optional<bool> checked{};     // check boxes
    std::vector<std::string> items{};  // combo boxes
    int selection = -1;              // combo boxes: -1 when none
    bool dropped = false;            // combo box with its list open
    bool notify = false;             // STATIC with SS_NOTIFY: a tap reaches it
    std::optional<Icon> icon{};        // SS_ICON
    bool operator==(const Control&) const = default;
};

struct SoftKey {
    std::string label{};
    bool popup = false; // opens a menu
    Rect rect{};
    bool operator==(const SoftKey&) const = default;
};

struct Menu {
    uint32_t pid = 0;  // the menu's own window, which takes its keys and taps
    uint64_t hwnd = 0;
    std::vector<std::string> items{};
    int highlighted = 0;
    Rect rect{};
    bool operator==(const Menu&) const = default;
};

struct MessageBoxView {
    uint32_t pid = 0;  // the box's own window, which takes its keys and taps
    uint64_t hwnd = 0;
    std::string text{};
    std::string caption{};
    uint32_t type = 0; // MB_ flags as the program passed them
    Rect rect{};
    bool operator==(const MessageBoxView&) const = default;
};

// The marks of the phone's status bar, at the right of its title bar.
struct StatusBar {
    int signal = 0;      // bars of the radio's signal, 0 to 4
    int battery = 100;   // charge in percent
    std::string clock{}; // the time as the bar shows it
    bool operator==(const StatusBar&) const = default;
};

struct Screen {
    int width = 240;  // device pixels
    int height = 320;
    int dpi = 96;
    bool dark = true; // no visible window: nothing below is set
    std::string title{};
    uint32_t pid = 0;
    uint64_t hwnd = 0; // the base window (a dialog under its message box)
    bool ok_button = false;
    Rect title_bar{};
    Rect ok{};          // the "ok" button inside the title bar, when shown
    Rect client{};      // between title bar and soft-key bar
    Rect softkey_bar{};
    std::vector<Control> controls{}; // in template (tab) order
    std::vector<SoftKey> softkeys{}; // left to right
    std::optional<Menu> menu{};
    std::optional<MessageBoxView> messagebox{};
    // Empty for a program's window; "phone" for the phone's own screens,
    // which no program publishes (pid and hwnd 0), with their kind ("home",
    // "incoming", "call") and status bar.
    std::string owner{};
    std::string kind{};
    std::optional<StatusBar> status_bar{};
    bool operator==(const Screen&) const = default;
};

nlohmann::json to_json(const Screen& screen);
// Fields missing or of the wrong type keep their defaults.
Screen from_json(const nlohmann::json& j);

// Where the parts of a dropped list or an open menu lie on the screen: the
// one reckoning that both the pictures and the stylus use, so that a tap
// lands on what is drawn there.
struct ListGeometry {
    Rect frame{};             // the list with its one-pixel frame
    std::vector<Rect> items{}; // one row per item, top to bottom
};
// A dropped combo box's list: under the box, as wide as it, one row per
// item; above the box when it does not fit between the box and the soft-key
// bar, and against that bar when it fits on neither side.
ListGeometry dropped_list(const Screen& screen, const Control& combo);
// The rows of an open menu's items inside its rect.
std::vector<Rect> menu_items(const Screen& screen, const Menu& menu);

bool contains(const Rect& r, int x, int y);

// The screen of the current device as it is now.
Screen current();

// The folder whose changes mean the screen may have changed.
std::filesystem::path watch_dir();

} // namespace wince::screen
