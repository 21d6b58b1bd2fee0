// Pictures made in memory: cairo writes into a string rather than to a
// path, so that the file is written by write_user_file, whole, with the
// user's umask, and a file that cannot be written is named with the reason.
#pragma once

#include <string>

#include <cairo.h>

#include "commands/commands.h"

namespace phone {

// A cairo write function appending to the std::string at `closure`.
inline cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

inline std::string png_bytes(cairo_surface_t* surface)
{
    std::string bytes;
    const cairo_status_t status = cairo_surface_write_to_png_stream(surface, append_bytes, &bytes);
    if (status != CAIRO_STATUS_SUCCESS)
        throw Failure(std::string("cannot make the PNG: ") + cairo_status_to_string(status));
    return bytes;
}

} // namespace phone
