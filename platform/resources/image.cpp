// Parsing of .res images (the RESOURCEHEADER sequence windres writes) and
// resource lookup inside one module.  Every read is checked against the
// image's size first: a truncated or hostile image is rejected whole.
#include "resources/image.h"

#include <algorithm>
#include <functional>

namespace wince::resources {
namespace {

constexpr size_t fixed_header_tail = 16; // DataVersion .. Characteristics
constexpr DWORD ordinal_marker = 0xFFFF;

size_t align4(size_t n) { return (n + 3) & ~size_t{3}; }

wchar_t upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

std::wstring upper(std::wstring text)
{
    std::ranges::transform(text, text.begin(), [](wchar_t c) { return upper(c); });
    return text;
}

// Reads little-endian values from a bounded span; every read reports
// whether it stayed inside.
class Reader {
public:
    Reader(std::span<const unsigned char> bytes, size_t pos) : bytes_(bytes), pos_(pos) {}

    size_t pos() const { return pos_; }

    bool word(WORD& out)
    {
        if (bytes_.size() < 2 || pos_ > bytes_.size() - 2)
            return false;
        out = static_cast<WORD>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }

    bool dword(DWORD& out)
    {
        WORD low, high;
        if (!word(low) || !word(high))
            return false;
        out = low | static_cast<DWORD>(high) << 16;
        return true;
    }

    // A type or name field: 0xFFFF and an ordinal, or a zero-terminated
    // UTF-16 string.
    bool id(ResourceId& out)
    {
        WORD first;
        if (!word(first))
            return false;
        if (first == ordinal_marker)
            return word(out.ordinal);
        const size_t start = pos_ - 2;
        for (WORD unit = first; unit != 0;)
            if (!word(unit))
                return false;
        out.name = upper(from_utf16(bytes_.data() + start, (pos_ - start) / 2 - 1));
        return true;
    }

private:
    std::span<const unsigned char> bytes_;
    size_t pos_;
};

// One entry at `start`: its resource and the offset of the next entry.
std::optional<std::pair<Resource, size_t>> parse_entry(std::span<const unsigned char> image, size_t start)
{
    DWORD data_size, header_size;
    Reader header(image, start);
    if (!header.dword(data_size) || !header.dword(header_size))
        return std::nullopt;
    // The header must hold itself: it is bounded by its own size field and
    // by the image.
    if (header_size < 8 || header_size > image.size() - start)
        return std::nullopt;
    Reader fields(image.first(start + header_size), header.pos());
    Resource resource;
    if (!fields.id(resource.type) || !fields.id(resource.id))
        return std::nullopt;
    Reader tail(image.first(start + header_size), align4(fields.pos()));
    DWORD data_version, version, characteristics;
    WORD memory_flags;
    if (!tail.dword(data_version) || !tail.word(memory_flags) || !tail.word(resource.language) ||
        !tail.dword(version) || !tail.dword(characteristics))
        return std::nullopt;
    resource.offset = start + header_size;
    resource.size = data_size;
    if (data_size > image.size() - resource.offset)
        return std::nullopt;
    return std::pair{resource, align4(resource.offset + data_size)};
}

bool is_empty_entry(const Resource& r)
{
    return r.size == 0 && r.type.name.empty() && r.type.ordinal == 0 && r.id.name.empty() && r.id.ordinal == 0;
}

// Resources in the device's language first: neutral, then US English, then
// any English, then whatever the image has.
int language_rank(WORD language)
{
    if (language == 0)
        return 0;
    if (language == 0x0409)
        return 1;
    if ((language & 0x3FF) == 0x09)
        return 2;
    return 3;
}

} // namespace

std::optional<std::vector<Resource>> parse_image(std::span<const unsigned char> image)
{
    auto first = parse_entry(image, 0);
    if (!first || !is_empty_entry(first->first))
        return std::nullopt;
    std::vector<Resource> resources;
    for (size_t pos = first->second; pos < image.size();) {
        auto entry = parse_entry(image, pos);
        if (!entry)
            return std::nullopt;
        resources.push_back(entry->first);
        pos = entry->second;
    }
    return resources;
}

ResourceId id_from_argument(LPCWSTR argument)
{
    ResourceId id;
    if (IS_INTRESOURCE(argument)) {
        id.ordinal = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(argument));
        return id;
    }
    if (argument[0] == L'#') {
        unsigned long value = 0;
        const wchar_t* p = argument + 1;
        for (; *p >= L'0' && *p <= L'9' && value <= 0xFFFF; ++p)
            value = value * 10 + static_cast<unsigned long>(*p - L'0');
        if (*p == 0 && p != argument + 1 && value <= 0xFFFF) {
            id.ordinal = static_cast<WORD>(value);
            return id;
        }
    }
    id.name = upper(argument);
    return id;
}

std::wstring from_utf16(const unsigned char* units, size_t count)
{
    auto unit = [units](size_t i) { return static_cast<char32_t>(units[2 * i] | units[2 * i + 1] << 8); };
    std::wstring text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const char32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
            text.push_back(static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00)));
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            text.push_back(L'\xFFFD');
        } else {
            text.push_back(static_cast<wchar_t>(c));
        }
    }
    return text;
}

const Resource* Module::find(const ResourceId& type, const ResourceId& id, DWORD& error) const
{
    const Resource* best = nullptr;
    bool type_seen = false;
    for (const Resource& r : resources) {
        if (!(r.type == type))
            continue;
        type_seen = true;
        if (r.id == id && (!best || language_rank(r.language) < language_rank(best->language)))
            best = &r;
    }
    if (!best)
        error = type_seen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
    return best;
}

bool Module::owns(const Resource* resource) const
{
    if (resources.empty())
        return false;
    const std::less<const Resource*> before;
    return !before(resource, resources.data()) && before(resource, resources.data() + resources.size()) &&
           (reinterpret_cast<uintptr_t>(resource) - reinterpret_cast<uintptr_t>(resources.data())) % sizeof(Resource) == 0;
}

} // namespace wince::resources
