// phone reg: the device's registry with reg.exe's syntax and output, and
// REGEDIT4 files for export and import.  Files are written in UTF-8; string,
// multi-string and other data that a quoted string cannot carry exactly go
// out as hex of the stored bytes, so an export imports back to the same hive.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

#include "common.h"
#include "device/device.h"
#include "registry/hive.h"
#include "registry/registry.h"

namespace phone {
namespace {

namespace device = wince::device;
namespace registry = wince::registry;

using Bytes = std::vector<unsigned char>;

const char* const not_found = "ERROR: The system was unable to find the specified registry key or value.";

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// ---- keys -----------------------------------------------------------------

struct KeyName {
    HKEY root;
    std::string root_name; // the long form, as reg.exe prints it
    std::wstring path;     // below the root, may be empty

    std::string full() const
    {
        return path.empty() ? root_name : root_name + "\\" + device::narrow(path);
    }
};

KeyName parse_key(const std::string& text)
{
    const size_t slash = text.find('\\');
    const std::string root = upper(text.substr(0, slash));
    std::string rest = slash == std::string::npos ? "" : text.substr(slash + 1);
    while (!rest.empty() && rest.back() == '\\')
        rest.pop_back();
    if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE")
        return {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", device::widen(rest)};
    if (root == "HKCU" || root == "HKEY_CURRENT_USER")
        return {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", device::widen(rest)};
    throw Failure("ERROR: Invalid key name '" + text + "' (the device has HKLM and HKCU).");
}

// An open key, closed when it goes.
class Key {
public:
    Key() = default;
    explicit Key(HKEY handle) : handle_(handle) {}
    Key(Key&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Key& operator=(Key&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ~Key() { close(); }
    HKEY get() const { return handle_; }

private:
    void close()
    {
        if (handle_)
            RegCloseKey(handle_);
        handle_ = nullptr;
    }
    HKEY handle_ = nullptr;
};

Key open_key(const KeyName& name)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(name.root, name.path.c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
        throw Failure(not_found);
    return Key(handle);
}

Key create_key(HKEY root, const std::wstring& path)
{
    HKEY handle = nullptr;
    DWORD disposition = 0;
    const LONG result =
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, &disposition);
    if (result != ERROR_SUCCESS)
        throw Failure("ERROR: cannot create key \\" + device::narrow(path) + " (error " + std::to_string(result) + ")");
    return Key(handle);
}

std::vector<std::wstring> subkeys_of(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = 256;
        if (RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, cch);
    }
    return names;
}

std::vector<registry::Value> values_of(HKEY key)
{
    std::vector<registry::Value> values;
    DWORD max_name = 0, max_data = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &max_name, &max_data,
                     nullptr, nullptr);
    std::vector<wchar_t> name(max_name + 1);
    for (DWORD i = 0;; ++i) {
        registry::Value value;
        DWORD cch = static_cast<DWORD>(name.size());
        value.data.resize(std::max<DWORD>(max_data, 1));
        DWORD size = static_cast<DWORD>(value.data.size());
        if (RegEnumValueW(key, i, name.data(), &cch, nullptr, &value.type, value.data.data(), &size) !=
            ERROR_SUCCESS)
            break;
        value.name.assign(name.data(), cch);
        value.data.resize(size);
        values.push_back(std::move(value));
    }
    return values;
}

// ---- reg.exe arguments ----------------------------------------------------

struct RegArgs {
    std::string key;
    std::optional<std::string> value; // /v
    bool empty_value = false;         // /ve
    bool all_values = false;          // /va
    std::string type = "REG_SZ";      // /t
    std::optional<std::string> data;  // /d
    std::string separator = "\\0";    // /s (add)
    bool force = false;               // /f
    bool recurse = false;             // /s (query)
};

RegArgs parse_args(const std::vector<std::string>& args, bool separator_flag)
{
    RegArgs parsed;
    auto next = [&](size_t& i, const std::string& flag) -> std::string {
        if (i + 1 >= args.size())
            throw Failure("ERROR: " + flag + " needs a value");
        return args[++i];
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool is_flag = arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') && arg.find('\\') == std::string::npos;
        const std::string flag = is_flag ? upper(arg.substr(1)) : "";
        if (flag == "V")
            parsed.value = next(i, arg);
        else if (flag == "VE")
            parsed.empty_value = true;
        else if (flag == "VA")
            parsed.all_values = true;
        else if (flag == "T")
            parsed.type = upper(next(i, arg));
        else if (flag == "D")
            parsed.data = next(i, arg);
        else if (flag == "F")
            parsed.force = true;
        else if (flag == "S" && separator_flag)
            parsed.separator = next(i, arg);
        else if (flag == "S")
            parsed.recurse = true;
        else if (is_flag)
            throw Failure("ERROR: Invalid syntax: unknown switch " + arg);
        else if (parsed.key.empty())
            parsed.key = arg;
        else
            throw Failure("ERROR: Invalid syntax: unexpected argument '" + arg + "'");
    }
    if (parsed.key.empty())
        throw Failure("ERROR: Invalid syntax: a key name is needed");
    if (parsed.value && parsed.empty_value)
        throw Failure("ERROR: Invalid syntax: /v and /ve together");
    return parsed;
}

bool confirm(const std::string& question)
{
    std::printf("%s (Yes/No)? ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer))
        answer.clear();
    std::printf("\n");
    const std::string a = upper(answer);
    return a == "Y" || a == "YES";
}

// ---- data -----------------------------------------------------------------

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

Bytes parse_hex_digits(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != ',')
            digits += c;
    if (digits.size() % 2 || !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        throw Failure("ERROR: Invalid binary data '" + text + "'");
    Bytes bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
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
        return parse_hex_digits(text);
    }
}

// ---- query, add, delete ---------------------------------------------------

void print_value(const registry::Value& value)
{
    const std::string name = value.name.empty() ? "(Default)" : device::narrow(value.name);
    std::printf("    %s    %s    %s\n", name.c_str(), registry::type_name(value.type).c_str(), display(value).c_str());
}

void query_tree(HKEY key, const std::string& path, bool recurse)
{
    std::printf("%s\n", path.c_str());
    for (const auto& value : values_of(key))
        print_value(value);
    std::printf("\n");
    for (const auto& sub : subkeys_of(key)) {
        const std::string sub_path = path + "\\" + device::narrow(sub);
        if (!recurse) {
            std::printf("%s\n", sub_path.c_str());
            continue;
        }
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
            Key held(child);
            query_tree(child, sub_path, true);
        }
    }
}

void reg_query(const std::vector<std::string>& args)
{
    const RegArgs a = parse_args(args, false);
    const KeyName name = parse_key(a.key);
    Key key = open_key(name);
    if (a.value || a.empty_value) {
        const std::wstring value_name = a.value ? device::widen(*a.value) : L"";
        for (const auto& value : values_of(key.get())) {
            if (wince::registry::fold(value.name) == wince::registry::fold(value_name)) {
                std::printf("\n%s\n", name.full().c_str());
                print_value(value);
                std::printf("\n");
                return;
            }
        }
        throw Failure(not_found);
    }
    std::printf("\n");
    query_tree(key.get(), name.full(), a.recurse);
}

void reg_add(const std::vector<std::string>& args)
{
    const RegArgs a = parse_args(args, true);
    const KeyName name = parse_key(a.key);
    Key key = create_key(name.root, name.path);
    if (a.value || a.empty_value) {
        const auto type = registry::type_from_name(a.type);
        if (!type)
            throw Failure("ERROR: Invalid type '" + a.type + "'");
        const std::wstring value_name = a.value ? device::widen(*a.value) : L"";
        DWORD size = 0;
        const bool exists =
            RegQueryValueExW(key.get(), value_name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
        if (exists && !a.force &&
            !confirm("Value " + (a.value ? *a.value : std::string("(Default)")) + " exists, overwrite"))
            throw Failure("The operation was cancelled by the user.");
        const Bytes data = data_for(*type, a.data.value_or(""), a.separator);
        const LONG result = RegSetValueExW(key.get(), value_name.c_str(), 0, *type, data.data(),
                                           static_cast<DWORD>(data.size()));
        if (result != ERROR_SUCCESS)
            throw Failure("ERROR: cannot set the value (error " + std::to_string(result) + ")");
    }
    std::printf("The operation completed successfully.\n");
}

void reg_delete(const std::vector<std::string>& args)
{
    const RegArgs a = parse_args(args, false);
    const KeyName name = parse_key(a.key);
    Key key = open_key(name);
    if (a.value || a.empty_value) {
        const std::wstring value_name = a.value ? device::widen(*a.value) : L"";
        const std::string shown = a.value ? *a.value : "(Default)";
        if (!a.force && !confirm("Delete the registry value " + shown))
            throw Failure("The operation was cancelled by the user.");
        if (RegDeleteValueW(key.get(), value_name.c_str()) != ERROR_SUCCESS)
            throw Failure(not_found);
    } else if (a.all_values) {
        if (!a.force && !confirm("Delete all values under the registry key " + name.full()))
            throw Failure("The operation was cancelled by the user.");
        for (const auto& value : values_of(key.get()))
            RegDeleteValueW(key.get(), value.name.c_str());
    } else {
        if (name.path.empty())
            throw Failure("ERROR: a root key cannot be deleted");
        if (!a.force && !confirm("Delete the registry key " + name.full()))
            throw Failure("The operation was cancelled by the user.");
        const LONG result = RegDeleteKeyW(name.root, name.path.c_str());
        if (result != ERROR_SUCCESS)
            throw Failure("ERROR: cannot delete the key (error " + std::to_string(result) + ")");
    }
    std::printf("The operation completed successfully.\n");
}

// ---- REGEDIT4 export ------------------------------------------------------

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

std::string export_value(const registry::Value& value)
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

void export_tree(std::ostream& out, HKEY key, const std::string& path, bool always_header)
{
    const auto values = values_of(key);
    if (always_header || !values.empty()) {
        out << "[" << path << "]\n";
        for (const auto& value : values)
            out << export_value(value) << "\n";
        out << "\n";
    }
    for (const auto& sub : subkeys_of(key)) {
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS)
            continue;
        Key held(child);
        export_tree(out, child, path + "\\" + device::narrow(sub), true);
    }
}

void reg_export(const std::string& file, const std::string& key_text)
{
    std::ostringstream out;
    out << "REGEDIT4\n\n";
    if (key_text.empty()) {
        for (const auto& root : {parse_key("HKLM"), parse_key("HKCU")})
            export_tree(out, root.root, root.root_name, false);
    } else {
        const KeyName name = parse_key(key_text);
        Key key = open_key(name);
        export_tree(out, key.get(), name.full(), !name.path.empty());
    }
    std::ofstream stream(file, std::ios::trunc | std::ios::binary);
    stream << out.str();
    if (!stream.flush())
        throw Failure("ERROR: cannot write " + file);
    std::printf("The operation completed successfully.\n");
}

// ---- REGEDIT4 import ------------------------------------------------------

struct ImportError : Failure {
    ImportError(size_t line, const std::string& what)
        : Failure("ERROR: line " + std::to_string(line) + ": " + what)
    {
    }
};

// A quoted string at `at` with \\ and \" escapes; moves `at` past it.
std::string unquote(const std::string& line, size_t& at, size_t line_no)
{
    if (at >= line.size() || line[at] != '"')
        throw ImportError(line_no, "expected a quoted string");
    std::string text;
    for (++at; at < line.size(); ++at) {
        if (line[at] == '\\' && at + 1 < line.size())
            text += line[++at];
        else if (line[at] == '"')
            return ++at, text;
        else
            text += line[at];
    }
    throw ImportError(line_no, "unterminated string");
}

void import_value(HKEY key, const std::string& line, size_t line_no)
{
    size_t at = 0;
    std::wstring name;
    if (line[0] == '@')
        at = 1;
    else
        name = device::widen(unquote(line, at, line_no));
    if (at >= line.size() || line[at] != '=')
        throw ImportError(line_no, "expected '=' after the value name");
    const std::string data = line.substr(at + 1);
    LONG result;
    if (data == "-") {
        result = RegDeleteValueW(key, name.c_str());
        if (result == ERROR_FILE_NOT_FOUND)
            result = ERROR_SUCCESS;
    } else {
        uint32_t type;
        Bytes bytes;
        if (!data.empty() && data[0] == '"') {
            size_t s = 0;
            type = REG_SZ;
            bytes = registry::string_bytes(device::widen(unquote(data, s, line_no)));
        } else if (data.rfind("dword:", 0) == 0) {
            type = REG_DWORD;
            const std::string digits = data.substr(6);
            if (digits.empty() || digits.size() > 8 ||
                !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
                throw ImportError(line_no, "bad dword '" + digits + "'");
            const uint32_t n = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
            bytes.resize(4);
            std::memcpy(bytes.data(), &n, 4);
        } else if (data.rfind("hex:", 0) == 0) {
            type = REG_BINARY;
            bytes = parse_hex_digits(data.substr(4));
        } else if (data.rfind("hex(", 0) == 0 && data.find("):") != std::string::npos) {
            const size_t close = data.find("):");
            try {
                type = static_cast<uint32_t>(std::stoul(data.substr(4, close - 4), nullptr, 16));
            } catch (const std::exception&) {
                throw ImportError(line_no, "bad type in '" + data.substr(0, close + 2) + "'");
            }
            bytes = parse_hex_digits(data.substr(close + 2));
        } else {
            throw ImportError(line_no, "cannot read the data '" + data + "'");
        }
        result = RegSetValueExW(key, name.c_str(), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    }
    if (result != ERROR_SUCCESS)
        throw ImportError(line_no, "cannot set the value (error " + std::to_string(result) + ")");
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
        std::string text = raw;
        if (continuing) {
            text.erase(0, text.find_first_not_of(" \t"));
            lines.back().second += text;
        } else {
            lines.emplace_back(number, text);
        }
        continuing = !lines.back().second.empty() && lines.back().second.back() == '\\' &&
                     lines.back().second.find("=hex") != std::string::npos;
        if (continuing)
            lines.back().second.pop_back();
    }
    return lines;
}

void reg_import(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw Failure("ERROR: cannot read " + file);
    auto lines = logical_lines(in);
    auto first = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return !l.second.empty(); });
    if (first == lines.end())
        throw Failure("ERROR: " + file + " is empty");
    std::string header = first->second;
    if (header.rfind("\xEF\xBB\xBF", 0) == 0)
        header.erase(0, 3);
    if (header != "REGEDIT4")
        throw Failure("ERROR: " + file + " is not a REGEDIT4 file");

    Key current;
    for (auto it = std::next(first); it != lines.end(); ++it) {
        const auto& [number, line] = *it;
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']')
                throw ImportError(number, "unterminated key name");
            std::string path = line.substr(1, line.size() - 2);
            current = Key();
            if (!path.empty() && path[0] == '-') {
                const KeyName name = parse_key(path.substr(1));
                if (!name.path.empty())
                    RegDeleteKeyW(name.root, name.path.c_str());
                continue;
            }
            const KeyName name = parse_key(path);
            current = create_key(name.root, name.path);
            continue;
        }
        if (!current.get())
            throw ImportError(number, "a value outside any key");
        import_value(current.get(), line, number);
    }
    std::printf("The operation completed successfully.\n");
}

} // namespace

void add_reg_commands(CLI::App& app)
{
    CLI::App* reg = app.add_subcommand("reg", "The registry, with reg.exe syntax and REGEDIT4 files");
    reg->require_subcommand(1);

    struct RegCommand {
        const char* name;
        const char* help;
        void (*run)(const std::vector<std::string>&);
    };
    static const RegCommand commands[] = {
        {"query", "KEY [/v NAME | /ve] [/s]: show a key's values and subkeys", reg_query},
        {"add", "KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]: create a key or set a value", reg_add},
        {"delete", "KEY [/v NAME | /ve | /va] [/f]: delete a key, a value or all values", reg_delete},
    };
    for (const RegCommand& command : commands) {
        CLI::App* cmd = reg->add_subcommand(command.name, command.help);
        auto args = std::make_shared<std::vector<std::string>>();
        cmd->add_option("arguments", *args, "reg.exe arguments (data starting with '-' after --)");
        auto run = command.run;
        cmd->callback([args, run] { run(*args); });
    }

    auto export_args = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* exp = reg->add_subcommand("export", "FILE [KEY]: write the hive (or KEY) as a REGEDIT4 file");
    exp->add_option("file", export_args->first, "REGEDIT4 file to write")->required();
    exp->add_option("key", export_args->second, "Key to export (default: the whole hive)");
    exp->callback([export_args] { reg_export(export_args->first, export_args->second); });

    auto import_file = std::make_shared<std::string>();
    CLI::App* imp = reg->add_subcommand("import", "FILE: apply a REGEDIT4 file");
    imp->add_option("file", *import_file, "REGEDIT4 file to read")->required();
    imp->callback([import_file] { reg_import(*import_file); });
}

} // namespace phone
