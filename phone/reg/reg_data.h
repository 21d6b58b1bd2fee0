// Registry data as reg.exe writes it on its command line and prints it:
// the text given with /d, read by the value's type ("0x10", "a\\0b",
// "01ff"), and a stored value shown the way `reg query` shows it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "registry/hive.h"

namespace phone {

// The bytes of `text` given as data of `type`; REG_MULTI_SZ's strings are
// parted by `separator`.  Throws Failure when the text is no such data.
std::vector<unsigned char> data_for(uint32_t type, const std::string& text, const std::string& separator);

// A stored value as `reg query` prints it: numbers in hex, strings as
// they are, anything else as hex bytes.
std::string display(const wince::registry::Value& value);

} // namespace phone
