// The settings program's own logic, without its dialogs: the list texts
// split into combo-box items, the bold title font at the screen's
// resolution, and the monitor's path beside the program.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include "config.h"
#include "device/device.h"
#include "user/fonts.h"
#include "kernel/sync.h"
#include "test_device.h"

using nlohmann::json;
using testing_support::TempDevice;

namespace {

// A stand-in control that keeps what CB_ADDSTRING and WM_SETFONT give it.
std::vector<std::wstring> g_added;
HFONT g_font = nullptr;

LRESULT CALLBACK RecordingComboProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == CB_ADDSTRING) {
        g_added.emplace_back(reinterpret_cast<LPCWSTR>(lParam));
        return static_cast<LRESULT>(g_added.size() - 1);
    }
    if (uMsg == WM_SETFONT) {
        g_font = reinterpret_cast<HFONT>(wParam);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

class ListItems : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = RecordingComboProc;
        wc.lpszClassName = L"RecordingCombo";
        RegisterClassW(&wc);
        combo_ = CreateWindowExW(0, L"RecordingCombo", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(combo_, nullptr);
        g_added.clear();
    }
    void TearDown() override
    {
        DestroyWindow(combo_);
        UnregisterClassW(L"RecordingCombo", nullptr);
    }

    std::vector<std::wstring> Items(LPCWSTR text)
    {
        g_added.clear();
        AddListItems(combo_, text);
        return g_added;
    }

    TempDevice device_;
    wince::sync::DeviceThread device_thread_;
    HWND combo_ = nullptr;
};

TEST_F(ListItems, EachSemicolonEndsAnItemAndWhatFollowsTheLastIsDropped)
{
    EXPECT_EQ(Items(L"None;Sound;Vibrate;"), (std::vector<std::wstring>{L"None", L"Sound", L"Vibrate"}));
    EXPECT_EQ(Items(L"a;;b;tail"), (std::vector<std::wstring>{L"a", L"", L"b"}));
    EXPECT_TRUE(Items(L"no semicolon").empty());
    EXPECT_TRUE(Items(L"").empty());
    EXPECT_TRUE(Items(nullptr).empty());
}

TEST_F(ListItems, AnItemTooLongForItsBufferIsCutAndTheNextStaysWhole)
{
    const std::wstring long_item(300, L'x');
    const auto items = Items((long_item + L";next;").c_str());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], std::wstring(COMBO_ITEM_CHARS - 1, L'x'));
    EXPECT_EQ(items[1], L"next");
    // Exactly as long as fits: kept whole.
    const std::wstring fitting(COMBO_ITEM_CHARS - 1, L'y');
    EXPECT_EQ(Items((fitting + L";").c_str()), std::vector<std::wstring>{fitting});
}

TEST(BoldFont, IsANinePointBoldTahomaAtTheScreensResolution)
{
    wince::sync::DeviceThread device_thread;
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingComboProc;
    wc.lpszClassName = L"RecordingControl";
    RegisterClassW(&wc);
    for (const auto& [dpi, height] : {std::pair{96, -12}, {131, -16}, {192, -24}}) {
        TempDevice device(json{{"dpi", dpi}});
        HWND dialog = CreateWindowExW(0, L"RecordingControl", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        CreateWindowExW(0, L"RecordingControl", L"", WS_CHILD, 0, 0, 0, 0, dialog, reinterpret_cast<HMENU>(1008), nullptr,
                        nullptr);
        g_font = nullptr;
        CreateBoldFont();
        SetBoldFont(dialog, 1008);
        SetBoldFont(dialog, 999); // no such control: nothing happens
        ASSERT_NE(g_font, nullptr);
        const auto font = wince::user::fonts::logfont(g_font);
        ASSERT_TRUE(font.has_value());
        EXPECT_EQ(font->lfHeight, height) << dpi << " dpi";
        EXPECT_EQ(font->lfWeight, FW_BOLD);
        EXPECT_EQ(font->lfPitchAndFamily, FF_SWISS | DEFAULT_PITCH);
        EXPECT_EQ(font->lfCharSet, ANSI_CHARSET);
        EXPECT_STREQ(font->lfFaceName, L"Tahoma");
        // Deleted once, however often it is asked.
        DeleteBoldFont();
        EXPECT_FALSE(wince::user::fonts::logfont(g_font).has_value());
        DeleteBoldFont();
        DestroyWindow(dialog);
    }
    UnregisterClassW(L"RecordingControl", nullptr);
}

class MonitorPath : public ::testing::Test {
protected:
    void SetUp() override { saved_ = wince::device::program_path(); }
    void TearDown() override { wince::device::set_program(saved_); }

    static std::wstring PathFor(const std::filesystem::path& program)
    {
        wince::device::set_program(program);
        WCHAR path[MAX_PATH];
        wmemset(path, L'?', MAX_PATH);
        GetMonitorPath(path);
        return path;
    }

    std::filesystem::path saved_;
};

TEST_F(MonitorPath, TheMonitorLiesBesideTheProgram)
{
    TempDevice device;
    EXPECT_EQ(PathFor(device.dir() / "Program Files" / "X" / "CallTickerCfg.exe"), L"\\Program Files\\X\\CallTicker.exe");
    // Started from outside the device: its host path, written with backslashes.
    EXPECT_EQ(PathFor("/opt/phone/bin/CallTickerCfg.exe"), L"\\opt\\phone\\bin\\CallTicker.exe");
}

TEST_F(MonitorPath, APathThatWouldNotFitIsEmpty)
{
    TempDevice device;
    const auto dir = device.dir() / "Program Files";
    // The program's own path does not fit in MAX_PATH.
    EXPECT_EQ(PathFor(dir / std::string(300, 'd') / "CallTickerCfg.exe"), L"");
    // The program's path fits, the monitor's name beside it does not: with
    // the folder's 246 characters it would be 260 long, one more than the
    // 259 there is room for beside the terminator.
    const std::wstring prefix = L"\\Program Files\\";
    const std::string folder(246 - prefix.size() - 1, 'f');
    const auto near_limit = dir / folder / "Cfg.exe";
    ASSERT_LT(wince::device::device_path(near_limit).size(), size_t{MAX_PATH});
    EXPECT_EQ(PathFor(near_limit), L"");
    // One folder character less and it fits exactly.
    const auto at_limit = dir / std::string(folder.size() - 1, 'f') / "Cfg.exe";
    EXPECT_EQ(PathFor(at_limit).size(), size_t{MAX_PATH - 1});
}

TEST_F(MonitorPath, WithoutItsOwnPathTheProgramStartsNothing)
{
    TempDevice device(json{{"faults", {{"*", {{"GetModuleFileNameW", "fail"}}}}}});
    EXPECT_EQ(PathFor(device.dir() / "Program Files" / "CallTicker" / "CallTickerCfg.exe"), L"");
    EXPECT_FALSE(StartMonitor(nullptr));
    // A given path too long for the buffer is not started either.
    const std::wstring too_long = L"\\" + std::wstring(MAX_PATH - 16, L'p') + L"\\CallTicker.exe";
    ASSERT_EQ(too_long.size(), size_t{MAX_PATH});
    EXPECT_FALSE(StartMonitor(too_long.c_str()));
    EXPECT_TRUE(device.events("shell.execute").empty());
    // One character less fits, and is tried.
    EXPECT_FALSE(StartMonitor(too_long.substr(1).c_str()));
    EXPECT_EQ(device.events("shell.execute").size(), 1u);
}

} // namespace
