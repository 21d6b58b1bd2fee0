#include "common.h"

namespace phone {

void add_status_commands(CLI::App&) {}

} // namespace phone
