// Registry keys as `phone reg` names and walks them: "HKLM\Software\X"
// parsed into a root and a path, key handles closed when they go, and the
// subkeys and values of an open key.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "parsing.h"
#include "registry/hive.h"

namespace phone {

// reg.exe's message for a key or value that is not there.
inline constexpr const char* key_not_found =
    "ERROR: The system was unable to find the specified registry key or value.";

struct KeyName {
    HKEY root;
    std::string root_name; // the long form, as reg.exe prints it
    std::wstring path;     // below the root, may be empty

    std::string full() const;
};

// HKLM / HKEY_LOCAL_MACHINE / HKCU / HKEY_CURRENT_USER, in any case, then
// an optional path; trailing backslashes are dropped.  None for other roots.
std::optional<KeyName> key_name(const std::string& text);
// What to say of a key name that key_name refuses.
std::string invalid_key(const std::string& text);
// key_name, throwing Failure for a name it refuses (a name from the command
// line: one without a backslash most likely lost them to the shell).
KeyName parse_key(const std::string& text);

// An open key, closed when it goes.
class Key {
public:
    Key() = default;
    explicit Key(HKEY handle) : handle_(handle) {}
    Key(Key&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Key& operator=(Key&& other) noexcept;
    ~Key() { close(); }
    HKEY get() const { return handle_; }

private:
    void close();
    HKEY handle_ = nullptr;
};

// The failure of a registry call that returned `result` while doing
// `what`: what happened to the hive when it was the hive's fault (damaged,
// locked, read-only, disk full), else `what` and the error code.
Failure registry_failure(LONG result, const std::string& what);

// Both throw Failure: key_not_found / the registry's error.
Key open_key(const KeyName& name);
Key create_key(HKEY root, const std::wstring& path);

// Both throw Failure when the registry fails before the last item.
std::vector<std::wstring> subkeys_of(HKEY key);
std::vector<wince::registry::Value> values_of(HKEY key);

} // namespace phone
