// The phone's face as the window draws it: the body, the notification
// light, the vibrator's mark, the screen and the keys.
#pragma once

#include <cairo.h>

#include "live/face_layout.h"
#include "user/screen_model.h"

namespace phone {

struct FaceState {
    bool vibrating = false; // LED 1, the vibrator
    bool led = false;       // LED 0, the notification light
};

void draw_face(cairo_t* cr, const FaceLayout& layout, const wince::screen::Screen& screen, FaceState state);

} // namespace phone
