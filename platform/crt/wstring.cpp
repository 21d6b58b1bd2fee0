// The Windows C runtime's wide-string extras.  Case folding is that of the
// runtime's default "C" locale: only A-Z and a-z, as on the device.
// Numbers convert as on the 32-bit device, where int and long are 32 bits.
#include <climits>
#include <cstdlib>
#include <cstring>

#include <windows.h>

#include "crt/errors.h"
#include "device/device.h"

namespace {

// What the Windows runtime returns when a comparison cannot be made.
constexpr int nls_compare_error = INT_MAX;

wchar_t to_lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
wchar_t to_upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

int compare_folded(const wchar_t* a, const wchar_t* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const wchar_t x = to_lower(a[i]), y = to_lower(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            break;
    }
    return 0;
}

bool is_space(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// Decimal with optional sign after leading white space, clamped to the
// device's 32-bit range as its runtime does on overflow.
int32_t to_int32(const wchar_t* s)
{
    if (!s)
        return 0;
    while (is_space(*s))
        ++s;
    const bool negative = *s == L'-';
    if (*s == L'-' || *s == L'+')
        ++s;
    int64_t value = 0;
    for (; *s >= L'0' && *s <= L'9'; ++s) {
        value = value * 10 + (*s - L'0');
        if (value > int64_t{INT32_MAX} + 1)
            value = int64_t{INT32_MAX} + 1;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    return static_cast<int32_t>(value);
}

} // namespace

extern "C" {

wchar_t* _wcsdup(const wchar_t* s)
{
    if (!s)
        return nullptr;
    if (wince::device::inject_fault("_wcsdup"))
        return wince::fail(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    const size_t bytes = (wcslen(s) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(std::malloc(bytes));
    if (!copy)
        return wince::fail(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    std::memcpy(copy, s, bytes);
    return copy;
}

int _wcsicmp(const wchar_t* a, const wchar_t* b)
{
    if (!a || !b)
        return nls_compare_error;
    return compare_folded(a, b, SIZE_MAX);
}

int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t n)
{
    if (n == 0)
        return 0;
    if (!a || !b)
        return nls_compare_error;
    return compare_folded(a, b, n);
}

wchar_t* _wcslwr(wchar_t* s)
{
    for (wchar_t* p = s; p && *p; ++p)
        *p = to_lower(*p);
    return s;
}

wchar_t* _wcsupr(wchar_t* s)
{
    for (wchar_t* p = s; p && *p; ++p)
        *p = to_upper(*p);
    return s;
}

int _wtoi(const wchar_t* s)
{
    return to_int32(s);
}

long _wtol(const wchar_t* s)
{
    return to_int32(s);
}

} // extern "C"
