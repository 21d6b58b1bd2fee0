// Reads the little-endian WORD streams that resource formats are made of
// (dialog templates, menus, the shell's menu-bar data).  A read past the end
// makes the reader fail for good and gives zeros, so a parser reads a whole
// record and checks ok() once, yet never reads outside its resource.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>

#include <windows.h>

#include "resources/image.h"

namespace wince::resources {

class WordReader {
public:
    explicit WordReader(std::span<const unsigned char> bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    bool at_end() const { return at_ + 2 > bytes_.size(); }

    WORD word()
    {
        if (at_end()) {
            ok_ = false;
            return 0;
        }
        const WORD w = peek();
        at_ += 2;
        return w;
    }

    DWORD dword()
    {
        const DWORD low = word();
        return low | DWORD{word()} << 16;
    }

    short signed_word() { return static_cast<short>(word()); }

    // A zero-ended UTF-16 string.
    std::wstring string()
    {
        const size_t start = at_;
        size_t count = 0;
        while (ok_ && word() != 0)
            ++count;
        return ok_ ? from_utf16(bytes_.data() + start, count) : std::wstring{};
    }

    // sz_Or_Ord: nothing (0), an ordinal (0xFFFF nnnn) or a string; the
    // ordinal is -1 when the field is no ordinal.
    std::wstring string_or_ordinal(int& ordinal)
    {
        ordinal = -1;
        if (at_end()) {
            ok_ = false;
            return {};
        }
        if (peek() == 0xFFFF) {
            word();
            ordinal = word();
            return {};
        }
        return string();
    }

    void align_dword() { at_ = (at_ + 3) & ~size_t{3}; }

    void skip(size_t n)
    {
        if (n > bytes_.size() - std::min(at_, bytes_.size()))
            ok_ = false;
        else
            at_ += n;
    }

private:
    WORD peek() const { return static_cast<WORD>(bytes_[at_] | bytes_[at_ + 1] << 8); }

    std::span<const unsigned char> bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

} // namespace wince::resources
