// The notification LED driver and the backlight, device-wide and logged.
#include <gtest/gtest.h>

#include <windows.h>
#include <nled.h>
#include <pm.h>

#include "drivers/power_state.h"
#include "test_device.h"

using testing_support::TempDevice;

TEST(NotificationLed, TheVibratorSwitchesOnAndOffKeepingItsOtherSettings)
{
    TempDevice dev;
    NLED_COUNT_INFO count{};
    ASSERT_TRUE(NLedGetDeviceInfo(NLED_COUNT_INFO_ID, &count));
    EXPECT_EQ(count.cLeds, 2u);

    // As the monitor drives it: read the settings, change OffOnBlink only.
    NLED_SETTINGS_INFO settings{};
    settings.LedNum = 1;
    ASSERT_TRUE(NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, &settings));
    EXPECT_EQ(settings.OffOnBlink, 0);
    settings.OffOnBlink = 1;
    settings.OnTime = 1234;
    ASSERT_TRUE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &settings));

    NLED_SETTINGS_INFO read{};
    read.LedNum = 1;
    ASSERT_TRUE(NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, &read));
    EXPECT_EQ(read.OffOnBlink, 1);
    EXPECT_EQ(read.OnTime, 1234);
    NLED_SETTINGS_INFO other{};
    other.LedNum = 0;
    ASSERT_TRUE(NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, &other));
    EXPECT_EQ(other.OffOnBlink, 0) << "LED 0 is a different LED";

    read.OffOnBlink = 0;
    ASSERT_TRUE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &read));
    const auto leds = dev.events("led");
    ASSERT_EQ(leds.size(), 2u);
    EXPECT_EQ(leds[0]["led"], 1);
    EXPECT_EQ(leds[0]["on"], true);
    EXPECT_EQ(leds[1]["on"], false);
}

TEST(NotificationLed, UnknownLedsAndRequestsFail)
{
    TempDevice dev;
    NLED_SETTINGS_INFO settings{};
    settings.LedNum = 2;
    SetLastError(0);
    EXPECT_FALSE(NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, &settings));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &settings));
    settings.LedNum = 1;
    settings.OffOnBlink = 3;
    EXPECT_FALSE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &settings));
    EXPECT_FALSE(NLedSetDevice(NLED_COUNT_INFO_ID, &settings));
    EXPECT_FALSE(NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, nullptr));
    EXPECT_TRUE(dev.events("led").empty());
}

TEST(Backlight, OffThenOnThenHandedBack)
{
    TempDevice dev;
    EXPECT_EQ(wince::drivers::backlight().state, D0);
    ASSERT_EQ(SetDevicePower(const_cast<wchar_t*>(L"BKL1:"), POWER_NAME | POWER_FORCE, D4),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(wince::drivers::backlight().state, D4);
    EXPECT_TRUE(wince::drivers::backlight().held);
    ASSERT_EQ(SetDevicePower(const_cast<wchar_t*>(L"BKL1:"), POWER_NAME | POWER_FORCE, D0),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(SetDevicePower(const_cast<wchar_t*>(L"BKL1:"), POWER_NAME | POWER_FORCE, PwrDeviceUnspecified),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(wince::drivers::backlight().state, D0);
    EXPECT_FALSE(wince::drivers::backlight().held);

    const auto events = dev.events("backlight");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]["device"], "BKL1:");
    EXPECT_EQ(events[0]["state"], "D4");
    EXPECT_EQ(events[0]["flags"], 0x1001);
    EXPECT_EQ(events[1]["state"], "D0");
    EXPECT_EQ(events[2]["state"], "PwrDeviceUnspecified");
}

TEST(Backlight, UnknownDevicesAndStatesFailWithoutChangingIt)
{
    TempDevice dev;
    EXPECT_EQ(SetDevicePower(const_cast<wchar_t*>(L"BKL9:"), POWER_NAME, D4), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SetDevicePower(const_cast<wchar_t*>(L"BKL1:"), 0, D4), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetDevicePower(const_cast<wchar_t*>(L"BKL1:"), POWER_NAME, static_cast<CEDEVICE_POWER_STATE>(7)),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetDevicePower(nullptr, POWER_NAME, D4), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(wince::drivers::backlight().state, D0);
    EXPECT_TRUE(dev.events("backlight").empty());
}
