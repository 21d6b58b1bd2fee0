// The resource loader on a real windres-built image (tests/data/test.rc):
// lookups by ordinal and by name, string tables, and images that are not
// what they claim to be.
#include <algorithm>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include "../data/test_resource.h"
#include "device/device.h"
#include "resources/module.h"

namespace res = wince::resources;

namespace {

std::vector<unsigned char> test_image()
{
    std::ifstream in(TEST_RES_FILE, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

HINSTANCE test_module()
{
    static const HINSTANCE module = res::load_module_file(TEST_RES_FILE);
    return module;
}

std::vector<WORD> words(HINSTANCE module, HRSRC resource)
{
    const auto* data = static_cast<const WORD*>(LockResource(LoadResource(module, resource)));
    return {data, data + SizeofResource(module, resource) / 2};
}

std::string bytes(HINSTANCE module, HRSRC resource)
{
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    return {data, SizeofResource(module, resource)};
}

} // namespace

TEST(ResourceLookup, FindsEveryKindOfResourceByOrdinalOrName)
{
    const HINSTANCE module = test_module();
    ASSERT_NE(module, nullptr);

    // A classic dialog template: style first, then the control count.
    const HRSRC dialog = FindResourceW(module, MAKEINTRESOURCE(IDD_TEST), RT_DIALOG);
    ASSERT_NE(dialog, nullptr);
    const std::vector<WORD> dlg = words(module, dialog);
    ASSERT_GE(dlg.size(), 9u);
    EXPECT_EQ(dlg[0] | dlg[1] << 16, 0x80C80048u);
    EXPECT_EQ(dlg[4], 3); // controls
    EXPECT_EQ(dlg[7], 156);
    EXPECT_EQ(dlg[8], 129);

    ASSERT_NE(FindResourceW(module, MAKEINTRESOURCE(IDR_TEST_MENU), RT_MENU), nullptr);

    // Soft-key bar data, word for word, found by ordinal and by "#130".
    const std::vector<WORD> bar = {130, 2, 0xFFFE, 0x800D, 4, 0x10, 13, 0, 0xFFFF, 0xFFFE, 0, 4, 0x18, 12, 0, 1};
    EXPECT_EQ(words(module, FindResourceW(module, MAKEINTRESOURCE(IDR_TEST_MENU), RT_RCDATA)), bar);
    EXPECT_EQ(FindResourceW(module, L"#130", RT_RCDATA), FindResourceW(module, MAKEINTRESOURCE(130), RT_RCDATA));

    // String types and names compare without regard to case.
    const HRSRC marker = FindResourceW(module, L"hi_res_aware", L"ceux");
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(words(module, marker), std::vector<WORD>{1});
    EXPECT_EQ(bytes(module, FindResourceW(module, L"mixedCASEname", RT_RCDATA)), "odd");

    // The device's language wins over the order in the image.
    EXPECT_EQ(bytes(module, FindResourceW(module, MAKEINTRESOURCE(IDR_LANGUAGES), RT_RCDATA)), "en");
}

TEST(ResourceLookup, MissingResourcesAndForeignHandlesFailWithTheirErrors)
{
    const HINSTANCE module = test_module();
    SetLastError(0);
    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCE(100), L"WAVE"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCE(999), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceW(module, L"#12x", RT_RCDATA), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

    int not_a_module = 0;
    EXPECT_EQ(FindResourceW(reinterpret_cast<HMODULE>(&not_a_module), MAKEINTRESOURCE(1), RT_STRING), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // A resource handle belongs to its module only.
    const HINSTANCE other = res::load_module_file(TEST_RES_FILE);
    const HRSRC dialog = FindResourceW(module, MAKEINTRESOURCE(IDD_TEST), RT_DIALOG);
    EXPECT_EQ(LoadResource(other, dialog), nullptr);
    EXPECT_EQ(SizeofResource(other, dialog), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(LoadResource(module, reinterpret_cast<HRSRC>(&not_a_module)), nullptr);

    // This test binary carries no resources, yet has a module of its own.
    EXPECT_EQ(GetModuleHandleW(nullptr), res::program_module());
    ASSERT_NE(GetModuleHandleW(nullptr), nullptr);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCE(1), RT_STRING), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    // Its own file name, in any case, names it as well.
    std::wstring own_name = L"\\Windows\\" + wince::device::widen(wince::device::program_name());
    std::transform(own_name.begin(), own_name.end(), own_name.begin(), [](wchar_t c) { return std::towupper(c); });
    EXPECT_EQ(GetModuleHandleW(own_name.c_str()), GetModuleHandleW(nullptr));
    EXPECT_EQ(GetModuleHandleW(L"coredll.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(StringTable, ReadsEveryBlockAndConvertsToHostCharacters)
{
    const HINSTANCE module = test_module();
    wchar_t buffer[256];
    EXPECT_EQ(LoadStringW(module, 1, buffer, 255), 10);
    EXPECT_STREQ(buffer, L"CallTicker");
    EXPECT_EQ(LoadStringW(module, 15, buffer, 255), 23);
    EXPECT_STREQ(buffer, L"last of the first block");
    EXPECT_EQ(LoadStringW(module, 16, buffer, 255), 25);
    EXPECT_STREQ(buffer, L"first of the second block");
    EXPECT_EQ(LoadStringW(module, 65535, buffer, 255), 13);
    EXPECT_STREQ(buffer, L"the very last");
    // Only the low 16 bits of the id count.
    EXPECT_EQ(LoadStringW(module, 0x10001, buffer, 255), 10);

    // A surrogate pair becomes one host character.
    EXPECT_EQ(LoadStringW(module, 40, buffer, 255), 8);
    EXPECT_STREQ(buffer, L"Gr\u00fc\u00dfe \U0001F600!");
}

TEST(StringTable, TruncatesTerminatesAndReportsMissingStringsAsEmpty)
{
    const HINSTANCE module = test_module();
    wchar_t buffer[16];

    std::wmemset(buffer, L'#', 16);
    EXPECT_EQ(LoadStringW(module, 1, buffer, 5), 4);
    EXPECT_STREQ(buffer, L"Call");
    EXPECT_EQ(buffer[5], L'#');

    std::wmemset(buffer, L'#', 16);
    EXPECT_EQ(LoadStringW(module, 1, buffer, 1), 0);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(buffer[1], L'#');

    // Missing: in an existing block, in a block the table lacks, and the
    // empty string that is present.
    for (UINT id : {4u, 300u, 17u}) {
        std::wmemset(buffer, L'#', 16);
        EXPECT_EQ(LoadStringW(module, id, buffer, 16), 0) << id;
        EXPECT_EQ(buffer[0], L'\0') << id;
    }

    // No buffer size: a read-only pointer to the whole string, the same
    // each time, valid as long as the module.
    const wchar_t* first = nullptr;
    const wchar_t* second = nullptr;
    EXPECT_EQ(LoadStringW(module, 2, reinterpret_cast<LPWSTR>(&first), 0), 19);
    EXPECT_EQ(LoadStringW(module, 2, reinterpret_cast<LPWSTR>(&second), 0), 19);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::wstring(first, 19), L"None;Sound;Vibrate;");
    EXPECT_EQ(LoadStringW(module, 300, reinterpret_cast<LPWSTR>(&first), 0), 0);
    EXPECT_EQ(first, nullptr);

    EXPECT_EQ(LoadStringW(module, 1, nullptr, 16), 0);
    EXPECT_EQ(LoadStringW(module, 1, buffer, -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ResourceImage, RejectsImagesThatWouldBeReadOutsideTheirBounds)
{
    const std::vector<unsigned char> image = test_image();
    ASSERT_GT(image.size(), 64u);
    EXPECT_NE(res::load_module(image.data(), image.size()), nullptr);

    // Every cut through the image ends inside an entry, apart from the cuts
    // between entries; none may be read past its end.
    for (size_t size = 0; size < image.size(); ++size) {
        const std::vector<unsigned char> cut(image.begin(), image.begin() + static_cast<long>(size));
        const HINSTANCE module = res::load_module(cut.data(), cut.size());
        if (module) {
            wchar_t buffer[64];
            LoadStringW(module, 2, buffer, 64);
        }
    }

    auto put32 = [](std::vector<unsigned char>& bytes, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    // The second entry's data size or header size reaching past the end.
    for (size_t field : {32u, 36u}) {
        for (uint32_t value : {0xFFFFFFFFu, 0x7FFFFFF0u, static_cast<uint32_t>(image.size())}) {
            std::vector<unsigned char> bad = image;
            put32(bad, field, value);
            EXPECT_EQ(res::load_module(bad.data(), bad.size()), nullptr) << field << ' ' << value;
        }
    }
    // An image that does not start with the empty entry is no .res file.
    std::vector<unsigned char> headless(image.begin() + 32, image.end());
    EXPECT_EQ(res::load_module(headless.data(), headless.size()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_FORMAT));
    EXPECT_EQ(res::load_module(nullptr, 10), nullptr);
    EXPECT_EQ(res::load_module_file("/nonexistent/test.res"), nullptr);

    // Flipped bytes anywhere: parsed or rejected, and every string block of
    // an accepted image walked within bounds (the sanitizers watch).
    std::mt19937 random(42);
    for (int round = 0; round < 2000; ++round) {
        std::vector<unsigned char> bad = image;
        for (int flips = 0; flips < 3; ++flips)
            bad[random() % bad.size()] = static_cast<unsigned char>(random());
        const HINSTANCE module = res::load_module(bad.data(), bad.size());
        if (!module)
            continue;
        wchar_t buffer[64];
        for (UINT id : {1u, 2u, 15u, 16u, 40u, 65535u})
            LoadStringW(module, id, buffer, 64);
        if (const HRSRC dialog = FindResourceW(module, MAKEINTRESOURCE(IDD_TEST), RT_DIALOG)) {
            EXPECT_LE(SizeofResource(module, dialog), bad.size());
        }
    }
}

TEST(StringTable, ThreadsShareTheSameReadOnlyStrings)
{
    const HINSTANCE module = res::load_module_file(TEST_RES_FILE);
    std::vector<std::vector<const wchar_t*>> seen(4);
    std::vector<std::thread> threads;
    for (auto& mine : seen)
        threads.emplace_back([&module, &mine] {
            for (UINT id : {1u, 2u, 3u, 15u, 16u, 40u}) {
                const wchar_t* text = nullptr;
                LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
                mine.push_back(text);
            }
        });
    for (auto& t : threads)
        t.join();
    for (const auto& mine : seen)
        EXPECT_EQ(mine, seen[0]);
    EXPECT_STREQ(seen[0][1], L"None;Sound;Vibrate;");
}
