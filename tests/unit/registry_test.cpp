// The registry API over the device's hive: keys, values, sizing rules,
// handles, logging, and the hive shared by several processes.
#include <atomic>
#include <csignal>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <windows.h>

#include "child.h"
#include "device/device.h"
#include "registry/registry.h"
#include "test_device.h"

using testing_support::Child;
using testing_support::exit_code_in_child;
using testing_support::TempDevice;

namespace {

HKEY create(HKEY root, const wchar_t* path, DWORD* disposition = nullptr)
{
    HKEY key = nullptr;
    DWORD ignored;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              disposition ? disposition : &ignored),
              ERROR_SUCCESS);
    return key;
}

LONG set_dword(HKEY key, const wchar_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG set_string(HKEY key, const wchar_t* name, const std::wstring& text)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::optional<DWORD> get_dword(HKEY key, const wchar_t* name)
{
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != 4)
        return std::nullopt;
    return value;
}

} // namespace

TEST(RegistryKeys, CreateMakesMissingParentsAndLogsOnlyRealCreations)
{
    TempDevice dev;
    DWORD disposition = 0;
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\Apps\\CallTicker", &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    key = create(HKEY_LOCAL_MACHINE, L"Software\\Apps\\CallTicker", &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);

    std::vector<std::string> created;
    for (const auto& e : dev.events("reg.create"))
        created.push_back(e["key"]);
    EXPECT_EQ(created, (std::vector<std::string>{"HKLM\\Software", "HKLM\\Software\\Apps",
                                                  "HKLM\\Software\\Apps\\CallTicker"}));

    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Apps\\CallTicker", 0, 0, &opened), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(opened, L"Missing", 0, 0, &key), ERROR_FILE_NOT_FOUND);
    RegCloseKey(opened);

    // The two roots are separate trees.
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, 0, &key), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryKeys, NamesCompareWithoutCaseAndKeepTheirCase)
{
    TempDevice dev;
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\MixedCase");
    HKEY same = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\mixedcase", 0, 0, &same), ERROR_SUCCESS);
    EXPECT_EQ(set_dword(key, L"RegularSoundDelay", 3), ERROR_SUCCESS);
    EXPECT_EQ(get_dword(same, L"REGULARSOUNDDELAY"), 3u);

    // Writing under another case replaces the value but keeps its first name.
    EXPECT_EQ(set_dword(same, L"regularsounddelay", 4), ERROR_SUCCESS);
    wchar_t name[64];
    DWORD cch = 64;
    DWORD data = 0, size = sizeof data;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, L"RegularSoundDelay");
    EXPECT_EQ(data, 4u);
    EXPECT_EQ(RegEnumValueW(key, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    cch = 64;
    ASSERT_EQ(RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, L"Software");
    EXPECT_EQ(cch, 8u);

    // Non-ASCII letters fold too.
    HKEY umlaut = create(key, L"\u00C4rger");
    HKEY folded = nullptr;
    EXPECT_EQ(RegOpenKeyExW(key, L"\u00E4RGER", 0, 0, &folded), ERROR_SUCCESS);
    for (HKEY k : {key, same, umlaut, folded})
        RegCloseKey(k);
}

TEST(RegistryValues, QueryFollowsTheWindowsSizingRules)
{
    TempDevice dev;
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\Sizes");
    const std::wstring text = L"Cellular Line";
    ASSERT_EQ(set_string(key, L"Name", text), ERROR_SUCCESS);
    const DWORD full = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));

    // A null data pointer asks for the size only.
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, full);

    // Too small: ERROR_MORE_DATA, the size needed and the type; the buffer untouched.
    std::vector<BYTE> buffer(full, 0xAB);
    size = full - 1;
    type = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, buffer.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, full);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(buffer[0], 0xAB);

    size = full;
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, nullptr, buffer.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer.data())), text);

    EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Name", &reserved, &type, nullptr, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, buffer.data(), nullptr), ERROR_INVALID_PARAMETER);

    // Zero-length data and the default (unnamed) value.
    EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    size = 99;
    EXPECT_EQ(RegQueryValueExW(key, L"", nullptr, &type, buffer.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, REG_BINARY);
    RegCloseKey(key);
}

TEST(RegistryValues, InfoKeyCountsNamesInCharactersAndDataInBytes)
{
    TempDevice dev;
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\Info");
    RegCloseKey(create(key, L"Short"));
    RegCloseKey(create(key, L"LongerName"));
    set_dword(key, L"A", 1);
    set_string(key, L"SevenCh", L"twelve chars");
    const BYTE blob[3] = {1, 2, 3};
    RegSetValueExW(key, L"Bin", 0, REG_BINARY, blob, 3);

    DWORD subkeys = 0, max_subkey = 0, max_class = 9, values = 0, max_name = 0, max_data = 0, security = 9;
    wchar_t cls[8] = L"x";
    DWORD cls_len = 8;
    FILETIME written{};
    ASSERT_EQ(RegQueryInfoKeyW(key, cls, &cls_len, nullptr, &subkeys, &max_subkey, &max_class, &values, &max_name,
                               &max_data, &security, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 2u);
    EXPECT_EQ(max_subkey, 10u);
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(max_name, 7u);
    EXPECT_EQ(max_data, 13 * sizeof(wchar_t));
    EXPECT_EQ(max_class, 0u);
    EXPECT_EQ(security, 0u);
    EXPECT_EQ(cls_len, 0u);
    EXPECT_STREQ(cls, L"");
    EXPECT_NE(written.dwHighDateTime, 0u);

    // Asking for one thing only leaves everything else alone.
    HKEY empty = create(key, L"Empty");
    max_data = 77;
    EXPECT_EQ(RegQueryInfoKeyW(empty, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &max_data, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(max_data, 0u);
    RegCloseKey(empty);
    RegCloseKey(key);
}

TEST(RegistryKeys, EnumerationOrdersKeysByNameAndValuesByCreation)
{
    TempDevice dev;
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\Enum");
    for (const wchar_t* name : {L"beta", L"Alpha", L"GAMMA"})
        RegCloseKey(create(key, name));
    for (const wchar_t* name : {L"z", L"a", L"m"})
        set_dword(key, name, 0);

    std::vector<std::wstring> keys, values;
    wchar_t name[16];
    for (DWORD i = 0;; ++i) {
        DWORD cch = 16;
        LONG result = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(result, ERROR_SUCCESS);
        keys.push_back(name);
    }
    for (DWORD i = 0;; ++i) {
        DWORD cch = 16;
        LONG result = RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(result, ERROR_SUCCESS);
        values.push_back(name);
    }
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"Alpha", L"beta", L"GAMMA"}));
    EXPECT_EQ(values, (std::vector<std::wstring>{L"z", L"a", L"m"}));

    // A name buffer without room for the terminator.
    DWORD cch = 5;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    RegCloseKey(key);
}

TEST(RegistryKeys, DeletingKeysAndValuesAndHandlesToDeletedKeys)
{
    TempDevice dev;
    HKEY parent = create(HKEY_LOCAL_MACHINE, L"Software\\Doomed");
    HKEY child = create(parent, L"Child\\Grandchild");
    set_dword(child, L"v", 1);
    set_dword(parent, L"w", 2);

    EXPECT_EQ(RegDeleteValueW(parent, L"W"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(parent, L"w"), ERROR_FILE_NOT_FOUND);

    // Deleting a key takes its whole subtree, as on Windows CE.
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"software\\doomed"), ERROR_SUCCESS);
    DWORD value = 7, size = 4;
    EXPECT_EQ(RegQueryValueExW(child, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_KEY_DELETED);
    EXPECT_EQ(set_dword(parent, L"w", 3), ERROR_KEY_DELETED);
    HKEY again = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, L"New", 0, nullptr, 0, 0, nullptr, &again, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryInfoKeyW(parent, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &size, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Doomed", 0, 0, &again), ERROR_FILE_NOT_FOUND);

    // A key of the same name made later is a different key.
    HKEY reborn = create(HKEY_LOCAL_MACHINE, L"Software\\Doomed");
    EXPECT_EQ(set_dword(parent, L"w", 3), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(reborn), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Nothing"), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryKeys, BadHandlesAndArgumentsFailWithoutCrashing)
{
    TempDevice dev;
    HKEY key = nullptr;
    DWORD size = 4;
    // The desktop's HKEY_CURRENT_CONFIG is no root of Windows CE.
    const HKEY current_config = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000005)));
    EXPECT_EQ(RegOpenKeyExW(current_config, L"x", 0, 0, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExW(current_config, L"x", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(reinterpret_cast<HKEY>(0x1234), L"x", nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(nullptr, L"x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"x", 0, 0, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, L"x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    const std::wstring long_name(256, L'k');
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, long_name.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);

    key = create(HKEY_LOCAL_MACHINE, L"Software");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(wince::registry::open_handle_count(), 0u);
}

// Windows CE has four roots: HKEY_CLASSES_ROOT and HKEY_USERS beside the two
// the programs use, each its own tree that cannot be deleted.
TEST(RegistryKeys, ClassesRootAndUsersAreRootsOfTheirOwn)
{
    TempDevice dev;
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_USERS}) {
        HKEY key = create(root, L"Software");
        ASSERT_NE(key, nullptr);
        set_dword(key, L"Value", 1);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteKeyW(root, L""), ERROR_ACCESS_DENIED);
        EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
    }
    const auto sets = dev.events("reg.set");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0]["key"], "HKCR\\Software");
    EXPECT_EQ(sets[1]["key"], "HKU\\Software");
    HKEY lm = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, 0, &lm), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryLog, WritesAreLoggedWithPathTypeAndReadableData)
{
    TempDevice dev;
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\Apps\\CallTicker");
    HKEY same = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\apps\\callticker", 0, 0, &same);
    set_dword(same, L"RegularSoundDelay", 7);
    set_string(key, L"Label", L"7 min.");
    const BYTE blob[3] = {0x00, 0xAB, 0x10};
    RegSetValueExW(key, L"Blob", 0, REG_BINARY, blob, 3);

    const auto sets = dev.events("reg.set");
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0]["key"], "HKLM\\Software\\Apps\\CallTicker");
    EXPECT_EQ(sets[0]["value"], "RegularSoundDelay");
    EXPECT_EQ(sets[0]["type"], "REG_DWORD");
    EXPECT_EQ(sets[0]["data"], 7);
    EXPECT_EQ(sets[1]["type"], "REG_SZ");
    EXPECT_EQ(sets[1]["data"], "7 min.");
    EXPECT_EQ(sets[2]["type"], "REG_BINARY");
    EXPECT_EQ(sets[2]["data"], "00ab10");
    RegCloseKey(key);
    RegCloseKey(same);
}

TEST(RegistryFaults, InjectedFaultsFailTheNamedFunctionOnly)
{
    TempDevice dev(nlohmann::json{{"faults", {{"*", {{"RegOpenKeyExW", 1}, {"RegSetValueExW", "fail"}}}}}});
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software");
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, 0, &opened), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, 0, &opened), ERROR_SUCCESS);
    EXPECT_EQ(set_dword(key, L"v", 1), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(dev.events("reg.set").empty());
    RegCloseKey(key);
    RegCloseKey(opened);
}

// ---- several processes on one hive -----------------------------------------

TEST(RegistryProcesses, ConcurrentWritersAndReadersNeverSeeATornValue)
{
    TempDevice dev;
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\Shared");
    // Every write stores 256 bytes all equal to one counter byte; a torn
    // value would mix two of them.
    std::vector<pid_t> children;
    constexpr int writers = 2, readers = 2, rounds = 300;
    for (int w = 0; w < writers; ++w) {
        pid_t pid = fork();
        if (pid == 0) {
            HKEY k = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Shared", 0, 0, &k) != ERROR_SUCCESS)
                _exit(10);
            for (int i = 0; i < rounds; ++i) {
                std::vector<BYTE> block(256, static_cast<BYTE>(w * 100 + i % 100));
                if (RegSetValueExW(k, L"Block", 0, REG_BINARY, block.data(), 256) != ERROR_SUCCESS)
                    _exit(11);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (int r = 0; r < readers; ++r) {
        pid_t pid = fork();
        if (pid == 0) {
            HKEY k = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Shared", 0, 0, &k) != ERROR_SUCCESS)
                _exit(20);
            for (int i = 0; i < rounds; ++i) {
                BYTE block[256];
                DWORD size = sizeof block;
                LONG result = RegQueryValueExW(k, L"Block", nullptr, nullptr, block, &size);
                if (result == ERROR_FILE_NOT_FOUND)
                    continue;
                if (result != ERROR_SUCCESS || size != 256)
                    _exit(21);
                for (BYTE b : block)
                    if (b != block[0])
                        _exit(22);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }
    RegCloseKey(key);
}

TEST(RegistryProcesses, KillDuringAWriteStormKeepsEveryAcknowledgedWrite)
{
    TempDevice dev;
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    pid_t writer = fork();
    if (writer == 0) {
        close(acks[0]);
        HKEY k = nullptr;
        DWORD ignored;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Storm", 0, nullptr, 0, 0, nullptr, &k, &ignored) !=
            ERROR_SUCCESS)
            _exit(1);
        for (uint32_t i = 0;; ++i) {
            const std::wstring name = L"v" + std::to_wstring(i);
            if (set_dword(k, name.c_str(), i * 7 + 1) == ERROR_SUCCESS)
                if (write(acks[1], &i, sizeof i) != sizeof i)
                    _exit(2);
        }
    }
    close(acks[1]);
    std::set<uint32_t> acknowledged;
    uint32_t i;
    while (acknowledged.size() < 300 && read(acks[0], &i, sizeof i) == sizeof i)
        acknowledged.insert(i);
    kill(writer, SIGKILL);
    while (read(acks[0], &i, sizeof i) == sizeof i)
        acknowledged.insert(i);
    close(acks[0]);
    int status = 0;
    waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Storm", 0, 0, &key), ERROR_SUCCESS);
    for (uint32_t n : acknowledged)
        ASSERT_EQ(get_dword(key, (L"v" + std::to_wstring(n)).c_str()), n * 7 + 1) << "write " << n;
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    EXPECT_LE(values, acknowledged.size() + 1);
    EXPECT_EQ(set_dword(key, L"after", 1), ERROR_SUCCESS);
    RegCloseKey(key);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(wince::device::registry_file().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

// ---- a hive in trouble -------------------------------------------------------

namespace {

// Another process in the middle of a write: it holds the hive's write lock
// until it is killed.
std::unique_ptr<Child> hold_write_lock()
{
    return std::make_unique<Child>([] {
        sqlite3* db = nullptr;
        if (sqlite3_open(wince::device::registry_file().c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            _exit(1);
    });
}

std::string hive_name() { return "registry hive " + wince::device::registry_file().string(); }

// The hive file made read-only on disk for as long as it lives: by its mode,
// and for root, whom modes do not stop, by the immutable attribute.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::filesystem::path& file) : file_(file)
    {
        chmod(file.c_str(), 0400);
        if (geteuid() == 0)
            immutable_ = set_immutable(true);
    }
    ~ReadOnlyFile()
    {
        if (immutable_)
            set_immutable(false);
        chmod(file_.c_str(), 0600);
    }
    bool effective() const { return geteuid() != 0 || immutable_; }

private:
    bool set_immutable(bool on)
    {
        const int fd = open(file_.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            close(fd);
        return done;
    }

    std::filesystem::path file_;
    bool immutable_ = false;
};

} // namespace

TEST(RegistryHive, AReaderNeverWaitsForAWriter)
{
    TempDevice dev(nlohmann::json{{"clock_rate", 1000}});
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\Busy");
    ASSERT_EQ(set_dword(key, L"Value", 5), ERROR_SUCCESS);
    auto writer = hold_write_lock();
    // A process that opens the hive now, as the monitor does when a call
    // comes, reads at once.
    const int reader = exit_code_in_child([] {
        HKEY k = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Busy", 0, 0, &k) != ERROR_SUCCESS)
            return 1;
        return get_dword(k, L"Value") == 5u ? 0 : 2;
    });
    EXPECT_EQ(reader, 0);
    RegCloseKey(key);
}

TEST(RegistryHive, AWriteThatCannotGetTheLockFailsAfterABoundedWaitSayingSo)
{
    TempDevice dev(nlohmann::json{{"clock_rate", 1000}});
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\Busy");
    auto writer = hold_write_lock();
    EXPECT_EQ(set_dword(key, L"Value", 6), ERROR_LOCK_VIOLATION);
    EXPECT_EQ(wince::registry::last_hive_failure(), hive_name() + " is locked by another process");
    writer.reset();
    EXPECT_EQ(set_dword(key, L"Value", 6), ERROR_SUCCESS);
    EXPECT_EQ(wince::registry::last_hive_failure(), "");
    const auto reported = dev.events("reg.error");
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0]["error"], ERROR_LOCK_VIOLATION);
    RegCloseKey(key);
}

TEST(RegistryHive, AHiveReadOnlyOnDiskIsStillReadAndRefusesWritesSayingSo)
{
    TempDevice dev;
    HKEY key = create(HKEY_LOCAL_MACHINE, L"Software\\Kept");
    ASSERT_EQ(set_dword(key, L"Value", 7), ERROR_SUCCESS);
    RegCloseKey(key);
    ReadOnlyFile read_only(wince::device::registry_file());
    if (!read_only.effective())
        GTEST_SKIP() << "cannot make a file read-only for root here";
    // Fresh processes, as programs started on such a device are.
    EXPECT_EQ(exit_code_in_child([] {
                  HKEY k = nullptr;
                  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kept", 0, 0, &k) != ERROR_SUCCESS)
                      return 1;
                  return get_dword(k, L"Value") == 7u ? 0 : 2;
              }),
              0);
    EXPECT_EQ(exit_code_in_child([] {
                  HKEY k = nullptr;
                  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Kept", 0, 0, &k) != ERROR_SUCCESS)
                      return 1;
                  if (set_dword(k, L"Value", 8) != ERROR_CANTWRITE)
                      return 2;
                  return wince::registry::last_hive_failure() == hive_name() + " is read-only" ? 0 : 3;
              }),
              0);
}

TEST(RegistryHive, ADamagedHiveSaysSoInsteadOfMissingKeys)
{
    TempDevice dev;
    std::ofstream(wince::device::registry_file(), std::ios::binary) << std::string(8192, 'x');
    HKEY key = nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, 0, &key), ERROR_BADDB);
        EXPECT_EQ(wince::registry::last_hive_failure(), hive_name() + " is damaged: file is not a database");
    }
    const auto reported = dev.events("reg.error"); // once, however often it fails
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0]["message"], hive_name() + " is damaged: file is not a database");
}

TEST(RegistryHive, AFullDiskSaysSoAndLeavesTheLogWhole)
{
    TempDevice dev;
    const auto small = dev.dir() / "small";
    const int filler = testing_support::exit_code_on_small_file_system(small, 256, [&] {
        wince::device::set_root(small);
        HKEY k = nullptr;
        DWORD ignored = 0;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Full", 0, nullptr, 0, 0, nullptr, &k, &ignored) !=
            ERROR_SUCCESS)
            return 1;
        const std::vector<BYTE> block(16 * 1024, 0x5A);
        LONG result = ERROR_SUCCESS;
        for (int i = 0; i < 64 && result == ERROR_SUCCESS; ++i)
            result = RegSetValueExW(k, (L"v" + std::to_wstring(i)).c_str(), 0, REG_BINARY, block.data(),
                                    static_cast<DWORD>(block.size()));
        if (result != ERROR_DISK_FULL)
            return 2;
        if (wince::registry::last_hive_failure() != hive_name() + " cannot grow: the disk is full")
            return 3;
        std::ifstream log(small / "events.jsonl");
        for (std::string line; std::getline(log, line);)
            if (!nlohmann::json::parse(line, nullptr, false).is_object())
                return 4;
        return 0;
    });
    if (filler == testing_support::no_small_file_system)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    EXPECT_EQ(filler, 0);
}
