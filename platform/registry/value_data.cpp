// Registry value data as the platform's tools show and build it: the names
// of the value types, the readable form the event log and `phone reg` print,
// and the byte layout of string data.  Plain functions over bytes; nothing
// here touches the hive.
#include "registry/value_data.h"

#include <cstring>

#include <windows.h>

#include "device/device.h"

namespace wince::registry {
namespace {

struct TypeName {
    uint32_t type;
    const char* name;
};
constexpr TypeName type_names[] = {
    {REG_NONE, "REG_NONE"},         {REG_SZ, "REG_SZ"},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"},       {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, "REG_LINK"},         {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_QWORD, "REG_QWORD"},
};

std::string hex(std::span<const unsigned char> data)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : data) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

} // namespace

std::string type_name(uint32_t type)
{
    for (const auto& entry : type_names)
        if (entry.type == type)
            return entry.name;
    return std::to_string(type);
}

std::optional<uint32_t> type_from_name(std::string_view name)
{
    for (const auto& entry : type_names)
        if (name == entry.name)
            return entry.type;
    return std::nullopt;
}

std::vector<std::wstring> strings_of(std::span<const unsigned char> data)
{
    std::vector<std::wstring> strings;
    std::wstring current;
    for (size_t at = 0; at + sizeof(wchar_t) <= data.size(); at += sizeof(wchar_t)) {
        wchar_t c;
        std::memcpy(&c, data.data() + at, sizeof c);
        if (c == L'\0') {
            if (current.empty() && !strings.empty())
                return strings; // the list's closing terminator
            strings.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        strings.push_back(std::move(current));
    return strings;
}

nlohmann::json data_as_json(uint32_t type, std::span<const unsigned char> data)
{
    if (type == REG_DWORD && data.size() == 4) {
        DWORD number;
        std::memcpy(&number, data.data(), 4);
        return number;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        auto strings = strings_of(data);
        return strings.empty() ? std::string() : device::narrow(strings.front());
    }
    if (type == REG_MULTI_SZ) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& s : strings_of(data))
            list.push_back(device::narrow(s));
        return list;
    }
    return hex(data);
}

std::vector<unsigned char> string_bytes(std::wstring_view text)
{
    std::vector<unsigned char> bytes((text.size() + 1) * sizeof(wchar_t), 0);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
    return bytes;
}

std::vector<unsigned char> multi_string_bytes(const std::vector<std::wstring>& strings)
{
    std::vector<unsigned char> bytes;
    for (const auto& s : strings) {
        auto one = string_bytes(s);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    bytes.resize(bytes.size() + sizeof(wchar_t), 0);
    return bytes;
}

} // namespace wince::registry
