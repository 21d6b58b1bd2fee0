// Build tool: draws the settings program's icon and writes it as a Windows
// .ico file with two images, 32 x 32 and 16 x 16 pixels at 8 bits per
// pixel, as its resource script names it.  The picture is a dial: a blue
// face with a white rim, marks at the quarters and two hands, the long
// one on twelve, where a new minute of talk begins.  Pixels outside the
// face are transparent.
//
// usage: callticker_make_icon OUT.ico
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <numbers>
#include <vector>

namespace {

// Palette entries used; the rest of the 256 stay black.
enum Colour : uint8_t { clear = 0, face = 1, rim = 2, mark = 3, shade = 4 };
constexpr std::array<std::array<uint8_t, 3>, 5> palette_rgb = {{
    {0, 0, 0},       // transparent (masked)
    {30, 90, 170},   // face
    {255, 255, 255}, // rim and hands
    {255, 200, 40},  // quarter marks
    {18, 55, 110},   // edge shading
}};

// Distance from the point (px, py) to the segment a-b.
double segment_distance(double px, double py, double ax, double ay, double bx, double by)
{
    const double dx = bx - ax, dy = by - ay;
    double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// The colour at the centre of pixel (x, y) of a size x size image, y down.
uint8_t colour_at(int size, int x, int y)
{
    const double s = size;
    const double cx = s / 2, cy = s / 2;
    const double px = x + 0.5, py = y + 0.5;
    const double r = std::hypot(px - cx, py - cy);
    const double outer = s / 2 - 0.5;
    const double line = s / 16; // stroke width
    if (r > outer)
        return clear;
    if (r > outer - line)
        return rim;
    // Hands: twelve o'clock, long; about two o'clock, short.
    const double angle = std::numbers::pi / 3; // 60 degrees past twelve
    if (segment_distance(px, py, cx, cy, cx, cy - outer * 0.72) < line * 0.6 ||
        segment_distance(px, py, cx + outer * 0.48 * std::sin(angle), cy - outer * 0.48 * std::cos(angle), cx, cy) <
            line * 0.6)
        return rim;
    // Quarter marks just inside the rim.
    for (int q = 0; q < 4; ++q) {
        const double a = q * std::numbers::pi / 2;
        const double ix = cx + std::sin(a) * (outer - line * 2.2), iy = cy - std::cos(a) * (outer - line * 2.2);
        if (std::hypot(px - ix, py - iy) < line * 0.8)
            return mark;
    }
    return r > outer - 2 * line ? shade : face;
}

void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, static_cast<uint16_t>(v));
    put16(out, static_cast<uint16_t>(v >> 16));
}

// One icon image: BITMAPINFOHEADER (height doubled for the mask), a
// 256-entry palette, the 8-bit colour rows and the 1-bit mask rows, both
// bottom-up and padded to 4 bytes.
std::vector<uint8_t> image(int size)
{
    const int colour_stride = (size + 3) / 4 * 4;
    const int mask_stride = ((size + 7) / 8 + 3) / 4 * 4;
    std::vector<uint8_t> out;
    put32(out, 40);
    put32(out, static_cast<uint32_t>(size));
    put32(out, static_cast<uint32_t>(size * 2));
    put16(out, 1); // planes
    put16(out, 8); // bits per pixel
    put32(out, 0); // uncompressed
    put32(out, static_cast<uint32_t>((colour_stride + mask_stride) * size));
    put32(out, 0);
    put32(out, 0);
    put32(out, 256); // colours used
    put32(out, 0);
    for (int i = 0; i < 256; ++i) {
        const auto rgb = i < static_cast<int>(palette_rgb.size()) ? palette_rgb[i] : std::array<uint8_t, 3>{0, 0, 0};
        out.insert(out.end(), {rgb[2], rgb[1], rgb[0], 0});
    }
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < colour_stride; ++x)
            out.push_back(x < size ? colour_at(size, x, y) : 0);
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(mask_stride, 0);
        for (int x = 0; x < size; ++x)
            if (colour_at(size, x, y) == clear)
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: callticker_make_icon OUT.ico\n";
        return 2;
    }
    const int sizes[] = {32, 16};
    std::vector<std::vector<uint8_t>> images;
    for (int size : sizes)
        images.push_back(image(size));

    std::vector<uint8_t> file;
    put16(file, 0); // reserved
    put16(file, 1); // icon
    put16(file, static_cast<uint16_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        file.push_back(static_cast<uint8_t>(sizes[i]));
        file.push_back(static_cast<uint8_t>(sizes[i]));
        file.push_back(0); // 256 colours
        file.push_back(0);
        put16(file, 1);
        put16(file, 8);
        put32(file, static_cast<uint32_t>(images[i].size()));
        put32(file, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const auto& img : images)
        file.insert(file.end(), img.begin(), img.end());

    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out) {
        std::cerr << "callticker_make_icon: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
