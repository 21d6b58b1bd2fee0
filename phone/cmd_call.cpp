#include "common.h"

namespace phone {

void add_call_commands(CLI::App&) {}

} // namespace phone
