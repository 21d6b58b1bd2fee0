// What the registry API keeps per process, for the platform's own checks.
#pragma once

#include <cstddef>

namespace wince::registry {

// Key handles this process holds open (for leak checks).
size_t open_handle_count();

} // namespace wince::registry
