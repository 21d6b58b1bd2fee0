// Classic dialog templates (DLGTEMPLATE) as the resource compiler writes
// them: the dialog's style, geometry in dialog units, caption and font, and
// its controls in template order.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <windows.h>

namespace wince::user {

struct DialogItem {
    DWORD style = 0;
    DWORD ex_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;             // 0xFFFF for IDC_STATIC
    std::wstring class_name; // ordinal classes by their names: BUTTON, STATIC...
    std::wstring text;
    int text_ordinal = -1;   // 0xFFFF nnnn in place of a text (an icon's id)
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD ex_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption;
    bool has_font = false; // DS_SETFONT
    WORD point_size = 0;
    std::wstring face;
    std::vector<DialogItem> items;
};

// The template in `bytes`, or nothing when it is an extended template or
// any part of it lies outside `bytes`.
std::optional<DialogTemplate> parse_dialog_template(std::span<const unsigned char> bytes);

} // namespace wince::user
