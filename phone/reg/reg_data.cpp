// Registry data as reg.exe's command line gives and prints it.
#include "reg/reg_data.h"

#include <cstdio>
#include <cstring>

#include <windows.h>

#include "device/device.h"
#include "parsing.h"
#include "registry/value_data.h"

namespace phone {
namespace {

namespace device = wince::device;
namespace registry = wince::registry;

using Bytes = std::vector<unsigned char>;

std::string hex_upper(const Bytes& data)
{
    std::string text;
    char two[3];
    for (unsigned char b : data) {
        std::snprintf(two, sizeof two, "%02X", b);
        text += two;
    }
    return text;
}

Bytes binary_data(const std::string& text)
{
    auto bytes = parse_hex_bytes(text);
    if (!bytes)
        throw Failure("ERROR: Invalid binary data '" + text + "'");
    return *bytes;
}

std::vector<std::wstring> split(const std::string& text, const std::string& separator)
{
    std::vector<std::wstring> parts;
    if (text.empty())
        return parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        parts.push_back(device::widen(text.substr(start, at == std::string::npos ? std::string::npos : at - start)));
        if (at == std::string::npos)
            break;
        start = at + separator.size();
    }
    return parts;
}

} // namespace

std::string display(const registry::Value& value)
{
    const auto& d = value.data;
    if ((value.type == REG_DWORD || value.type == REG_DWORD_BIG_ENDIAN) && d.size() == 4) {
        uint32_t n;
        std::memcpy(&n, d.data(), 4);
        if (value.type == REG_DWORD_BIG_ENDIAN)
            n = __builtin_bswap32(n);
        char text[16];
        std::snprintf(text, sizeof text, "0x%x", n);
        return text;
    }
    if (value.type == REG_QWORD && d.size() == 8) {
        unsigned long long n;
        std::memcpy(&n, d.data(), 8);
        char text[24];
        std::snprintf(text, sizeof text, "0x%llx", n);
        return text;
    }
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
        const auto strings = registry::strings_of(d);
        return strings.empty() ? std::string() : device::narrow(strings.front());
    }
    if (value.type == REG_MULTI_SZ) {
        std::string text;
        for (const auto& s : registry::strings_of(d))
            text += (text.empty() ? "" : "\\0") + device::narrow(s);
        return text;
    }
    return hex_upper(d);
}

Bytes data_for(uint32_t type, const std::string& text, const std::string& separator)
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return registry::string_bytes(device::widen(text));
    case REG_MULTI_SZ:
        return registry::multi_string_bytes(split(text, separator));
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        const uint64_t n = text.empty() ? 0 : parse_number(text, "REG_DWORD data");
        if (n > 0xFFFFFFFFull)
            throw Failure("ERROR: REG_DWORD data out of range: " + text);
        uint32_t value = static_cast<uint32_t>(n);
        if (type == REG_DWORD_BIG_ENDIAN)
            value = __builtin_bswap32(value);
        Bytes bytes(4);
        std::memcpy(bytes.data(), &value, 4);
        return bytes;
    }
    case REG_QWORD: {
        const uint64_t n = text.empty() ? 0 : parse_number(text, "REG_QWORD data");
        Bytes bytes(8);
        std::memcpy(bytes.data(), &n, 8);
        return bytes;
    }
    default:
        return binary_data(text);
    }
}

} // namespace phone
