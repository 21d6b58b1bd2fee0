// Emulates the little of the graphics device interface that the programs
// use: the screen's device context (GetDC, ReleaseDC, GetDeviceCaps with the
// device's dpi and size), fonts as handles that keep their LOGFONT
// (CreateFontIndirectW, DeleteObject), and the text metrics that dialog
// layout needs.  Leaves out drawing, bitmaps, brushes, pens and selection
// of objects into a context: the screen is drawn by whoever shows it.
#include <array>
#include <cmath>
#include <cwchar>
#include <map>
#include <mutex>

#include "crt/errors.h"
#include "device/device.h"
#include "display.h"
#include "fonts.h"

namespace wince::user::fonts {
namespace {

// DejaVu Sans Condensed, units per em 2048: ascent, descent and the advance
// widths of the characters 32 to 126, regular and bold.
constexpr int units_per_em = 2048;
constexpr int ascent_units = 1901;
constexpr int descent_units = 483;

constexpr std::array<short, 95> regular_widths{
    585,  738,  847,  1544, 1172, 1751, 1437, 506,  719,  719,  921,  1544, 585,  665,  585,  621,
    1172, 1172, 1172, 1172, 1172, 1172, 1172, 1172, 1172, 1172, 621,  621,  1544, 1544, 1544, 978,
    1843, 1260, 1264, 1287, 1419, 1164, 1060, 1428, 1386, 543,  543,  1208, 1026, 1590, 1378, 1450,
    1111, 1450, 1280, 1170, 1125, 1349, 1260, 1822, 1262, 1125, 1262, 719,  621,  719,  1544, 921,
    921,  1129, 1170, 1013, 1170, 1134, 648,  1170, 1168, 512,  512,  1067, 512,  1795, 1168, 1127,
    1170, 1170, 757,  960,  722,  1168, 1090, 1507, 1090, 1090, 967,  1172, 621,  1172, 1544};
constexpr std::array<short, 95> bold_widths{
    641,  840,  960,  1544, 1282, 1846, 1607, 564,  842,  842,  963,  1544, 700,  765,  700,  673,
    1282, 1282, 1282, 1282, 1282, 1282, 1282, 1282, 1282, 1282, 737,  737,  1544, 1544, 1544, 1069,
    1843, 1426, 1404, 1352, 1530, 1259, 1259, 1512, 1542, 685,  685,  1428, 1174, 1834, 1542, 1566,
    1350, 1566, 1419, 1327, 1257, 1496, 1426, 2033, 1421, 1334, 1336, 842,  673,  842,  1544, 921,
    921,  1243, 1319, 1092, 1319, 1250, 801,  1319, 1312, 631,  631,  1225, 631,  1920, 1312, 1266,
    1319, 1319, 909,  1097, 881,  1312, 1201, 1702, 1188, 1201, 1072, 1312, 673,  1312, 1544};

int units_to_pixels(int units, int em) { return static_cast<int>(std::lround(double(units) * em / units_per_em)); }

int glyph_width(wchar_t c, const LOGFONTW& font, int em)
{
    const auto& widths = is_bold(font) ? bold_widths : regular_widths;
    // Beyond ASCII a character is as wide as an 'n'.
    const int units = c >= 32 && c <= 126 ? widths[c - 32] : widths['n' - 32];
    return units_to_pixels(units, em);
}

int em_of(const LOGFONTW& font)
{
    if (font.lfHeight < 0)
        return -font.lfHeight;
    if (font.lfHeight > 0) // a cell height: the character height is less
        return std::max(1, static_cast<int>(std::lround(double(font.lfHeight) * units_per_em /
                                                        (ascent_units + descent_units))));
    return -system_font().lfHeight;
}

struct FontTable {
    std::mutex mutex;
    std::map<uintptr_t, LOGFONTW> fonts;
    uintptr_t next = 0x46000010;
};

FontTable& table()
{
    static auto* t = new FontTable;
    return *t;
}

} // namespace

std::optional<LOGFONTW> logfont(HFONT font)
{
    FontTable& t = table();
    std::lock_guard lock(t.mutex);
    auto found = t.fonts.find(reinterpret_cast<uintptr_t>(font));
    if (found == t.fonts.end())
        return std::nullopt;
    return found->second;
}

bool is_bold(const LOGFONTW& font) { return font.lfWeight >= FW_SEMIBOLD; }

Metrics metrics(const LOGFONTW& font)
{
    Metrics m;
    m.em = em_of(font);
    m.ascent = units_to_pixels(ascent_units, m.em);
    m.height = m.ascent + units_to_pixels(descent_units, m.em);
    m.avg_width = units_to_pixels(is_bold(font) ? bold_widths['x' - 32] : regular_widths['x' - 32], m.em);
    return m;
}

int text_width(std::wstring_view text, const LOGFONTW& font)
{
    const int em = em_of(font);
    int width = 0;
    for (wchar_t c : text)
        width += glyph_width(c, font, em);
    return width;
}

SIZE dialog_base_units(const LOGFONTW& font)
{
    static constexpr std::wstring_view letters = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const LONG extent = text_width(letters, font);
    return SIZE{(extent / 26 + 1) / 2, metrics(font).height};
}

LOGFONTW point_font(int points, std::wstring_view face, LONG weight)
{
    LOGFONTW font{};
    // MulDiv rounds half away from zero.
    font.lfHeight = -static_cast<LONG>(std::lround(double(points) * display::dpi() / 72));
    font.lfWeight = weight;
    const size_t n = std::min(face.size(), size_t{LF_FACESIZE - 1});
    std::wmemcpy(font.lfFaceName, face.data(), n);
    font.lfFaceName[n] = L'\0';
    return font;
}

LOGFONTW system_font() { return point_font(8, L"Tahoma"); }

} // namespace wince::user::fonts

using namespace wince;
using namespace wince::user;

namespace {

// The one device context there is: the screen's.
HDC const screen_dc = reinterpret_cast<HDC>(uintptr_t{0x5C5C0010});

} // namespace

HDC WINAPI GetDC(HWND)
{
    if (device::inject_fault("GetDC"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, HDC{nullptr});
    return screen_dc;
}

int WINAPI ReleaseDC(HWND, HDC hDC) { return hDC == screen_dc ? 1 : 0; }

int WINAPI GetDeviceCaps(HDC hdc, int index)
{
    if (hdc != screen_dc)
        return fail(ERROR_INVALID_HANDLE, 0);
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
        return display::dpi();
    case HORZRES:
        return display::layout().width;
    case VERTRES:
        return display::layout().height;
    case BITSPIXEL:
        return 16;
    default:
        return 0;
    }
}

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* lplf)
{
    if (lplf == nullptr)
        return fail(ERROR_INVALID_PARAMETER, HFONT{nullptr});
    if (device::inject_fault("CreateFontIndirectW"))
        return fail(ERROR_NOT_ENOUGH_MEMORY, HFONT{nullptr});
    auto& t = fonts::table();
    std::lock_guard lock(t.mutex);
    const uintptr_t handle = t.next;
    t.next += 0x10;
    LOGFONTW copy = *lplf;
    copy.lfFaceName[LF_FACESIZE - 1] = L'\0'; // a face name without its end is cut, not overrun
    t.fonts.emplace(handle, copy);
    return reinterpret_cast<HFONT>(handle);
}

BOOL WINAPI DeleteObject(HGDIOBJ ho)
{
    auto& t = fonts::table();
    std::lock_guard lock(t.mutex);
    if (t.fonts.erase(reinterpret_cast<uintptr_t>(ho)) == 0)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}
