// Screenshots: the screen model drawn with cairo, text laid out by pango in
// the dialog's own font heights (DejaVu Sans stands in for the device's
// Tahoma).  Sizes that the model does not give (check box, arrow button,
// frame widths) follow the device's dpi, so 192 dpi is 96 dpi doubled.
#include "render/screenshot.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include <cairo.h>
#include <pango/pangocairo.h>

#include <windows.h>

#include "render/colour.h"
#include "parsing.h"
#include "render/picture_bytes.h"

namespace phone {
namespace {

namespace screen = wince::screen;

constexpr Colour kWhite{1, 1, 1};
constexpr Colour kBlack{0, 0, 0};
constexpr Colour kText{0.05, 0.05, 0.05};
constexpr Colour kFrame{0.45, 0.45, 0.50};
constexpr Colour kTitleTop{0.16, 0.36, 0.70};
constexpr Colour kTitleBottom{0.05, 0.20, 0.50};
constexpr Colour kBarTop{0.30, 0.30, 0.34};
constexpr Colour kBarBottom{0.12, 0.12, 0.15};
constexpr Colour kHighlight{0.10, 0.33, 0.72};
constexpr Colour kButtonFace{0.86, 0.87, 0.90};
constexpr Colour kPhoneTop{0.96, 0.97, 1.00};
constexpr Colour kPhoneBottom{0.78, 0.85, 0.95};
constexpr Colour kMutedMark{0.45, 0.55, 0.75};

void fill(cairo_t* cr, const screen::Rect& r, Colour c)
{
    set_colour(cr, c);
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_fill(cr);
}

void gradient(cairo_t* cr, const screen::Rect& r, Colour top, Colour bottom)
{
    std::unique_ptr<cairo_pattern_t, decltype(&cairo_pattern_destroy)> pattern(
        cairo_pattern_create_linear(0, r.y, 0, r.y + r.height), cairo_pattern_destroy);
    cairo_pattern_add_color_stop_rgb(pattern.get(), 0, top.r, top.g, top.b);
    cairo_pattern_add_color_stop_rgb(pattern.get(), 1, bottom.r, bottom.g, bottom.b);
    cairo_set_source(cr, pattern.get());
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_fill(cr);
}

// A one-pixel frame inside the rectangle.
void frame(cairo_t* cr, const screen::Rect& r, Colour c, double width = 1)
{
    set_colour(cr, c);
    cairo_set_line_width(cr, width);
    cairo_rectangle(cr, r.x + width / 2, r.y + width / 2, r.width - width, r.height - width);
    cairo_stroke(cr);
}

enum class Align { Left, Centre, Right };

struct Font {
    int height; // character height in device pixels
    bool bold;
};

using Layout = std::unique_ptr<PangoLayout, decltype(&g_object_unref)>;

// A layout of `words` in the screen's face at `font`'s height and weight:
// the one place that sets the face up, so that text is measured as it is
// drawn.
Layout layout_of(cairo_t* cr, const std::string& words, Font font)
{
    Layout layout(pango_cairo_create_layout(cr), g_object_unref);
    std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> description(
        pango_font_description_new(), pango_font_description_free);
    pango_font_description_set_family(description.get(), "DejaVu Sans");
    pango_font_description_set_absolute_size(description.get(), std::max(1, font.height) * 0.8 * PANGO_SCALE);
    pango_font_description_set_weight(description.get(), font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout.get(), description.get());
    pango_layout_set_text(layout.get(), words.c_str(), -1);
    return layout;
}

// Text vertically centred in `box`, clipped to it.
void text(cairo_t* cr, const std::string& words, const screen::Rect& box, Font font, Colour colour,
          Align align = Align::Left)
{
    const Layout layout = layout_of(cr, words, font);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout.get(), &width, &height);
    const double x = align == Align::Left     ? box.x
                     : align == Align::Centre ? box.x + (box.width - width) / 2.0
                                              : box.x + box.width - width;
    cairo_save(cr);
    cairo_rectangle(cr, box.x, box.y, box.width, box.height);
    cairo_clip(cr);
    set_colour(cr, colour);
    cairo_move_to(cr, std::round(x), std::round(box.y + (box.height - height) / 2.0));
    pango_cairo_show_layout(cr, layout.get());
    cairo_restore(cr);
}

class Painter {
public:
    Painter(cairo_t* cr, const screen::Screen& s) : cr_(cr), s_(s), unit_(s.dpi / 96.0) {}

    void paint()
    {
        if (s_.owner == "phone")
            gradient(cr_, {0, 0, s_.width, s_.height}, kPhoneTop, kPhoneBottom);
        else
            fill(cr_, {0, 0, s_.width, s_.height}, kWhite);
        title_bar();
        for (const auto& c : s_.controls)
            control(c);
        // An open list lies over the controls below it.
        for (const auto& c : s_.controls)
            if (c.dropped)
                dropped_list(c);
        softkey_bar();
        if (s_.menu)
            menu(*s_.menu);
        if (s_.messagebox)
            messagebox(*s_.messagebox);
    }

private:
    int px(double device_pixels_at_96) const { return static_cast<int>(std::lround(device_pixels_at_96 * unit_)); }
    Font ui_font(bool bold = false) const { return {px(12), bold}; }

    void title_bar()
    {
        const auto& bar = s_.title_bar;
        gradient(cr_, bar, kTitleTop, kTitleBottom);
        screen::Rect caption = bar;
        caption.x += px(6);
        caption.width = (s_.ok_button ? s_.ok.x : bar.x + bar.width) - caption.x;
        if (s_.status_bar)
            caption.width = status_marks(*s_.status_bar) - caption.x;
        text(cr_, s_.messagebox ? s_.messagebox->caption : s_.title, caption, {px(13), true}, kWhite);
        if (s_.ok_button) {
            const auto& ok = s_.ok;
            const double r = std::min(ok.width, ok.height) / 2.0 - px(2);
            set_colour(cr_, kWhite);
            cairo_set_line_width(cr_, std::max(1, px(1.5)));
            cairo_new_path(cr_);
            cairo_arc(cr_, ok.x + ok.width / 2.0, ok.y + ok.height / 2.0, r, 0, 2 * M_PI);
            cairo_stroke(cr_);
            text(cr_, "ok", ok, {px(11), true}, kWhite, Align::Centre);
        }
    }

    // The status bar's marks at the right of the title bar: the signal's
    // bars, the battery, the clock.  Returns where they begin.
    int status_marks(const screen::StatusBar& status)
    {
        const auto& bar = s_.title_bar;
        const Font font{px(12), true};
        const Layout clock = layout_of(cr_, status.clock, font);
        int clock_width = 0, clock_height = 0;
        pango_layout_get_pixel_size(clock.get(), &clock_width, &clock_height);
        const int right = bar.x + bar.width - px(4);
        text(cr_, status.clock, {right - clock_width, bar.y, clock_width, bar.height}, font, kWhite);
        const screen::Rect battery{right - clock_width - px(26), bar.y + (bar.height - px(9)) / 2, px(18), px(9)};
        frame(cr_, battery, kWhite, std::max(1, px(1)));
        fill(cr_, {battery.x + battery.width, battery.y + px(2), px(2), battery.height - px(4)}, kWhite);
        const int inner = (battery.width - px(4)) * std::clamp(status.battery, 0, 100) / 100;
        fill(cr_, {battery.x + px(2), battery.y + px(2), inner, battery.height - px(4)}, kWhite);
        const int base = bar.y + bar.height - px(8);
        const int left = battery.x - px(22);
        for (int i = 0; i < 4; ++i) {
            const int height = px(3 + 3 * i);
            fill(cr_, {left + i * px(4), base - height, px(3), height}, i < status.signal ? kWhite : kMutedMark);
        }
        return left - px(4);
    }

    Font font_of(const screen::Control& c) const { return {c.font_height > 0 ? c.font_height : px(11), c.bold}; }

    void control(const screen::Control& c)
    {
        if (c.kind == "COMBOBOX")
            combo_box(c);
        else if (c.kind == "BUTTON" && c.checked)
            check_box(c);
        else if (c.kind == "BUTTON")
            push_button(c);
        else if (c.icon)
            icon(c);
        else
            text(cr_, c.text, c.rect, font_of(c), kText, c.align == "center" ? Align::Centre : Align::Left);
    }

    void check_box(const screen::Control& c)
    {
        const int side = px(12);
        const screen::Rect box{c.rect.x + px(1), c.rect.y + (c.rect.height - side) / 2, side, side};
        fill(cr_, box, kWhite);
        frame(cr_, box, kText, std::max(1, px(1)));
        if (*c.checked) {
            set_colour(cr_, kText);
            cairo_set_line_width(cr_, std::max(1.5, 2 * unit_));
            cairo_move_to(cr_, box.x + side * 0.22, box.y + side * 0.52);
            cairo_line_to(cr_, box.x + side * 0.42, box.y + side * 0.74);
            cairo_line_to(cr_, box.x + side * 0.80, box.y + side * 0.26);
            cairo_stroke(cr_);
        }
        screen::Rect label = c.rect;
        label.x = box.x + side + px(4);
        label.width = c.rect.x + c.rect.width - label.x;
        text(cr_, c.text, label, font_of(c), kText);
        if (c.focused)
            focus_frame(label, c);
    }

    // The dotted frame around the focused check box's label.
    void focus_frame(const screen::Rect& label, const screen::Control& c)
    {
        const double dash[] = {1.0 * std::max(1, px(1))};
        cairo_set_dash(cr_, dash, 1, 0);
        frame(cr_, {label.x - px(1), label.y, std::min(label.width, text_width(c) + px(4)), label.height}, kText,
              std::max(1, px(1)));
        cairo_set_dash(cr_, nullptr, 0, 0);
    }

    int text_width(const screen::Control& c) const
    {
        int width = 0, height = 0;
        pango_layout_get_pixel_size(layout_of(cr_, c.text, font_of(c)).get(), &width, &height);
        return width;
    }

    void push_button(const screen::Control& c)
    {
        fill(cr_, c.rect, kButtonFace);
        frame(cr_, c.rect, c.focused ? kText : kFrame, std::max(1, px(c.focused ? 2 : 1)));
        text(cr_, c.text, c.rect, font_of(c), kText, Align::Centre);
    }

    void combo_box(const screen::Control& c)
    {
        const auto& r = c.rect;
        fill(cr_, r, kWhite);
        frame(cr_, r, kFrame, std::max(1, px(1)));
        const int arrow_width = std::min(r.height, px(14));
        const screen::Rect arrow{r.x + r.width - arrow_width, r.y, arrow_width, r.height};
        fill(cr_, arrow, kButtonFace);
        frame(cr_, arrow, kFrame, std::max(1, px(1)));
        set_colour(cr_, kText);
        const double cx = arrow.x + arrow.width / 2.0, cy = arrow.y + arrow.height / 2.0, a = px(3.5);
        cairo_move_to(cr_, cx - a, cy - a / 2);
        cairo_line_to(cr_, cx + a, cy - a / 2);
        cairo_line_to(cr_, cx, cy + a / 2 + 1);
        cairo_close_path(cr_);
        cairo_fill(cr_);
        screen::Rect field{r.x + px(2), r.y + px(2), r.width - arrow_width - px(4), r.height - px(4)};
        if (c.focused && !c.text.empty()) {
            fill(cr_, field, kHighlight);
            text(cr_, c.text, {field.x + px(2), field.y, field.width - px(2), field.height}, font_of(c), kWhite);
        } else {
            text(cr_, c.text, {field.x + px(2), field.y, field.width - px(2), field.height}, font_of(c), kText);
        }
    }

    void dropped_list(const screen::Control& c)
    {
        const screen::ListGeometry list = screen::dropped_list(s_, c);
        fill(cr_, list.frame, kWhite);
        frame(cr_, list.frame, kText, std::max(1, px(1)));
        for (size_t i = 0; i < list.items.size(); ++i) {
            const screen::Rect& item = list.items[i];
            const bool chosen = static_cast<int>(i) == c.selection;
            if (chosen)
                fill(cr_, item, kHighlight);
            text(cr_, c.items[i], {item.x + px(3), item.y, item.width - px(3), item.height}, font_of(c),
                 chosen ? kWhite : kText);
        }
    }

    // The program's own icon, from its icon resource, centred in the control
    // at the size the dpi asks for.
    void icon(const screen::Control& c)
    {
        const auto& image = *c.icon;
        if (image.width <= 0 || image.height <= 0 ||
            image.rgba.size() < static_cast<size_t>(image.width) * image.height * 4)
            return;
        std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height), cairo_surface_destroy);
        cairo_surface_flush(surface.get());
        unsigned char* data = cairo_image_surface_get_data(surface.get());
        const int stride = cairo_image_surface_get_stride(surface.get());
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                const unsigned char* p = &image.rgba[(static_cast<size_t>(y) * image.width + x) * 4];
                // Cairo wants premultiplied native-endian ARGB.
                const uint32_t a = p[3];
                const uint32_t pixel = a << 24 | (p[0] * a / 255) << 16 | (p[1] * a / 255) << 8 | (p[2] * a / 255);
                std::memcpy(data + y * stride + x * 4, &pixel, 4);
            }
        cairo_surface_mark_dirty(surface.get());
        const double size = 32 * unit_;
        const double factor = size / image.width;
        cairo_save(cr_);
        cairo_translate(cr_, c.rect.x + (c.rect.width - size) / 2, c.rect.y + (c.rect.height - size) / 2);
        cairo_scale(cr_, factor, factor);
        cairo_set_source_surface(cr_, surface.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
        cairo_paint(cr_);
        cairo_restore(cr_);
    }

    void softkey_bar()
    {
        if (s_.softkey_bar.height <= 0)
            return;
        gradient(cr_, s_.softkey_bar, kBarTop, kBarBottom);
        for (size_t i = 0; i < s_.softkeys.size(); ++i) {
            const auto& key = s_.softkeys[i];
            text(cr_, key.label + (key.popup ? " \u25B4" : ""), key.rect, {px(13), true}, kWhite, Align::Centre);
            if (i > 0 && !s_.softkeys[i - 1].label.empty()) {
                set_colour(cr_, {0.55, 0.55, 0.6});
                cairo_set_line_width(cr_, 1);
                cairo_move_to(cr_, key.rect.x + 0.5, key.rect.y + px(5));
                cairo_line_to(cr_, key.rect.x + 0.5, key.rect.y + key.rect.height - px(5));
                cairo_stroke(cr_);
            }
        }
    }

    void menu(const screen::Menu& m)
    {
        fill(cr_, m.rect, kWhite);
        frame(cr_, m.rect, kText, std::max(1, px(1)));
        const std::vector<screen::Rect> rows = screen::menu_items(s_, m);
        for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
            const screen::Rect& item = rows[static_cast<size_t>(i)];
            if (i == m.highlighted)
                fill(cr_, item, kHighlight);
            text(cr_, m.items[static_cast<size_t>(i)], {item.x + px(6), item.y, item.width - px(6), item.height},
                 ui_font(), i == m.highlighted ? kWhite : kText);
        }
    }

    // A Pocket PC message box: its caption takes the title bar (see
    // title_bar), the box holds the icon and the text within its padding.
    void messagebox(const screen::MessageBoxView& box)
    {
        const auto& r = box.rect;
        fill(cr_, r, kWhite);
        frame(cr_, r, kText, std::max(1, px(1)));
        // The box is as tall as the device's font wraps the text; ours may
        // wrap to a line more, which then takes from the padding.
        const int padding = px(12);
        screen::Rect body{r.x + padding, r.y + px(1), r.width - 2 * padding, r.height - px(2)};
        if ((box.type & MB_ICONMASK) != 0) {
            stop_icon(box.type, {body.x + px(4), r.y + padding + px(4), px(24), px(24)});
            body.x += px(32) + padding;
            body.width -= px(32) + padding;
        }
        wrapped(box.text, body);
    }

    // The message box's icon: a red stop sign, or a blue circle with its mark.
    void stop_icon(uint32_t type, const screen::Rect& r)
    {
        const uint32_t icon = type & MB_ICONMASK;
        const bool stop = icon == MB_ICONHAND;
        set_colour(cr_, stop ? Colour{0.80, 0.10, 0.10} : kHighlight);
        cairo_new_path(cr_);
        cairo_arc(cr_, r.x + r.width / 2.0, r.y + r.height / 2.0, r.width / 2.0, 0, 2 * M_PI);
        cairo_fill(cr_);
        const char* mark = stop ? "\u2715" : icon == MB_ICONQUESTION ? "?" : icon == MB_ICONEXCLAMATION ? "!" : "i";
        text(cr_, mark, r, {px(16), true}, kWhite, Align::Centre);
    }

    // Text wrapped to the width of `r`, centred in its height.
    void wrapped(const std::string& words, const screen::Rect& r)
    {
        const Layout layout = layout_of(cr_, words, ui_font());
        pango_layout_set_width(layout.get(), r.width * PANGO_SCALE);
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
        int width = 0, height = 0;
        pango_layout_get_pixel_size(layout.get(), &width, &height);
        cairo_save(cr_);
        cairo_rectangle(cr_, r.x, r.y, r.width, r.height);
        cairo_clip(cr_);
        set_colour(cr_, kText);
        cairo_move_to(cr_, r.x, r.y + std::max(0, (r.height - height) / 2));
        pango_cairo_show_layout(cr_, layout.get());
        cairo_restore(cr_);
    }

    cairo_t* cr_;
    const screen::Screen& s_;
    double unit_; // device pixels per pixel at 96 dpi
};

} // namespace

void draw_screen(cairo_t* cr, const screen::Screen& s, int scale)
{
    // Drawn once at the device's pixels, then each pixel enlarged: text laid
    // out at a larger scale would wrap and clip differently from the device.
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> device(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, s.width, s.height), cairo_surface_destroy);
    if (cairo_surface_status(device.get()) != CAIRO_STATUS_SUCCESS)
        throw Failure("cannot make a picture of " + std::to_string(s.width) + " x " + std::to_string(s.height) +
                      " pixels");
    cairo_t* device_cr = cairo_create(device.get());
    if (!s.dark)
        Painter(device_cr, s).paint();
    else
        fill(device_cr, {0, 0, s.width, s.height}, kBlack);
    cairo_destroy(device_cr);
    cairo_save(cr);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, device.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, 0, 0, s.width, s.height);
    cairo_fill(cr);
    cairo_restore(cr);
}

void write_screenshot(const screen::Screen& s, int scale, const std::filesystem::path& file)
{
    if (scale < 1 || scale > 8)
        throw Failure("--scale must be 1 to 8 (not " + std::to_string(scale) + ")");
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".png")
        throw Failure("cannot draw into '" + file.string() + "': give a file name ending in .png");
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> picture(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, s.width * scale, s.height * scale), cairo_surface_destroy);
    if (cairo_surface_status(picture.get()) != CAIRO_STATUS_SUCCESS)
        throw Failure("cannot make a picture of " + std::to_string(s.width * scale) + " x " +
                      std::to_string(s.height * scale) + " pixels");
    cairo_t* cr = cairo_create(picture.get());
    draw_screen(cr, s, scale);
    cairo_destroy(cr);
    write_user_file(file, png_bytes(picture.get()));
}

} // namespace phone
