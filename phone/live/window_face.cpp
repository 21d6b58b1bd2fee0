// The face is drawn with cairo around the screen, which the screenshot's
// renderer draws, so that the window and `phone screenshot` agree pixel for
// pixel.  The soft keys carry the labels the screen shows for them.
#include "live/window_face.h"

#include <cmath>
#include <memory>
#include <string>

#include <pango/pangocairo.h>

#include "parsing.h"
#include "render/colour.h"
#include "render/screenshot.h"

namespace phone {
namespace {

constexpr Colour kBody{0.16, 0.17, 0.19};
constexpr Colour kKey{0.30, 0.31, 0.34};
constexpr Colour kLabel{0.92, 0.92, 0.94};
constexpr Colour kTalk{0.12, 0.55, 0.20};
constexpr Colour kEnd{0.75, 0.13, 0.12};
constexpr Colour kShake{0.98, 0.60, 0.10};
constexpr Colour kLedOn{0.20, 0.95, 0.30};
constexpr Colour kLedOff{0.08, 0.10, 0.09};

void rounded(cairo_t* cr, const Box& b, double radius)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, b.x + b.width - radius, b.y + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr, b.x + b.width - radius, b.y + b.height - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, b.x + radius, b.y + b.height - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, b.x + radius, b.y + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void label(cairo_t* cr, const std::string& words, double centre_x, double centre_y, int height, Colour colour)
{
    std::unique_ptr<PangoLayout, decltype(&g_object_unref)> layout(pango_cairo_create_layout(cr), g_object_unref);
    std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> font(
        pango_font_description_from_string("DejaVu Sans Bold"), pango_font_description_free);
    pango_font_description_set_absolute_size(font.get(), height * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_text(layout.get(), words.c_str(), -1);
    int width = 0, text_height = 0;
    pango_layout_get_pixel_size(layout.get(), &width, &text_height);
    set_colour(cr, colour);
    cairo_move_to(cr, centre_x - width / 2.0, centre_y - text_height / 2.0);
    pango_cairo_show_layout(cr, layout.get());
}

void key(cairo_t* cr, const Box& b, Colour face, const std::string& words, int text_height)
{
    rounded(cr, b, b.height / 3.0);
    set_colour(cr, face);
    cairo_fill(cr);
    label(cr, words, b.centre_x(), b.centre_y(), text_height, kLabel);
}

void dpad(cairo_t* cr, const FaceLayout& f, int text_height)
{
    const double cx = f.pad.centre_x(), cy = f.pad.centre_y(), r = f.pad.width / 2.0;
    set_colour(cr, kKey);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    cairo_fill(cr);
    const double arrow = (r + f.action_radius) / 2.0;
    label(cr, "\u25B2", cx, cy - arrow, text_height, kLabel);
    label(cr, "\u25BC", cx, cy + arrow, text_height, kLabel);
    label(cr, "\u25C0", cx - arrow, cy, text_height, kLabel);
    label(cr, "\u25B6", cx + arrow, cy, text_height, kLabel);
    set_colour(cr, kBody);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, f.action_radius, 0, 2 * M_PI);
    cairo_fill(cr);
}

std::string softkey_label(const wince::screen::Screen& screen, size_t index)
{
    if (screen.dark || index >= screen.softkeys.size())
        return "\u2014";
    return screen.softkeys[index].label;
}

// A vibrating phone shows it: its body edged in orange, with a mark.
void vibration(cairo_t* cr, const FaceLayout& f, int text_height)
{
    set_colour(cr, kShake);
    cairo_set_line_width(cr, 3);
    rounded(cr, {f.face.x + 2, f.face.y + 2, f.face.width - 4, f.face.height - 4}, 18);
    cairo_stroke(cr);
    label(cr, "\u2248 vibrating \u2248", f.screen.centre_x(), f.led.centre_y(), text_height, kShake);
}

void screen_in_face(cairo_t* cr, const FaceLayout& f, const wince::screen::Screen& screen)
{
    cairo_save(cr);
    cairo_translate(cr, f.screen.x, f.screen.y);
    try {
        draw_screen(cr, screen, f.zoom);
    } catch (const Failure&) {
        // A screen the model cannot give stays as the body shows it.
    }
    cairo_restore(cr);
}

} // namespace

void draw_face(cairo_t* cr, const FaceLayout& f, const wince::screen::Screen& screen, FaceState state)
{
    const int text_height = std::max(9, f.soft_left.height / 2);
    rounded(cr, f.face, 20);
    set_colour(cr, kBody);
    cairo_fill(cr);
    set_colour(cr, state.led ? kLedOn : kLedOff);
    cairo_new_path(cr);
    cairo_arc(cr, f.led.centre_x(), f.led.centre_y(), f.led.width / 2.0, 0, 2 * M_PI);
    cairo_fill(cr);
    if (state.vibrating)
        vibration(cr, f, text_height);
    screen_in_face(cr, f, screen);
    key(cr, f.soft_left, kKey, softkey_label(screen, 0), text_height);
    key(cr, f.soft_right, kKey, softkey_label(screen, 1), text_height);
    key(cr, f.talk, kTalk, "Talk", text_height);
    key(cr, f.end, kEnd, "End", text_height);
    key(cr, f.volume_down, kKey, "Vol \u2212", text_height * 4 / 5);
    key(cr, f.volume_up, kKey, "Vol +", text_height * 4 / 5);
    dpad(cr, f, text_height);
}

} // namespace phone
