// Where the parts of the phone's face lie in the window, in window pixels:
// the screen at its zoom, the soft keys, the d-pad, the talk and end keys
// and the volume keys.  The face is drawn and clicked by this one layout.
#pragma once

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace phone {

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
    bool contains(double px, double py) const { return px >= x && py >= y && px < x + width && py < y + height; }
    double centre_x() const { return x + width / 2.0; }
    double centre_y() const { return y + height / 2.0; }
};

enum class FaceKey { soft_left, soft_right, up, down, left, right, action, talk, end, volume_up, volume_down };

struct FaceLayout {
    int zoom = 1;
    Box face;   // the whole drawing
    Box led;    // the notification light
    Box screen; // the device's screen, each device pixel zoom x zoom
    Box soft_left, soft_right, talk, end, volume_up, volume_down;
    Box pad;    // the d-pad's square; its centre is the action button
    int action_radius = 0;

    // The key under a point, if any: the d-pad's ring is split into four
    // quarters around its action button.
    std::optional<FaceKey> key_at(double x, double y) const
    {
        const std::pair<const Box*, FaceKey> boxes[] = {
            {&soft_left, FaceKey::soft_left}, {&soft_right, FaceKey::soft_right}, {&talk, FaceKey::talk},
            {&end, FaceKey::end},             {&volume_up, FaceKey::volume_up},   {&volume_down, FaceKey::volume_down}};
        for (const auto& [box, key] : boxes)
            if (box->contains(x, y))
                return key;
        const double dx = x - pad.centre_x(), dy = y - pad.centre_y();
        const double distance = std::hypot(dx, dy);
        if (distance > pad.width / 2.0)
            return std::nullopt;
        if (distance <= action_radius)
            return FaceKey::action;
        if (std::abs(dx) > std::abs(dy))
            return dx < 0 ? FaceKey::left : FaceKey::right;
        return dy < 0 ? FaceKey::up : FaceKey::down;
    }

    // The device pixel under a point of the screen, if it is on the screen.
    std::optional<std::pair<int, int>> screen_pixel(double x, double y) const
    {
        if (!screen.contains(x, y))
            return std::nullopt;
        return std::pair{static_cast<int>((x - screen.x) / zoom), static_cast<int>((y - screen.y) / zoom)};
    }
};

// The face for a screen of `width` x `height` device pixels shown at `zoom`.
inline FaceLayout face_layout(int width, int height, int zoom)
{
    FaceLayout f;
    f.zoom = zoom;
    const int w = width * zoom;
    const int u = std::max(1, w / 240); // the keys grow with the screen
    const int margin = 16 * u;
    f.led = {margin, 8 * u, 10 * u, 10 * u};
    f.screen = {margin, 26 * u, w, height * zoom};
    const int keys_top = f.screen.y + f.screen.height + 10 * u;
    const int soft_width = w * 2 / 5;
    f.soft_left = {margin, keys_top, soft_width, 24 * u};
    f.soft_right = {margin + w - soft_width, keys_top, soft_width, 24 * u};
    const int pad_side = 88 * u;
    const int row = keys_top + 30 * u;
    f.pad = {margin + (w - pad_side) / 2, row, pad_side, pad_side};
    f.action_radius = 16 * u;
    const int side_width = (w - pad_side) / 2 - 12 * u;
    f.talk = {margin, row + 8 * u, side_width, 30 * u};
    f.end = {margin + w - side_width, row + 8 * u, side_width, 30 * u};
    f.volume_down = {margin, row + 50 * u, side_width, 22 * u};
    f.volume_up = {margin + w - side_width, row + 50 * u, side_width, 22 * u};
    f.face = {0, 0, w + 2 * margin, row + pad_side + 14 * u};
    return f;
}

} // namespace phone
