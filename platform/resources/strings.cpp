// LoadStringW over the string tables of a resource module.  A table is kept
// in blocks of 16 counted UTF-16 strings (block id/16 + 1); the text is
// converted to host wide characters where it is read, so lengths and
// truncation count host characters.
#include "crt/errors.h"
#include "resources/image.h"

namespace {

using wince::resources::Module;
using wince::resources::Resource;

// Entry `index` of a string block: its UTF-16 units inside the image, or
// nothing when the block ends first.
std::optional<std::pair<const unsigned char*, size_t>> block_entry(const Module& module, const Resource& block,
                                                                   unsigned index)
{
    const unsigned char* p = module.image.data() + block.offset;
    size_t left = block.size;
    for (unsigned i = 0;; ++i) {
        if (left < 2)
            return std::nullopt;
        const size_t units = static_cast<size_t>(p[0] | p[1] << 8);
        if (units > (left - 2) / 2)
            return std::nullopt;
        if (i == index)
            return std::pair{p + 2, units};
        p += 2 + 2 * units;
        left -= 2 + 2 * units;
    }
}

} // namespace

extern "C" int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax)
{
    if (!lpBuffer || cchBufferMax < 0)
        return wince::fail(ERROR_INVALID_PARAMETER, 0);
    // A missing string reads as an empty one; with no buffer size the
    // caller gets a null pointer rather than an indeterminate one.
    auto missing = [&] {
        if (cchBufferMax > 0)
            lpBuffer[0] = L'\0';
        else
            *reinterpret_cast<LPCWSTR*>(lpBuffer) = nullptr;
        return 0;
    };
    const HRSRC hBlock = FindResourceW(hInstance, MAKEINTRESOURCEW((LOWORD(uID) >> 4) + 1), RT_STRING);
    Module* module = wince::resources::module_from_handle(hInstance);
    if (!hBlock || !module)
        return missing();
    const auto& block = *reinterpret_cast<const Resource*>(hBlock);
    const unsigned index = uID & 0xF;
    const auto entry = block_entry(*module, block, index);
    if (!entry)
        return wince::fail(ERROR_RESOURCE_NAME_NOT_FOUND, missing());
    std::wstring text = wince::resources::from_utf16(entry->first, entry->second);

    if (cchBufferMax == 0) {
        std::lock_guard lock(module->strings_mutex);
        const std::wstring& kept = module->read_only_strings.try_emplace({&block, index}, std::move(text)).first->second;
        *reinterpret_cast<LPCWSTR*>(lpBuffer) = kept.c_str();
        return static_cast<int>(kept.size());
    }
    const size_t copied = std::min(text.size(), static_cast<size_t>(cchBufferMax) - 1);
    text.copy(lpBuffer, copied);
    lpBuffer[copied] = L'\0';
    return static_cast<int>(copied);
}
