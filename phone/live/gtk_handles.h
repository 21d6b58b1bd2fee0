// Ownership of what the phone's window takes from GLib and GTK: objects it
// holds a reference to, and event sources it has added to the main loop.
#pragma once

#include <memory>

#include <glib-object.h>

namespace phone {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// A main-loop source (a timeout, an idle call), removed when the holder
// ends or is cleared.
class SourceId {
public:
    SourceId() = default;
    ~SourceId() { clear(); }
    SourceId(const SourceId&) = delete;
    SourceId& operator=(const SourceId&) = delete;

    void set(guint id)
    {
        clear();
        id_ = id;
    }
    // For a source that has ended itself (its callback returned FALSE).
    void forget() { id_ = 0; }
    void clear()
    {
        if (id_ != 0)
            g_source_remove(id_);
        id_ = 0;
    }
    bool active() const { return id_ != 0; }

private:
    guint id_ = 0;
};

} // namespace phone
