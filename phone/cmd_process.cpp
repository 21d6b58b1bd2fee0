#include "common.h"

namespace phone {

void add_process_commands(CLI::App&) {}

} // namespace phone
