// What the screen shows, composed from a device state made by hand: the
// backlight, a ringing call over everything, the program in front, the call
// in progress, home.
#include <algorithm>

#include <gtest/gtest.h>

#include <tapi.h>

#include "render/screen_text.h"
#include "screens/shown_screen.h"

namespace screen = wince::screen;
namespace radio = wince::tapi::radio;

namespace {

radio::Call call(uint32_t id, uint32_t state, const std::string& number, std::optional<double> connected_at = {})
{
    radio::Call c;
    c.id = id;
    c.state = state;
    c.media = LINEMEDIAMODE_INTERACTIVEVOICE;
    c.number = number;
    c.connected_at = connected_at;
    return c;
}

phone::DeviceState state()
{
    phone::DeviceState s;
    s.frame.title_bar = {0, 0, 240, 26};
    s.frame.client = {0, 26, 240, 268};
    s.frame.softkey_bar = {0, 294, 240, 26};
    s.frame.softkeys = {{"", false, {0, 294, 120, 26}}, {"", false, {120, 294, 120, 26}}};
    s.programs.title = "Settings";
    s.programs.dark = false;
    s.now = 3'725'000; // 1:02:05 of device time
    s.date = "Tuesday, 8 December 2026";
    return s;
}

std::vector<std::string> texts(const screen::Screen& s)
{
    std::vector<std::string> out;
    for (const auto& c : s.controls)
        out.push_back(c.text);
    return out;
}

std::vector<std::string> softkeys(const screen::Screen& s)
{
    std::vector<std::string> out;
    for (const auto& k : s.softkeys)
        out.push_back(k.label);
    return out;
}

bool shows(const screen::Screen& s, const std::string& text)
{
    const auto all = texts(s);
    return std::find(all.begin(), all.end(), text) != all.end();
}

} // namespace

TEST(PhoneScreens, ARingingCallIsOnTopOfTheProgramAndOnlyTheBacklightDarkensIt)
{
    phone::DeviceState s = state();
    s.calls = {call(1, LINECALLSTATE_CONNECTED, "5550123", 3'683'000), call(2, LINECALLSTATE_OFFERING, "5550100")};

    screen::Screen shown = phone::compose_screen(s);
    EXPECT_EQ(shown.owner, "phone");
    EXPECT_EQ(shown.kind, "incoming");
    EXPECT_EQ(softkeys(shown), (std::vector<std::string>{"Answer", "Ignore"}));
    EXPECT_TRUE(shows(shown, "5550100") && shows(shown, "Call waiting")) << testing::PrintToString(texts(shown));

    s.backlight_on = false;
    shown = phone::compose_screen(s);
    EXPECT_TRUE(shown.dark);
    EXPECT_TRUE(shown.controls.empty() && shown.owner.empty());

    // Answered: the program in front keeps the screen during the call.
    s.backlight_on = true;
    s.calls.pop_back();
    shown = phone::compose_screen(s);
    EXPECT_EQ(shown.title, "Settings");
    EXPECT_EQ(shown.owner, "");
}

TEST(PhoneScreens, WithNoProgramInFrontTheCallConnectedLastThenHome)
{
    phone::DeviceState s = state();
    s.programs = screen::Screen{};
    s.calls = {call(1, LINECALLSTATE_ONHOLD, "5550123", 1'000), call(3, LINECALLSTATE_CONNECTED, "", 3'683'000),
               call(4, LINECALLSTATE_DIALING, "5550999")};
    screen::Screen shown = phone::compose_screen(s);
    EXPECT_EQ(shown.kind, "call");
    EXPECT_EQ(softkeys(shown), (std::vector<std::string>{"", "End"}));
    // Its time as phone status tells it; the others listed under it.
    for (const char* text : {"Call 3 connected", "Unknown caller", "0:42.0", "Call 1  5550123  on hold  62:04.0",
                             "Call 4  5550999  dialling"})
        EXPECT_TRUE(shows(shown, text)) << text << " in " << testing::PrintToString(texts(shown));

    s.calls.clear();
    s.cellular = false;
    shown = phone::compose_screen(s);
    EXPECT_EQ(shown.kind, "home");
    EXPECT_TRUE(shown.softkeys.empty());
    EXPECT_TRUE(shows(shown, "Tuesday, 8 December 2026") && shows(shown, "1:02"));
    const std::string text = phone::screen_text(shown);
    EXPECT_EQ(text.substr(text.find('\n') + 1, text.find('\n', text.find('\n') + 1) - text.find('\n')),
              "| Home                      ____ 100% 1:02 |\n");
}
