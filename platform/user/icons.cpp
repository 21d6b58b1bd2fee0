// Decodes a program's icon for the screen model: the icon group directory
// (RT_GROUP_ICON), then the chosen RT_ICON image, a DIB of twice the icon's
// height whose upper half is the AND mask.  Leaves out PNG-compressed
// images and cursors.
#include "icons.h"

#include <cstdint>
#include <span>

#include "device/device.h"
#include "resources/image.h"

namespace wince::user {
namespace {

uint32_t le(std::span<const unsigned char> b, size_t at, size_t n)
{
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v |= uint32_t{b[at + i]} << (8 * i);
    return v;
}

std::span<const unsigned char> resource_bytes(const resources::Module& m, WORD type, WORD id)
{
    DWORD error = 0;
    const resources::Resource* r = m.find({type, {}}, {id, {}}, error);
    if (r == nullptr)
        return {};
    return {m.image.data() + r->offset, r->size};
}

// The RT_ICON id of the entry that suits `size` best.
int choose_image(std::span<const unsigned char> dir, int size)
{
    if (dir.size() < 6)
        return -1;
    const size_t count = le(dir, 4, 2);
    int best = -1;
    int best_width = 0;
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= dir.size(); ++i) {
        const size_t at = 6 + 14 * i;
        const int width = dir[at] == 0 ? 256 : dir[at];
        const int id = static_cast<int>(le(dir, at + 12, 2));
        const bool better = best < 0 || (width >= size && (best_width < size || width < best_width)) ||
                            (best_width < size && width > best_width);
        if (better) {
            best = id;
            best_width = width;
        }
    }
    return best;
}

size_t row_bytes(int width, int bits) { return ((static_cast<size_t>(width) * bits + 31) / 32) * 4; }

std::optional<screen::Icon> decode(std::span<const unsigned char> dib)
{
    if (dib.size() < 40 || le(dib, 0, 4) < 40)
        return std::nullopt;
    const size_t header = le(dib, 0, 4);
    const int width = static_cast<int32_t>(le(dib, 4, 4));
    const int height = static_cast<int32_t>(le(dib, 8, 4)) / 2;
    const int bits = static_cast<int>(le(dib, 14, 2));
    if (width <= 0 || height <= 0 || width > 256 || height > 256 || le(dib, 16, 4) != 0)
        return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return std::nullopt;
    size_t colours = bits <= 8 ? le(dib, 32, 4) : 0;
    if (bits <= 8 && colours == 0)
        colours = size_t{1} << bits;
    const size_t palette = header;
    const size_t pixels = palette + 4 * colours;
    const size_t mask = pixels + row_bytes(width, bits) * height;
    if (mask + row_bytes(width, 1) * height > dib.size() || colours > 256)
        return std::nullopt;
    screen::Icon icon;
    icon.width = width;
    icon.height = height;
    icon.rgba.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const size_t row = pixels + row_bytes(width, bits) * (height - 1 - y);
        const size_t mask_row = mask + row_bytes(width, 1) * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            unsigned char* out = &icon.rgba[(static_cast<size_t>(y) * width + x) * 4];
            size_t bgr;
            if (bits <= 8) {
                const size_t bit = static_cast<size_t>(x) * bits;
                const unsigned index = (dib[row + bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= colours)
                    return std::nullopt;
                bgr = palette + 4 * index;
            } else {
                bgr = row + static_cast<size_t>(x) * (bits / 8);
            }
            out[0] = dib[bgr + 2];
            out[1] = dib[bgr + 1];
            out[2] = dib[bgr];
            const bool transparent = (dib[mask_row + x / 8] >> (7 - x % 8)) & 1;
            out[3] = transparent ? 0 : bits == 32 ? dib[bgr + 3] : 255;
        }
    }
    return icon;
}

} // namespace

std::optional<screen::Icon> load_icon(HINSTANCE module, int group, int size)
{
    const resources::Module* m = resources::module_from_handle(module);
    if (m == nullptr)
        return std::nullopt;
    constexpr WORD rt_icon = 3;
    constexpr WORD rt_group_icon = 14;
    const int image = choose_image(resource_bytes(*m, rt_group_icon, static_cast<WORD>(group)), size);
    if (image < 0)
        return std::nullopt;
    auto icon = decode(resource_bytes(*m, rt_icon, static_cast<WORD>(image)));
    if (!icon)
        return std::nullopt;
    icon->resource = group;
    icon->module = device::narrow(device::device_path(device::program_path()));
    return icon;
}

} // namespace wince::user
