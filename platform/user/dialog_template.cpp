// Reads classic dialog templates (dialog_template.h): the header, menu,
// class, caption and DS_SETFONT font, then each DLGITEMTEMPLATE on its
// DWORD boundary with its class (name or ordinal), text (string or
// ordinal) and creation data.  Leaves out DLGTEMPLATEEX, which the
// programs' resources do not use.
#include "dialog_template.h"

#include "resources/image.h"

namespace wince::user {
namespace {

class Reader {
public:
    explicit Reader(std::span<const unsigned char> bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }

    WORD word()
    {
        if (at_ + 2 > bytes_.size()) {
            ok_ = false;
            return 0;
        }
        const WORD w = static_cast<WORD>(bytes_[at_] | bytes_[at_ + 1] << 8);
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
        if (!ok_)
            return {};
        return resources::from_utf16(bytes_.data() + start, count);
    }

    // sz_Or_Ord: nothing (0), an ordinal (0xFFFF nnnn) or a string.
    std::wstring string_or_ordinal(int& ordinal)
    {
        ordinal = -1;
        if (at_ + 2 > bytes_.size()) {
            ok_ = false;
            return {};
        }
        const WORD first = static_cast<WORD>(bytes_[at_] | bytes_[at_ + 1] << 8);
        if (first == 0xFFFF) {
            word();
            ordinal = word();
            return {};
        }
        return string();
    }

    void align_dword() { at_ = (at_ + 3) & ~size_t{3}; }

    void skip(size_t n)
    {
        if (at_ + n > bytes_.size())
            ok_ = false;
        else
            at_ += n;
    }

private:
    std::span<const unsigned char> bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

std::wstring class_of_ordinal(int ordinal)
{
    switch (ordinal) {
    case 0x80:
        return L"BUTTON";
    case 0x81:
        return L"EDIT";
    case 0x82:
        return L"STATIC";
    case 0x83:
        return L"LISTBOX";
    case 0x84:
        return L"SCROLLBAR";
    case 0x85:
        return L"COMBOBOX";
    default:
        return L"#" + std::to_wstring(ordinal);
    }
}

void read_item(Reader& in, DialogItem& item)
{
    in.align_dword();
    item.style = in.dword();
    item.ex_style = in.dword();
    item.x = in.signed_word();
    item.y = in.signed_word();
    item.cx = in.signed_word();
    item.cy = in.signed_word();
    item.id = in.word();
    int ordinal;
    item.class_name = in.string_or_ordinal(ordinal);
    if (ordinal >= 0)
        item.class_name = class_of_ordinal(ordinal);
    item.text = in.string_or_ordinal(item.text_ordinal);
    in.skip(in.word()); // creation data: no control of ours takes any
}

} // namespace

std::optional<DialogTemplate> parse_dialog_template(std::span<const unsigned char> bytes)
{
    Reader in(bytes);
    DialogTemplate t;
    t.style = in.dword();
    if (in.ok() && (t.style & 0xFFFF0000u) == 0xFFFF0000u && (t.style & 0xFFFF) == 1)
        return std::nullopt; // DLGTEMPLATEEX: dlgVer 1, signature 0xFFFF
    t.ex_style = in.dword();
    const WORD count = in.word();
    t.x = in.signed_word();
    t.y = in.signed_word();
    t.cx = in.signed_word();
    t.cy = in.signed_word();
    int ordinal;
    in.string_or_ordinal(ordinal); // menu: dialogs of ours have none
    in.string_or_ordinal(ordinal); // class: the dialog class
    t.caption = in.string();
    if (t.style & DS_SETFONT) {
        t.has_font = true;
        t.point_size = in.word();
        t.face = in.string();
    }
    for (WORD i = 0; i < count && in.ok(); ++i) {
        DialogItem item;
        read_item(in, item);
        t.items.push_back(std::move(item));
    }
    if (!in.ok())
        return std::nullopt;
    return t;
}

} // namespace wince::user
