// The Win32 .res image format as windres writes it, and the in-memory module
// built from it.  Only what a program's own resources need: no resource
// directories of PE files, no language fallback beyond the device's English.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

namespace wince::resources {

// A resource type or name: an ordinal, or a string kept upper-cased as
// Windows compares names without regard to case.
struct ResourceId {
    WORD ordinal = 0;
    std::wstring name; // empty for an ordinal
    bool operator==(const ResourceId&) const = default;
};

struct Resource {
    ResourceId type;
    ResourceId id;
    WORD language = 0;
    size_t offset = 0; // of the data, inside the image
    DWORD size = 0;
};

// Every entry of a .res image after its leading empty one, or nothing when
// any part of the image is malformed or would lie outside it.
std::optional<std::vector<Resource>> parse_image(std::span<const unsigned char> image);

// The identifier a FindResourceW argument stands for: MAKEINTRESOURCE
// ordinals, "#123" as ordinal 123, anything else a name.
ResourceId id_from_argument(LPCWSTR argument);

// UTF-16LE code units from the image as a host wide string; an unpaired
// surrogate becomes U+FFFD.
std::wstring from_utf16(const unsigned char* units, size_t count);

struct Module {
    std::vector<unsigned char> image;
    std::vector<Resource> resources;

    // LoadStringW with no buffer hands out read-only pointers; their
    // converted strings live here as long as the module.
    std::mutex strings_mutex;
    std::map<std::pair<const Resource*, unsigned>, std::wstring> read_only_strings;

    // The best match for the device's language, or null with the Windows
    // error code (type or name not found) in `error`.
    const Resource* find(const ResourceId& type, const ResourceId& id, DWORD& error) const;
    bool owns(const Resource* resource) const;
};

// The live module behind a handle (null: the program's own), or null after
// SetLastError when the handle is not a module.
Module* module_from_handle(HMODULE handle);

} // namespace wince::resources
