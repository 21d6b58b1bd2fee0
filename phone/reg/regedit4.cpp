// REGEDIT4 reading and writing.  Files are UTF-8; string, multi-string and
// other data that a quoted string cannot carry exactly go out as hex of the
// stored bytes, so an export imports back to the same hive.
#include "reg/regedit4.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

#include <windows.h>

#include "parsing.h"
#include "device/device.h"
#include "registry/value_data.h"

namespace phone::regedit4 {
namespace {

namespace device = wince::device;
namespace registry = wince::registry;

using Bytes = std::vector<unsigned char>;

// ---- writing ----------------------------------------------------------------

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Hex data as regedit writes it: comma-separated bytes, lines wrapped
// before 80 columns with a backslash.
std::string hex_data(const std::string& prefix, const Bytes& data)
{
    std::string out = prefix;
    size_t line_start = 0;
    char two[3];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(two, sizeof two, "%02x", data[i]);
        out += two;
        if (i + 1 < data.size()) {
            out += ',';
            if (out.size() - line_start > 75) {
                out += "\\\n  ";
                line_start = out.size() - 2;
            }
        }
    }
    return out;
}

bool plain_string(const Bytes& data)
{
    const auto strings = registry::strings_of(data);
    if (strings.size() != 1 || registry::string_bytes(strings[0]) != data)
        return false;
    return std::none_of(strings[0].begin(), strings[0].end(), [](wchar_t c) { return c < 0x20; });
}

std::string format_value(const registry::Value& value)
{
    const std::string name = value.name.empty() ? "@" : quoted(device::narrow(value.name));
    if (value.type == REG_SZ && plain_string(value.data))
        return name + "=" + quoted(device::narrow(registry::strings_of(value.data)[0]));
    if (value.type == REG_DWORD && value.data.size() == 4) {
        uint32_t n;
        std::memcpy(&n, value.data.data(), 4);
        char text[16];
        std::snprintf(text, sizeof text, "%08x", n);
        return name + "=dword:" + text;
    }
    if (value.type == REG_BINARY)
        return hex_data(name + "=hex:", value.data);
    char type[16];
    std::snprintf(type, sizeof type, "%x", value.type);
    return hex_data(name + "=hex(" + type + "):", value.data);
}

// ---- reading ----------------------------------------------------------------

struct LineError : Failure {
    LineError(size_t line, const std::string& what) : Failure("ERROR: line " + std::to_string(line) + ": " + what) {}
};

bool all_hex(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

Bytes hex_bytes(const std::string& text, size_t line)
{
    auto bytes = parse_hex_bytes(text);
    if (!bytes)
        throw LineError(line, "bad hex data '" + text + "'");
    return *bytes;
}

// A quoted string at `at` with \\ and \" escapes; moves `at` past it.
std::string unquote(const std::string& text, size_t& at, size_t line)
{
    if (at >= text.size() || text[at] != '"')
        throw LineError(line, "expected a quoted string");
    std::string out;
    for (++at; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 1 < text.size())
            out += text[++at];
        else if (text[at] == '"')
            return ++at, out;
        else
            out += text[at];
    }
    throw LineError(line, "unterminated string");
}

// The data after '=': a quoted string, dword:, hex: or hex(TYPE):.
void parse_data(const std::string& data, size_t line, registry::Value& value)
{
    if (!data.empty() && data[0] == '"') {
        size_t at = 0;
        value.type = REG_SZ;
        value.data = registry::string_bytes(device::widen(unquote(data, at, line)));
    } else if (data.rfind("dword:", 0) == 0) {
        const std::string digits = data.substr(6);
        if (digits.empty() || digits.size() > 8 || !all_hex(digits))
            throw LineError(line, "bad dword '" + digits + "'");
        const auto n = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
        value.type = REG_DWORD;
        value.data.resize(4);
        std::memcpy(value.data.data(), &n, 4);
    } else if (data.rfind("hex:", 0) == 0) {
        value.type = REG_BINARY;
        value.data = hex_bytes(data.substr(4), line);
    } else if (const size_t close = data.find("):"); data.rfind("hex(", 0) == 0 && close != std::string::npos) {
        const std::string type = data.substr(4, close - 4);
        if (type.empty() || type.size() > 8 || !all_hex(type))
            throw LineError(line, "bad type in '" + data.substr(0, close + 2) + "'");
        value.type = static_cast<uint32_t>(std::stoul(type, nullptr, 16));
        value.data = hex_bytes(data.substr(close + 2), line);
    } else {
        throw LineError(line, "cannot read the data '" + data + "'");
    }
}

ValueLine parse_value_line(const std::string& text, size_t line)
{
    ValueLine parsed;
    parsed.line = line;
    size_t at = 0;
    if (text[0] == '@')
        at = 1;
    else
        parsed.value.name = device::widen(unquote(text, at, line));
    if (at >= text.size() || text[at] != '=')
        throw LineError(line, "expected '=' after the value name");
    const std::string data = text.substr(at + 1);
    if (data == "-")
        parsed.remove = true;
    else
        parse_data(data, line, parsed.value);
    return parsed;
}

// Text that a registry name or string can carry whole: UTF-8 without NUL
// (a NUL would end the string early, a bad byte would turn into U+FFFD).
// Empty when it can, else what is wrong with it.
std::string text_fault(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0)
            return "a NUL character";
        if (c < 0x80) {
            ++i;
            continue;
        }
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        if (length == 0 || c > 0xF4 || i + length > text.size())
            return "text that is not valid UTF-8";
        char32_t code = c & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return "text that is not valid UTF-8";
            code = code << 6 | (next & 0x3F);
        }
        static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return "text that is not valid UTF-8";
        i += length;
    }
    return {};
}

// Logical lines: hex data continued with a trailing backslash is joined.
std::vector<std::pair<size_t, std::string>> logical_lines(std::istream& in)
{
    std::vector<std::pair<size_t, std::string>> lines;
    std::string raw;
    size_t number = 0;
    bool continuing = false;
    while (std::getline(in, raw)) {
        ++number;
        while (!raw.empty() && (raw.back() == '\r' || raw.back() == ' ' || raw.back() == '\t'))
            raw.pop_back();
        if (continuing) {
            raw.erase(0, raw.find_first_not_of(" \t"));
            lines.back().second += raw;
        } else {
            lines.emplace_back(number, raw);
        }
        std::string& last = lines.back().second;
        continuing = !last.empty() && last.back() == '\\' && last.find("=hex") != std::string::npos;
        if (continuing)
            last.pop_back();
    }
    return lines;
}

} // namespace

std::string format_section(const std::string& path, const std::vector<registry::Value>& values)
{
    std::string out = "[" + path + "]\n";
    for (const auto& value : values)
        out += format_value(value) + "\n";
    return out + "\n";
}

std::vector<Section> parse(std::istream& in, const std::string& name)
{
    const auto lines = logical_lines(in);
    auto first = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return !l.second.empty(); });
    if (first == lines.end())
        throw Failure("ERROR: " + name + " is empty");
    std::string first_line = first->second;
    if (first_line.rfind("\xEF\xBB\xBF", 0) == 0)
        first_line.erase(0, 3);
    if (first_line != header)
        throw Failure("ERROR: " + name + " is not a REGEDIT4 file");

    std::vector<Section> sections;
    for (auto it = std::next(first); it != lines.end(); ++it) {
        const auto& [number, text] = *it;
        if (text.empty() || text[0] == ';')
            continue;
        if (const std::string fault = text_fault(text); !fault.empty())
            throw LineError(number, fault + ": the file cannot be imported as it stands");
        if (text[0] == '[') {
            if (text.back() != ']')
                throw LineError(number, "unterminated key name");
            Section section;
            section.line = number;
            section.key = text.substr(1, text.size() - 2);
            if (!section.key.empty() && section.key[0] == '-') {
                section.remove = true;
                section.key.erase(0, 1);
            }
            sections.push_back(std::move(section));
            continue;
        }
        if (sections.empty() || sections.back().remove)
            throw LineError(number, "a value outside any key");
        sections.back().values.push_back(parse_value_line(text, number));
    }
    return sections;
}

} // namespace phone::regedit4
