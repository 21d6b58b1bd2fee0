// Reads menu templates (MENUHEADER, then items flagged MF_POPUP and MF_END)
// and SHMENUBAR data for the soft-key bar.  Leaves out MENUEX templates,
// pop-ups nested inside pop-ups, separators' looks and item states.
#include "menu_resources.h"

#include "resources/word_reader.h"

namespace wince::shell {
namespace {

constexpr WORD mf_popup = 0x0010;
constexpr WORD mf_end = 0x0080;
constexpr WORD no_menu = 0xFFFF;
constexpr size_t words_per_button = 7;

// Items up to and including the one flagged MF_END; `depth` 0 is the bar.
void read_items(resources::WordReader& in, std::vector<MenuItem>& out, int depth)
{
    for (;;) {
        const WORD flags = in.word();
        MenuItem item;
        if (!(flags & mf_popup))
            item.command = in.word();
        // A "&" marks the access key; the screen shows the letter without it.
        for (wchar_t c : in.string())
            if (c != L'&')
                item.text.push_back(c);
        if (!in.ok())
            return;
        if (flags & mf_popup) {
            if (depth > 0) { // pop-ups in pop-ups are not shown: read past them
                std::vector<MenuItem> ignored;
                read_items(in, ignored, depth + 1);
            } else {
                read_items(in, item.popup, depth + 1);
            }
        }
        out.push_back(std::move(item));
        if ((flags & mf_end) || !in.ok() || depth > 8)
            return;
    }
}

} // namespace

std::optional<std::vector<MenuItem>> parse_menu(std::span<const unsigned char> bytes)
{
    resources::WordReader in(bytes);
    const WORD version = in.word();
    const WORD header_size = in.word();
    if (!in.ok() || version != 0 || header_size != 0)
        return std::nullopt;
    std::vector<MenuItem> items;
    if (!in.at_end())
        read_items(in, items, 0);
    if (!in.ok())
        return std::nullopt;
    return items;
}

std::optional<BarData> parse_menubar(std::span<const unsigned char> bytes)
{
    resources::WordReader in(bytes);
    BarData bar;
    bar.menu = in.word();
    const WORD count = in.word();
    if (!in.ok() || bytes.size() < 4 + size_t{count} * words_per_button * 2)
        return std::nullopt;
    for (WORD i = 0; i < count; ++i) {
        BarButton b;
        b.image = in.word();
        b.command = in.word();
        b.state = in.word();
        b.style = in.word();
        b.label = in.word();
        in.word(); // reserved
        const WORD submenu = in.word();
        b.submenu = submenu == no_menu ? -1 : submenu;
        bar.buttons.push_back(b);
    }
    return bar;
}

} // namespace wince::shell
