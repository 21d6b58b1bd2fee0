// What the registry API keeps per process, for the platform's own checks.
#pragma once

#include <cstddef>
#include <string>

namespace wince::registry {

// Key handles this process holds open (for leak checks).
size_t open_handle_count();

// When this thread's last registry call failed because of the hive itself
// (damaged, locked, read-only, on a full disk), what happened to it
// ("registry hive DIR/registry.db is damaged: ..."); empty otherwise.
std::string last_hive_failure();

} // namespace wince::registry
