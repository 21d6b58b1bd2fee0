// Fonts of the emulated device: font handles that keep their LOGFONT, and
// text metrics as the device's screen font gives them.  The metrics are
// those of DejaVu Sans Condensed (regular and bold), fixed here so that
// every process, and every machine, lays a dialog out to the same pixels;
// whoever draws the screen draws with that face.
#pragma once

#include <optional>
#include <string_view>

#include <windows.h>

namespace wince::user::fonts {

struct Metrics {
    int height = 0;    // tmHeight: ascent + descent, pixels
    int ascent = 0;
    int em = 0;        // character height (the -lfHeight a font asks for)
    int avg_width = 0; // tmAveCharWidth
};

// The LOGFONT of a live font handle.
std::optional<LOGFONTW> logfont(HFONT font);

// What the device's screen font gives for a LOGFONT at the device's dpi.
Metrics metrics(const LOGFONTW& font);
int text_width(std::wstring_view text, const LOGFONTW& font);

// Dialog base units as Windows derives them from a dialog's font: the
// average width of the 52 letters A-Z a-z, rounded, and the font's height.
SIZE dialog_base_units(const LOGFONTW& font);

// The font of a point size at the device's dpi, as a dialog template's
// DS_SETFONT asks for it (lfHeight -MulDiv(points, dpi, 72)).
LOGFONTW point_font(int points, std::wstring_view face, LONG weight = FW_NORMAL);

// The font a control without WM_SETFONT shows its text in.
LOGFONTW system_font();

bool is_bold(const LOGFONTW& font);

} // namespace wince::user::fonts
