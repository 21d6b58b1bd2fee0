// The device-wide registry of top-level windows: each process that has
// windows keeps run/windows/<pid>.json up to date, so other processes (the
// phone tool, FindWindowW) can find windows by class or title, the
// foreground window and where keys go.  A dead process's file is ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <windows.h>

namespace wince::user::toplevel {

struct Entry {
    uint32_t pid = 0;
    uint64_t hwnd = 0;
    std::string class_name;
    std::string title;
    bool visible = false;
    double created = 0; // device ms
    double raised = 0;  // device ms of the last move to the top
    uint64_t serial = 0; // creation order inside its process
    uint32_t thread = 0;
    uint64_t focus = 0; // the control that receives keys (0: the window itself)
    nlohmann::json details = nlohmann::json::object();
};

// Rewrites this process's file from its windows.  Call without the kernel lock.
void publish();

// Top-level windows of the device's live processes, topmost first.
std::vector<Entry> list();

// Pure choices over a list as list() returns it.
std::optional<Entry> topmost_visible(const std::vector<Entry>& windows);
// Keys go to the foreground window; with no visible window, to the most
// recently created one still alive.
std::optional<Entry> key_receiver(const std::vector<Entry>& windows);

std::optional<Entry> find(HWND hwnd);
std::optional<Entry> find_by_class(const std::string& class_name); // topmost of that class
std::optional<Entry> foreground();
std::optional<Entry> key_target();

nlohmann::json to_json(const Entry& entry);

} // namespace wince::user::toplevel
