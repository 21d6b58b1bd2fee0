// wsprintfW as Windows has it, which is not the C runtime's printf: %s and
// %c take wide arguments (%hs, %hc, %S and %C narrow ones), there are no
// floating-point conversions and no '*' widths, %l is the device's 32-bit
// long, and the output stops at 1023 characters plus the terminator, the
// 1024-character buffer Windows assumes.  Narrow strings and characters are
// read in the device's ANSI code page, Windows-1252, as the device's
// MultiByteToWideChar(CP_ACP) reads them.
#include <cstdarg>
#include <cstdint>
#include <string>

#include <windows.h>

#include "crt/errors.h"

namespace {

constexpr size_t max_output = 1023;

class Output {
public:
    explicit Output(wchar_t* buffer) : buffer_(buffer) {}

    void put(wchar_t c)
    {
        if (count_ < max_output)
            buffer_[count_++] = c;
    }
    void put(std::wstring_view text)
    {
        for (wchar_t c : text)
            put(c);
    }
    void pad(size_t n, wchar_t c)
    {
        for (; n > 0; --n)
            put(c);
    }
    int finish()
    {
        buffer_[count_] = L'\0';
        return static_cast<int>(count_);
    }

private:
    wchar_t* buffer_;
    size_t count_ = 0;
};

enum class Size { normal, narrow, wide, int64 };

struct Conversion {
    bool left = false;
    bool zero = false;
    bool prefix = false;
    size_t width = 0;
    bool has_precision = false;
    size_t precision = 0;
    Size size = Size::normal;
};

size_t parse_number(const wchar_t*& p)
{
    size_t n = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p)
        n = n < 100000 ? n * 10 + static_cast<size_t>(*p - L'0') : n;
    return n;
}

Conversion parse_conversion(const wchar_t*& p)
{
    Conversion conv;
    for (;; ++p) {
        if (*p == L'-')
            conv.left = true;
        else if (*p == L'0')
            conv.zero = true;
        else if (*p == L'#')
            conv.prefix = true;
        else
            break;
    }
    conv.width = parse_number(p);
    if (*p == L'.') {
        ++p;
        conv.has_precision = true;
        conv.precision = parse_number(p);
    }
    if (*p == L'h') {
        conv.size = Size::narrow;
        ++p;
    } else if (*p == L'l' || *p == L'w') {
        conv.size = Size::wide;
        ++p;
    } else if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
        conv.size = Size::int64;
        p += 3;
    } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
        p += 3;
    }
    return conv;
}

void put_padded(Output& out, const Conversion& conv, std::wstring_view text)
{
    const size_t fill = conv.width > text.size() ? conv.width - text.size() : 0;
    if (!conv.left)
        out.pad(fill, L' ');
    out.put(text);
    if (conv.left)
        out.pad(fill, L' ');
}

void put_string(Output& out, const Conversion& conv, std::wstring_view text)
{
    if (conv.has_precision && conv.precision < text.size())
        text = text.substr(0, conv.precision);
    put_padded(out, conv, text);
}

std::wstring digits(uint64_t value, unsigned base, bool upper)
{
    const wchar_t* symbols = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring text;
    do {
        text.insert(text.begin(), symbols[value % base]);
        value /= base;
    } while (value);
    return text;
}

// Sign or 0x prefix, then zeros up to the precision (or, with the '0' flag,
// up to the width), then the digits.
void put_number(Output& out, const Conversion& conv, std::wstring_view sign, std::wstring number)
{
    if (conv.has_precision && number.size() < conv.precision)
        number.insert(0, conv.precision - number.size(), L'0');
    else if (conv.zero && !conv.left && !conv.has_precision && number.size() + sign.size() < conv.width)
        number.insert(0, conv.width - number.size() - sign.size(), L'0');
    put_padded(out, conv, std::wstring(sign) + number);
}

int64_t signed_argument(const Conversion& conv, va_list& args)
{
    if (conv.size == Size::int64)
        return va_arg(args, int64_t);
    const int value = va_arg(args, int);
    return conv.size == Size::narrow ? static_cast<short>(value) : static_cast<int32_t>(value);
}

uint64_t unsigned_argument(const Conversion& conv, va_list& args)
{
    if (conv.size == Size::int64)
        return va_arg(args, uint64_t);
    const unsigned value = va_arg(args, unsigned);
    return conv.size == Size::narrow ? static_cast<unsigned short>(value) : static_cast<uint32_t>(value);
}

// Windows-1252: Latin-1 but for 0x80-0x9F; its five unassigned bytes stay
// the control characters of the same value.
wchar_t from_ansi(unsigned char c)
{
    static constexpr wchar_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return c >= 0x80 && c < 0xA0 ? high[c - 0x80] : static_cast<wchar_t>(c);
}

std::wstring narrow_string(const char* text)
{
    std::wstring out;
    for (; *text; ++text)
        out.push_back(from_ansi(static_cast<unsigned char>(*text)));
    return out;
}

// One conversion of `type`.  Returns false for a type
// Windows does not know, whose character is then printed as it is.
bool convert(Output& out, const Conversion& conv, wchar_t type, va_list& args)
{
    switch (type) {
    case L'd':
    case L'i': {
        const int64_t value = signed_argument(conv, args);
        const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        put_number(out, conv, value < 0 ? L"-" : L"", digits(magnitude, 10, false));
        return true;
    }
    case L'u':
        put_number(out, conv, L"", digits(unsigned_argument(conv, args), 10, false));
        return true;
    case L'x':
    case L'X': {
        const uint64_t value = unsigned_argument(conv, args);
        const bool upper = type == L'X';
        put_number(out, conv, conv.prefix && value ? (upper ? L"0X" : L"0x") : L"", digits(value, 16, upper));
        return true;
    }
    case L'p': {
        Conversion pointer = conv;
        pointer.width = 2 * sizeof(void*);
        pointer.zero = true;
        pointer.has_precision = false;
        put_number(out, pointer, L"", digits(reinterpret_cast<uintptr_t>(va_arg(args, void*)), 16, true));
        return true;
    }
    case L'c':
    case L'C': {
        const int value = va_arg(args, int);
        const bool narrow = type == L'c' ? conv.size == Size::narrow : conv.size != Size::wide;
        const wchar_t c = narrow ? from_ansi(static_cast<unsigned char>(value)) : static_cast<wchar_t>(value);
        put_padded(out, conv, std::wstring_view(&c, 1));
        return true;
    }
    case L's':
    case L'S': {
        const bool narrow = type == L's' ? conv.size == Size::narrow : conv.size != Size::wide;
        if (narrow) {
            const char* text = va_arg(args, const char*);
            put_string(out, conv, text ? narrow_string(text) : L"(null)");
        } else {
            const wchar_t* text = va_arg(args, const wchar_t*);
            put_string(out, conv, text ? text : L"(null)");
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace

extern "C" int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR format, ...)
{
    if (!buffer || !format) {
        if (buffer)
            buffer[0] = L'\0';
        return wince::fail(ERROR_INVALID_PARAMETER, 0);
    }
    va_list args;
    va_start(args, format);
    Output out(buffer);
    for (const wchar_t* p = format; *p;) {
        if (*p != L'%') {
            out.put(*p++);
            continue;
        }
        ++p;
        if (*p == L'%') {
            out.put(*p++);
            continue;
        }
        const Conversion conv = parse_conversion(p);
        if (*p && convert(out, conv, *p, args))
            ++p;
    }
    va_end(args);
    return out.finish();
}
