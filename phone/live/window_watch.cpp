// The device's folders that the window shows: the device folder itself (its
// configuration, and run/ made anew at boot), run/ (the radio's calls, the
// drivers' backlight, LEDs and vibrator, the audio volume) and the screen's
// windows.  A boot removes run/ with its monitors, so a new run/ or a new
// windows folder makes the watch start over.
#include "live/window_watch.h"

#include <memory>
#include <string>

#include "device/clock.h"
#include "device/device.h"
#include "user/screen_model.h"

namespace phone {
namespace {

bool ends_with(const std::string& name, const std::string& tail)
{
    return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
}

// Lock and scratch files come and go with every write and are no news.
bool scratch(const std::string& name)
{
    return ends_with(name, ".lock") || ends_with(name, ".new") || ends_with(name, ".tmp") || name == "guard";
}

} // namespace

DeviceWatch::DeviceWatch(std::function<void()> changed) : changed_(std::move(changed)) { watch_all(); }

void DeviceWatch::watch_all()
{
    monitors_.clear();
    watch(wince::device::root());
    watch(wince::device::run_dir());
    watch(wince::screen::watch_dir());
}

void DeviceWatch::watch(const std::filesystem::path& dir)
{
    // A folder not made yet is watched once its parent sees it made; GLib
    // would otherwise look for it every few seconds.
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error))
        return;
    GObjectPtr<GFile> file(g_file_new_for_path(dir.c_str()));
    GFileMonitor* monitor = g_file_monitor_directory(file.get(), G_FILE_MONITOR_WATCH_MOVES, nullptr, nullptr);
    if (!monitor)
        return;
    g_object_set_data_full(G_OBJECT(monitor), "dir", g_strdup(dir.c_str()), g_free);
    g_signal_connect(monitor, "changed", G_CALLBACK(on_changed), this);
    monitors_.emplace_back(monitor);
}

void DeviceWatch::on_changed(GFileMonitor* monitor, GFile* file, GFile* other, GFileMonitorEvent event, gpointer self)
{
    // A rename within the folder (how the device's files are replaced) is
    // news about its new name.
    GFile* named = event == G_FILE_MONITOR_EVENT_RENAMED && other ? other : file;
    std::unique_ptr<char, decltype(&g_free)> name(g_file_get_basename(named), g_free);
    const char* dir = static_cast<const char*>(g_object_get_data(G_OBJECT(monitor), "dir"));
    static_cast<DeviceWatch*>(self)->notice(dir ? dir : "", name ? name.get() : "", event);
}

void DeviceWatch::notice(const std::filesystem::path& dir, const std::string& name, GFileMonitorEvent event)
{
    if (event == G_FILE_MONITOR_EVENT_ATTRIBUTE_CHANGED || scratch(name))
        return;
    if (dir == wince::device::root() && name != "run" && name != "device.json")
        return; // the event log and the registry change with every step
    // This process outlives the device's boots and changes of configuration
    // (its clock rate), which its programs never do.
    if (dir == wince::device::run_dir() && name == "clock")
        wince::clock::forget_boot();
    if (dir == wince::device::root() && name == "device.json")
        wince::device::set_root(wince::device::root());
    const bool folder_made = event == G_FILE_MONITOR_EVENT_CREATED || event == G_FILE_MONITOR_EVENT_MOVED_IN;
    if (folder_made && (name == "run" || dir / name == wince::screen::watch_dir()))
        rewatch_ = true;
    if (event == G_FILE_MONITOR_EVENT_DELETED && name == "run")
        rewatch_ = true;
    if (!pending_.active())
        pending_.set(g_idle_add(on_idle, this));
}

gboolean DeviceWatch::on_idle(gpointer self)
{
    auto* watch = static_cast<DeviceWatch*>(self);
    watch->pending_.forget();
    if (watch->rewatch_) {
        watch->rewatch_ = false;
        watch->watch_all();
    }
    watch->changed_();
    return G_SOURCE_REMOVE;
}

} // namespace phone
