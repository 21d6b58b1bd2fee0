// phone reg: the device's registry with reg.exe's syntax and output, and
// REGEDIT4 files (regedit4.h) for export and import.
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
#include "reg_keys.h"
#include "regedit4.h"
#include "device/device.h"
#include "registry/hive.h"
#include "registry/value_data.h"

namespace phone {
namespace {

namespace device = wince::device;
namespace registry = wince::registry;

using Bytes = std::vector<unsigned char>;

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
        throw Failure(key_not_found);
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
            throw registry_failure(result, "cannot set the value");
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
        const LONG result = RegDeleteValueW(key.get(), value_name.c_str());
        if (result == ERROR_FILE_NOT_FOUND)
            throw Failure(key_not_found);
        if (result != ERROR_SUCCESS)
            throw registry_failure(result, "cannot delete the value");
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
            throw registry_failure(result, "cannot delete the key");
    }
    std::printf("The operation completed successfully.\n");
}

// ---- REGEDIT4 export and import -------------------------------------------

void export_tree(std::ostream& out, HKEY key, const std::string& path, bool always_header)
{
    const auto values = values_of(key);
    if (always_header || !values.empty())
        out << regedit4::format_section(path, values);
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
    out << regedit4::header << "\n\n";
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

void import_value(HKEY key, const regedit4::ValueLine& line)
{
    const auto& value = line.value;
    LONG result;
    if (line.remove) {
        result = RegDeleteValueW(key, value.name.c_str());
        if (result == ERROR_FILE_NOT_FOUND)
            result = ERROR_SUCCESS;
    } else {
        result = RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                                static_cast<DWORD>(value.data.size()));
    }
    if (result != ERROR_SUCCESS)
        throw Failure("ERROR: line " + std::to_string(line.line) + ": cannot set the value (error " +
                      std::to_string(result) + ")");
}

void reg_import(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw Failure("ERROR: cannot read " + file);
    const auto sections = regedit4::parse(in, file);
    // Every key name is checked before anything changes.
    std::vector<KeyName> keys;
    for (const auto& section : sections) {
        auto name = key_name(section.key);
        if (!name)
            throw Failure("ERROR: line " + std::to_string(section.line) + ": " + invalid_key(section.key));
        keys.push_back(*name);
    }
    for (size_t i = 0; i < sections.size(); ++i) {
        if (sections[i].remove) {
            if (!keys[i].path.empty())
                RegDeleteKeyW(keys[i].root, keys[i].path.c_str());
            continue;
        }
        Key key = create_key(keys[i].root, keys[i].path);
        for (const auto& line : sections[i].values)
            import_value(key.get(), line);
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
