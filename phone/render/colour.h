// The colours phone's pictures (screenshots, timelines) are drawn in, and
// how one becomes cairo's source.
#pragma once

#include <cairo.h>

namespace phone {

struct Colour {
    double r, g, b;
};

inline void set_colour(cairo_t* cr, Colour c, double alpha = 1)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

} // namespace phone
