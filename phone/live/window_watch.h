// What wakes the phone's window: changes of the device's folders, seen by
// GLib's file monitors (inotify), never by reading them on a timer.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include <gio/gio.h>

#include "live/gtk_handles.h"

namespace phone {

class DeviceWatch {
public:
    // `changed` runs in the main loop, once for a burst of changes.
    explicit DeviceWatch(std::function<void()> changed);
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

private:
    void watch_all();
    void watch(const std::filesystem::path& dir);
    void notice(const std::filesystem::path& dir, const std::string& name, GFileMonitorEvent event);
    static void on_changed(GFileMonitor* monitor, GFile* file, GFile* other, GFileMonitorEvent event, gpointer self);
    static gboolean on_idle(gpointer self);

    std::function<void()> changed_;
    std::vector<GObjectPtr<GFileMonitor>> monitors_;
    bool rewatch_ = false;
    SourceId pending_; // the coalesced call of changed_
};

} // namespace phone
