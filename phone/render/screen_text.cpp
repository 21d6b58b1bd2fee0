// Lays the screen model out on a character grid: device pixels scale to a
// grid of 40 columns and rows of one text line of the dialog font, so the
// picture keeps the device's proportions at any dpi.
#include "render/screen_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <windows.h>

namespace phone {
namespace {

namespace screen = wince::screen;

constexpr int columns = 40;

class Grid {
public:
    Grid(int rows, int cols)
        : rows_(rows), cols_(cols),
          cells_(static_cast<size_t>(rows), std::vector<std::string>(static_cast<size_t>(cols), " ")),
          marks_(static_cast<size_t>(rows), ' ')
    {
    }

    // Writes `text` from (row, col), cut at the right edge (or at `limit` columns).
    void put(int row, int col, const std::string& text, int limit = -1)
    {
        if (row < 0 || row >= rows_)
            return;
        const int end = limit < 0 ? cols_ : std::min(cols_, col + limit);
        int c = col;
        for (size_t i = 0; i < text.size() && c < end; ++c) {
            // One column per character, UTF-8 sequences kept whole.
            size_t len = 1;
            const auto lead = static_cast<unsigned char>(text[i]);
            if (lead >= 0xF0)
                len = 4;
            else if (lead >= 0xE0)
                len = 3;
            else if (lead >= 0xC0)
                len = 2;
            if (c >= 0)
                set(row, c, text.substr(i, len));
            i += len;
        }
    }

    void mark(int row) { if (row >= 0 && row < rows_) marks_[static_cast<size_t>(row)] = '>'; }

    void box(int top, int left, int height, int width)
    {
        for (int r = top; r < top + height; ++r)
            put(r, left, std::string(static_cast<size_t>(width), ' '));
        put(top, left, "+" + std::string(static_cast<size_t>(std::max(0, width - 2)), '-') + "+");
        put(top + height - 1, left, "+" + std::string(static_cast<size_t>(std::max(0, width - 2)), '-') + "+");
        for (int r = top + 1; r < top + height - 1; ++r) {
            put(r, left, "|");
            put(r, left + width - 1, "|");
        }
    }

    std::string row(int r) const
    {
        std::string out;
        for (const auto& cell : cells_[static_cast<size_t>(r)])
            out += cell;
        return out;
    }
    char marker(int r) const { return marks_[static_cast<size_t>(r)]; }
    int rows() const { return rows_; }

private:
    void set(int row, int col, const std::string& glyph)
    {
        cells_[static_cast<size_t>(row)][static_cast<size_t>(col)] = glyph;
    }

    int rows_;
    int cols_;
    // Each cell holds one character, possibly several bytes long.
    std::vector<std::vector<std::string>> cells_;
    std::vector<char> marks_;
};

struct Scale {
    int width;   // device pixels of the window area
    int height;
    int top;     // device pixel row where the grid starts
    int rows;

    int col(int x) const { return x * columns / std::max(1, width); }
    int cols(int w) const { return std::max(1, (w * columns + width / 2) / std::max(1, width)); }
    int row(int y) const { return (y - top) * rows / std::max(1, height); }
};

std::string styled(const screen::Control& c)
{
    return c.bold ? "*" + c.text + "*" : c.text;
}

int centre_row(const Scale& s, const screen::Control& c)
{
    return s.row(c.rect.y + c.rect.height / 2);
}

// A label stands before a field when its centre lies within the field's
// height and it starts left of the field.
bool labels(const screen::Control& label, const screen::Control& field)
{
    const int centre = label.rect.y + label.rect.height / 2;
    return label.kind == "STATIC" && field.kind != "STATIC" && field.rect.x >= label.rect.x &&
           field.rect.y <= centre && centre < field.rect.y + field.rect.height;
}

// A label is drawn on the row of the field beside it whenever the two
// overlap on the screen: their centres, a few pixels apart, can fall on
// either side of a row boundary, which would part a label from its field.
int row_of(const Scale& s, const screen::Control& c, const std::vector<screen::Control>& all)
{
    for (const auto& field : all)
        if (labels(c, field))
            return centre_row(s, field);
    return centre_row(s, c);
}

void draw_control(Grid& grid, const Scale& s, const screen::Control& c, int row)
{
    const int col = s.col(c.rect.x);
    const int width = s.cols(c.rect.width);
    if (c.focused)
        grid.mark(row);
    if (c.kind == "BUTTON") {
        const std::string box = c.checked ? (*c.checked ? "[x] " : "[ ] ") : "";
        grid.put(row, col, c.checked ? box + styled(c) : "[" + styled(c) + "]", width);
    } else if (c.kind == "COMBOBOX") {
        const int inner = std::max(1, width - 3);
        std::string shown = c.text.substr(0, static_cast<size_t>(inner));
        grid.put(row, col, "[" + shown);
        grid.put(row, col + width - 2, "v]");
    } else if (c.icon) {
        const std::string icon = "[icon " + std::to_string(c.icon->resource) + "]";
        grid.put(row, col + std::max(0, (width - static_cast<int>(icon.size())) / 2), icon);
    } else {
        const std::string text = styled(c);
        const int length = static_cast<int>(text.size());
        const int start = c.align == "center" ? col + std::max(0, (width - length) / 2) : col;
        grid.put(row, start, text, width);
    }
}

// An open list lies over the controls below its box, so it is drawn after
// all of them.
void draw_dropped_list(Grid& grid, const Scale& s, const screen::Control& c, int row)
{
    const int col = s.col(c.rect.x);
    const int width = s.cols(c.rect.width);
    grid.box(row + 1, col, static_cast<int>(c.items.size()) + 2, width);
    for (size_t i = 0; i < c.items.size(); ++i)
        grid.put(row + 2 + static_cast<int>(i), col + 1,
                 (static_cast<int>(i) == c.selection ? "*" : " ") + c.items[i], width - 2);
}

void draw_menu(Grid& grid, const Scale& s, const screen::Menu& menu)
{
    size_t widest = 4;
    for (const auto& item : menu.items)
        widest = std::max(widest, item.size());
    const int width = static_cast<int>(widest) + 3;
    const int height = static_cast<int>(menu.items.size()) + 2;
    const int left = s.col(menu.rect.x) + width > columns ? columns - width : s.col(menu.rect.x);
    const int top = grid.rows() - height;
    grid.box(top, left, height, width);
    for (size_t i = 0; i < menu.items.size(); ++i)
        grid.put(top + 1 + static_cast<int>(i), left + 1,
                 (static_cast<int>(i) == menu.highlighted ? ">" : " ") + menu.items[i]);
}

std::vector<std::string> wrap(const std::string& text, size_t width)
{
    std::vector<std::string> lines;
    std::string line;
    size_t at = 0;
    while (at < text.size()) {
        const size_t space = text.find(' ', at);
        const std::string word = text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        while (line.size() > width) {
            lines.push_back(line.substr(0, width));
            line.erase(0, width);
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::string icon_mark(uint32_t type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        return "(X) ";
    case MB_ICONQUESTION:
        return "(?) ";
    case MB_ICONEXCLAMATION:
        return "(!) ";
    case MB_ICONINFORMATION:
        return "(i) ";
    default:
        return "";
    }
}

void draw_messagebox(Grid& grid, const screen::MessageBoxView& box)
{
    const std::string icon = icon_mark(box.type);
    const auto lines = wrap(box.text, static_cast<size_t>(columns - 4 - static_cast<int>(icon.size())));
    const int height = static_cast<int>(lines.size()) + 2;
    const int top = std::max(0, (grid.rows() - height) / 2);
    grid.box(top, 0, height, columns);
    for (size_t i = 0; i < lines.size(); ++i)
        grid.put(top + 1 + static_cast<int>(i), 2, (i == 0 ? icon : std::string(icon.size(), ' ')) + lines[i]);
}

std::string framed(const std::string& inner, char marker = ' ') { return std::string("|") + marker + inner + " |\n"; }

// Characters, each UTF-8 sequence one.
int glyphs(const std::string& text)
{
    int length = 0;
    for (unsigned char c : text)
        length += (c & 0xC0) != 0x80;
    return length;
}

std::string padded(std::string text, int width)
{
    const int length = glyphs(text);
    if (length < width)
        text += std::string(static_cast<size_t>(width - length), ' ');
    return text;
}

// The status bar's marks: the signal's bars, the battery, the clock.
std::string status_marks(const screen::StatusBar& status)
{
    static const char* const bars[] = {"\u2582", "\u2584", "\u2586", "\u2588"};
    std::string marks;
    for (int i = 0; i < 4; ++i)
        marks += i < status.signal ? bars[i] : "_";
    return marks + " " + std::to_string(status.battery) + "% " + status.clock;
}

} // namespace

std::string control_label(const screen::Screen& s, const screen::Control& c)
{
    if (c.kind == "BUTTON")
        return c.text;
    const screen::Control* nearest = nullptr;
    for (const auto& label : s.controls)
        if (labels(label, c) && (!nearest || label.rect.x > nearest->rect.x))
            nearest = &label;
    return nearest ? nearest->text : "";
}

std::string screen_legend(const screen::Screen& s)
{
    if (s.dark)
        return "";
    std::string legend;
    for (const auto& c : s.controls) {
        if (c.kind == "STATIC")
            continue;
        const std::string kind = c.kind == "COMBOBOX" ? "list" : c.checked ? "check box" : "button";
        char line[64];
        std::snprintf(line, sizeof line, "  %5d  %-10s ", c.id, kind.c_str());
        legend += line + control_label(s, c) + "\n";
    }
    return legend.empty() ? "" : "controls (phone tap control ID or LABEL):\n" + legend;
}

std::string screen_text(const screen::Screen& s)
{
    if (s.dark)
        return "The screen is dark: the backlight is off.\n";
    const std::string rule = "+" + std::string(columns + 2, '-') + "+\n";
    std::string out = rule;
    const std::string right = s.ok_button ? "[ok]" : s.status_bar ? status_marks(*s.status_bar) : "";
    std::string title = s.title.substr(0, static_cast<size_t>(columns - 1 - glyphs(right)));
    out += framed(padded(title, columns - glyphs(right)) + right);
    out += rule;

    // One grid row per line of the dialog font: 13 pixels at 96 dpi.
    const int area_top = s.client.height > 0 ? s.client.y : s.title_bar.y + s.title_bar.height;
    const int area_height = s.client.height > 0 ? s.client.height : s.height - area_top;
    const int line = std::max(1, 13 * s.dpi / 96);
    const int rows = std::max(4, area_height / line);
    Grid grid(rows, columns);
    const Scale scale{s.width, area_height, area_top, rows};
    for (const auto& c : s.controls)
        draw_control(grid, scale, c, row_of(scale, c, s.controls));
    for (const auto& c : s.controls)
        if (c.kind == "COMBOBOX" && c.dropped)
            draw_dropped_list(grid, scale, c, row_of(scale, c, s.controls));
    if (s.menu)
        draw_menu(grid, scale, *s.menu);
    if (s.messagebox)
        draw_messagebox(grid, *s.messagebox);
    for (int r = 0; r < grid.rows(); ++r)
        out += framed(grid.row(r), grid.marker(r));

    out += rule;
    std::string keys;
    const int half = columns / 2;
    for (size_t i = 0; i < 2; ++i) {
        std::string label = i < s.softkeys.size() ? s.softkeys[i].label : "";
        if (i < s.softkeys.size() && s.softkeys[i].popup)
            label += " ^";
        keys += i == 0 ? padded(label, half) : padded(std::string(static_cast<size_t>(std::max(0, half - 1 - static_cast<int>(label.size()))), ' ') + label, half);
    }
    out += framed(keys);
    out += rule;
    return out;
}

} // namespace phone
