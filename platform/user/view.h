// The views of this process's top-level windows as the screen shows them
// (screen_model.h), published with the window registry.
#pragma once

namespace wince::user {

// Rebuilds the views of every top-level window of the process and
// publishes them.  Call without the kernel lock.
void publish_views();

} // namespace wince::user
