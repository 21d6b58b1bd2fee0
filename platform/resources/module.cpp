// Resource modules: the program's embedded .res image and images loaded by
// tests, FindResourceW, LoadResource, LockResource, SizeofResource, and the
// program as a module: GetModuleHandleW and GetModuleFileNameW.  Leaves out: DLLs, LoadLibrary, resource updates and
// freeing (a module lives as long as the process, as a program's own does).
#include "resources/module.h"

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <memory>

#include "crt/errors.h"
#include "device/device.h"
#include "resources/image.h"

// Only programs link an image (cmake callticker_add_resources); tests and
// the phone tool do not, so the reference must not demand one.
extern "C" const unsigned char wince_program_resources[] __attribute__((weak));
extern "C" const unsigned int wince_program_resources_size __attribute__((weak));

namespace wince::resources {
namespace {

std::mutex modules_mutex;
std::vector<std::unique_ptr<Module>> modules;

HINSTANCE add_module(std::unique_ptr<Module> module)
{
    std::lock_guard lock(modules_mutex);
    modules.push_back(std::move(module));
    return reinterpret_cast<HINSTANCE>(modules.back().get());
}

bool same_file_name(std::wstring_view a, std::wstring_view b)
{
    auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    return std::ranges::equal(a, b, [&](wchar_t x, wchar_t y) { return fold(x) == fold(y); });
}

} // namespace

HINSTANCE load_module(const void* image, size_t size)
{
    if (!image)
        return wince::fail(ERROR_INVALID_PARAMETER, nullptr);
    auto module = std::make_unique<Module>();
    const auto* bytes = static_cast<const unsigned char*>(image);
    module->image.assign(bytes, bytes + size);
    auto resources = parse_image(module->image);
    if (!resources)
        return wince::fail(ERROR_BAD_FORMAT, nullptr);
    module->resources = std::move(*resources);
    return add_module(std::move(module));
}

HINSTANCE load_module_file(const std::filesystem::path& res_file)
{
    std::ifstream in(res_file, std::ios::binary);
    if (!in)
        return wince::fail(ERROR_FILE_NOT_FOUND, nullptr);
    const std::vector<unsigned char> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return load_module(image.data(), image.size());
}

HINSTANCE program_module()
{
    static const HINSTANCE module = [] {
        const unsigned char* image = wince_program_resources;
        if (!image)
            return add_module(std::make_unique<Module>());
        return load_module(image, wince_program_resources_size);
    }();
    return module;
}

Module* module_from_handle(HMODULE handle)
{
    if (!handle)
        handle = program_module();
    std::lock_guard lock(modules_mutex);
    for (const auto& module : modules)
        if (reinterpret_cast<HMODULE>(module.get()) == handle)
            return module.get();
    return wince::fail(ERROR_INVALID_HANDLE, nullptr);
}

} // namespace wince::resources

using namespace wince::resources;

namespace {

// The resource behind an HRSRC of `module`, or null after SetLastError.
const Resource* resource_from_handle(HMODULE hModule, HRSRC hResInfo, Module** owner = nullptr)
{
    Module* module = module_from_handle(hModule);
    if (!module)
        return nullptr;
    const auto* resource = reinterpret_cast<const Resource*>(hResInfo);
    if (!hResInfo || !module->owns(resource))
        return wince::fail(ERROR_INVALID_HANDLE, nullptr);
    if (owner)
        *owner = module;
    return resource;
}

} // namespace

extern "C" {

HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType)
{
    Module* module = module_from_handle(hModule);
    if (!module)
        return nullptr;
    if (module->resources.empty())
        return wince::fail(ERROR_RESOURCE_DATA_NOT_FOUND, nullptr);
    DWORD error = ERROR_SUCCESS;
    const Resource* found = module->find(id_from_argument(lpType), id_from_argument(lpName), error);
    if (!found)
        return wince::fail(error, nullptr);
    return reinterpret_cast<HRSRC>(const_cast<Resource*>(found));
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo)
{
    Module* module = nullptr;
    const Resource* resource = resource_from_handle(hModule, hResInfo, &module);
    if (!resource)
        return nullptr;
    return module->image.data() + resource->offset;
}

LPVOID WINAPI LockResource(HGLOBAL hResData)
{
    return hResData;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo)
{
    const Resource* resource = resource_from_handle(hModule, hResInfo);
    return resource ? resource->size : 0;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    if (!lpModuleName)
        return program_module();
    // The program is the only module of its process; it answers to its
    // file name, given alone or at the end of a path.
    std::wstring_view name(lpModuleName);
    if (const auto slash = name.find_last_of(L"\\/"); slash != std::wstring_view::npos)
        name.remove_prefix(slash + 1);
    const std::wstring program = wince::device::widen(wince::device::program_name());
    if (!program.empty() && same_file_name(name, program))
        return program_module();
    return wince::fail(ERROR_MOD_NOT_FOUND, nullptr);
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    if (!lpFilename || nSize == 0)
        return wince::fail(ERROR_INVALID_PARAMETER, DWORD(0));
    if (hModule && hModule != program_module())
        return wince::fail(ERROR_INVALID_HANDLE, DWORD(0));
    if (wince::device::inject_fault("GetModuleFileNameW"))
        return wince::fail(ERROR_GEN_FAILURE, DWORD(0));
    const std::wstring path = wince::device::device_path(wince::device::program_path());
    if (path.size() >= nSize) {
        // Truncated and terminated, as Windows does it.
        std::wmemcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = L'\0';
        return wince::fail(ERROR_INSUFFICIENT_BUFFER, nSize);
    }
    std::wmemcpy(lpFilename, path.data(), path.size());
    lpFilename[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}

} // extern "C"
