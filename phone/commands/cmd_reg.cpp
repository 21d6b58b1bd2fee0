// phone reg: the device's registry with reg.exe's syntax and output, and
// REGEDIT4 files (regedit4.h) for export and import.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <windows.h>

#include "commands/commands.h"
#include "reg/reg_data.h"
#include "reg/reg_keys.h"
#include "log/settings_view.h"
#include "reg/regedit4.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "device/files.h"
#include "registry/hive.h"
#include "registry/value_data.h"

namespace phone {
namespace {

namespace device = wince::device;
namespace registry = wince::registry;

using Bytes = std::vector<unsigned char>;

// The device's limit on one key name's length, as the registry API has it.
constexpr size_t max_key_name = 255;

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

// ---- query, add, delete ---------------------------------------------------

void print_value(const registry::Value& value)
{
    const std::string name = value.name.empty() ? "(Default)" : device::narrow(value.name);
    std::printf("    %s    %s    %s\n", name.c_str(), registry::type_name(value.type).c_str(), display(value).c_str());
}

// Prints the key's values and its subkeys (with /s, their whole trees);
// returns how many keys and values below `path` it showed.
size_t query_tree(HKEY key, const std::string& path, bool recurse)
{
    size_t shown = 0;
    std::printf("%s\n", path.c_str());
    for (const auto& value : values_of(key)) {
        print_value(value);
        ++shown;
    }
    std::printf("\n");
    for (const auto& sub : subkeys_of(key)) {
        const std::string sub_path = path + "\\" + device::narrow(sub);
        ++shown;
        if (!recurse) {
            std::printf("%s\n", sub_path.c_str());
            continue;
        }
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
            Key held(child);
            shown += query_tree(child, sub_path, true);
        }
    }
    return shown;
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
        if (a.value)
            throw Failure(key_not_found);
        // Every key has a default value; reg.exe shows one never set so.
        std::printf("\n%s\n    (Default)    REG_SZ    (value not set)\n\n", name.full().c_str());
        return;
    }
    std::printf("\n");
    const size_t shown = query_tree(key.get(), name.full(), a.recurse);
    if (a.recurse)
        std::printf("End of search: %zu match(es) found.\n", shown);
}

// A value CallTicker's monitor will not take as written is stored all the
// same, as reg.exe would, with a word on what applies instead.
void warn_about_setting(const KeyName& key, const std::string& value, uint32_t type, const Bytes& data)
{
    if (upper(key.full()) != upper(settings_key))
        return;
    std::optional<std::string> warning;
    if (type == REG_DWORD && data.size() == 4) {
        uint32_t number;
        std::memcpy(&number, data.data(), 4);
        warning = setting_warning(value, number);
    } else {
        warning = setting_type_warning(value, registry::type_name(type));
    }
    if (warning)
        std::fprintf(stderr, "phone: warning: %s\n", warning->c_str());
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
        warn_about_setting(name, device::narrow(value_name), *type, data);
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

void reg_export(const std::vector<std::string>& args)
{
    std::vector<std::string> words;
    bool overwrite = false;
    for (const auto& arg : args) {
        if (upper(arg) == "/Y" || upper(arg) == "-Y")
            overwrite = true;
        else
            words.push_back(arg);
    }
    if (words.size() != 2)
        throw Failure("ERROR: Invalid syntax: give the key, then the file: reg export KEY FILE [/y]");
    const std::string& key_text = words[0];
    const std::string& file = words[1];
    const KeyName name = parse_key(key_text);
    std::ostringstream out;
    out << regedit4::header << "\n\n";
    {
        Key key = open_key(name);
        export_tree(out, key.get(), name.full(), !name.path.empty());
    }
    std::error_code error;
    if (std::filesystem::exists(file, error) && !overwrite &&
        !confirm("File " + file + " already exists. Overwrite"))
        throw Failure("The operation was cancelled by the user.");
    try {
        write_user_file(file, out.str());
    } catch (const Failure& failure) {
        throw Failure(std::string("ERROR: ") + failure.what());
    }
    std::printf("The operation completed successfully.\n");
}

// The components of a key path below its root; none empty.
std::vector<std::wstring> path_parts(const std::wstring& path)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(L'\\', start), path.size());
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

registry::KeyId root_id(HKEY root)
{
    return root == HKEY_CURRENT_USER ? registry::current_user_id : registry::local_machine_id;
}

// The whole file in one hive transaction: a hive that fails part way rolls
// every change of the file back.  What changed is logged once it holds, as
// the registry API logs its own changes.
void apply_import(const std::vector<regedit4::Section>& sections, const std::vector<KeyName>& keys)
{
    std::vector<std::pair<const char*, nlohmann::json>> changes;
    try {
        registry::Transaction transaction(registry::Transaction::Mode::write);
        for (size_t i = 0; i < sections.size(); ++i) {
            registry::KeyId key = root_id(keys[i].root);
            bool found = true;
            for (const auto& part : path_parts(keys[i].path)) {
                auto child = transaction.find_subkey(key, part);
                if (!child && sections[i].remove) {
                    found = false;
                    break;
                }
                if (!child) {
                    child = transaction.create_subkey(key, part);
                    changes.push_back({"reg.create", {{"key", transaction.key_path(*child)}}});
                }
                key = *child;
            }
            if (sections[i].remove) {
                if (found && !keys[i].path.empty())
                    transaction.delete_tree(key);
                continue;
            }
            for (const auto& line : sections[i].values) {
                const auto& value = line.value;
                if (line.remove) {
                    transaction.delete_value(key, value.name);
                    continue;
                }
                transaction.set_value(key, value.name, value.type, value.data.data(), value.data.size());
                changes.push_back({"reg.set",
                                   {{"key", transaction.key_path(key)},
                                    {"value", device::narrow(value.name)},
                                    {"type", registry::type_name(value.type)},
                                    {"data", registry::data_as_json(value.type, value.data)}}});
            }
        }
        transaction.commit();
    } catch (const registry::HiveError& error) {
        throw Failure("ERROR: " +
                      (error.message.empty() ? "the registry refused the import (error " + std::to_string(error.code) + ")"
                                             : error.message) +
                      "; nothing was imported");
    }
    for (const auto& [event, fields] : changes)
        wince::eventlog::write(event, fields);
}

// A .reg file of this device holds a few keys; anything this large is
// not one, and reading it whole could exhaust the memory.
constexpr off_t max_reg_file = 4 << 20;

// The bytes of a .reg file: a regular file (not a folder, a FIFO or a
// device such as /dev/zero) of at most max_reg_file bytes.
std::string read_reg_file(const std::string& file)
{
    const device::Descriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd)
        throw Failure("ERROR: cannot read " + file + ": " + std::strerror(errno));
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        throw Failure("ERROR: cannot read " + file + ": " + std::strerror(errno));
    if (S_ISDIR(status.st_mode))
        throw Failure("ERROR: " + file + " is a folder: give a .reg file");
    if (!S_ISREG(status.st_mode))
        throw Failure("ERROR: " + file + " is not a regular file: give a .reg file");
    std::optional<std::string> bytes = device::read_bounded(fd.get(), max_reg_file);
    if (!bytes && errno == EFBIG)
        throw Failure("ERROR: " + file + " is larger than 4 MiB: too large for a .reg file");
    if (!bytes)
        throw Failure("ERROR: cannot read " + file + ": " + std::strerror(errno));
    return std::move(*bytes);
}

void reg_import(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        throw Failure("ERROR: Invalid syntax: reg import FILE");
    const std::string& file = args[0];
    // The whole file is read and checked before anything changes.
    std::istringstream in(read_reg_file(file));
    const auto sections = regedit4::parse(in, file);
    std::vector<KeyName> keys;
    for (const auto& section : sections) {
        auto name = key_name(section.key);
        if (!name)
            throw Failure("ERROR: " + file + " line " + std::to_string(section.line) + ": " + invalid_key(section.key));
        for (const auto& part : path_parts(name->path))
            if (part.size() > max_key_name)
                throw Failure("ERROR: " + file + " line " + std::to_string(section.line) + ": a key name is longer than " +
                              std::to_string(max_key_name) + " characters");
        keys.push_back(*name);
    }
    apply_import(sections, keys);
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

    auto export_args = std::make_shared<std::vector<std::string>>();
    CLI::App* exp = reg->add_subcommand("export", "KEY FILE [/y]: write KEY and everything below it as a REGEDIT4 file");
    exp->add_option("arguments", *export_args, "The key, the file, and /y to overwrite an existing file without asking");
    exp->callback([export_args] { reg_export(*export_args); });

    auto import_args = std::make_shared<std::vector<std::string>>();
    CLI::App* imp = reg->add_subcommand("import", "FILE: apply a REGEDIT4 file, all of it or nothing");
    imp->add_option("arguments", *import_args, "The REGEDIT4 file to read");
    imp->callback([import_args] { reg_import(*import_args); });
    reg->footer("KEY: HKLM\\path or HKCU\\path (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER).\n"
                "TYPE: REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY, REG_NONE.\n"
                "CallTicker's settings live in HKLM\\Software\\Apps\\CallTicker (see phone status).");
}

} // namespace phone
