// Registry keys for phone reg: names, handles and enumeration over the
// device's registry API.
#include "reg/reg_keys.h"

#include <algorithm>
#include <cctype>

#include "parsing.h"
#include "device/device.h"
#include "registry/registry.h"

namespace phone {
namespace {
namespace device = wince::device;
}

std::string KeyName::full() const
{
    return path.empty() ? root_name : root_name + "\\" + device::narrow(path);
}

std::optional<KeyName> key_name(const std::string& text)
{
    const size_t slash = text.find('\\');
    const std::string root = upper(text.substr(0, slash));
    std::string rest = slash == std::string::npos ? "" : text.substr(slash + 1);
    while (!rest.empty() && rest.back() == '\\')
        rest.pop_back();
    if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE")
        return KeyName{HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", device::widen(rest)};
    if (root == "HKCU" || root == "HKEY_CURRENT_USER")
        return KeyName{HKEY_CURRENT_USER, "HKEY_CURRENT_USER", device::widen(rest)};
    return std::nullopt;
}

std::string invalid_key(const std::string& text)
{
    return "Invalid key name '" + text + "' (the device has HKLM and HKCU).";
}

KeyName parse_key(const std::string& text)
{
    if (auto name = key_name(text))
        return *name;
    // HKLM\Software unquoted reaches us from the shell as HKLMSoftware.
    if (text.find('\\') == std::string::npos)
        throw Failure("ERROR: Invalid key name '" + text + "' (the device has HKLM and HKCU): it has no backslash, "
                      "the shell may have eaten them; quote the key ('HKLM\\Software\\Apps').");
    throw Failure("ERROR: " + invalid_key(text));
}

Key& Key::operator=(Key&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void Key::close()
{
    if (handle_)
        RegCloseKey(handle_);
    handle_ = nullptr;
}

Failure registry_failure(LONG result, const std::string& what)
{
    const std::string hive = wince::registry::last_hive_failure();
    if (!hive.empty())
        return Failure("ERROR: " + hive);
    return Failure("ERROR: " + what + " (error " + std::to_string(result) + ")");
}

Key open_key(const KeyName& name)
{
    HKEY handle = nullptr;
    const LONG result = RegOpenKeyExW(name.root, name.path.c_str(), 0, KEY_ALL_ACCESS, &handle);
    if (result == ERROR_FILE_NOT_FOUND)
        throw Failure(key_not_found);
    if (result != ERROR_SUCCESS)
        throw registry_failure(result, "cannot open key " + name.full());
    return Key(handle);
}

Key create_key(HKEY root, const std::wstring& path)
{
    HKEY handle = nullptr;
    DWORD disposition = 0;
    const LONG result =
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, &disposition);
    if (result != ERROR_SUCCESS)
        throw registry_failure(result, "cannot create key \\" + device::narrow(path));
    return Key(handle);
}

std::vector<std::wstring> subkeys_of(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = 256;
        const LONG result = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            throw registry_failure(result, "cannot list the subkeys");
        names.emplace_back(name, cch);
    }
    return names;
}

std::vector<wince::registry::Value> values_of(HKEY key)
{
    std::vector<wince::registry::Value> values;
    DWORD max_name = 0, max_data = 0;
    const LONG info = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &max_name,
                                       &max_data, nullptr, nullptr);
    if (info != ERROR_SUCCESS)
        throw registry_failure(info, "cannot read the key");
    std::vector<wchar_t> name(max_name + 1);
    for (DWORD i = 0;; ++i) {
        wince::registry::Value value;
        DWORD cch = static_cast<DWORD>(name.size());
        value.data.resize(std::max<DWORD>(max_data, 1));
        DWORD size = static_cast<DWORD>(value.data.size());
        const LONG result =
            RegEnumValueW(key, i, name.data(), &cch, nullptr, &value.type, value.data.data(), &size);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            throw registry_failure(result, "cannot read the values");
        value.name.assign(name.data(), cch);
        value.data.resize(size);
        values.push_back(std::move(value));
    }
    return values;
}

} // namespace phone
