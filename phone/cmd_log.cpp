#include "common.h"

namespace phone {

void add_log_commands(CLI::App&) {}

} // namespace phone
