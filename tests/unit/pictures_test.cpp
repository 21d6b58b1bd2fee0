// Screenshots from a screen model made by hand: the size the dpi and the
// scale give, a dark screen when the backlight is off,
// a refusal of scales that make no picture and of files that are no PNG,
// and the same picture at every scale.
#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "live/face_layout.h"
#include "parsing.h"
#include "render/screenshot.h"
#include "render/timeline.h"
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

// The pixels of a PNG, 0xRRGGBB, row by row.
std::vector<uint32_t> pixels(const std::filesystem::path& file, int& width)
{
    cairo_surface_t* image = cairo_image_surface_create_from_png(file.c_str());
    width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    std::vector<uint32_t> out;
    const unsigned char* data = cairo_image_surface_get_data(image);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, data + y * cairo_image_surface_get_stride(image) + x * 4, 4);
            out.push_back(pixel & 0xFFFFFF);
        }
    cairo_surface_destroy(image);
    return out;
}

// Pixels that are not black, over the whole picture.
int lit_pixels(const std::filesystem::path& file, int& width, int& height)
{
    const auto all = pixels(file, width);
    height = width ? static_cast<int>(all.size()) / width : 0;
    return static_cast<int>(std::count_if(all.begin(), all.end(), [](uint32_t pixel) { return pixel != 0; }));
}

TEST(Screenshot, SizeFollowsTheScreenAndTheScaleAndDarkIsBlack)
{
    testing_support::TempDevice device;
    const auto file = device.dir() / "shot.png";
    int width = 0, height = 0;

    phone::write_screenshot(Dialog(), 3, file);
    EXPECT_GT(lit_pixels(file, width, height), 0);
    EXPECT_EQ(width, 720);
    EXPECT_EQ(height, 960);

    screen::Screen dark = Dialog();
    dark.dark = true;
    phone::write_screenshot(dark, 1, file);
    EXPECT_EQ(lit_pixels(file, width, height), 0) << "backlight off";
    EXPECT_EQ(width, 240);

    EXPECT_THROW(phone::write_screenshot(Dialog(), 0, file), phone::Failure);
    EXPECT_THROW(phone::write_screenshot(Dialog(), 1, device.dir() / "shot.jpg"), phone::Failure);
    EXPECT_FALSE(std::filesystem::exists(device.dir() / "shot.jpg"));
    EXPECT_THROW(phone::write_screenshot(Dialog(), 1, device.dir() / "no" / "such" / "folder.png"),
                 phone::Failure);
}

TEST(Screenshot, EveryScaleShowsTheSamePicture)
{
    // Two lines of a message box, wrapped and clipped to its body: a layout
    // made again at a larger scale wraps and clips elsewhere.
    screen::Screen s = Dialog();
    s.messagebox = screen::MessageBoxView{1, 2, "Program not activated. Please perform soft reset and try again.",
                                          "CallTicker", 0x10, {8, 120, 224, 70}};
    testing_support::TempDevice device;
    int width = 0, wide = 0;
    phone::write_screenshot(s, 1, device.dir() / "one.png");
    const auto small = pixels(device.dir() / "one.png", width);
    for (const int scale : {2, 3}) {
        phone::write_screenshot(s, scale, device.dir() / "big.png");
        const auto big = pixels(device.dir() / "big.png", wide);
        ASSERT_EQ(wide, width * scale);
        ASSERT_EQ(big.size(), small.size() * scale * scale);
        int differ = 0;
        for (size_t i = 0; i < big.size(); ++i) {
            const size_t x = i % wide / scale, y = i / wide / scale;
            differ += big[i] != small[y * width + x];
        }
        EXPECT_EQ(differ, 0) << "scale " << scale;
    }
}

// However many calls the log holds, the timeline stays a picture the image
// library can make and a reader can use: the last calls, and a line saying so.
// The window's face: a click lands on the device pixel under it at any
// zoom, and the d-pad's ring is four keys around its action button.
TEST(PhoneFace, ClicksFindTheDevicePixelOrTheKeyUnderThem)
{
    const auto face = phone::face_layout(240, 320, 2);
    EXPECT_EQ(face.screen_pixel(face.screen.x + 21, face.screen.y + 41), (std::pair{10, 20}));
    EXPECT_EQ(face.screen_pixel(face.screen.x + 479, face.screen.y + 639), (std::pair{239, 319}));
    EXPECT_FALSE(face.screen_pixel(face.screen.x + 480, face.screen.y));
    EXPECT_FALSE(face.key_at(face.screen.x + 1, face.screen.y + 1));

    const double cx = face.pad.centre_x(), cy = face.pad.centre_y(), ring = face.pad.width * 0.4;
    EXPECT_EQ(face.key_at(cx + face.action_radius - 2, cy), phone::FaceKey::action);
    EXPECT_EQ(face.key_at(cx, cy - ring), phone::FaceKey::up);
    EXPECT_EQ(face.key_at(cx - ring, cy + 2), phone::FaceKey::left);
    EXPECT_EQ(face.key_at(cx + ring, cy), phone::FaceKey::right);
    EXPECT_EQ(face.key_at(cx, cy + ring), phone::FaceKey::down);
    EXPECT_EQ(face.key_at(face.talk.centre_x(), face.talk.centre_y()), phone::FaceKey::talk);
}

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
