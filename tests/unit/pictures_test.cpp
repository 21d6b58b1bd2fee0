// Screenshots from a screen model made by hand: the size the dpi and the
// scale give, a dark screen when the backlight is off or nothing is shown,
// and a refusal of scales that make no picture.
#include <cairo.h>

#include <cstring>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "common.h"
#include "screenshot.h"
#include "timeline.h"
#include "test_device.h"

namespace {

namespace screen = wince::screen;

screen::Screen Dialog()
{
    screen::Screen s;
    s.dark = false;
    s.title = "Probe";
    s.title_bar = {0, 0, 240, 26};
    s.client = {0, 26, 240, 268};
    s.softkey_bar = {0, 294, 240, 26};
    screen::Control label;
    label.kind = "STATIC";
    label.text = "Hello";
    label.rect = {10, 40, 100, 14};
    label.font_height = 11;
    s.controls.push_back(label);
    s.softkeys.push_back({"OK", false, {0, 294, 120, 26}});
    return s;
}

// Pixels that are not black, over the whole picture.
int lit_pixels(const std::filesystem::path& file, int& width, int& height)
{
    cairo_surface_t* image = cairo_image_surface_create_from_png(file.c_str());
    width = cairo_image_surface_get_width(image);
    height = cairo_image_surface_get_height(image);
    int lit = 0;
    const unsigned char* data = cairo_image_surface_get_data(image);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, data + y * cairo_image_surface_get_stride(image) + x * 4, 4);
            lit += (pixel & 0xFFFFFF) != 0;
        }
    cairo_surface_destroy(image);
    return lit;
}

TEST(Screenshot, SizeFollowsTheScreenAndTheScaleAndDarkIsBlack)
{
    testing_support::TempDevice device;
    const auto file = device.dir() / "shot.png";
    int width = 0, height = 0;

    phone::write_screenshot(Dialog(), true, 3, file);
    EXPECT_GT(lit_pixels(file, width, height), 0);
    EXPECT_EQ(width, 720);
    EXPECT_EQ(height, 960);

    phone::write_screenshot(Dialog(), false, 1, file);
    EXPECT_EQ(lit_pixels(file, width, height), 0) << "backlight off";
    EXPECT_EQ(width, 240);

    screen::Screen nothing = Dialog();
    nothing.dark = true;
    phone::write_screenshot(nothing, true, 1, file);
    EXPECT_EQ(lit_pixels(file, width, height), 0) << "no window shown";

    EXPECT_THROW(phone::write_screenshot(Dialog(), true, 0, file), phone::Failure);
    EXPECT_THROW(phone::write_screenshot(Dialog(), true, 1, device.dir() / "no" / "such" / "folder.png"),
                 phone::Failure);
}

// However many calls the log holds, the timeline stays a picture the image
// library can make and a reader can use: the last calls, and a line saying so.
TEST(Timeline, ManyCallsDrawTheLastOnesAndSaySo)
{
    testing_support::TempDevice device;
    std::vector<phone::CallRecord> calls(2000);
    for (size_t i = 0; i < calls.size(); ++i) {
        calls[i].id = static_cast<uint32_t>(i + 1);
        calls[i].media = 4;
        calls[i].duration = 30000;
        calls[i].ended = true;
        calls[i].signals.push_back({phone::SignalKind::Chime, phone::SignalRole::Start, 20, 791});
    }
    const auto png = device.dir() / "calls.png";
    phone::draw_timeline(calls, png);
    int width = 0, height = 0;
    EXPECT_GT(lit_pixels(png, width, height), 0);
    EXPECT_LT(height, 5000);

    const auto svg = device.dir() / "calls.svg";
    phone::draw_timeline(calls, svg);
    std::ifstream in(svg);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const std::string open = "<![CDATA[";
    const size_t from = text.find(open);
    ASSERT_NE(from, std::string::npos);
    const auto shown = nlohmann::json::parse(text.substr(from + open.size(), text.find("]]>") - from - open.size()));
    EXPECT_EQ(shown["of"], 2000);
    ASSERT_FALSE(shown["calls"].empty());
    EXPECT_EQ(shown["calls"].back()["call"], 2000);
    EXPECT_LT(shown["calls"].size(), 100u);
}

} // namespace
