// The C runtime and memory pieces the programs use: Windows formatting,
// local memory, the wide-string extras, the per-thread last error, and the
// allocation failures a device can be told to produce.
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include "device/device.h"
#include "test_device.h"

using testing_support::TempDevice;

namespace {

std::wstring format(const wchar_t* fmt, auto... args)
{
    wchar_t buffer[1100];
    const int n = wsprintfW(buffer, fmt, args...);
    EXPECT_EQ(static_cast<size_t>(n), std::wcslen(buffer)) << fmt;
    return buffer;
}

} // namespace

TEST(WsprintfW, FormatsAsWindowsDoes)
{
    // %s and %c are wide in the wide function; h makes them narrow.
    EXPECT_EQ(format(L"%s|%c|%ls|%lc", L"wide", L'W', L"also", L'L'), L"wide|W|also|L");
    EXPECT_EQ(format(L"%hs|%hc|%S|%C", "narrow", 'n', "caps", 'c'), L"narrow|n|caps|c");
    // Narrow text is in the ANSI code page, Windows-1252, not UTF-8.
    EXPECT_EQ(format(L"%hs|%hc|%C", "gr\xfc\xdf \x80\x9f", '\x93', '\xe9'), L"gr\u00fc\u00df \u20ac\u0178|\u201c|\u00e9");
    EXPECT_EQ(format(L"[%s][%hs]", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr)),
              L"[(null)][(null)]");

    EXPECT_EQ(format(L"%d seconds", 15), L"15 seconds");
    EXPECT_EQ(format(L"%i %d %u", -7, INT32_MIN, 4000000000u), L"-7 -2147483648 4000000000");
    EXPECT_EQ(format(L"%x %X %lx %#x %#X", 0xbeefu, 0xbeefu, 0xFFFFFFFFu, 255u, 255u), L"beef BEEF ffffffff 0xff 0XFF");
    EXPECT_EQ(format(L"%ld %lu", static_cast<LONG>(-5), static_cast<DWORD>(0x80000000u)), L"-5 2147483648");
    // hd and hu take a short, so 70000 is 4464 (documented, where Wine prints 70000).
    EXPECT_EQ(format(L"%hd %hu", 70000, 70000), L"4464 4464");
    EXPECT_EQ(format(L"%I64d %I64u", INT64_C(-1234567890123), UINT64_C(18446744073709551615)),
              L"-1234567890123 18446744073709551615");

    // Flags, width and precision.
    EXPECT_EQ(format(L"[%5d][%-5d][%05d][%-05d]", 42, 42, 42, 42), L"[   42][42   ][00042][42   ]");
    // The precision counts digits only: -7 at .3 is -007.
    EXPECT_EQ(format(L"[%05d][%.4d][%6.3d]", -42, 7, -7), L"[-0042][0007][  -007]");
    EXPECT_EQ(format(L"[%08X][%.2x]", 0xABCu, 0xFu), L"[00000ABC][0f]");
    EXPECT_EQ(format(L"[%6s][%-6s][%.2s][%4.1s]", L"ab", L"ab", L"abc", L"xyz"), L"[    ab][ab    ][ab][   x]");
    EXPECT_EQ(format(L"[%3c][%-3c]", L'a', L'b'), L"[  a][b  ]");

    // %% is a percent sign; a conversion Windows lacks prints its letter and
    // takes no argument; a lone % at the end prints nothing.
    EXPECT_EQ(format(L"100%% %f %d%", 3), L"100% f 3");
}

TEST(WsprintfW, StopsAt1023CharactersAsWindowsBufferLimitIs1024)
{
    const std::wstring long_text(2000, L'x');
    wchar_t buffer[1100];
    std::wmemset(buffer, L'#', 1100);
    EXPECT_EQ(wsprintfW(buffer, L"ab%s", long_text.c_str()), 1023);
    EXPECT_EQ(buffer[1023], L'\0');
    EXPECT_EQ(buffer[1024], L'#');
    EXPECT_EQ(std::wstring(buffer, 2), L"ab");
}

TEST(LocalMemory, ZeroFillsFreesOnceAndRejectsWhatItDidNotAllocate)
{
    auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 4096));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(block[i], 0) << i;
    EXPECT_EQ(LocalSize(block), 4096u);
    EXPECT_EQ(LocalFree(block), nullptr);

    // A block that is no longer (or never was) one is handed back.
    SetLastError(0);
    EXPECT_EQ(LocalFree(block), block);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    int local = 0;
    EXPECT_EQ(LocalFree(&local), &local);
    EXPECT_EQ(LocalSize(&local), 0u);
    EXPECT_EQ(LocalFree(nullptr), nullptr);

    HLOCAL empty = LocalAlloc(LMEM_FIXED, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(LocalSize(empty), 0u);
    EXPECT_EQ(LocalFree(empty), nullptr);

    // Moveable memory does not exist on the device.
    EXPECT_EQ(LocalAlloc(0x0002 /* LMEM_MOVEABLE */, 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LocalAlloc(LPTR, SIZE_MAX), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST(LocalMemory, ThreadsAllocateAndFreeAtOnce)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                auto* block = static_cast<int*>(LocalAlloc(LPTR, sizeof(int) * 4));
                ASSERT_NE(block, nullptr);
                block[0] = t;
                EXPECT_EQ(LocalSize(block), sizeof(int) * 4);
                EXPECT_EQ(LocalFree(block), nullptr);
            }
        });
    for (auto& thread : threads)
        thread.join();
}

TEST(FaultInjection, AllocationsFailAsToldThenRecover)
{
    TempDevice dev(nlohmann::json{{"faults", {{"*", {{"LocalAlloc", 1}, {"_wcsdup", "fail"}}}}}});
    SetLastError(0);
    EXPECT_EQ(LocalAlloc(LPTR, 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HLOCAL second = LocalAlloc(LPTR, 16);
    EXPECT_NE(second, nullptr);
    LocalFree(second);

    SetLastError(0);
    EXPECT_EQ(_wcsdup(L"Software\\Apps\\CallTicker"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));

    // The configuration outlives the folder in this process: heal it.
    wince::device::write_config(wince::device::default_config());
}

TEST(WideStrings, CompareConvertAndCopyAsTheDeviceRuntime)
{
    wchar_t* copy = _wcsdup(L"Software\\Apps\\CallTicker");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, L"Software\\Apps\\CallTicker");
    EXPECT_STREQ(_wcsupr(copy), L"SOFTWARE\\APPS\\CALLTICKER");
    EXPECT_STREQ(_wcslwr(copy), L"software\\apps\\callticker");
    std::free(copy);
    EXPECT_EQ(_wcsdup(nullptr), nullptr);

    EXPECT_EQ(_wcsicmp(L"CallTicker.exe", L"CALLTICKER.EXE"), 0);
    EXPECT_LT(_wcsicmp(L"abc", L"ABD"), 0);
    EXPECT_GT(_wcsicmp(L"abc", L"AB"), 0);
    // Letters compare as lower case, so '_' (0x5F) sorts before them.
    EXPECT_GT(_wcsicmp(L"A", L"_"), 0);
    EXPECT_EQ(_wcsnicmp(L"RESET now", L"reset", 5), 0);
    EXPECT_NE(_wcsnicmp(L"RESET now", L"reset", 6), 0);
    EXPECT_EQ(_wcsnicmp(nullptr, nullptr, 0), 0);

    EXPECT_EQ(_wtoi(L"  42abc"), 42);
    EXPECT_EQ(_wtoi(L"-17"), -17);
    EXPECT_EQ(_wtoi(L"+5"), 5);
    EXPECT_EQ(_wtoi(L"x1"), 0);
    EXPECT_EQ(_wtoi(L"99999999999"), INT32_MAX);
    EXPECT_EQ(_wtol(L"-99999999999"), INT32_MIN);
    EXPECT_EQ(_wtoi(nullptr), 0);
}

TEST(LastError, EachThreadKeepsItsOwn)
{
    SetLastError(1234);
    DWORD seen_by_other = 1;
    std::thread other([&] {
        seen_by_other = GetLastError();
        SetLastError(99);
    });
    other.join();
    EXPECT_EQ(seen_by_other, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}
