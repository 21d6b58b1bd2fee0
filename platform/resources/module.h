// Program modules: the resource image (a Win32 .res file built by windres)
// that each program carries, seen by the program as its HINSTANCE.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include <windows.h>

namespace wince::resources {

// A module over a .res image; the image is copied, the module lives for the
// rest of the process.  Returns null when the image is not a valid .res file.
HINSTANCE load_module(const void* image, size_t size);
HINSTANCE load_module_file(const std::filesystem::path& res_file);

// The running program's own module: its embedded image, or a module
// without resources for a binary that links none (tests, the phone tool),
// as every Windows process has a module of its own.  This is what
// GetModuleHandleW(NULL) and a null module argument stand for.
HINSTANCE program_module();

} // namespace wince::resources

// Every device program links an object that defines its resource image
// (cmake: callticker_add_resources); other binaries leave it undefined.
extern "C" const unsigned char wince_program_resources[];
extern "C" const unsigned int wince_program_resources_size;
