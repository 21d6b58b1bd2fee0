// The Windows CE registry API (RegOpenKeyExW ... RegCloseKey) over the hive.
//
// Emulates: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT and
// HKEY_USERS (the last two in hives made since they came), process-local key
// handles that fail with ERROR_KEY_DELETED once their key is gone, the
// sizing rules of the query and enumeration calls, and RegDeleteKeyW removing
// a whole subtree as Windows CE does.  Access masks are accepted and ignored,
// as on Windows CE.  Leaves out classes (always empty), security, volatile
// keys, RegNotifyChangeKeyValue and the desktop's other predefined roots,
// which give ERROR_INVALID_HANDLE.  Writes and key creations are logged (reg.set,
// reg.create); a fault injected for a function makes it fail with
// ERROR_ACCESS_DENIED.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include <windows.h>

#include "device/device.h"
#include "device/eventlog.h"
#include "registry/hive.h"
#include "registry/registry.h"
#include "registry/value_data.h"

namespace wince::registry {
namespace {

constexpr size_t max_key_name = 255;
constexpr size_t max_value_name = 16383;

// Open keys of this process: handle value -> key.  Handles are never reused.
std::mutex handles_mutex;
std::map<uintptr_t, KeyId> open_keys;
uintptr_t next_handle = 0x1000;

std::optional<KeyId> key_of(HKEY handle)
{
    if (handle == HKEY_LOCAL_MACHINE)
        return local_machine_id;
    if (handle == HKEY_CURRENT_USER)
        return current_user_id;
    if (handle == HKEY_CLASSES_ROOT)
        return classes_root_id;
    if (handle == HKEY_USERS)
        return users_id;
    std::lock_guard lock(handles_mutex);
    auto found = open_keys.find(reinterpret_cast<uintptr_t>(handle));
    if (found == open_keys.end())
        return std::nullopt;
    return found->second;
}

HKEY new_handle(KeyId key)
{
    std::lock_guard lock(handles_mutex);
    const uintptr_t handle = next_handle;
    next_handle += 4;
    open_keys.emplace(handle, key);
    return reinterpret_cast<HKEY>(handle);
}

thread_local std::string hive_failure;

// The hive's failures go to the event log, each kind once per process: a
// program that retries must not fill the log.
void report(const HiveError& error)
{
    static std::mutex reported_mutex;
    static std::set<std::string, std::less<>> reported;
    {
        std::lock_guard lock(reported_mutex);
        if (!reported.insert(error.message).second)
            return;
    }
    wince::eventlog::write("reg.error", {{"error", error.code}, {"message", error.message}});
}

// Runs an API body, turning hive failures into the error codes it returns.
LONG guarded(const std::function<LONG()>& body)
{
    hive_failure.clear();
    try {
        return body();
    } catch (const HiveError& error) {
        if (!error.message.empty()) {
            hive_failure = error.message;
            report(error);
        }
        return static_cast<LONG>(error.code);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    } catch (...) {
        return ERROR_BADDB;
    }
}

std::wstring_view name_of(LPCWSTR name) { return name ? std::wstring_view(name) : std::wstring_view(); }

// "A\B\C" -> components; empty components (doubled, leading or trailing
// backslashes) are skipped.
std::vector<std::wstring_view> split_path(std::wstring_view path)
{
    std::vector<std::wstring_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring_view::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool valid_key_names(const std::vector<std::wstring_view>& parts)
{
    return std::all_of(parts.begin(), parts.end(), [](std::wstring_view p) { return p.size() <= max_key_name; });
}

void put(LPDWORD out, uint32_t value)
{
    if (out)
        *out = value;
}

// The existing key at `parts` below `from`, if every part exists.
std::optional<KeyId> find_path(Transaction& transaction, KeyId from, const std::vector<std::wstring_view>& parts)
{
    KeyId key = from;
    for (auto part : parts) {
        auto child = transaction.find_subkey(key, part);
        if (!child)
            return std::nullopt;
        key = *child;
    }
    return key;
}

void put_time(PFILETIME out, uint64_t ticks)
{
    if (!out)
        return;
    out->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

// No key of this hive has a class: an empty string where there is room.
void put_empty_class(LPWSTR cls, LPDWORD cch)
{
    if (cls && cch && *cch > 0)
        cls[0] = L'\0';
    put(cch, 0);
}

// Copies a name with its terminator into a buffer of *cch characters.
bool put_name(const std::wstring& name, LPWSTR buffer, LPDWORD cch)
{
    if (name.size() + 1 > *cch)
        return false;
    std::wmemcpy(buffer, name.c_str(), name.size() + 1);
    *cch = static_cast<DWORD>(name.size());
    return true;
}

// The data-buffer protocol of RegQueryValueExW and RegEnumValueW.
LONG put_data(const std::vector<unsigned char>& data, LPBYTE buffer, LPDWORD cb)
{
    if (!cb)
        return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(data.size());
    if (buffer) {
        if (*cb < size) {
            *cb = size;
            return ERROR_MORE_DATA;
        }
        if (size)
            std::memcpy(buffer, data.data(), size);
    }
    *cb = size;
    return ERROR_SUCCESS;
}

} // namespace
} // namespace wince::registry

using namespace wince::registry;
using wince::device::inject_fault;
using wince::eventlog::write;

extern "C" {

LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    if (inject_fault("RegOpenKeyExW"))
        return ERROR_ACCESS_DENIED;
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const auto parent = key_of(hKey);
        if (!parent)
            return ERROR_INVALID_HANDLE;
        const auto parts = split_path(name_of(lpSubKey));
        if (!valid_key_names(parts))
            return ERROR_INVALID_PARAMETER;
        Transaction transaction(Transaction::Mode::read);
        if (!transaction.key_exists(*parent))
            return ERROR_KEY_DELETED;
        const auto key = find_path(transaction, *parent, parts);
        if (!key)
            return ERROR_FILE_NOT_FOUND;
        transaction.commit();
        *phkResult = new_handle(*key);
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM,
                            LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (inject_fault("RegCreateKeyExW"))
        return ERROR_ACCESS_DENIED;
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const auto parent = key_of(hKey);
        if (!parent)
            return ERROR_INVALID_HANDLE;
        const auto parts = split_path(name_of(lpSubKey));
        if (!valid_key_names(parts))
            return ERROR_INVALID_PARAMETER;
        Transaction transaction(Transaction::Mode::write);
        if (!transaction.key_exists(*parent))
            return ERROR_KEY_DELETED;
        KeyId key = *parent;
        std::vector<std::string> created;
        for (auto part : parts) {
            if (auto child = transaction.find_subkey(key, part)) {
                key = *child;
            } else {
                key = transaction.create_subkey(key, part);
                created.push_back(transaction.key_path(key));
            }
        }
        transaction.commit();
        for (const auto& path : created)
            write("reg.create", {{"key", path}});
        *phkResult = new_handle(key);
        put(lpdwDisposition, created.empty() ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY);
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                             LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                             LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    if (inject_fault("RegQueryInfoKeyW"))
        return ERROR_ACCESS_DENIED;
    if (lpReserved)
        return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const auto key = key_of(hKey);
        if (!key)
            return ERROR_INVALID_HANDLE;
        Transaction transaction(Transaction::Mode::read);
        const KeyInfo info = transaction.key_info(*key, lpcSubKeys || lpcbMaxSubKeyLen);
        transaction.commit();
        put_empty_class(lpClass, lpcchClass);
        put(lpcSubKeys, info.subkeys);
        put(lpcbMaxSubKeyLen, info.max_subkey_len);
        put(lpcbMaxClassLen, 0);
        put(lpcValues, info.values);
        put(lpcbMaxValueNameLen, info.max_value_name_len);
        put(lpcbMaxValueLen, info.max_data_len);
        put(lpcbSecurityDescriptor, 0);
        put_time(lpftLastWriteTime, info.written);
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData)
{
    if (inject_fault("RegQueryValueExW"))
        return ERROR_ACCESS_DENIED;
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const auto key = key_of(hKey);
        if (!key)
            return ERROR_INVALID_HANDLE;
        Transaction transaction(Transaction::Mode::read);
        auto value = transaction.value(*key, name_of(lpValueName));
        if (!value) {
            const bool exists = transaction.key_exists(*key);
            return exists ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        }
        transaction.commit();
        put(lpType, value->type);
        return put_data(value->data, lpData, lpcbData);
    });
}

LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                           DWORD cbData)
{
    if (inject_fault("RegSetValueExW"))
        return ERROR_ACCESS_DENIED;
    if (!lpData && cbData)
        return ERROR_INVALID_PARAMETER;
    const auto name = name_of(lpValueName);
    if (name.size() > max_value_name)
        return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const auto key = key_of(hKey);
        if (!key)
            return ERROR_INVALID_HANDLE;
        Transaction transaction(Transaction::Mode::write);
        if (!transaction.key_exists(*key))
            return ERROR_KEY_DELETED;
        transaction.set_value(*key, name, dwType, lpData, cbData);
        const std::string path = transaction.key_path(*key);
        transaction.commit();
        write("reg.set", {{"key", path},
                          {"value", wince::device::narrow(name)},
                          {"type", type_name(dwType)},
                          {"data", data_as_json(dwType, {lpData, cbData})}});
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    if (inject_fault("RegDeleteValueW"))
        return ERROR_ACCESS_DENIED;
    return guarded([&]() -> LONG {
        const auto key = key_of(hKey);
        if (!key)
            return ERROR_INVALID_HANDLE;
        Transaction transaction(Transaction::Mode::write);
        if (!transaction.key_exists(*key))
            return ERROR_KEY_DELETED;
        if (!transaction.delete_value(*key, name_of(lpValueName)))
            return ERROR_FILE_NOT_FOUND;
        transaction.commit();
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    if (inject_fault("RegDeleteKeyW"))
        return ERROR_ACCESS_DENIED;
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const auto parent = key_of(hKey);
        if (!parent)
            return ERROR_INVALID_HANDLE;
        const auto parts = split_path(lpSubKey);
        Transaction transaction(Transaction::Mode::write);
        if (!transaction.key_exists(*parent))
            return ERROR_KEY_DELETED;
        const auto key = find_path(transaction, *parent, parts);
        if (!key)
            return ERROR_FILE_NOT_FOUND;
        if (is_root(*key))
            return ERROR_ACCESS_DENIED;
        transaction.delete_tree(*key);
        transaction.commit();
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    if (inject_fault("RegEnumKeyExW"))
        return ERROR_ACCESS_DENIED;
    if (!lpName || !lpcchName || lpReserved)
        return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const auto key = key_of(hKey);
        if (!key)
            return ERROR_INVALID_HANDLE;
        Transaction transaction(Transaction::Mode::read);
        auto subkey = transaction.subkey_at(*key, dwIndex);
        if (!subkey)
            return transaction.key_exists(*key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
        transaction.commit();
        if (!put_name(subkey->name, lpName, lpcchName))
            return ERROR_MORE_DATA;
        put_empty_class(lpClass, lpcchClass);
        put_time(lpftLastWriteTime, subkey->written);
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (inject_fault("RegEnumValueW"))
        return ERROR_ACCESS_DENIED;
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    return guarded([&]() -> LONG {
        const auto key = key_of(hKey);
        if (!key)
            return ERROR_INVALID_HANDLE;
        Transaction transaction(Transaction::Mode::read);
        auto value = transaction.value_at(*key, dwIndex);
        if (!value)
            return transaction.key_exists(*key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
        transaction.commit();
        if (!put_name(value->name, lpValueName, lpcchValueName))
            return ERROR_MORE_DATA;
        put(lpType, value->type);
        return put_data(value->data, lpData, lpcbData);
    });
}

LONG WINAPI RegCloseKey(HKEY hKey)
{
    if (inject_fault("RegCloseKey"))
        return ERROR_ACCESS_DENIED;
    if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER || hKey == HKEY_CLASSES_ROOT || hKey == HKEY_USERS)
        return ERROR_SUCCESS;
    std::lock_guard lock(handles_mutex);
    return open_keys.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // extern "C"

namespace wince::registry {

size_t open_handle_count()
{
    std::lock_guard lock(handles_mutex);
    return open_keys.size();
}

std::string last_hive_failure() { return hive_failure; }

} // namespace wince::registry
