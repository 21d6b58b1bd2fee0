// The settings store: defaults, how stored numbers read back, sub-paths, the
// value tables, and the store's behaviour when the registry misbehaves.
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "registry/registry.h"
#include "settings.h"
#include "test_device.h"

using testing_support::TempDevice;

namespace {

const wchar_t* const settings_path = L"Software\\Apps\\CallTicker";

void store(const wchar_t* name, DWORD type, const void* data, DWORD size, const wchar_t* path = settings_path)
{
    HKEY key = nullptr;
    DWORD disposition;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, 0, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void store_dword(const wchar_t* name, DWORD value) { store(name, REG_DWORD, &value, 4); }

std::optional<DWORD> stored_dword(const wchar_t* path, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, 0, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD value = 0, size = 4, type = 0;
    LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_DWORD)
        return std::nullopt;
    return value;
}

struct Defaults {
    bool enabled;
    int on, off, regular, delay, before, screen;
};

Defaults read_all()
{
    AppSettings settings;
    return {settings.GetEnabled(),         settings.GetOnSoundType(),        settings.GetOffSoundType(),
            settings.GetRegularSoundType(), settings.GetRegularSoundDelay(), settings.GetRegularSoundBefore(),
            settings.GetTurnOffScr()};
}

void expect_defaults(const Defaults& d)
{
    EXPECT_TRUE(d.enabled);
    EXPECT_EQ(d.on, SignalSound);
    EXPECT_EQ(d.off, SignalSound);
    EXPECT_EQ(d.regular, SignalSound);
    EXPECT_EQ(d.delay, 1);
    EXPECT_EQ(d.before, 5);
    EXPECT_EQ(d.screen, 1);
}

} // namespace

TEST(Settings, MissingKeyIsCreatedEmptyAndEveryReaderGivesItsDefault)
{
    TempDevice dev;
    const Defaults d = read_all();
    expect_defaults(d);
    EXPECT_EQ(RegularSoundDelayMs(d.delay) - RegularSoundBeforeMs(d.before), 55000);
    EXPECT_EQ(TurnOffScrMs(d.screen), 5000);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, settings_path, 0, 0, &key), ERROR_SUCCESS);
    DWORD values = 99;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    EXPECT_EQ(values, 0u);
    RegCloseKey(key);
    EXPECT_EQ(wince::registry::open_handle_count(), 0u);
}

TEST(Settings, WritersStoreAllThirtyTwoBitsAndReadersTheLowSixteenSigned)
{
    TempDevice dev;
    AppSettings settings;
    EXPECT_TRUE(settings.SetEnabled(0));
    EXPECT_TRUE(settings.SetOnSoundType(SignalVibrate));
    EXPECT_TRUE(settings.SetOffSoundType(SignalNone));
    EXPECT_TRUE(settings.SetRegularSoundType(SignalVibrate));
    EXPECT_TRUE(settings.SetRegularSoundDelay(8));
    EXPECT_TRUE(settings.SetRegularSoundBefore(-1));
    EXPECT_TRUE(settings.SetTurnOffScr(0));
    EXPECT_FALSE(settings.GetEnabled());
    EXPECT_EQ(settings.GetOnSoundType(), 2);
    EXPECT_EQ(settings.GetOffSoundType(), 0);
    EXPECT_EQ(settings.GetRegularSoundType(), 2);
    EXPECT_EQ(settings.GetRegularSoundDelay(), 8);
    EXPECT_EQ(settings.GetRegularSoundBefore(), -1);
    EXPECT_EQ(settings.GetTurnOffScr(), 0);
    EXPECT_EQ(stored_dword(settings_path, L"RegularSoundBefore"), 0xFFFFFFFFu);

    // The seven writes are logged in the order they happen.
    const auto sets = dev.events("reg.set");
    ASSERT_EQ(sets.size(), 7u);
    EXPECT_EQ(sets[5]["value"], "RegularSoundBefore");
    EXPECT_EQ(sets[5]["data"], 0xFFFFFFFFu);

    store_dword(L"RegularSoundDelay", 65537);
    EXPECT_EQ(settings.GetRegularSoundDelay(), 1);
    store_dword(L"RegularSoundDelay", 65535);
    EXPECT_EQ(settings.GetRegularSoundDelay(), -1);
    store_dword(L"Enabled", 65536);
    EXPECT_FALSE(settings.GetEnabled());
    store_dword(L"Enabled", 2);
    EXPECT_TRUE(settings.GetEnabled());
}

TEST(Settings, ValuesOfAnotherTypeReadAsMissing)
{
    TempDevice dev;
    const BYTE bytes[4] = {2, 0, 0, 0};
    store(L"OnSoundType", REG_BINARY, bytes, 4);
    const std::wstring text = L"2";
    store(L"TurnOffScr", REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    store(L"Enabled", REG_DWORD_BIG_ENDIAN, bytes, 4);
    expect_defaults(read_all());
}

TEST(Settings, StoredMinusOneGivesTheTableDefaults)
{
    TempDevice dev;
    AppSettings settings;
    settings.SetRegularSoundDelay(-1);
    settings.SetRegularSoundBefore(-1);
    settings.SetTurnOffScr(-1);
    settings.SetRegularSoundType(-1);
    EXPECT_EQ(RegularSoundDelayMs(settings.GetRegularSoundDelay()), 60000);
    EXPECT_EQ(RegularSoundBeforeMs(settings.GetRegularSoundBefore()), 5000);
    EXPECT_EQ(TurnOffScrMs(settings.GetTurnOffScr()), 5000);
    EXPECT_EQ(settings.GetRegularSoundType(), -1);
}

TEST(SettingsTables, EveryLookupAtBelowAndBeyondItsTable)
{
    const int delays[] = {30000, 60000, 90000, 120000, 180000, 240000, 300000, 420000, 600000};
    const int leads[] = {0, 1000, 2000, 3000, 4000, 5000, 7000, 10000, 15000, 20000};
    const int screens[] = {-1, 5000, 10000, 15000, 20000, 25000};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(RegularSoundDelayMs(i), delays[i]) << i;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(RegularSoundBeforeMs(i), leads[i]) << i;
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(TurnOffScrMs(i), screens[i]) << i;
    EXPECT_EQ(RegularSoundBeforeCount(), 10);

    for (int outside : {-1, -32768}) {
        EXPECT_EQ(RegularSoundDelayMs(outside), 60000);
        EXPECT_EQ(RegularSoundBeforeMs(outside), 5000);
        EXPECT_EQ(TurnOffScrMs(outside), 5000);
    }
    EXPECT_EQ(RegularSoundDelayMs(9), 60000);
    EXPECT_EQ(RegularSoundBeforeMs(10), 5000);
    EXPECT_EQ(TurnOffScrMs(6), 5000);
    EXPECT_EQ(RegularSoundDelayMs(32767), 60000);

    // Every pairing gives a positive first delay.
    for (int d = 0; d < 9; ++d)
        for (int b = 0; b < RegularSoundBeforeCount(); ++b)
            EXPECT_GT(RegularSoundDelayMs(d) - RegularSoundBeforeMs(b), 0);
    EXPECT_EQ(RegularSoundDelayMs(0) - RegularSoundBeforeMs(9), 10000);
}

TEST(SettingsKeyPaths, SubPathsJoinWithOneBackslashAndMustFitMaxPath)
{
    TempDevice dev;
    // 250 characters of base path: base + "\" + 8 characters + terminator is
    // exactly MAX_PATH, so a doubled backslash would not fit.
    const std::wstring base = L"Software\\" + std::wstring(240, L'b');
    ASSERT_EQ(base.size(), 249u);
    const std::wstring base250 = base + L"c";
    SettingsKey key;
    key.SetBasePath(base250.c_str());
    EXPECT_TRUE(key.WriteDword(L"v", 1, L"\\SubPath"));
    EXPECT_TRUE(key.WriteDword(L"v", 2, L"SubPath2"));
    EXPECT_TRUE(key.WriteDword(L"v", 3, NULL));
    EXPECT_EQ(stored_dword((base250 + L"\\SubPath").c_str(), L"v"), 1u);
    EXPECT_EQ(stored_dword((base250 + L"\\SubPath2").c_str(), L"v"), 2u);
    EXPECT_EQ(stored_dword(base250.c_str(), L"v"), 3u);

    // One character more no longer fits: the operation fails and touches nothing.
    EXPECT_FALSE(key.WriteDword(L"v", 4, L"SubPath90"));
    short value = 0;
    EXPECT_FALSE(key.ReadShort(L"v", &value, L"\\SubPath90"));
    const std::wstring far_too_long(1000, L'x');
    EXPECT_FALSE(key.WriteDword(L"v", 5, far_too_long.c_str()));
    EXPECT_EQ(stored_dword((base250 + L"\\SubPath90").c_str(), L"v"), std::nullopt);
    EXPECT_EQ(wince::registry::open_handle_count(), 0u);
}

TEST(SettingsKeyRaw, RawReadsAndBinaryWrites)
{
    TempDevice dev;
    SettingsKey key;
    key.SetBasePath(settings_path);
    const BYTE data[5] = {1, 2, 3, 4, 5};
    EXPECT_TRUE(key.WriteBinary(L"Blob", data, 5, NULL));
    BYTE back[8] = {};
    DWORD count = sizeof back;
    EXPECT_TRUE(key.ReadRaw(L"Blob", back, &count, NULL));
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(back[4], 5);
    count = 2;
    EXPECT_FALSE(key.ReadRaw(L"Blob", back, &count, NULL));
    // Binary data under a setting's name is not a setting.
    short value = 77;
    EXPECT_FALSE(key.ReadShort(L"Blob", &value, NULL));
    EXPECT_EQ(value, 77);
    EXPECT_EQ(wince::registry::open_handle_count(), 0u);
}

TEST(SettingsKeyFaults, ShortDwordsUseOnlyTheBytesThatExist)
{
    TempDevice dev;
    const BYTE one = 0x03;
    store(L"RegularSoundBefore", REG_DWORD, &one, 1);
    AppSettings settings;
    EXPECT_EQ(settings.GetRegularSoundBefore(), 3);
    store(L"RegularSoundBefore", REG_DWORD, &one, 0);
    EXPECT_EQ(settings.GetRegularSoundBefore(), 5); // the default: no bytes at all
    const BYTE fe = 0xFE;
    store(L"TurnOffScr", REG_DWORD, &fe, 1);
    EXPECT_EQ(settings.GetTurnOffScr(), 0xFE);
}

TEST(SettingsKeyFaults, FailedSizeQueryClosesTheKeyAndReadsGiveDefaults)
{
    TempDevice dev(nlohmann::json{{"faults", {{"*", {{"RegQueryInfoKeyW", 2}}}}}});
    store_dword(L"OnSoundType", 2);
    AppSettings settings;
    EXPECT_EQ(settings.GetOnSoundType(), 1);
    EXPECT_EQ(wince::registry::open_handle_count(), 0u);
    EXPECT_FALSE(settings.SetOnSoundType(0));
    EXPECT_EQ(wince::registry::open_handle_count(), 0u);
    EXPECT_EQ(settings.GetOnSoundType(), 2);
}

TEST(SettingsKeyFaults, FailedBufferAllocationFailsTheOperationCleanly)
{
    TempDevice dev(nlohmann::json{{"faults", {{"*", {{"LocalAlloc", 1}}}}}});
    store_dword(L"OnSoundType", 2);
    AppSettings settings;
    EXPECT_EQ(settings.GetOnSoundType(), 1);
    EXPECT_EQ(wince::registry::open_handle_count(), 0u);
    EXPECT_EQ(settings.GetOnSoundType(), 2);
}

TEST(SettingsKeyFaults, WithoutABasePathEveryOperationFails)
{
    TempDevice dev;
    SettingsKey key; // never given a base path, as after a failed copy
    short value = 9;
    BYTE raw[4] = {};
    DWORD count = sizeof raw;
    EXPECT_FALSE(key.ReadShort(L"Enabled", &value, NULL));
    EXPECT_FALSE(key.ReadRaw(L"Enabled", raw, &count, NULL));
    EXPECT_FALSE(key.WriteDword(L"Enabled", 1, NULL));
    EXPECT_FALSE(key.WriteBinary(L"Enabled", raw, sizeof raw, NULL));
    EXPECT_EQ(value, 9);
    EXPECT_TRUE(dev.events("reg.create").empty());
}

TEST(SettingsKeyFaults, FailedBasePathCopyLeavesNoBasePath)
{
    TempDevice dev(nlohmann::json{{"faults", {{"*", {{"_wcsdup", 1}}}}}});
    {
        AppSettings settings; // its copy of the path fails
        EXPECT_TRUE(settings.GetEnabled());
        EXPECT_FALSE(settings.SetEnabled(0));
        EXPECT_TRUE(dev.events("reg.create").empty());
    }
    AppSettings settings; // the fault is spent: this one has its path
    EXPECT_TRUE(settings.SetEnabled(0));
    EXPECT_FALSE(settings.GetEnabled());
}

TEST(SettingsKeyFaults, AValueThatAppearsAfterOpenNeverReadsOutsideTheBuffer)
{
    TempDevice dev;
    // Another process keeps adding and removing the only value of the key, so
    // that reads meet it after sizing the key empty, and the reverse.
    HKEY key = nullptr;
    DWORD disposition;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, settings_path, 0, nullptr, 0, 0, nullptr, &key, &disposition);
    RegCloseKey(key);
    pid_t writer = fork();
    if (writer == 0) {
        HKEY k = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, settings_path, 0, 0, &k);
        const DWORD seven = 7;
        for (int i = 0; i < 1500; ++i) {
            RegSetValueExW(k, L"RegularSoundBefore", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven), 4);
            RegDeleteValueW(k, L"RegularSoundBefore");
        }
        _exit(0);
    }
    AppSettings settings;
    for (int i = 0; i < 1500; ++i) {
        const int value = settings.GetRegularSoundBefore();
        ASSERT_TRUE(value == 5 || value == 7) << value;
    }
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
