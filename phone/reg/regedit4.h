// REGEDIT4 files, the text form `phone reg export` writes and `phone reg
// import` reads.  Pure text handling: the writer formats values it is given,
// the reader turns a whole file into sections without touching the
// registry, so an import can refuse a bad file before it changes anything.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "registry/hive.h"

namespace phone::regedit4 {

// One "name=data" line of a file: a value to set, or one to delete ("-").
struct ValueLine {
    size_t line = 0;
    wince::registry::Value value;
    bool remove = false;
};

// A "[KEY]" (or "[-KEY]") line and the value lines below it.
struct Section {
    size_t line = 0;
    std::string key; // as written, "HKEY_LOCAL_MACHINE\\Software\\Apps"
    bool remove = false;
    std::vector<ValueLine> values;
};

// The file's first line.
inline constexpr const char* header = "REGEDIT4";

// "[path]", the key's values one per line, then a blank line.
std::string format_section(const std::string& path, const std::vector<wince::registry::Value>& values);

// Every section of the file `name` (named in errors) read from `in`.
// Throws phone::Failure naming the line of the first error.
std::vector<Section> parse(std::istream& in, const std::string& name);

} // namespace phone::regedit4
