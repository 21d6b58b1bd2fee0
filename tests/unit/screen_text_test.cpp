// phone screen's picture of the screen model: where things land on the
// 40-column grid and how states are marked.
#include <gtest/gtest.h>

#include "render/screen_text.h"

namespace screen = wince::screen;

namespace {

// A lit 240 x 320 screen at 96 dpi with its shell bars.
screen::Screen lit(const std::string& title)
{
    screen::Screen s;
    s.dark = false;
    s.title = title;
    s.ok_button = true;
    s.title_bar = {0, 0, 240, 26};
    s.client = {0, 26, 240, 268};
    s.softkey_bar = {0, 294, 240, 26};
    s.softkeys = {{"OK", false, {0, 294, 120, 26}}, {"Actions", true, {120, 294, 120, 26}}};
    return s;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    return out;
}

} // namespace

TEST(ScreenText, ADarkScreenIsOneLine)
{
    EXPECT_EQ(phone::screen_text(screen::Screen{}), "The screen is dark: the backlight is off.\n");
}

TEST(ScreenText, ControlsLandInTheirRowsWithTheirStates)
{
    screen::Screen s = lit("A title far too long to fit beside the ok button");
    screen::Control check{1000, "BUTTON", "Enabled", {3, 29, 180, 16}};
    check.checked = false;
    screen::Control title{1008, "STATIC", "Bold", {25, 29 + 26, 180, 14}};
    title.bold = true;
    title.align = "center";
    screen::Control list{1001, "COMBOBOX", "Sound", {90, 29 + 52, 132, 19}};
    list.items = {"None", "Sound"};
    list.selection = 1;
    list.dropped = true;
    list.focused = true;
    s.controls = {check, title, list};
    const auto out = lines(phone::screen_text(s));
    ASSERT_EQ(out.size(), 26u); // 3 title lines, 20 rows, 3 soft-key lines
    EXPECT_EQ(out[1], "| A title far too long to fit beside  [ok] |"); // cut before the ok
    EXPECT_EQ(out[3].substr(0, 14), "| [ ] Enabled ");
    EXPECT_NE(out[5].find("*Bold*"), std::string::npos);
    EXPECT_EQ(out[7][1], '>'); // the focused list's row
    EXPECT_NE(out[7].find("[Sound"), std::string::npos);
    EXPECT_NE(out[7].find("v]"), std::string::npos);
    EXPECT_NE(out[9].find("| None"), std::string::npos);
    EXPECT_NE(out[10].find("|*Sound"), std::string::npos);
    EXPECT_EQ(out[24], "| OK                            Actions ^  |");
}

TEST(ScreenText, ALabelSharesTheRowOfTheFieldBesideIt)
{
    // The label's centre lies a row below the field's centre, yet within it.
    screen::Screen s = lit("Rows");
    screen::Control list{1005, "COMBOBOX", "5 sec.", {97, 160, 143, 22}};
    screen::Control label{1017, "STATIC", "Off:", {3, 168, 90, 13}};
    screen::Control alone{1018, "STATIC", "Alone", {3, 190, 90, 13}};
    s.controls = {label, list, alone};
    const auto out = lines(phone::screen_text(s));
    size_t row = 0;
    while (row < out.size() && out[row].find("[5 sec.") == std::string::npos)
        ++row;
    ASSERT_LT(row, out.size());
    EXPECT_NE(out[row].find("| Off:"), std::string::npos);
    EXPECT_EQ(out[row].find("Alone"), std::string::npos); // overlaps no field: a row of its own
}

TEST(ScreenText, AnOpenListLiesOverTheControlsBelowIt)
{
    screen::Screen s = lit("Lists");
    screen::Control open{1003, "COMBOBOX", "Sound", {90, 60, 132, 19}};
    open.items = {"None", "Sound", "Vibrate"};
    open.selection = 1;
    open.dropped = true;
    screen::Control below{1004, "COMBOBOX", "1 min.", {90, 86, 132, 19}};
    s.controls = {open, below};
    const std::string text = phone::screen_text(s);
    EXPECT_NE(text.find("| None"), std::string::npos);
    EXPECT_NE(text.find("|*Sound"), std::string::npos);
    EXPECT_EQ(text.find("1 min."), std::string::npos); // hidden under the open list
}

TEST(ScreenText, AMessageBoxWrapsItsTextUnderItsIconOnTop)
{
    screen::Screen s = lit("CallTicker");
    s.controls = {screen::Control{1000, "BUTTON", "Enabled", {3, 29, 180, 16}}};
    s.messagebox = screen::MessageBoxView{1, 2, "Program not activated. Please perform soft reset and try again.",
                                          "CallTicker", 0x10, {8, 120, 224, 60}};
    const std::string text = phone::screen_text(s);
    EXPECT_NE(text.find("| | (X) Program not activated. Please    | |"), std::string::npos) << text;
    EXPECT_NE(text.find("| |     perform soft reset and try       | |"), std::string::npos) << text;
    EXPECT_NE(text.find("| |     again.                           | |"), std::string::npos) << text;
}

TEST(ScreenText, TheLegendNamesEachControlByIdAndByTheLabelBeforeIt)
{
    // As in the settings dialog: a heading over a label and its list.
    screen::Screen s = lit("CallTicker");
    screen::Control check{1000, "BUTTON", "Enabled", {3, 29, 180, 16}};
    check.checked = true;
    screen::Control heading{1010, "STATIC", "Time Elapsed Signal:", {3, 96, 180, 13}};
    screen::Control label{-1, "STATIC", "Type:", {12, 118, 51, 13}};
    screen::Control list{1003, "COMBOBOX", "Sound", {90, 113, 132, 22}};
    s.controls = {check, heading, label, list};
    EXPECT_EQ(phone::control_label(s, list), "Type:");
    EXPECT_EQ(phone::control_label(s, check), "Enabled");
    EXPECT_EQ(phone::screen_legend(s), "controls (phone tap control ID or LABEL):\n"
                                       "   1000  check box  Enabled\n"
                                       "   1003  list       Type:\n");
    EXPECT_EQ(phone::screen_legend(screen::Screen{}), "");
}
