#include "common.h"

namespace phone {

void add_device_commands(CLI::App&) {}

} // namespace phone
