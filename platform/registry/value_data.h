// Registry value data for the platform's own tools (phone reg, the event
// log): names of value types, a readable form of value data, and strings
// laid out as the registry stores them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace wince::registry {

// "REG_DWORD" for 4; unknown types give their number in decimal.
std::string type_name(uint32_t type);
// The inverse, for the names of the SDK; nullopt for anything else.
std::optional<uint32_t> type_from_name(std::string_view name);

// The data as the event log shows it: a number for a 4-byte REG_DWORD, a
// string for REG_SZ and REG_EXPAND_SZ (host wchar_t up to the terminator),
// an array of strings for REG_MULTI_SZ, lowercase hex otherwise.
nlohmann::json data_as_json(uint32_t type, std::span<const unsigned char> data);

// Strings as the registry stores them: host wchar_t bytes, terminator
// included (REG_MULTI_SZ: each string terminated, then one more terminator).
std::vector<unsigned char> string_bytes(std::wstring_view text);
std::vector<unsigned char> multi_string_bytes(const std::vector<std::wstring>& strings);
// The strings of REG_SZ / REG_MULTI_SZ data; a missing terminator is tolerated.
std::vector<std::wstring> strings_of(std::span<const unsigned char> data);

} // namespace wince::registry
