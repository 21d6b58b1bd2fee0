// The timeline picture, drawn with cairo (SVG and PNG surfaces) and pango
// for the text.  Each row shows one call in its own time: its connected and
// held spans, the dark spans of the screen, the monitor's schedule as a band
// under it with dashed marks at every full interval, and each signal the
// call had as a mark of its kind labelled with its role and call time; a
// bracket from each periodic signal to the interval mark it announces shows
// the lead time.  An SVG also carries what it shows as data (<metadata>),
// so that a reader or a test can find each signal's row without its pixels.
#include "render/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include <cairo-svg.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include "render/colour.h"
#include "parsing.h"
#include "render/picture_bytes.h"

namespace phone {
namespace {

constexpr double kWidth = 1000;
constexpr double kMargin = 24;
constexpr double kTop = 92;
constexpr double kRowHeight = 196;
// Rows a reader can use, and far inside the image library's size limits:
// beyond this many calls the picture shows the last ones and says so.
constexpr size_t kMostRows = 20;
constexpr double kLegendHeight = 56;

constexpr Colour kInk{0.13, 0.13, 0.16};
constexpr Colour kMuted{0.40, 0.40, 0.45};
constexpr Colour kConnected{0.80, 0.90, 0.95};
constexpr Colour kConnectedEdge{0.29, 0.56, 0.72};
constexpr Colour kHeld{0.88, 0.88, 0.88};
constexpr Colour kDark{0.17, 0.17, 0.24};
constexpr Colour kInterval{0.12, 0.37, 0.55};
constexpr Colour kSchedule{0.55, 0.72, 0.55};
constexpr Colour kScheduleInk{0.22, 0.42, 0.22};
constexpr Colour kChime{0.90, 0.62, 0.00};
constexpr Colour kBeep{0.84, 0.37, 0.00};
constexpr Colour kVibration{0.48, 0.25, 0.63};

Colour colour_of(SignalKind kind)
{
    switch (kind) {
    case SignalKind::Chime:
        return kChime;
    case SignalKind::Beep:
        return kBeep;
    case SignalKind::Vibration:
        return kVibration;
    }
    return kInk;
}

enum class Align { Left, Centre, Right };

// Text with its top edge at y, wrapped at `wrap` pixels when given; returns
// its width.
double text(cairo_t* cr, double x, double y, const std::string& words, const char* font, Colour colour,
            Align align = Align::Left, double wrap = 0)
{
    std::unique_ptr<PangoLayout, decltype(&g_object_unref)> layout(pango_cairo_create_layout(cr), g_object_unref);
    std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> description(
        pango_font_description_from_string(font), pango_font_description_free);
    pango_layout_set_font_description(layout.get(), description.get());
    pango_layout_set_text(layout.get(), words.c_str(), -1);
    if (wrap > 0)
        pango_layout_set_width(layout.get(), static_cast<int>(wrap * PANGO_SCALE));
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout.get(), &width, &height);
    // Labels near an edge stay whole inside the picture.
    const double left = std::clamp(align == Align::Left ? x : align == Align::Centre ? x - width / 2.0 : x - width,
                                   4.0, std::max(4.0, kWidth - width - 4));
    set_colour(cr, colour);
    cairo_move_to(cr, left, y);
    pango_cairo_show_layout(cr, layout.get());
    return width;
}

// The mark of a signal's kind, centred on (x, y).
void symbol(cairo_t* cr, SignalKind kind, double x, double y)
{
    set_colour(cr, colour_of(kind));
    cairo_new_path(cr);
    switch (kind) {
    case SignalKind::Chime:
        cairo_arc(cr, x, y, 6, 0, 2 * M_PI);
        break;
    case SignalKind::Beep:
        cairo_move_to(cr, x - 6.5, y - 5.5);
        cairo_line_to(cr, x + 6.5, y - 5.5);
        cairo_line_to(cr, x, y + 6);
        cairo_close_path(cr);
        break;
    case SignalKind::Vibration:
        cairo_move_to(cr, x, y - 7);
        cairo_line_to(cr, x + 6, y);
        cairo_line_to(cr, x, y + 7);
        cairo_line_to(cr, x - 6, y);
        cairo_close_path(cr);
        break;
    }
    cairo_fill(cr);
}

std::string seconds(int ms)
{
    char words[32];
    std::snprintf(words, sizeof words, "%g s", ms / 1000.0);
    return words;
}

// "1:30" for an interval of whole seconds.
std::string minutes(double ms)
{
    const std::string time = call_time(ms);
    return time.substr(0, time.size() - 2);
}

std::string settings_line(const SettingsInForce& s)
{
    std::string line = "Start: " + signal_type_name(s.on_type) + "    Periodic: " + signal_type_name(s.regular_type);
    if (s.regular_type != 0)
        line += " every " + minutes(s.interval_ms()) + ", " +
                seconds(s.lead_ms()) + " before";
    line += "    End: " + signal_type_name(s.off_type) + "    Screen off: ";
    line += s.screen_off_ms() < 0 ? "never" : "after " + seconds(s.screen_off_ms());
    if (!s.enabled)
        line += "    (monitor disabled)";
    return line;
}

std::string heading(const CallRecord& call)
{
    std::string words = "Call " + std::to_string(call.id) + (call.number.empty() ? "" : " (" + call.number + ")") +
                        (call.voice() ? ", voice" : ", not a voice call") + ": " + call_time(call.duration) +
                        " from its first connection";
    if (!call.held.empty())
        words += ", held " + std::to_string(call.held.size()) + (call.held.size() == 1 ? " time" : " times");
    if (!call.ended)
        words += " (still going)";
    return words;
}

// The interval mark a periodic signal announces, in its call's time.
std::optional<double> announced_mark(const CallRecord& call, const Signal& signal)
{
    if (signal.role != SignalRole::Periodic || signal.schedule < 0)
        return std::nullopt;
    const Schedule& schedule = call.schedules[static_cast<size_t>(signal.schedule)];
    const int interval = schedule.settings.interval_ms();
    if (interval <= 0 || !schedule.armed)
        return std::nullopt;
    return schedule.timed_from + std::ceil((signal.at - schedule.timed_from) / interval) * interval;
}

class Drawing {
public:
    Drawing(cairo_t* cr, double span) : cr_(cr), span_(span) {}

    double x_of(double ms) const { return kMargin + (kWidth - 2 * kMargin) * ms / span_; }

    void title(size_t shown, size_t calls)
    {
        text(cr_, kMargin, 16, "Calls and their signals", "DejaVu Sans Bold 15", kInk);
        const std::string which = shown == calls ? std::to_string(calls) + (calls == 1 ? " call" : " calls")
                                                 : "The last " + std::to_string(shown) + " of " +
                                                       std::to_string(calls) + " calls (phone log has them all)";
        text(cr_, kMargin, 42,
             which + ", each in its own time from its first connection; each signal on the call that made the "
                     "monitor give it. A periodic signal comes its lead time before a full interval (dashed) of the "
                     "monitor's schedule (green band), counted from the end of the schedule's start signal.",
             "DejaVu Sans 9.5", kMuted, Align::Left, kWidth - 2 * kMargin);
    }

    void row(const CallRecord& call, double top)
    {
        text(cr_, kMargin, top, heading(call), "DejaVu Sans Bold 11", kInk);
        if (call.voice())
            text(cr_, kMargin, top + 20, settings_line(call.settings), "DejaVu Sans 9", kMuted);
        const double bar = top + 96;
        connected_span(call, bar);
        schedules(call, bar);
        signals(call, bar);
    }

    void legend(double top)
    {
        double x = kMargin;
        const char* font = "DejaVu Sans 9";
        for (auto [kind, words] : {std::pair{SignalKind::Chime, "chime"}, std::pair{SignalKind::Beep, "beep"},
                                   std::pair{SignalKind::Vibration, "vibration"}}) {
            symbol(cr_, kind, x + 6, top + 8);
            x += 18 + text(cr_, x + 16, top, words, font, kInk) + 22;
        }
        set_colour(cr_, kInterval);
        dashed_line(x + 4, top - 2, top + 18);
        x += 14 + text(cr_, x + 12, top, "full interval", font, kInk) + 22;
        set_colour(cr_, kDark, 0.85);
        cairo_rectangle(cr_, x, top + 1, 22, 14);
        cairo_fill(cr_);
        x += 28 + text(cr_, x + 28, top, "screen dark", font, kInk) + 22;
        set_colour(cr_, kHeld);
        cairo_rectangle(cr_, x, top + 1, 22, 14);
        cairo_fill(cr_);
        x += 28 + text(cr_, x + 28, top, "held", font, kInk) + 22;
        set_colour(cr_, kSchedule);
        cairo_rectangle(cr_, x, top + 5, 22, kScheduleHeight);
        cairo_fill(cr_);
        text(cr_, x + 28, top, "monitor's schedule", font, kInk);
    }

    // What the picture shows, for its <metadata>.
    const nlohmann::json& shown() const { return shown_; }

private:
    void dashed_line(double x, double from, double to)
    {
        const double dash[] = {4, 3};
        cairo_set_dash(cr_, dash, 2, 0);
        cairo_set_line_width(cr_, 1.2);
        cairo_move_to(cr_, x, from);
        cairo_line_to(cr_, x, to);
        cairo_stroke(cr_);
        cairo_set_dash(cr_, nullptr, 0, 0);
    }

    void connected_span(const CallRecord& call, double bar)
    {
        const double left = x_of(0), right = x_of(call.duration);
        set_colour(cr_, call.voice() ? kConnected : kHeld);
        cairo_rectangle(cr_, left, bar, right - left, kBarHeight);
        cairo_fill(cr_);
        for (const auto& dark : call.dark) {
            const double from = x_of(dark.from), to = x_of(std::min(dark.to, call.duration));
            set_colour(cr_, kDark, 0.85);
            cairo_rectangle(cr_, from, bar + 4, to - from, kBarHeight - 8);
            cairo_fill(cr_);
            if (to - from > 90)
                text(cr_, (from + to) / 2, bar + 6, "screen dark", "DejaVu Sans 8.5", {1, 1, 1}, Align::Centre);
        }
        // On top of the dark screen: a held call is not connected, whatever the screen does.
        for (const auto& held : call.held) {
            const double from = x_of(held.from), to = x_of(held.to);
            set_colour(cr_, kHeld);
            cairo_rectangle(cr_, from, bar, to - from, kBarHeight);
            cairo_fill(cr_);
            if (to - from > 40)
                text(cr_, (from + to) / 2, bar + 6, "held", "DejaVu Sans Bold 8.5", kMuted, Align::Centre);
        }
        set_colour(cr_, call.voice() ? kConnectedEdge : kMuted);
        cairo_set_line_width(cr_, 1);
        cairo_rectangle(cr_, left + 0.5, bar + 0.5, right - left - 1, kBarHeight - 1);
        cairo_stroke(cr_);
        text(cr_, left, bar + kBarHeight + kScheduleHeight + 6, "0:00", "DejaVu Sans 8", kMuted);
        text(cr_, right, bar + kBarHeight + kScheduleHeight + 6, call_time(call.duration), "DejaVu Sans 8", kMuted,
             Align::Right);
    }

    // Each run of the monitor's schedule during the call, as a band under
    // it, with the full intervals it counted.
    void schedules(const CallRecord& call, double bar)
    {
        const double band = bar + kBarHeight + 2;
        for (const auto& schedule : call.schedules) {
            const double from = x_of(schedule.from), to = x_of(schedule.to);
            set_colour(cr_, kSchedule);
            cairo_rectangle(cr_, from, band, std::max(to - from, 1.0), kScheduleHeight);
            cairo_fill(cr_);
            if (schedule.restart)
                text(cr_, from + 3, band + kScheduleHeight + 4, "schedule restarts", "DejaVu Sans 8",
                     kScheduleInk, Align::Left);
            const int interval = schedule.settings.interval_ms();
            if (!schedule.armed || schedule.settings.regular_type == 0 || interval <= 0)
                continue;
            const double first = schedule.timed_from + interval *
                                     std::max(1.0, std::ceil((schedule.from - schedule.timed_from) / interval));
            for (double at = first; at < schedule.to; at += interval) {
                set_colour(cr_, kInterval);
                dashed_line(x_of(at), bar - 8, band + kScheduleHeight + 2);
                text(cr_, x_of(at), band + kScheduleHeight + 16, call_time(at), "DejaVu Sans Bold 8", kInterval,
                     Align::Centre);
            }
        }
    }

    void signals(const CallRecord& call, double bar)
    {
        double last_label = -1e9;
        int level = 0;
        nlohmann::json drawn = nlohmann::json::array();
        for (const auto& signal : call.signals) {
            const double x = x_of(signal.at);
            const Colour colour = colour_of(signal.kind);
            set_colour(cr_, colour);
            cairo_set_line_width(cr_, 2);
            cairo_move_to(cr_, x, bar - 10);
            cairo_line_to(cr_, x, bar + kBarHeight);
            cairo_stroke(cr_);
            symbol(cr_, signal.kind, x, bar - 14);
            // Labels of signals close together are staggered.
            level = x - last_label < 90 ? 1 - level : 0;
            last_label = x;
            text(cr_, x, bar - 38 - 14 * level, std::string(signal_role_word(signal.role)) + " " + call_time(signal.at),
                 "DejaVu Sans 8", colour, Align::Centre);
            nlohmann::json mark = {{"role", signal_role_name(signal.role)},
                                   {"kind", signal_kind_name(signal.kind)},
                                   {"at", call_time(signal.at)}};
            if (const auto announced = announced_mark(call, signal)) {
                lead_bracket(signal, *announced, bar);
                mark["announces"] = call_time(*announced);
            }
            drawn.push_back(mark);
        }
        shown_["calls"].push_back({{"call", call.id}, {"number", call.number}, {"signals", drawn}});
    }

    // From a periodic signal to the full interval it announces.
    void lead_bracket(const Signal& signal, double mark, double bar)
    {
        const double from = x_of(signal.at), to = x_of(mark), y = bar + kBarHeight + kScheduleHeight + 40;
        set_colour(cr_, colour_of(signal.kind));
        cairo_set_line_width(cr_, 1.2);
        cairo_move_to(cr_, from, y - 4);
        cairo_line_to(cr_, from, y);
        cairo_line_to(cr_, to, y);
        cairo_line_to(cr_, to, y - 4);
        cairo_stroke(cr_);
        text(cr_, (from + to) / 2, y + 2, seconds(static_cast<int>(std::lround((mark - signal.at) / 100.0) * 100)),
             "DejaVu Sans 8", colour_of(signal.kind), Align::Centre);
    }

    static constexpr double kBarHeight = 26;
    static constexpr double kScheduleHeight = 7;
    cairo_t* cr_;
    double span_;
    nlohmann::json shown_ = {{"calls", nlohmann::json::array()}};
};

// Every row shares one scale, long enough for the longest call and its end
// signal, rounded up to half minutes.
double common_span(const std::vector<CallRecord>& calls)
{
    double longest = 0;
    for (const auto& call : calls) {
        longest = std::max(longest, call.duration);
        for (const auto& schedule : call.schedules)
            longest = std::max(longest, schedule.to);
        for (const auto& signal : call.signals)
            longest = std::max({longest, signal.at + signal.length, announced_mark(call, signal).value_or(0)});
    }
    return std::max(30000.0, std::ceil(longest / 30000.0) * 30000.0);
}

nlohmann::json draw(cairo_t* cr, const std::vector<CallRecord>& shown, size_t calls)
{
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    Drawing drawing(cr, common_span(shown));
    drawing.title(shown.size(), calls);
    for (size_t i = 0; i < shown.size(); ++i)
        drawing.row(shown[i], kTop + i * kRowHeight);
    drawing.legend(kTop + shown.size() * kRowHeight + 8);
    nlohmann::json what = drawing.shown();
    what["of"] = calls;
    return what;
}

// cairo's SVG has no place for data of our own: it goes in after the
// opening <svg> tag, as the format allows.
void add_metadata(std::string& svg, const std::filesystem::path& file, const nlohmann::json& what)
{
    const size_t open = svg.find("<svg");
    const size_t end = open == std::string::npos ? open : svg.find('>', open);
    if (end == std::string::npos)
        throw Failure("cannot write " + file.string() + ": the SVG came out without its <svg> element");
    svg.insert(end + 1, "\n<metadata id=\"callticker-timeline\"><![CDATA[" + what.dump() + "]]></metadata>");
}

bool has_extension(const std::filesystem::path& file, const char* extension)
{
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == extension;
}

void check(cairo_surface_t* surface, const std::filesystem::path& file)
{
    const cairo_status_t status = cairo_surface_status(surface);
    if (status != CAIRO_STATUS_SUCCESS)
        throw Failure("cannot write " + file.string() + ": " + cairo_status_to_string(status));
}

} // namespace

void draw_timeline(const std::vector<CallRecord>& calls, const std::filesystem::path& file)
{
    const std::vector<CallRecord> shown(calls.size() > kMostRows ? calls.end() - kMostRows : calls.begin(),
                                        calls.end());
    const double height = kTop + shown.size() * kRowHeight + kLegendHeight;
    const bool svg = has_extension(file, ".svg");
    if (!svg && !has_extension(file, ".png"))
        throw Failure("cannot draw into '" + file.string() + "': give a file name ending in .svg or .png");
    std::string svg_bytes;
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        svg ? cairo_svg_surface_create_for_stream(append_bytes, &svg_bytes, kWidth, height)
            : cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(kWidth), static_cast<int>(height)),
        cairo_surface_destroy);
    check(surface.get(), file);
    cairo_t* cr = cairo_create(surface.get());
    const nlohmann::json what = draw(cr, shown, calls.size());
    cairo_destroy(cr);
    const std::string png = svg ? std::string() : png_bytes(surface.get());
    cairo_surface_finish(surface.get());
    check(surface.get(), file);
    if (svg)
        add_metadata(svg_bytes, file, what);
    write_user_file(file, svg ? svg_bytes : png);
}

} // namespace phone
