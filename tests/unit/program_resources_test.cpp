// A binary built with callticker_add_resources carries its image: the
// program's own module (a null module argument, GetModuleHandleW(NULL))
// holds the resources of its script.
#include <gtest/gtest.h>

#include <windows.h>

#include "../data/test_resource.h"
#include "resources/module.h"

TEST(ProgramResources, TheProgramsOwnModuleHoldsItsEmbeddedImage)
{
    const HINSTANCE self = GetModuleHandleW(nullptr);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self, wince::resources::program_module());

    wchar_t text[32];
    EXPECT_EQ(LoadStringW(self, 3, text, 32), 10);
    EXPECT_STREQ(text, L"%d seconds");
    EXPECT_EQ(LoadStringW(nullptr, 1, text, 32), 10);
    EXPECT_STREQ(text, L"CallTicker");

    const HRSRC dialog = FindResourceW(nullptr, MAKEINTRESOURCE(IDD_TEST), RT_DIALOG);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(LoadResource(nullptr, dialog), LoadResource(self, dialog));
    EXPECT_GT(SizeofResource(self, dialog), 0u);
    EXPECT_GT(wince_program_resources_size, SizeofResource(self, dialog));
}
