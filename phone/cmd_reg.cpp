#include "common.h"

namespace phone {

void add_reg_commands(CLI::App&) {}

} // namespace phone
